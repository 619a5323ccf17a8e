// Arbitrary typed text: parseSeconds must return normally, give whole seconds, and whatever it reads must read
// back the same through both formatters (below 2^53, where doubles are whole-second exact).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "timecode/TimeString.hpp"

using keeptime::TimeString;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto seconds = TimeString::parseSeconds(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!seconds) return 0;
    if (std::trunc(*seconds) != *seconds) std::abort();
    if (*seconds >= 0 && *seconds < 9007199254740992.0 &&
        (TimeString::parseSeconds(TimeString::timecodeString(*seconds)) != seconds ||
         TimeString::parseSeconds(TimeString::durationString(*seconds)) != seconds))
        std::abort();
    return TimeString::durationString(-*seconds), 0;
}
