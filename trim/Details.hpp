// What the window says about a recording and offers for its copy, as text: the
// recording's format and the recorder's notes, and the name a copy is saved under.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "recording/BWFParser.hpp"

namespace keeptime {

// A few short lines, those with nothing to say left out:
// "48 kHz · 24-bit · 2 channels · 23.976 fps", "No time stamp (taken as 00:00:00)",
// "Scene 12A · Take 3 · Tape 0417", "Tracks: Boom, Lav 1", "Note: …". The timecode
// rate is the one the file names.
std::string detailsText(const BWFParser& parser);

// The name a copy is offered under: the input's base name and the in point's
// time-of-day label as digits ("take_10000512.wav" for 10:00:05:12 or 10:00:05;12),
// or "take_trim.wav" when times are in seconds.
std::string copyName(const std::filesystem::path& input, std::int64_t inFrame, const Clock& clock);

}  // namespace keeptime
