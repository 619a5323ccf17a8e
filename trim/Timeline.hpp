// What the waveform shows: the stretch of the file in view at the widget's width,
// its zoom and scroll, and the ruler's marks. Pixels are doubles so that zooming
// about the pointer keeps the frame under it exactly where it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "timecode/Clock.hpp"

namespace keeptime {

class Timeline {
public:
    // The narrowest view: this many pixels per frame, enough to see single samples.
    static constexpr double kMaxPixelsPerFrame = 16.0;

    // A file of frames, shown whole.
    void setFrames(std::int64_t frames);
    // The view's width in pixels; the frames in view keep their first frame.
    void setWidth(int pixels);

    std::int64_t frames() const { return frames_; }
    int width() const { return width_; }
    // The first frame at the left edge, and frames per pixel.
    double first() const { return first_; }
    double framesPerPixel() const { return perPixel_; }
    // The frames in view: [first, first + width × framesPerPixel), clipped to the file.
    std::int64_t visibleFrames() const;
    bool wholeInView() const;

    double xAt(std::int64_t frame) const { return (static_cast<double>(frame) - first_) / perPixel_; }
    // The frame at x, rounded to the nearest frame boundary and kept within [0, frames].
    std::int64_t frameAt(double x) const;

    // factor > 1 zooms in. The frame at anchorX stays at anchorX.
    void zoom(double factor, double anchorX);
    void showWhole();
    void scrollBy(double pixels);
    void scrollTo(double firstFrame);
    // Pages forward or back so that frame is in view, as a playhead is followed.
    void follow(std::int64_t frame);

    struct Mark {
        double x;
        std::string label;  // empty for a minor mark
    };
    // Marks at round times of day, labels at least minLabelGap pixels apart. Zoomed in
    // so far that a label spans the view, marks at round counts of samples past each
    // label, labelled "label+samples" (the label alone on its first frame).
    std::vector<Mark> marks(const Clock& clock, double minLabelGap) const;

private:
    void clampView();
    double widestFramesPerPixel() const;
    std::vector<Mark> sampleMarks(const Clock& clock, double minLabelGap, std::int64_t left, std::int64_t right) const;

    std::int64_t frames_ = 0;
    int width_ = 1;
    double first_ = 0;
    double perPixel_ = 1;
};

}  // namespace keeptime
