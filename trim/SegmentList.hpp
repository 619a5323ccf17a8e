// The window's list of segments of one recording, without a toolkit: rows of
// name, in, out and length that a person adds from the current range, edits as
// text in the recording's time language, deletes or fills from the recording's
// markers, regions or a fixed length; the names a save of them all would write;
// and the sidecar that remembers the list beside the recording.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "segments/Segments.hpp"

namespace keeptime {

class SegmentList {
public:
    explicit SegmentList(Clock clock) : clock_(std::move(clock)) {}

    const Clock& clock() const { return clock_; }
    const std::vector<Segment>& segments() const { return segments_; }
    std::size_t size() const { return segments_.size(); }
    const Segment& operator[](std::size_t row) const { return segments_[row]; }

    // Adds the range [first, end) at the end of the list, named name; returns its
    // row. Nothing for a range that holds no audio or lies outside the recording.
    std::optional<std::size_t> add(std::int64_t first, std::int64_t end, std::string name = {});
    // A row's fields as the table shows them: in and out as times of day, the length.
    std::string inText(std::size_t row) const;
    std::string outText(std::size_t row) const;
    std::string lengthText(std::size_t row) const;
    // Edits a row's field from typed text; the refusal, in words, when the text is
    // no time, lies outside the recording, or would leave the row without audio.
    // The row is unchanged then.
    std::optional<std::string> setIn(std::size_t row, const std::string& text);
    std::optional<std::string> setOut(std::size_t row, const std::string& text);
    std::optional<std::string> setLength(std::size_t row, const std::string& text);
    void setName(std::size_t row, std::string name) { segments_.at(row).name = std::move(name); }
    void remove(std::size_t row) { segments_.erase(segments_.begin() + static_cast<std::ptrdiff_t>(row)); }
    // The whole list at once: filled from markers, regions or every N, or as it was
    // (an undo). Rows outside the recording or without audio are left out; returns
    // how many were.
    std::size_t replace(std::vector<Segment> segments);

    // The file names a save into folder with pattern ("" for the default) writes,
    // in row order. Throws BWFError, as the save would refuse it: a pattern that
    // cannot be used, a field the recording does not name, two rows with one name.
    std::vector<std::filesystem::path> names(const std::filesystem::path& recording, const std::filesystem::path& folder,
                                             const std::string& pattern, const ClockChoice& times) const;

private:
    std::optional<std::string> set(std::size_t row, std::int64_t first, std::int64_t end);

    Clock clock_;
    std::vector<Segment> segments_;
};

// Where a recording's list is kept: NAME.keeptime.json beside it (NAME without
// the recording's extension).
std::filesystem::path sidecarPath(const std::filesystem::path& recording);

// The sidecar's text: the recording's name, length and rate, and each segment's
// name and frames, as JSON.
std::string sidecarText(const std::filesystem::path& recording, const Clock& clock, const std::vector<Segment>& segments);
// The segments a sidecar text holds for this recording (rows outside it left
// out); nothing for a text that is not such a sidecar, or was written for a
// recording of another length or rate.
std::optional<std::vector<Segment>> readSidecar(const std::string& text, const Clock& clock);

// Keeps the list beside the recording, written whole and then renamed into
// place, so that a sidecar is never half written; the recording is never
// written. When the folder cannot take it (read-only, say) returns the text for
// the caller to keep in its settings instead; nothing once it is written.
std::optional<std::string> saveSidecar(const std::filesystem::path& recording, const Clock& clock,
                                       const std::vector<Segment>& segments);
// The list remembered for the recording: its sidecar, else the text kept in the
// settings (fromSettings), when either fits it. Empty when neither does.
std::vector<Segment> loadSidecar(const std::filesystem::path& recording, const Clock& clock,
                                 const std::optional<std::string>& fromSettings = {});

}  // namespace keeptime
