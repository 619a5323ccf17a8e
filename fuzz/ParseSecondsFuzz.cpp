// Arbitrary typed text: parseSeconds must return normally, give whole seconds,
// and whatever it reads must read back the same through both formatters.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "timecode/TimeString.hpp"

using keeptime::TimeString;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto seconds = TimeString::parseSeconds(text);
    if (!seconds) return 0;
    if (std::trunc(*seconds) != *seconds) std::abort();
    // Doubles above 2^53 are not all whole-second exact; the read-back holds below.
    if (*seconds >= 0 && *seconds < 9007199254740992.0) {
        if (TimeString::parseSeconds(TimeString::timecodeString(*seconds)) != seconds) std::abort();
        if (TimeString::parseSeconds(TimeString::durationString(*seconds)) != seconds) std::abort();
    }
    TimeString::durationString(-*seconds);
    return 0;
}
