// HH:MM:SS:FF timecode labels and frame counts, in exact integer arithmetic.
// Frames are counted continuously at the true rate (30000/1001 ...); a label counts
// nominal frames per label second, and in drop-frame skips the labels that keep it
// in step with the clock (SMPTE 12M).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace keeptime {

// A timecode rate: frames per second as a rational, and whether labels use drop-frame numbering.
struct TimecodeRate {
    std::int64_t num = 0;  // 24000, 25, 30000, 60000 ...
    std::int64_t den = 1;  // 1001 or 1
    bool dropFrame = false;
    // Frames per label second: num/den rounded up (24 for 23.976, 30 for 29.97, 60 for 59.94);
    // 0 when num/den is not a positive rate that fits an int.
    int nominal() const;
    bool operator==(const TimecodeRate&) const = default;
};

// The rates a user can choose, in this order and with these names:
// "23.976", "24", "25", "29.97 DF", "29.97 ND", "30", "50", "59.94 DF", "60".
std::span<const std::pair<std::string_view, TimecodeRate>> standardRates();

// From iXML: TIMECODE_RATE as a rational ("24000/1001", "25/1", any positive rate, reduced) or a
// plain number ("25", "29.97", "23.976") read as the nearest standard rate when within 0.5% of it;
// TIMECODE_FLAG "DF", "NDF" or absent (""), in any case. Drop-frame only at 29.97 and 59.94:
// a "DF" flag on any other rate is refused, not ignored.
std::optional<TimecodeRate> parseTimecodeRate(std::string_view rate, std::string_view flag);

// From the command line: a rate as above, optionally followed by "df", "nd" or "ndf" (in any case,
// after an optional blank): "25", "23.976", "29.97df", "29.97nd", "29.97" (non-drop), "59.94df",
// "30000/1001", "29.97 DF". Nothing for anything else.
std::optional<TimecodeRate> parseRateOption(std::string_view text);

// "24000/1001", "25/1": the form JSON carries.
std::string rateText(const TimecodeRate& rate);

// Frame count to time of day, wrapping modulo 24 hours (negative counts wrap too). Hours always
// two digits; ';' before the frames in drop-frame, ':' otherwise: "12:39:59:00", "00:01:00;02".
// A rate no label can be written for (nominal() 0, drop-frame not at 30 or 60 nominal) gives
// "--:--:--:--".
std::string timeOfDayLabel(std::int64_t frames, const TimecodeRate& rate);

// A length or offset, not wrapped: unpadded hours ("0:00:15:12", "1:02:03;04"), "-" in front of
// negative values.
std::string lengthLabel(std::int64_t frames, const TimecodeRate& rate);

// "H:MM:SS:FF" or "H:MM:SS;FF" (either separator whatever the rate) to a frame count. Hours of any
// width and not limited to a day; minutes and seconds below 60, frames below nominal(); digits only,
// no sign. A label drop-frame skips is refused, as is a count beyond 64 bits.
std::optional<std::int64_t> labelFrames(std::string_view label, const TimecodeRate& rate);

// A count's label read as one number, nominal() frames to a second, as if no label were
// skipped: round label numbers are round labels, also in drop-frame. Counts from 0.
std::int64_t labelNumber(std::int64_t frames, const TimecodeRate& rate);
// The count of the first label at or after a label number (a skipped label gives the next).
std::int64_t framesAtLabelNumber(std::int64_t number, const TimecodeRate& rate);

}  // namespace keeptime
