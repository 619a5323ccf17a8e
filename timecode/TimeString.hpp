// Seconds to the texts the window shows, and typed text back to seconds.
// Resolution is one whole second: fractions are dropped, never rounded.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace keeptime {

class TimeString {
public:
    TimeString() = delete;

    // Time of day, HH:MM:SS; hours do not wrap at 24 ("25:01:01").
    // Negative: "-" in front ("-00:00:05"); not finite or beyond 64 bits: "--:--:--".
    static std::string timecodeString(double seconds);

    // Length, M:SS under an hour, else H:MM:SS ("0:05", "1:01:01").
    // Negative: "-" in front ("-0:05"); not finite or beyond 64 bits: "--:--".
    static std::string durationString(double seconds);

    // "H:M:S" with every field optional and unbounded, each with its own sign;
    // fields left of the third from the right are ignored. Empty text reads as 0.
    // Absent for anything else, or when the total leaves the 64-bit range.
    static std::optional<double> parseSeconds(std::string_view text);
};

}  // namespace keeptime
