// Writes examples/demo.wav: 10 s of 48 kHz stereo 24-bit location sound stamped
// 10:00:00:00 at 25 fps in bext and iXML, with a scene, take, tape and track
// names. Room tone, a clapperboard at 1.5 s, and two lines of voice-like sound
// (a boom and a lavalier), so that the waveform shows where to cut; a cue point
// at the clap and a region over each line, labelled, as a recorder marks them.
#include <cmath>
#include <cstdint>
#include <iostream>
#include <random>

#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

constexpr int kRate = 48000;
constexpr int kSeconds = 10;
constexpr double kPi = 3.14159265358979323846;

// A line of speech: syllables of a few hundred milliseconds, each a rising and
// falling voiced buzz with a little breath.
double voice(double t, double start, double end, double pitch, std::minstd_rand& noise) {
    if (t < start || t >= end) return 0;
    const double local = t - start;
    const double syllable = std::fmod(local, 0.23 + 0.07 * std::sin(start * 3));
    const double envelope = std::sin(kPi * syllable / 0.3) * (0.6 + 0.4 * std::sin(local * 2.1));
    const double buzz = std::sin(2 * kPi * pitch * t) + 0.5 * std::sin(2 * kPi * 2 * pitch * t) +
                        0.3 * std::sin(2 * kPi * 3.1 * pitch * t);
    const double breath = std::uniform_real_distribution<double>(-1, 1)(noise);
    return std::max(envelope, 0.0) * (0.22 * buzz + 0.05 * breath);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: keeptime_make_demo OUTPUT.wav\n";
        return 2;
    }
    std::minstd_rand noise(7);
    std::uniform_real_distribution<double> hiss(-1, 1);
    Bytes audio;
    audio.reserve(static_cast<std::size_t>(kRate) * kSeconds * 6);
    for (int n = 0; n < kRate * kSeconds; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double room = 0.004 * hiss(noise);
        // The clap: a sharp crack that dies away in a tenth of a second.
        const double clap = t >= 1.5 ? 0.9 * std::exp(-(t - 1.5) * 45) * hiss(noise) : 0.0;
        const double first = voice(t, 3.0, 5.6, 120, noise), second = voice(t, 6.4, 8.8, 190, noise);
        // The boom hears both actors; the lavalier is on the first, close.
        const double boom = room + clap + 0.6 * first + 0.7 * second;
        const double lav = 0.5 * room + 0.4 * clap + 1.1 * first + 0.15 * second;
        for (double sample : {boom, lav}) {
            const auto value = static_cast<std::int32_t>(std::lround(std::clamp(sample, -1.0, 1.0) * 8388607.0));
            for (int byte = 0; byte < 3; ++byte) audio.push_back(static_cast<std::uint8_t>(value >> (8 * byte)));
        }
    }
    const std::string stamp = "1728000000";
    const std::string details =
        "Keeptime demo</NOTE><SCENE>12A</SCENE><TAKE>3</TAKE><TAPE>0417</TAPE><TIMECODE_RATE>25/1</TIMECODE_RATE>"
        "<TIMECODE_FLAG>NDF</TIMECODE_FLAG><TRACK_LIST><TRACK_COUNT>2</TRACK_COUNT>"
        "<TRACK><CHANNEL_INDEX>1</CHANNEL_INDEX><NAME>Boom</NAME></TRACK>"
        "<TRACK><CHANNEL_INDEX>2</CHANNEL_INDEX><NAME>Lav 1</NAME></TRACK></TRACK_LIST><NOTE>";
    // cue points in the audio; adtl labels (labl) and region lengths (ltxt, "rgn ").
    auto sub = [](const std::string& id, const Bytes& body) {
        return cat({Bytes(id.begin(), id.end()), u32(body.size()), body, Bytes(body.size() % 2, 0)});
    };
    auto text = [](const std::string& words) { return cat({Bytes(words.begin(), words.end()), {0}}); };
    const Bytes rgn = {'r', 'g', 'n', ' '};
    const Bytes cues = cue({point(1, 0, 72000), point(2, 0, 144000), point(3, 0, 307200)});
    const Bytes labels = cat({Bytes{'a', 'd', 't', 'l'}, sub("labl", cat({u32(1), text("Slate")})),
                              sub("labl", cat({u32(2), text("Line 1")})), sub("labl", cat({u32(3), text("Line 2")})),
                              sub("ltxt", cat({u32(2), u32(124800), rgn, Bytes(8, 0)})),
                              sub("ltxt", cat({u32(3), u32(115200), rgn, Bytes(8, 0)}))});
    WavWriter()
        .bext(1728000000, "Keeptime demo recording: scene 12A take 3")
        .ixml(ixmlText(stamp, stamp, details))
        .fmt(2, kRate, 24)
        .data(std::move(audio))
        .chunk("cue ", cues)
        .chunk("LIST", labels)
        .write(argv[1]);
    return 0;
}
