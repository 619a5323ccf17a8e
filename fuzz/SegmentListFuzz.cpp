// Arbitrary text as a list of segments (CSV or label-track), at a rate and in
// seconds: it is read or refused (BWFError) without overflow, and every segment
// read lies inside the recording and holds audio.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "segments/Segments.hpp"

using namespace keeptime;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Clock clock;
    clock.frames = std::int64_t{48000} * 3600 * 2;  // two hours from 12:40:44.6
    clock.sampleRate = 48000;
    clock.stamp = 2190940753;
    clock.stampRate = {48000, 1};
    for (const auto& rate : {std::optional<TimecodeRate>(), parseRateOption("29.97df")}) {
        clock.rate = rate;
        std::vector<Segment> segments;
        try {
            segments = readSegmentList(text, clock, "list");
        } catch (const BWFError&) {
            continue;
        }
        for (const Segment& s : segments)
            if (s.first < 0 || s.first >= s.end || s.end > clock.frames) std::abort();
    }
    return 0;
}
