// The controller of the trim window without its toolkit: the loaded file, the
// chosen range in three notations and two sliders, and the conversion jobs.
// Runs on the window's main thread, except runConversion, which runs on each
// conversion's own thread.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>

#include "bwf/BWFParser.hpp"
#include "bwf/BWFReconstructor.hpp"
#include "trim/TrimRange.hpp"
#include "trim/TrimView.hpp"

namespace keeptime {

// What a conversion takes from the window when it starts, so that later edits
// in the window cannot reach it.
struct ConversionRequest {
    std::filesystem::path input;
    std::filesystem::path output;
    double start = 0;
    double end = 0;
    bool weirdTC = false;
};

class ViewController {
public:
    explicit ViewController(TrimView& view, std::ostream& log = std::cout);

    std::optional<double> fileStart;
    std::optional<double> fileEnd;
    std::optional<double> newStart;
    std::optional<double> newEnd;
    std::optional<double> timecodeStart;
    // Present once a file is loaded; only ever replaced by the next file.
    std::shared_ptr<const BWFParser> parser;
    // The newest conversion, shared with the thread that runs it.
    std::atomic<std::shared_ptr<BWFReconstructor>> reconstructor;
    bool weirdTC = false;
    std::optional<std::filesystem::path> selectedFile;

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

    // Switches weird-TC mode; with a file loaded it is read again and the range
    // reset. Throws BWFError when the file can no longer be read; the loaded
    // parse then stays, with its times recomputed in the new mode.
    void weirdTCChanged(bool on);

    // The conversion the window would start for output, or nothing without a file.
    std::optional<ConversionRequest> conversionRequest(const std::filesystem::path& output) const;
    // Asks the newest conversion to stop; false when none is running.
    bool cancelRunningCopy();
    // Runs one conversion to its end on the calling thread.
    CopyOutcome runConversion(const ConversionRequest& request,
                              const std::function<void(std::int64_t)>& progress);

private:
    void apply(std::shared_ptr<const BWFParser> parsed, const std::filesystem::path& url);
    void pointFilled(Element field, Notation notation, std::optional<double>& point);
    FileTimes times() const;

    TrimView& view_;
    std::ostream& log_;
};

}  // namespace keeptime
