// The controller of the trim window without its toolkit: the loaded file, the
// chosen range in three notations and two sliders, and the copies it started.
// Runs on the window's main thread, except runCopy, which runs on each copy's
// own thread.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <vector>

#include "recording/BWFParser.hpp"
#include "copy/BWFReconstructor.hpp"
#include "recording/Take.hpp"
#include "trim/TakeSave.hpp"
#include "trim/TrimView.hpp"

namespace keeptime {

// One copy the controller started, shared with the thread that runs it. It
// can be cancelled at any time, also before its job is built.
class Copy {
public:
    // save: a whole take's copies, planned and saved together.
    explicit Copy(CopyRequest wanted, std::shared_ptr<TakeSave> save = nullptr)
        : request(std::move(wanted)), save_(std::move(save)) {}
    const CopyRequest request;  // taken from the window when the copy started; for a take, output is the folder
    bool wholeTake() const { return save_ != nullptr; }
    // The files this copy writes: the take's members, or one.
    std::size_t files() const { return save_ ? save_->size() : 1; }

    // False when the copy is already in place and can no longer be cancelled.
    bool cancel();
    bool cancelled() const;
    // Started by the user and neither ended nor cancelled.
    bool running() const { return !ended_ && !cancelled(); }

private:
    friend class ViewController;
    mutable std::mutex mutex_;
    std::shared_ptr<BWFReconstructor> job_;
    const std::shared_ptr<TakeSave> save_;
    bool cancelled_ = false;
    std::atomic<bool> ended_{false};
};

class ViewController {
public:
    // log, when given, receives the core's "Done" and byte-count lines.
    explicit ViewController(TrimView& view, std::ostream* log = nullptr);

    // The in and out points: frames of the audio, [newStart, newEnd) is kept.
    std::optional<std::int64_t> newStart;
    std::optional<std::int64_t> newEnd;
    // Present once a file is loaded; only ever replaced by the next file.
    std::shared_ptr<const BWFParser> parser;
    // The loaded file, open for reading: drawn and played through this one descriptor.
    std::shared_ptr<const FileHandle> input;
    bool weirdTC = false;
    // The timecode rate for files that name none; none: seconds.
    std::optional<TimecodeRate> chosenRate;
    // Points set by clicks, drags, keys and sliders land on a label's first frame
    // when a rate is known; off, they may lie between labels.
    bool snap = true;
    std::optional<std::filesystem::path> selectedFile;
    // The loaded file's take: its members (the file alone when it names none),
    // and a notice when members are missing.
    Take take;

    // Parses url and makes it the loaded file with the whole file as range.
    // Throws BWFError for a file that cannot be used; nothing changes then.
    void loadFile(const std::filesystem::path& url);
    // Applies the clamps and redraws every element.
    void updateDisplay();

    // A typed edit committed in one of the six time fields.
    void startTCFilled();
    void endTCFilled();
    void startFileFilled();
    void endFileFilled();
    void startFromEndFilled();
    void endFromEndFilled();
    void startSliderMoved();
    void endSliderMoved();
    // A point set at a frame by a waveform handle or a key; like the sliders,
    // it pushes the other point along rather than cross it.
    void inPointAt(std::int64_t frame);
    void outPointAt(std::int64_t frame);
    // Both points at once, as a drag across the waveform chooses them: from a to b in
    // either order, each placed as inPointAt and outPointAt place them.
    void rangeAt(std::int64_t a, std::int64_t b);

    // Switches weird-TC mode, or the rate for files that name none. The points
    // stay where they are in the audio; only their texts change.
    void weirdTCChanged(bool on);
    void rateChosen(std::optional<TimecodeRate> rate);
    void snapChanged(bool on);
    // The times of the loaded file as the fields show them.
    Clock clock() const;
    ClockChoice choice() const;

    // Why no copy can be made now, in a sentence for the user; nothing when one can.
    // A text typed into one of the six time fields and not yet committed counts as
    // committed, so that the answer follows the typing.
    std::optional<std::string> saveRefusal(std::optional<Element> typedField = {}) const;

    // Starts a copy of the chosen range to output: it becomes the newest copy.
    // Its thread then calls runCopy. Throws BWFError, and starts nothing, when
    // no file is loaded or the range is empty or reversed.
    // replace: an existing file at output may be replaced (the user said so).
    std::shared_ptr<Copy> startCopy(const std::filesystem::path& output, bool replace = true);
    // The same for every member of the take, into folder under their own names, by
    // time of day; whole or not at all. Throws BWFError when a copy cannot be planned.
    // replace: copies already in folder may be replaced (the user said so).
    std::shared_ptr<Copy> startTakeCopy(const std::filesystem::path& folder, bool replace = false);
    // The files in folder that a save of the take there would replace. Throws BWFError,
    // as startTakeCopy does, for a range or folder that cannot take the copies at all.
    std::vector<std::filesystem::path> takeCopiesIn(const std::filesystem::path& folder) const;
    // Builds the copy's job and runs it to its end on the calling thread.
    CopyOutcome runCopy(Copy& copy, const std::function<void(std::int64_t)>& progress);
    // The window has handled the copy's end: it is forgotten.
    void copyEnded(const std::shared_ptr<Copy>& copy);

    const std::shared_ptr<Copy>& newestCopy() const { return newest_; }
    bool newestRunning() const { return newest_ && newest_->running(); }
    bool anyRunning() const;
    // Cancels the newest copy; false when it is not running or already in place.
    bool cancelRunningCopy();
    void cancelAllCopies();

private:
    void pointFilled(Element field);
    // The point the text in field names (its frame, or why it is refused), and whether it is the out point.
    struct TypedPoint {
        std::optional<std::int64_t> frame;
        bool out = false;
        std::string refusal;
    };
    TypedPoint typedPoint(Element field) const;
    // A point set at frame by a click, key or drag: inside the file, on a label when snapping.
    std::int64_t placed(std::int64_t frame, bool out) const;
    // Shows why typed text was refused; an empty refusal clears the last one, and only that.
    void showFieldError(const std::string& refusal);
    // Throws BWFError when saveRefusal has a reason.
    void refuseUnsavable() const;
    std::vector<CopyRequest> takeRequests(const std::filesystem::path& folder, bool replace) const;

    TrimView& view_;
    std::ostream* log_;
    std::vector<std::shared_ptr<Copy>> copies_;  // started, end not yet handled
    std::shared_ptr<Copy> newest_;
    bool fieldError_ = false;
};

}  // namespace keeptime
