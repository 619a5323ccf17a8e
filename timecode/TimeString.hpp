// Whole seconds as the texts people read: times of day and lengths. Fractions
// are dropped, never rounded.
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

    // Why text was refused, for the user: "\"1:75\" is not a time (H:MM:SS, M:SS or S)".
    static std::string notATime(std::string_view text);
};

}  // namespace keeptime
