#include "trim/History.hpp"

namespace keeptime {

void History::reset(const EditState& opened) {
    states_ = {opened};
    at_ = 0;
    held_ = 0;
}

void History::changed(const EditState& now) {
    if (held_ > 0 || states_.empty() || now == states_[at_]) return;
    states_.resize(at_ + 1);  // a new step forgets what was undone
    states_.push_back(now);
    if (states_.size() > kMaxSteps + 1) states_.erase(states_.begin());
    at_ = states_.size() - 1;
}

void History::beginGesture() { ++held_; }

void History::endGesture(const EditState& now) {
    if (held_ > 0 && --held_ > 0) return;
    changed(now);
}

std::optional<EditState> History::undo() {
    if (!canUndo() || held_ > 0) return std::nullopt;
    return states_[--at_];
}

std::optional<EditState> History::redo() {
    if (!canRedo() || held_ > 0) return std::nullopt;
    return states_[++at_];
}

}  // namespace keeptime
