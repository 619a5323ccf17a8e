// Writes examples/demo.wav: 5 s of 48 kHz stereo 24-bit audio stamped 10:00:00
// (1728000000 samples) in bext and iXML. A 1 kHz pip marks every whole second,
// so that a trim can be checked by ear.
#include <cmath>
#include <iostream>

#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: keeptime_make_demo OUTPUT.wav\n";
        return 2;
    }
    constexpr int kRate = 48000;
    constexpr int kSeconds = 5;
    constexpr double kPi = 3.14159265358979323846;
    Bytes audio;
    audio.reserve(kRate * kSeconds * 6);
    for (int n = 0; n < kRate * kSeconds; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double inSecond = t - std::floor(t);
        const double pip = inSecond < 0.1 ? 0.25 * std::sin(2 * kPi * 1000 * t) : 0.0;
        const double left = 0.1 * std::sin(2 * kPi * 220 * t) + pip;
        const double right = 0.1 * std::sin(2 * kPi * 330 * t) + pip;
        for (double sample : {left, right}) {
            const auto value = static_cast<std::int32_t>(std::lround(sample * 8388607.0));
            for (int byte = 0; byte < 3; ++byte) audio.push_back(static_cast<std::uint8_t>(value >> (8 * byte)));
        }
    }
    const std::string stamp = "1728000000";
    WavWriter()
        .bext(1728000000, "Keeptime demo recording: 1 kHz pip on every second")
        .ixml(ixmlText(stamp, stamp, "Keeptime demo"))
        .fmt(2, kRate, 24)
        .data(std::move(audio))
        .write(argv[1]);
    return 0;
}
