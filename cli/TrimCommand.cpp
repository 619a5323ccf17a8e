#include "cli/TrimCommand.hpp"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <nlohmann/json.hpp>

#include "bwf/BWFError.hpp"
#include "bwf/BWFReconstructor.hpp"
#include "cli/Output.hpp"
#include "cli/ProgressMeter.hpp"
#include "timecode/TimeString.hpp"
#include "trim/TrimRange.hpp"

namespace keeptime::cli {

namespace {

// The running job, for the signal handler: setting an atomic flag is all it does.
std::atomic<BWFReconstructor*> runningJob{nullptr};
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void requestStop(int signal) {
    stopSignal = signal;
    if (BWFReconstructor* job = runningJob.load()) job->cancel();
}

// While a copy runs, the signals that end a command line's work stop the copy
// instead, so that its unfinished file is removed; the exit status then says
// which signal it was.
struct ScopedStopHandler {
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
    explicit ScopedStopHandler(BWFReconstructor& job) {
        runningJob = &job;
        struct sigaction action {};
        action.sa_handler = requestStop;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &old[i]);
    }
    ~ScopedStopHandler() {
        for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &old[i], nullptr);
        runningJob = nullptr;
    }
    struct sigaction old[std::size(kSignals)] {};
};

struct PointOption {
    const char* name;
    const std::optional<std::string>& text;
    Notation notation;
};

// The frame named by whichever of the options was given, or fallback.
std::optional<std::int64_t> point(std::initializer_list<PointOption> options, std::optional<std::int64_t> exact,
                                  std::int64_t fallback, const FileTimes& file) {
    if (exact) return *exact;
    for (const auto& option : options) {
        if (!option.text) continue;
        auto frame = frameFromText(option.notation, *option.text, file);
        if (!frame) complain(option.name, TimeString::notATime(*option.text));
        return frame;
    }
    return fallback;
}

}  // namespace

int runTrim(const TrimOptions& options) {
    std::ostream& lines = systemLines(options.json);
    std::optional<FileTimes> file;
    try {
        file = timesFor(BWFParser(options.input, &lines), options.times);
    } catch (const BWFError& error) {
        complain(error.what());
        return kRefused;
    }
    if (!file) return kRefused;
    // The window's notations and clamps, so that both choose the same frames.
    auto start = point({{"--start", options.start, Notation::FromStart},
                        {"--start-tc", options.startTC, Notation::TimeOfDay},
                        {"--start-from-end", options.startFromEnd, Notation::FromEnd}},
                       options.startFrame, 0, *file);
    auto end = point({{"--end", options.end, Notation::FromStart},
                      {"--end-tc", options.endTC, Notation::TimeOfDay},
                      {"--end-from-end", options.endFromEnd, Notation::FromEnd}},
                     options.endFrame, file->frames, *file);
    if (!start || !end) return kRefused;
    const std::int64_t first = clampStart(*start, *file);
    const std::int64_t last = options.endFrame ? clampEnd(*end, *file) : clampEnd(snapEnd(*end, *file), *file);
    if (first > last) {
        complain(options.input.string(), "the in point " + pointText(Notation::FromStart, first, *file) +
                                             " lies after the out point " + pointText(Notation::FromStart, last, *file));
        return kRefused;
    }

    std::error_code ignored;
    if (!options.force && std::filesystem::exists(std::filesystem::symlink_status(options.output, ignored))) {
        complain(options.output.string(), "already exists; add --force to replace it");
        return kRefused;
    }

    std::unique_ptr<BWFReconstructor> job;
    try {
        const CopyRequest request{options.input, options.output, first, last, options.times.weirdTC,
                                  options.force, !options.noShare};
        job = std::make_unique<BWFReconstructor>(request, &lines);
    } catch (const BWFError& error) {
        complain(error.what());
        return kRefused;
    }
    const CopyPlan& plan = job->plan();

    std::optional<ProgressMeter> meter;
    if (!options.quiet && ::isatty(STDERR_FILENO)) meter.emplace(std::cerr, plan.audioBytes);
    CopyOutcome outcome;
    {
        ScopedStopHandler stopHandler(*job);
        if (stopSignal) job->cancel();
        outcome = job->process([&](std::int64_t percent) {
            if (meter) meter->update(percent);
        });
    }
    if (meter) meter->finish();

    switch (outcome.status) {
        case CopyOutcome::Status::Completed:
            break;
        case CopyOutcome::Status::Cancelled:
            complain(options.output.string(), "interrupted; the unfinished copy was removed");
            return 128 + (stopSignal ? stopSignal : SIGINT);
        case CopyOutcome::Status::Failed:
            complain(outcome.message());
            return kCopyFailed;
    }
    if (options.json) {
        auto stamp = [](const std::optional<std::int64_t>& value) { return value ? nlohmann::json(*value) : nullptr; };
        // The copy's own labels, from the stamp it carries: what `info` on it shows.
        FileTimes copyTimes = *file;
        copyTimes.stamp = plan.stampAfter.value_or(0);
        auto label = [&](std::int64_t frame) {
            return file->rate ? nlohmann::json(pointText(Notation::TimeOfDay, frame, copyTimes)) : nullptr;
        };
        nlohmann::ordered_json copy = {
            {"input", options.input.string()},
            {"output", options.output.string()},
            {"startFrame", plan.startFrame},
            {"frames", plan.frames},
            {"audioBytes", plan.audioBytes},
            {"fileBytes", plan.fileBytes},
            {"timeReferenceSource", sourceName(plan.stampSource)},
            {"timeReferenceBefore", stamp(plan.stampBefore)},
            {"timeReferenceAfter", stamp(plan.stampAfter)},
            {"startTimecode", label(0)},
            {"endTimecode", label(plan.frames)},
            {"chunks", plan.chunks},
            {"sharedBytes", outcome.sharedBytes},
        };
        std::cout << copy.dump(2) << std::endl;
    }
    return kOk;
}

}  // namespace keeptime::cli
