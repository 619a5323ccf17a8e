#include "trim/ViewController.hpp"

#include <algorithm>

#include "bwf/BWFError.hpp"
#include "timecode/TimeString.hpp"

namespace keeptime {

ViewController::ViewController(TrimView& view, std::ostream* log) : view_(view), log_(log) {}

FileTimes ViewController::times() const {
    FileTimes file = fileTimes(*parser, weirdTC);
    file.timecodeStart = *timecodeStart;
    return file;
}

void ViewController::loadFile(const std::filesystem::path& url) {
    apply(std::make_shared<const BWFParser>(url, log_), url);
}

void ViewController::apply(std::shared_ptr<const BWFParser> parsed, const std::filesystem::path& url) {
    const FileTimes file = fileTimes(*parsed, weirdTC);
    selectedFile = url;
    view_.setText(Element::fileTextField, url.string());
    fileStart = file.fileStart;
    fileEnd = file.fileEnd;
    newStart = fileStart;
    newEnd = fileEnd;
    timecodeStart = file.timecodeStart;
    // Last, so that an action never sees a half-loaded file.
    parser = std::move(parsed);
}

void ViewController::updateDisplay() {
    if (!parser) return;
    const FileTimes file = times();
    auto tc = [&](double seconds) { return TimeString::timecodeString(*timecodeStart + seconds); };
    view_.setText(Element::fileStartText, tc(*fileStart));
    view_.setText(Element::fileEndText, tc(*fileEnd));
    view_.setText(Element::fileLengthText, TimeString::durationString(*fileEnd));
    newStart = clampStart(*newStart, file);
    view_.setText(Element::startFileText, TimeString::durationString(*newStart - *fileStart));
    newEnd = clampEnd(*newEnd, file);
    view_.setText(Element::endFileText, TimeString::durationString(*newEnd - *fileStart));
    view_.setText(Element::startTCText, tc(*newStart));
    view_.setText(Element::endTCText, tc(*newEnd));
    view_.setText(Element::startFromEndText, TimeString::durationString(*fileEnd - *newStart));
    view_.setText(Element::endFromEndText, TimeString::durationString(*fileEnd - *newEnd));
    view_.setText(Element::durationText, TimeString::durationString(*newEnd - *newStart));
    view_.setSliderValue(Element::startSlider, startSliderValue(*newStart, file));
    view_.setSliderValue(Element::endSlider, endSliderValue(*newEnd, file));
}

void ViewController::pointFilled(Element field, Notation notation, std::optional<double>& point) {
    if (!parser) return;
    // Unreadable text keeps the point; the redraw then puts its value back, and the user hears why.
    const std::string typed = view_.text(field);
    if (auto seconds = pointFromText(notation, typed, times()))
        point = *seconds;
    else
        view_.showStatus(TimeString::notATime(typed));
    updateDisplay();
}

void ViewController::startTCFilled() { pointFilled(Element::startTCText, Notation::TimeOfDay, newStart); }
void ViewController::endTCFilled() { pointFilled(Element::endTCText, Notation::TimeOfDay, newEnd); }
void ViewController::startFileFilled() { pointFilled(Element::startFileText, Notation::FromStart, newStart); }
void ViewController::endFileFilled() { pointFilled(Element::endFileText, Notation::FromStart, newEnd); }
void ViewController::startFromEndFilled() {
    pointFilled(Element::startFromEndText, Notation::FromEnd, newStart);
}
void ViewController::endFromEndFilled() { pointFilled(Element::endFromEndText, Notation::FromEnd, newEnd); }

void ViewController::startSliderMoved() {
    if (!parser) return;
    newStart = startFromSlider(view_.sliderValue(Element::startSlider), times());
    if (*newEnd < *newStart) newEnd = newStart;  // the out point is pushed along
    updateDisplay();
}

void ViewController::endSliderMoved() {
    if (!parser) return;
    newEnd = endFromSlider(view_.sliderValue(Element::endSlider), times());
    if (*newEnd < *newStart) newStart = newEnd;  // the in point is pushed along
    updateDisplay();
}

void ViewController::weirdTCChanged(bool on) {
    weirdTC = on;
    if (!selectedFile) return;
    try {
        loadFile(*selectedFile);
    } catch (const BWFError&) {
        // Keep the display true to the mode that a copy would now use.
        apply(parser, *selectedFile);
        updateDisplay();
        throw;
    }
    updateDisplay();
}

bool Copy::cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = !job_ || job_->cancel();
    return cancelled_;
}

bool Copy::cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

std::shared_ptr<Copy> ViewController::startCopy(const std::filesystem::path& output, bool replace) {
    if (!parser) throw BWFError(BWFError::Kind::BadRange, "no recording is open");
    const auto [first, end] = frameRange(*newStart, *newEnd, times(), *selectedFile);
    newest_ = std::make_shared<Copy>(CopyRequest{*selectedFile, output, first, end, weirdTC, replace});
    copies_.push_back(newest_);
    return newest_;
}

CopyOutcome ViewController::runCopy(Copy& copy, const std::function<void(std::int64_t)>& progress) {
    CopyOutcome outcome;
    try {
        auto job = std::make_shared<BWFReconstructor>(copy.request, log_);
        {
            std::lock_guard lock(copy.mutex_);
            copy.job_ = job;
            if (copy.cancelled_) job->cancel();
        }
        outcome = job->process(progress);
    } catch (const BWFError& error) {
        outcome.error = error;
    }
    copy.ended_ = true;
    return outcome;
}

void ViewController::copyEnded(const std::shared_ptr<Copy>& copy) { std::erase(copies_, copy); }

bool ViewController::anyRunning() const {
    return std::any_of(copies_.begin(), copies_.end(), [](const auto& copy) { return copy->running(); });
}

bool ViewController::cancelRunningCopy() { return newestRunning() && newest_->cancel(); }

void ViewController::cancelAllCopies() {
    for (const auto& copy : copies_) copy->cancel();
}

}  // namespace keeptime
