#include "trim/ViewController.hpp"

#include <algorithm>
#include <cmath>

#include "base/BWFError.hpp"

namespace keeptime {

ViewController::ViewController(TrimView& view, std::ostream* log) : view_(view), log_(log) {}

ClockChoice ViewController::choice() const { return {weirdTC, chosenRate, false}; }
Clock ViewController::clock() const { return parser->clock(choice()); }

void ViewController::loadFile(const std::filesystem::path& url) {
    auto opened = std::make_shared<const FileHandle>(FileHandle::openForReading(url));
    auto parsed = std::make_shared<const BWFParser>(*opened, log_);
    Take found;
    try {
        found = findTake(*opened);
    } catch (const BWFError&) {
        found.members = {url};  // a folder that cannot be listed: the file alone
    }
    selectedFile = url;
    take = std::move(found);
    view_.setText(Element::fileTextField, url.string());
    newStart = 0;
    newEnd = parsed->frames();
    // Last, so that an action never sees a half-loaded file.
    input = std::move(opened);
    parser = std::move(parsed);
}

void ViewController::updateDisplay() {
    if (!parser) return;
    const Clock clock = this->clock();
    // Points placed between labels show how far past their label they lie, so that each text names its frame.
    auto text = [&](Notation notation, std::int64_t frame) { return clock.text(notation, frame, !snap); };
    view_.setText(Element::fileStartText, text(Notation::TimeOfDay, 0));
    view_.setText(Element::fileEndText, text(Notation::TimeOfDay, clock.frames));
    view_.setText(Element::fileLengthText, clock.lengthText(0, clock.frames));
    newStart = std::clamp<std::int64_t>(*newStart, 0, clock.frames);
    newEnd = std::clamp<std::int64_t>(*newEnd, *newStart, clock.frames);
    view_.setText(Element::startTCText, text(Notation::TimeOfDay, *newStart));
    view_.setText(Element::startFileText, text(Notation::FromStart, *newStart));
    view_.setText(Element::startFromEndText, text(Notation::FromEnd, *newStart));
    view_.setText(Element::endTCText, text(Notation::TimeOfDay, *newEnd));
    view_.setText(Element::endFileText, text(Notation::FromStart, *newEnd));
    view_.setText(Element::endFromEndText, text(Notation::FromEnd, *newEnd));
    view_.setText(Element::durationText, clock.lengthText(*newStart, *newEnd));
    // The start slider runs backwards: its value counts steps back from the end.
    const std::int64_t steps = clock.sliderSteps();
    for (Element slider : {Element::startSlider, Element::endSlider})
        view_.setSliderRange(slider, steps, clock.stepsPerSecond());
    view_.setSliderValue(Element::startSlider, static_cast<double>(steps - clock.stepAtFrame(*newStart)));
    view_.setSliderValue(Element::endSlider, static_cast<double>(clock.stepAtFrame(*newEnd)));
    view_.showRange(*newStart, *newEnd);
}

namespace {

struct TimeField {
    Element field;
    Notation notation;
    bool out;
};
constexpr TimeField kTimeFields[] = {
    {Element::startTCText, Notation::TimeOfDay, false}, {Element::startFileText, Notation::FromStart, false},
    {Element::startFromEndText, Notation::FromEnd, false}, {Element::endTCText, Notation::TimeOfDay, true},
    {Element::endFileText, Notation::FromStart, true},     {Element::endFromEndText, Notation::FromEnd, true},
};

}  // namespace

ViewController::TypedPoint ViewController::typedPoint(Element field) const {
    const auto* time = std::find_if(std::begin(kTimeFields), std::end(kTimeFields),
                                    [&](const TimeField& t) { return t.field == field; });
    if (!parser || time == std::end(kTimeFields)) return {};
    const Clock clock = this->clock();
    const Reading reading = clock.read(time->notation, view_.text(field), time->out);
    if (!reading.frame) return {std::nullopt, time->out, reading.refusal};
    // A point typed past the other one is refused: the range keeps its last good value.
    const std::int64_t frame = *reading.frame;
    if (!time->out && frame > *newEnd)
        return {std::nullopt, false, "the in point " + clock.text(Notation::TimeOfDay, frame) +
                                         " would lie after the out point " + clock.text(Notation::TimeOfDay, *newEnd)};
    if (time->out && frame < *newStart)
        return {std::nullopt, true, "the out point " + clock.text(Notation::TimeOfDay, frame) +
                                        " would lie before the in point " + clock.text(Notation::TimeOfDay, *newStart)};
    return {frame, time->out, {}};
}

void ViewController::showFieldError(const std::string& refusal) {
    if (refusal.empty() && !fieldError_) return;
    fieldError_ = !refusal.empty();
    view_.showStatus(refusal);
}

void ViewController::pointFilled(Element field) {
    if (!parser) return;
    // A refused text keeps the point; the redraw then puts its value back, and the user reads why.
    const TypedPoint point = typedPoint(field);
    if (point.frame) (point.out ? newEnd : newStart) = *point.frame;
    showFieldError(point.refusal);
    updateDisplay();
}

void ViewController::startTCFilled() { pointFilled(Element::startTCText); }
void ViewController::endTCFilled() { pointFilled(Element::endTCText); }
void ViewController::startFileFilled() { pointFilled(Element::startFileText); }
void ViewController::endFileFilled() { pointFilled(Element::endFileText); }
void ViewController::startFromEndFilled() { pointFilled(Element::startFromEndText); }
void ViewController::endFromEndFilled() { pointFilled(Element::endFromEndText); }

void ViewController::startSliderMoved() {
    if (!parser) return;
    const Clock clock = this->clock();
    newStart = clock.frameAtStep(clock.sliderSteps() - std::llround(view_.sliderValue(Element::startSlider)));
    if (*newEnd < *newStart) newEnd = newStart;  // the out point is pushed along
    showFieldError({});
    updateDisplay();
}

void ViewController::endSliderMoved() {
    if (!parser) return;
    newEnd = clock().frameAtStep(std::llround(view_.sliderValue(Element::endSlider)));
    if (*newEnd < *newStart) newStart = newEnd;  // the in point is pushed along
    showFieldError({});
    updateDisplay();
}

std::int64_t ViewController::placed(std::int64_t frame, bool out) const {
    const Clock clock = this->clock();
    frame = std::clamp<std::int64_t>(frame, 0, clock.frames);
    return snap ? clock.snap(frame, out) : frame;
}

void ViewController::inPointAt(std::int64_t frame) {
    if (!parser) return;
    newStart = placed(frame, false);
    if (*newEnd < *newStart) newEnd = newStart;
    showFieldError({});
    updateDisplay();
}

void ViewController::outPointAt(std::int64_t frame) {
    if (!parser) return;
    newEnd = placed(frame, true);
    if (*newEnd < *newStart) newStart = newEnd;
    showFieldError({});
    updateDisplay();
}

void ViewController::rangeAt(std::int64_t a, std::int64_t b) {
    if (!parser) return;
    newStart = placed(std::min(a, b), false);
    newEnd = std::max(*newStart, placed(std::max(a, b), true));
    showFieldError({});
    updateDisplay();
}

// The points are frames of the audio: a new mode or rate only changes their texts.
void ViewController::weirdTCChanged(bool on) {
    weirdTC = on;
    updateDisplay();
}

void ViewController::rateChosen(std::optional<TimecodeRate> rate) {
    chosenRate = rate;
    updateDisplay();
}

void ViewController::snapChanged(bool on) {
    snap = on;
    updateDisplay();
}

bool Copy::cancel() {
    std::lock_guard lock(mutex_);
    // A take's copies all go, also those already in place, unless every one is.
    cancelled_ = save_ ? save_->cancel() : !job_ || job_->cancel();
    return cancelled_;
}

bool Copy::cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

std::optional<std::string> ViewController::saveRefusal(std::optional<Element> typedField) const {
    if (!parser) return "Open a recording first.";
    std::int64_t in = *newStart, out = *newEnd;
    if (typedField) {
        const TypedPoint typed = typedPoint(*typedField);
        if (typed.frame) (typed.out ? out : in) = *typed.frame;
    }
    if (in == out) return "In and out are the same: the copy would be empty.";
    if (in > out) return "The out point must come after the in point.";
    return std::nullopt;
}

void ViewController::refuseUnsavable() const {
    if (auto refusal = saveRefusal()) {
        if (!parser) throw BWFError(BWFError::Kind::BadRange, *refusal);
        throw BWFError(BWFError::Kind::BadRange, *selectedFile, *refusal);
    }
}

std::shared_ptr<Copy> ViewController::startCopy(const std::filesystem::path& output, bool replace) {
    refuseUnsavable();
    newest_ = std::make_shared<Copy>(CopyRequest{*selectedFile, output, *newStart, *newEnd, choice(), replace});
    copies_.push_back(newest_);
    return newest_;
}

std::vector<CopyRequest> ViewController::takeRequests(const std::filesystem::path& folder, bool replace) const {
    refuseUnsavable();
    auto requests = alignedRequests(*selectedFile, *newStart, *newEnd, take.members, folder, choice());
    for (CopyRequest& request : requests) request.replace = replace;
    TakeSave::checkNames(requests);  // a folder of the take's own files is no place to replace them
    return requests;
}

std::vector<std::filesystem::path> ViewController::takeCopiesIn(const std::filesystem::path& folder) const {
    std::vector<std::filesystem::path> present;
    for (const CopyRequest& request : takeRequests(folder, false)) {
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(request.output, error))) present.push_back(request.output);
    }
    return present;
}

std::shared_ptr<Copy> ViewController::startTakeCopy(const std::filesystem::path& folder, bool replace) {
    // Planned here, so that a folder or a member that cannot take the copies is
    // refused before anything starts.
    auto save = std::make_shared<TakeSave>(takeRequests(folder, replace));
    newest_ = std::make_shared<Copy>(CopyRequest{*selectedFile, folder, *newStart, *newEnd, choice(), replace}, std::move(save));
    copies_.push_back(newest_);
    return newest_;
}

CopyOutcome ViewController::runCopy(Copy& copy, const std::function<void(std::int64_t)>& progress) {
    CopyOutcome outcome;
    if (copy.save_) {
        const SaveOutcome saved = copy.save_->run(TakeSave::defaultParallel(), progress, log_);
        outcome.status = saved.status;
        outcome.error = saved.error;
        for (const CopyOutcome& one : saved.copies) {
            outcome.bytesRead += one.bytesRead;
            outcome.bytesWritten += one.bytesWritten;
            outcome.sharedBytes += one.sharedBytes;
        }
        copy.ended_ = true;
        return outcome;
    }
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
    } catch (const std::exception& error) {  // never end the window's thread with an exception
        outcome.error = BWFError(BWFError::Kind::Output, copy.request.input, error.what());
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
