// A conform: the parts of the original recordings an edit list uses, with
// handles. The media folders are read once, heads only; each audio event is
// matched to the recordings its names and times point at, and each recording's
// used ranges are merged into as few copies as cover them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "copy/BWFReconstructor.hpp"
#include "edits/EditList.hpp"
#include "recording/Take.hpp"
#include "timecode/Clock.hpp"

namespace keeptime {

// One recording of the media folders, as its head describes it.
struct MediaFile {
    std::filesystem::path path;
    std::string stem;                 // the file's name without extension
    std::optional<std::string> tape;  // iXML TAPE
    std::optional<FileSet> set;       // its take
    std::optional<TimecodeRate> namedRate;  // the timecode rate its iXML names
    Clock clock;                            // its frames and stamp, at namedRate when it names one
    bool stamped = false;                   // it holds a time reference
};

struct Media {
    std::vector<MediaFile> files;      // folder by folder, by name
    std::vector<std::string> notices;  // "PATH: why it was passed over", for WAV files that could not be read
};

// Reads the head of every file in the folders (not their subfolders). Files
// that are not WAV files are passed over in silence. Throws BWFError for a
// folder that cannot be listed.
Media readMedia(const std::vector<std::filesystem::path>& folders);

struct Match {
    enum class Status { Matched, Missing, Ambiguous, Skipped };
    Status status = Status::Missing;
    std::string why;                  // missing or skipped: why; matched: how
    std::vector<std::size_t> files;   // matched: one recording, or the files of one take, lead first
    std::vector<std::size_t> candidates;  // ambiguous: every recording whose span holds the range
    std::int64_t first = 0, last = 0;     // matched: the frames of the lead the event uses
    TimecodeRate rate{};                  // the rate the event's times were read at
    std::optional<std::string> notice;    // "read at 25 fps …"
    bool notConformable = false;          // skipped for a speed change or reverse
};

// Each event matched to the recordings: by SOURCE FILE or clip name against the
// file's name without extension, else by reel against TAPE or the file's name
// (either cut to 8 characters matches), then only those whose span holds the
// source range. The times are labels at fps when given (OTIO clips carry their
// own), else at the rate the recording names (drop-frame as the list says),
// else at 25 fps.
std::vector<Match> matchEvents(const EditList& list, const Media& media, const std::optional<TimecodeRate>& fps = {});

// The label length of a handle ("0:00:02:00", "2", "0:02", "0:00:02"), in whole
// seconds and labels; nothing for a text that is neither.
struct Handles {
    std::int64_t seconds = 2;
    std::int64_t labels = 0;  // labels past the seconds
};
std::optional<Handles> parseHandles(std::string_view text);

// One copy: a merged range of one recording, and the events it serves.
struct ConformCopy {
    std::size_t file = 0;  // in Media::files
    std::int64_t first = 0, last = 0;
    TimecodeRate rate{};
    std::vector<std::size_t> events;  // indexes of the list's events
    std::string name;                 // "{file}_{tc}.wav"
};

// Per recording, each matched event's frames with handles (clamped to the
// recording), merged where they overlap or touch; with take, every member of
// each matched take the folders hold, cut at the same times of day. Ordered by
// recording and time.
std::vector<ConformCopy> planCopies(const std::vector<Match>& matches, const Media& media, const Handles& handles,
                                    bool take);

// The copy requests, into folder.
std::vector<CopyRequest> conformRequests(const std::vector<ConformCopy>& copies, const Media& media,
                                         const std::filesystem::path& folder, bool replace);

std::string_view statusName(Match::Status status);  // "copied" (matched), "missing", "ambiguous", "skipped"

}  // namespace keeptime
