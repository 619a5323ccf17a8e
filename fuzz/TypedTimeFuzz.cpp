// Arbitrary typed text at several rates and modes: it is read or refused without
// overflow, and a point read from it, drawn as text, reads back as that point,
// also when drawn with the samples past its label.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "timecode/Clock.hpp"

using namespace keeptime;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Clock clock;
    clock.frames = std::int64_t{48000} * 3600 * 20;  // 20 hours from 12:40:44.6, across midnight
    clock.sampleRate = 48000;
    clock.stamp = 2190940753;
    for (const auto& rate : {std::optional<TimecodeRate>(), parseRateOption("23.976"), parseRateOption("29.97df")})
        for (StampRate stamp : {StampRate{48000, 1}, StampRate{48048000, 1000}})
            for (Notation notation : {Notation::TimeOfDay, Notation::FromStart, Notation::FromEnd})
                for (bool out : {false, true}) {
                    clock.rate = rate, clock.stampRate = stamp;
                    const auto frame = clock.read(notation, text, out).frame;
                    if (!frame) continue;
                    if (*frame < 0 || *frame > clock.frames) std::abort();
                    if (!out && *frame == clock.frames) continue;  // an in point at the end reads as the last label
                    // A label alone names its first frame; a point typed between labels needs its samples.
                    const bool labelNamesIt = clock.onLabel(*frame) || *frame == 0 || *frame == clock.frames;
                    for (bool samples : {false, true})
                        if ((samples || labelNamesIt) &&
                            clock.read(notation, clock.text(notation, *frame, samples), out).frame != frame)
                            std::abort();
                }
    return 0;
}
