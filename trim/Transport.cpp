#include "trim/Transport.hpp"

#include <algorithm>

namespace keeptime {

int Transport::back() { return speed_ = speed_ > 0 ? -1 : std::max(speed_ - 1, -kFastest); }
int Transport::halt() { return speed_ = 0; }
int Transport::forward() { return speed_ = speed_ < 0 ? 1 : std::min(speed_ + 1, kFastest); }

std::int64_t Transport::advanced(std::int64_t start, int speed, std::int64_t elapsed, std::int64_t frames) {
    return std::clamp<std::int64_t>(start + speed * elapsed, 0, frames);
}

}  // namespace keeptime
