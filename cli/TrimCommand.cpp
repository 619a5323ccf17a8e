#include "cli/TrimCommand.hpp"

#include <unistd.h>

#include <csignal>
#include <set>
#include <nlohmann/json.hpp>

#include "base/BWFError.hpp"
#include "copy/BWFReconstructor.hpp"
#include "io/OutputFile.hpp"
#include "cli/Output.hpp"
#include "cli/ProgressMeter.hpp"
#include "cli/SaveRun.hpp"
#include "cli/Signals.hpp"
#include "recording/Take.hpp"
#include "trim/TakeSave.hpp"

namespace keeptime::cli {

namespace {

struct PointOption {
    const char* name;
    const std::optional<std::string>& text;
    Notation notation;
};

// The frame named by whichever of the options was given (exact frames kept
// inside the audio), or fallback; nothing after saying why a text was refused.
std::optional<std::int64_t> point(std::initializer_list<PointOption> options, std::optional<std::int64_t> exact,
                                  std::int64_t fallback, const Clock& clock, bool out, const std::filesystem::path& input) {
    if (exact) return std::clamp<std::int64_t>(*exact, 0, clock.frames);
    for (const auto& option : options) {
        if (!option.text) continue;
        const Reading reading = clock.read(option.notation, *option.text, out);
        if (!reading.frame) complain(input.string(), std::string(option.name) + " " + reading.refusal);
        return reading.frame;
    }
    return fallback;
}

struct Range {
    std::int64_t first, last;
};

// The frames the range options name in one file, with the window's notations
// and clamps, so that both choose the same frames; nothing after saying why.
std::optional<Range> rangeFor(const TrimOptions& options, const Clock& file, const std::filesystem::path& input) {
    auto start = point({{"--start", options.start, Notation::FromStart},
                        {"--start-tc", options.startTC, Notation::TimeOfDay},
                        {"--start-from-end", options.startFromEnd, Notation::FromEnd}},
                       options.startFrame, 0, file, false, input);
    auto end = point({{"--end", options.end, Notation::FromStart},
                      {"--end-tc", options.endTC, Notation::TimeOfDay},
                      {"--end-from-end", options.endFromEnd, Notation::FromEnd}},
                     options.endFrame, file.frames, file, true, input);
    if (!start || !end) return std::nullopt;
    const std::int64_t first = *start, last = *end;
    if (first > last) {
        complain(input.string(), "the in point " + file.text(Notation::TimeOfDay, first) +
                                     " lies after the out point " + file.text(Notation::TimeOfDay, last));
        return std::nullopt;
    }
    if (first == last) {  // as the window refuses it: a copy without audio is no recording
        complain(input.string(), "the range holds no audio");
        return std::nullopt;
    }
    return Range{first, last};
}

int runOne(const TrimOptions& options) {
    const std::filesystem::path& input = options.inputs.front();
    std::ostream& lines = systemLines(options.json);
    const auto choice = choiceOf(options.times);
    if (!choice) return kRefused;
    std::optional<Clock> file;
    try {
        file = BWFParser(input, &lines).clock(*choice);
    } catch (const BWFError& error) {
        complain(error);
        return kRefused;
    }
    if (!file) return kRefused;
    const auto range = rangeFor(options, *file, input);
    if (!range) return kRefused;
    const auto [first, last] = *range;

    std::error_code ignored;
    if (!options.force && std::filesystem::exists(std::filesystem::symlink_status(options.output, ignored))) {
        complain(options.output.string(), "already exists; add --force to replace it");
        return kRefused;
    }

    std::unique_ptr<BWFReconstructor> job;
    std::optional<ProgressMeter> meter;
    CopyOutcome outcome;
    {
        StopScope stop;
        try {
            const CopyRequest request{input, options.output, first, last, *choice,
                                      options.force, !options.noShare};
            job = std::make_unique<BWFReconstructor>(request, &lines);
        } catch (const BWFError& error) {
            complain(error);
            return kRefused;
        }
        stop.cancels(*job);
        if (!options.quiet && ::isatty(STDERR_FILENO)) meter.emplace(std::cerr, job->plan().audioBytes);
        outcome = job->process([&](std::int64_t percent) {
            if (meter) meter->update(percent);
        });
    }
    if (meter) meter->finish();
    const CopyPlan& plan = job->plan();

    switch (outcome.status) {
        case CopyOutcome::Status::Completed:
            break;
        case CopyOutcome::Status::Cancelled:
            complain(options.output.string(), "interrupted; the unfinished copy was removed");
            return 128 + (stopSignal() ? stopSignal() : SIGINT);
        case CopyOutcome::Status::Failed:
            complain(outcome.error ? *outcome.error : BWFError(BWFError::Kind::Output, options.output, "the copy failed"));
            return kCopyFailed;
    }
    if (options.json) std::cout << jsonText(copyJson(input, options.output, plan, outcome, *file)) << std::endl;
    return kOk;
}

// The files a run copies: each input, or with --take every file of its take
// (each file once), and the range each group takes from its lead.
struct Group {
    std::filesystem::path lead;
    std::vector<std::filesystem::path> files;
    std::optional<std::string> notice;
};

std::vector<Group> groupsFor(const TrimOptions& options) {
    std::vector<Group> groups;
    std::set<FileId> seen;  // by identity, so that a thousand inputs are not compared pairwise
    auto fresh = [&](const std::filesystem::path& file) {
        const auto id = fileId(file);
        return !id || seen.insert(*id).second;
    };
    for (const auto& input : options.inputs) {
        if (!options.take) {
            if (fresh(input)) groups.push_back({input, {input}, {}});
            continue;
        }
        Take take = findTake(input);
        if (take.notice) complain(input.string(), "notice: " + *take.notice);
        Group group{input, {}, take.notice};
        for (const auto& member : take.members)
            if (fresh(member)) group.files.push_back(member);
        if (!group.files.empty()) groups.push_back(std::move(group));
    }
    return groups;
}

// Several files into a folder, under their own names.
int runMany(const TrimOptions& options) {
    const std::filesystem::path& folder = options.output;
    if (!usableFolder(folder, "with several inputs or --take, -o names the folder for the copies")) return kRefused;
    const auto choice = choiceOf(options.times);
    if (!choice) return kRefused;
    std::vector<Group> groups;
    std::vector<CopyRequest> requests;
    std::vector<const Group*> groupOf;  // per request
    try {
        groups = groupsFor(options);
        for (const Group& group : groups) {
            const auto range = rangeFor(options, BWFParser(group.lead).clock(*choice), group.lead);
            if (!range) return kRefused;
            for (CopyRequest& request :
                 alignedRequests(group.lead, range->first, range->last, group.files, folder, *choice)) {
                request.replace = options.force;
                request.share = !options.noShare;
                requests.push_back(std::move(request));
                groupOf.push_back(&group);
            }
        }
    } catch (const BWFError& e) {
        complain(e);
        return kRefused;
    }
    SaveRunOptions run{folder, options.quiet, options.json, options.jobs, {}};
    run.annotate = [&](std::size_t i, nlohmann::ordered_json& copy) {
        if (groupOf[i]->notice) copy["notice"] = *groupOf[i]->notice;
    };
    return runSave(std::move(requests), run);
}

}  // namespace

int runTrim(const TrimOptions& options) {
    const bool one = options.inputs.size() == 1 && !options.take;
    const std::filesystem::path folder = one ? options.output.parent_path() : options.output;
    sayLeftovers(folder.empty() ? "." : folder);
    return one ? runOne(options) : runMany(options);
}

}  // namespace keeptime::cli
