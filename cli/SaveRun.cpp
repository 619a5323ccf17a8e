#include "cli/SaveRun.hpp"

#include <unistd.h>

#include <csignal>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/Output.hpp"
#include "cli/ProgressMeter.hpp"
#include "cli/Signals.hpp"
#include "io/OutputFile.hpp"
#include "trim/TakeSave.hpp"

namespace keeptime::cli {

nlohmann::ordered_json copyJson(const std::filesystem::path& input, const std::filesystem::path& output, const CopyPlan& plan,
                                const CopyOutcome& outcome, const Clock& file) {
    auto stamp = [](const std::optional<std::int64_t>& value) { return value ? nlohmann::json(*value) : nullptr; };
    // The copy's own labels, from the stamp it carries: what `info` on it shows.
    Clock copyTimes = file;
    copyTimes.stamp = plan.stampAfter.value_or(0);
    copyTimes.frames = plan.frames;
    auto label = [&](std::int64_t frame) {
        return file.rate ? nlohmann::json(copyTimes.text(Notation::TimeOfDay, frame)) : nullptr;
    };
    nlohmann::ordered_json copy;
    putName(copy, "input", input.string());
    putName(copy, "output", output.string());
    copy.update(nlohmann::ordered_json{
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
    });
    return copy;
}

int runSave(std::vector<CopyRequest> requests, const SaveRunOptions& options) {
    const std::filesystem::path& folder = options.folder;
    std::ostream& lines = systemLines(options.json);
    try {  // a folder holding the inputs is refused before --force is suggested
        TakeSave::checkNames(requests);
    } catch (const BWFError& e) {
        complain(e);
        return kRefused;
    }
    bool exists = false;
    std::error_code error;
    for (const CopyRequest& request : requests)
        if (!request.replace && std::filesystem::exists(std::filesystem::symlink_status(request.output, error)))
            complain(request.output.string(), "already exists; add --force to replace it"), exists = true;
    if (exists) return kRefused;

    std::unique_ptr<TakeSave> save;
    std::optional<ProgressMeter> meter;
    SaveOutcome outcome;
    {
        StopScope stop;
        try {
            save = std::make_unique<TakeSave>(std::move(requests));
        } catch (const BWFError& e) {
            complain(e);
            return kRefused;
        }
        stop.cancels(*save);
        if (!options.quiet && ::isatty(STDERR_FILENO)) meter.emplace(std::cerr, save->audioBytes());
        outcome = save->run(options.jobs ? options.jobs : TakeSave::defaultParallel(), [&](std::int64_t percent) {
            if (meter) meter->update(percent);
        }, &lines);
    }
    if (meter) meter->finish();

    const std::string count = std::to_string(save->size()) + " copies";
    switch (outcome.status) {
        case CopyOutcome::Status::Completed:
            break;
        case CopyOutcome::Status::Cancelled:
            complain(folder.string(), "interrupted; none of this run's " + count + " was kept");
            return 128 + (stopSignal() ? stopSignal() : SIGINT);
        case CopyOutcome::Status::Failed:
            complain(outcome.error ? *outcome.error : BWFError(BWFError::Kind::Output, folder, "a copy failed"));
            complain(folder.string(), "none of this run's " + count + " was kept");
            return kCopyFailed;
    }
    if (options.json) {
        auto copies = nlohmann::ordered_json::array();
        std::map<std::filesystem::path, Clock> clocks;  // per input: a split reads one file for every copy
        for (std::size_t i = 0; i < save->size(); ++i) {
            const CopyRequest& request = save->request(i);
            auto times = clocks.find(request.input);
            try {
                if (times == clocks.end())
                    times = clocks.emplace(request.input, BWFParser(request.input).clock(request.times)).first;
            } catch (const BWFError& unreadable) {  // read a moment ago: it changed meanwhile
                complain(unreadable);
                return kCopyFailed;
            }
            auto copy = copyJson(request.input, request.output, save->plan(i), outcome.copies[i], times->second);
            if (options.annotate) options.annotate(i, copy);
            copies.push_back(std::move(copy));
        }
        if (options.jsonInto) *options.jsonInto = std::move(copies);
        else std::cout << jsonText(copies) << std::endl;
    }
    return kOk;
}

bool usableFolder(const std::filesystem::path& folder, const std::string& names) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return true;
    const bool missing = !std::filesystem::exists(std::filesystem::symlink_status(folder, error));
    complain(folder.string(), (missing ? "no such folder (make it first); " : "is not a folder; ") + names);
    return false;
}

void sayLeftovers(const std::filesystem::path& folder) {
    for (const auto& left : leftovers(folder)) {
        const bool original = left.filename().string().find(".keeptime-original-") != std::string::npos;
        complain(left.string(), original ? "notice: a file that a stopped --force run replaced, kept under this name; "
                                           "see AFTER A CRASH in man keeptime-cli"
                                         : "notice: a copy that a stopped run did not put in place; it can be deleted "
                                           "(see AFTER A CRASH in man keeptime-cli)");
    }
}

}  // namespace keeptime::cli
