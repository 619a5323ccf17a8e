// Whole seconds as a length people read. Fractions are dropped, never rounded.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace keeptime {

class TimeString {
public:
    TimeString() = delete;

    // Length, M:SS under an hour, else H:MM:SS ("0:05", "1:01:01").
    // Negative: "-" in front ("-0:05"); not finite or beyond 64 bits: "--:--".
    static std::string durationString(double seconds);
};

}  // namespace keeptime
