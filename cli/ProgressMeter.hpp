// A one-line progress display on standard error: percent, speed, time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>

namespace keeptime::cli {

class ProgressMeter {
public:
    ProgressMeter(std::ostream& out, std::int64_t totalBytes);
    void update(std::int64_t percent);
    // Ends the line (after a completed, cancelled or failed copy).
    void finish();

private:
    std::ostream& out_;
    std::int64_t totalBytes_;
    std::chrono::steady_clock::time_point started_;
    bool drawn_ = false;
};

}  // namespace keeptime::cli
