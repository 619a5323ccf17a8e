// Edit lists, as the picture editor hands them over: the events of a cut and
// the source ranges they use. Two forms are read: the CMX 3600 EDL, line by
// line, and OpenTimelineIO's JSON (.otio), through nlohmann-json (header-only;
// OpenTimelineIO's own library is not packaged on the systems we build on).
// Only what a conform needs is kept: which recording each event names, which
// of its times it uses, and whether it carries audio.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "timecode/Timecode.hpp"

namespace keeptime {

struct EditEvent {
    std::string number;  // as written ("001"); a dissolve's two lines share one
    std::size_t line = 0;  // of the event line, 1-based (an OTIO clip: its place in its track)
    std::string reel;      // "" when the list names none
    std::string tracks;    // as written: "V", "A", "A2", "AA", "AA/V", "B", "A3" …; OTIO: the track's name
    bool audio = false;
    bool video = false;
    std::string transition;  // "C", "D", "W001"; OTIO: "C"
    std::int64_t transitionFrames = 0;
    // The source range as time-of-day labels "HH:MM:SS:FF" (':' throughout),
    // the out label the first one not used. An EDL's labels are at a rate the
    // list does not name, only whether it counts drop-frame; an OTIO clip's at
    // the rate it gives.
    std::string sourceIn, sourceOut;
    bool dropFrame = false;
    std::optional<TimecodeRate> rate{};
    std::string clipName;    // FROM / TO CLIP NAME, or the OTIO clip's name
    std::string sourceFile;  // SOURCE FILE, or the OTIO media reference's target_url
    std::vector<int> audioTracks;  // 1, 2 from the track field, 3, 4 … from AUD lines
    // Why the event cannot be conformed: a speed change or reverse (M2).
    std::optional<std::string> notConformable;
    bool black() const;  // the reel BL: no recording at all
};

struct EditList {
    std::string title;
    std::vector<EditEvent> events;  // in the list's order
};

// A CMX 3600 list. Lines may end in CR, LF or CRLF. Throws BWFError (without a
// path) naming the line of the first one that is not CMX 3600.
EditList readCMX3600(std::string_view text);
// An OpenTimelineIO timeline: every clip of every Audio track (in nested stacks
// too), gaps and transitions passed over. Throws BWFError (without a path).
EditList readOTIO(std::string_view text);
// Either, by the file's content: JSON is OpenTimelineIO, anything else an EDL.
// Throws BWFError naming the file.
EditList readEditList(const std::filesystem::path& file);

}  // namespace keeptime
