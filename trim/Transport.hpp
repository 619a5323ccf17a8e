// What the listening keys mean, apart from any audio device: the J/K/L
// shuttle's speed, whether the kept part loops, and where a playhead that moves
// without sound (in reverse) stands after a while.
#pragma once

#include <cstdint>

namespace keeptime {

class Transport {
public:
    // The fastest shuttle, either way.
    static constexpr int kFastest = 2;

    // Play the kept part wraps at its out point back to its in point.
    bool loop = false;

    // Frames of the file per frame of time: negative in reverse, 0 stopped.
    int speed() const { return speed_; }
    // J: one step towards fast reverse; from forward it turns to 1× reverse.
    int back();
    // K: stop.
    int halt();
    // L: one step towards fast forward; from reverse it turns to 1× forward.
    int forward();
    // Playback started (1×) or ended by other means: the shuttle follows.
    void playing(bool on) { speed_ = on ? 1 : 0; }

    // Where a playhead that left start elapsed frames of time ago at speed
    // stands: inside [0, frames], where it stops.
    static std::int64_t advanced(std::int64_t start, int speed, std::int64_t elapsed, std::int64_t frames);

private:
    int speed_ = 0;
};

}  // namespace keeptime
