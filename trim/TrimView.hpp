// What the trim-range model needs of a window: text and slider values of named
// elements. The Qt window and the tests' fake view implement it.
#pragma once

#include <cstdint>
#include <string>

namespace keeptime {

enum class Element {
    fileTextField,
    fileStartText,
    fileLengthText,
    fileEndText,
    startTCText,
    startFileText,
    startFromEndText,
    endTCText,
    endFileText,
    endFromEndText,
    durationText,
    startSlider,
    endSlider,
};

class TrimView {
public:
    virtual ~TrimView() = default;
    virtual void setText(Element element, const std::string& text) = 0;
    virtual std::string text(Element element) const = 0;
    // Slider positions are steps: timecode frames, or seconds (Clock::sliderSteps).
    virtual void setSliderValue(Element slider, double value) = 0;
    virtual double sliderValue(Element slider) const = 0;
    virtual void setSliderRange(Element /*slider*/, std::int64_t /*steps*/, std::int64_t /*perSecond*/) {}
    // A message for the status line, such as why typed text was refused.
    virtual void showStatus(const std::string& /*message*/) {}
    // The two points as frames, after every redraw: for views that draw them (the waveform).
    virtual void showRange(std::int64_t /*in*/, std::int64_t /*out*/) {}
};

}  // namespace keeptime
