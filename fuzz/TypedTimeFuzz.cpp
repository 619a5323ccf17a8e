// Arbitrary typed text at several rates and modes: it is read or refused without
// overflow, and a frame read from it, drawn as text, reads back as that frame
// (in seconds) or as the first frame of the same label.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "trim/TrimRange.hpp"

using namespace keeptime;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    FileTimes file{std::int64_t{48000} * 3600 * 20, 48000, 2190940753, {48000, 1}, {}};  // 20 hours from 12:40:44.6
    for (const auto& rate : {std::optional<TimecodeRate>(), parseRateOption("23.976"), parseRateOption("29.97df")})
        for (StampRate stamp : {StampRate{48000, 1}, StampRate{48048000, 1000}})
            for (Notation notation : {Notation::TimeOfDay, Notation::FromStart, Notation::FromEnd}) {
                file.rate = rate, file.stampRate = stamp;
                auto frame = frameFromText(notation, text, file);
                if (!frame || *frame < 0 || *frame > file.frames) continue;
                const std::string shown = pointText(notation, *frame, file);
                auto back = frameFromText(notation, shown, file);
                if (!back || (rate ? pointText(notation, *back, file) != shown : *back != *frame)) std::abort();
            }
    return 0;
}
