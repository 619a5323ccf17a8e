// The window's undo and redo: every change of the points, the rate, the
// take box and the list of segments, one step per gesture. The window reports what it shows after each
// redraw; while a gesture (a handle or selection drag, a slider held) is under
// way nothing is recorded, and its end records the one step it made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "segments/Segments.hpp"
#include "timecode/Timecode.hpp"

namespace keeptime {

// What one step of the history restores.
struct EditState {
    std::int64_t in = 0;
    std::int64_t out = 0;
    std::optional<TimecodeRate> rate{};  // the rate chosen for files that name none
    bool wholeTake = false;
    std::vector<Segment> segments{};  // the Segments panel's list
    bool operator==(const EditState&) const = default;
};

class History {
public:
    // A new file: the state it opens with, and nothing to undo.
    void reset(const EditState& opened);
    // The state now on screen: a step when it differs from the last one, unless a gesture is held.
    void changed(const EditState& now);
    // A gesture holds back the steps until it ends, then records one (none when
    // it changed nothing). Nested holds end with the outermost.
    void beginGesture();
    void endGesture(const EditState& now);
    bool inGesture() const { return held_ > 0; }

    bool canUndo() const { return at_ > 0; }
    bool canRedo() const { return at_ + 1 < states_.size(); }
    // The state to show: the one before (after) the current one; nothing at the end.
    std::optional<EditState> undo();
    std::optional<EditState> redo();
    std::size_t steps() const { return states_.empty() ? 0 : states_.size() - 1; }

    // Older steps are forgotten beyond this many.
    static constexpr std::size_t kMaxSteps = 1000;

private:
    std::vector<EditState> states_;
    std::size_t at_ = 0;
    int held_ = 0;
};

}  // namespace keeptime
