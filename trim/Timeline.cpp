#include "trim/Timeline.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace keeptime {

void Timeline::setFrames(std::int64_t frames) {
    frames_ = std::max<std::int64_t>(frames, 0);
    showWhole();
}

void Timeline::setWidth(int pixels) {
    const bool whole = wholeInView();
    width_ = std::max(pixels, 1);
    // A view that showed the whole file still does; a zoomed one keeps its scale.
    if (whole) showWhole();
    clampView();
}

double Timeline::widestFramesPerPixel() const {
    return std::max(static_cast<double>(frames_) / width_, 1.0 / kMaxPixelsPerFrame);
}

std::int64_t Timeline::visibleFrames() const {
    return std::min<std::int64_t>(frames_, static_cast<std::int64_t>(std::ceil(width_ * perPixel_)));
}

bool Timeline::wholeInView() const { return first_ <= 0 && perPixel_ >= widestFramesPerPixel(); }

std::int64_t Timeline::frameAt(double x) const {
    const double frame = std::round(first_ + x * perPixel_);
    return std::clamp<std::int64_t>(static_cast<std::int64_t>(std::clamp(frame, -1.0, 9.0e18)), 0, frames_);
}

void Timeline::zoom(double factor, double anchorX) {
    if (!(factor > 0)) return;
    const double anchor = first_ + anchorX * perPixel_;
    perPixel_ = std::clamp(perPixel_ / factor, 1.0 / kMaxPixelsPerFrame, widestFramesPerPixel());
    first_ = anchor - anchorX * perPixel_;
    clampView();
}

void Timeline::showWhole() {
    perPixel_ = widestFramesPerPixel();
    first_ = 0;
}

void Timeline::scrollBy(double pixels) { scrollTo(first_ + pixels * perPixel_); }

void Timeline::scrollTo(double firstFrame) {
    first_ = firstFrame;
    clampView();
}

void Timeline::follow(std::int64_t frame) {
    const double x = xAt(frame);
    if (x >= 0 && x < width_) return;
    // Whole pages, with the frame a little in from the left edge.
    scrollTo(static_cast<double>(frame) - 0.05 * width_ * perPixel_);
}

void Timeline::clampView() {
    perPixel_ = std::clamp(perPixel_, 1.0 / kMaxPixelsPerFrame, widestFramesPerPixel());
    const double last = static_cast<double>(frames_) - width_ * perPixel_;
    first_ = std::clamp(first_, 0.0, std::max(last, 0.0));
}

std::vector<Timeline::Mark> Timeline::marks(const Clock& clock, double minLabelGap) const {
    std::vector<Mark> marks;
    if (frames_ <= 0 || clock.sampleRate <= 0) return marks;
    // Steps in ruler units: frames or milliseconds, then seconds, minutes and hours.
    const std::int64_t second = clock.rulerUnitsPerSecond();
    std::vector<std::int64_t> steps;
    if (clock.rate) {
        for (std::int64_t n : {1, 2, 5, 10}) if (n < second) steps.push_back(n);
    } else {
        for (std::int64_t n : {1, 2, 5, 10, 20, 50, 100, 200, 500}) steps.push_back(n);
    }
    for (std::int64_t n : {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 21600})
        steps.push_back(n * second);
    const double fs = clock.sampleRate;
    const double unitsPerFrame =
        clock.rate ? static_cast<double>(clock.rate->num) / (static_cast<double>(clock.rate->den) * fs) : 1000.0 / fs;
    const double unitsPerPixel = perPixel_ * unitsPerFrame;
    const std::int64_t left = std::max<std::int64_t>(0, static_cast<std::int64_t>(std::floor(first_)));
    const std::int64_t right = std::min<std::int64_t>(frames_, static_cast<std::int64_t>(std::ceil(first_ + width_ * perPixel_)));
    // At sample zoom the finest step is wider than the view: marks count samples past each label.
    if (steps.front() / unitsPerPixel > width_ / 2.0) return sampleMarks(clock, minLabelGap, left, right);
    std::int64_t step = steps.back();
    for (std::int64_t candidate : steps)
        if (candidate / unitsPerPixel >= minLabelGap) {
            step = candidate;
            break;
        }
    // Five or so minor marks between labels, where a whole number of units allows.
    std::int64_t minor = step;
    for (std::int64_t parts : {5, 4, 2})
        if (step % parts == 0 && step / parts / unitsPerPixel >= 6) {
            minor = step / parts;
            break;
        }
    auto floorTo = [](std::int64_t value, std::int64_t unit) { return value / unit * unit - (value % unit < 0 ? unit : 0); };
    for (std::int64_t unit = floorTo(clock.rulerUnitAt(left), minor); ; unit += minor) {
        const std::int64_t frame = clock.frameAtRulerUnit(unit);
        if (frame > right) break;
        if (frame < left) continue;
        marks.push_back({xAt(frame), unit % step == 0 ? clock.rulerLabel(unit, step) : std::string()});
    }
    return marks;
}

std::vector<Timeline::Mark> Timeline::sampleMarks(const Clock& clock, double minLabelGap, std::int64_t left,
                                                  std::int64_t right) const {
    std::vector<Mark> marks;
    // "10:00:00:12+480" is wider than a label: more room for each.
    const double gap = minLabelGap * 1.6;
    std::int64_t step = 1;
    for (std::int64_t n : {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000})
        if ((step = n) / perPixel_ >= gap) break;
    std::int64_t minor = step;
    for (std::int64_t parts : {5, 4, 2})
        if (step % parts == 0 && step / parts / perPixel_ >= 6) {
            minor = step / parts;
            break;
        }
    // Counted from each label's first frame (from the file's first without a rate), so
    // that the label itself is marked and the counts are round within it.
    for (std::int64_t start = clock.rate ? clock.snap(left) : 0; start <= right;) {
        const std::int64_t next = clock.rate ? clock.stepLabels(start, 1) : right + 1;
        for (std::int64_t frame = start + (std::max<std::int64_t>(left - start, 0) + minor - 1) / minor * minor;
             frame < next && frame <= right; frame += minor)
            marks.push_back({xAt(frame), (frame - start) % step == 0 ? clock.text(Notation::TimeOfDay, frame, true) : std::string()});
        if (next <= start) break;  // the last label
        start = next;
    }
    return marks;
}

}  // namespace keeptime
