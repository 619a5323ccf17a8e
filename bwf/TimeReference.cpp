#include "bwf/TimeReference.hpp"

#include <cmath>

namespace keeptime {

std::string_view sourceName(TimeReferenceSource source) {
    switch (source) {
        case TimeReferenceSource::TimestampSamplesSinceMidnightLo:
            return "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO";
        case TimeReferenceSource::BWFTimeReferenceLow:
            return "BWF_TIME_REFERENCE_LOW";
        case TimeReferenceSource::Bext:
            return "bext";
        case TimeReferenceSource::None:
            break;
    }
    return "none";
}

double timeReferenceRate(std::int32_t samplesPerSecond, bool weirdTC) {
    const double rate = samplesPerSecond;
    return weirdTC ? rate * 1001.0 / 1000.0 : rate;
}

std::optional<std::int64_t> secondsToSamples(double seconds, double rate) {
    const double samples = seconds * rate;
    if (!std::isfinite(samples) || std::fabs(samples) >= 9223372036854774784.0) return std::nullopt;
    const double nearest = std::nearbyint(samples);
    if (std::fabs(samples - nearest) < 1e-3) return static_cast<std::int64_t>(nearest);
    return static_cast<std::int64_t>(samples);  // truncates toward zero
}

}  // namespace keeptime
