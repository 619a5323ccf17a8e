#include "cli/ProgressMeter.hpp"

#include <cstdio>

#include "timecode/TimeString.hpp"

namespace keeptime::cli {

ProgressMeter::ProgressMeter(std::ostream& out, std::int64_t totalBytes)
    : out_(out), totalBytes_(totalBytes), started_(std::chrono::steady_clock::now()) {}

void ProgressMeter::update(std::int64_t percent) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const double done = static_cast<double>(totalBytes_) * static_cast<double>(percent) / 100.0;
    char line[96];
    if (percent > 0 && seconds > 0) {
        const double left = seconds * (100.0 - static_cast<double>(percent)) / static_cast<double>(percent);
        std::snprintf(line, sizeof line, "\r%3lld%%  %8.1f MB/s  %s left   ", static_cast<long long>(percent),
                      done / seconds / 1e6, TimeString::durationString(left).c_str());
    } else {
        std::snprintf(line, sizeof line, "\r%3lld%%", static_cast<long long>(percent));
    }
    out_ << line << std::flush;
    drawn_ = true;
}

void ProgressMeter::finish() {
    if (drawn_) out_ << '\n' << std::flush;
    drawn_ = false;
}

}  // namespace keeptime::cli
