// The time reference: samples counted since midnight, at the file's own rate,
// or at that rate pulled up by 0.1 % when the recorder ran "weird" 48.048 kHz
// time code.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace keeptime {

// Where a file's time reference was found.
enum class TimeReferenceSource {
    TimestampSamplesSinceMidnightLo,  // iXML <TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>
    BWFTimeReferenceLow,              // iXML <BWF_TIME_REFERENCE_LOW>
    Bext,                             // the bext chunk's 64-bit TimeReference
    None,                             // none of them: taken as 0 and never rewritten
};

// The names scripts see ("TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO", ..., "bext", "none").
std::string_view sourceName(TimeReferenceSource source);

// Samples per second at which the time reference counts. 48 kHz gives exactly
// 48000.0, or 48048.0 in weird-TC mode.
double timeReferenceRate(std::int32_t samplesPerSecond, bool weirdTC);

// Whole samples in `seconds` at `rate`: the product truncated toward zero, except
// that a product within a thousandth of a sample of a whole number is that number.
// Seconds reached through a time of day or back from the end carry float error
// that would otherwise drop a point typed to the second onto the sample before.
// Nothing when the count is not finite or does not fit 64 bits.
std::optional<std::int64_t> secondsToSamples(double seconds, double rate);

}  // namespace keeptime
