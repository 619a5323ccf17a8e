#include "cli/SplitCommand.hpp"

#include <nlohmann/json.hpp>

#include "cli/Output.hpp"
#include "cli/SaveRun.hpp"
#include "recording/Take.hpp"
#include "segments/Split.hpp"
#include "trim/Selection.hpp"

namespace keeptime::cli {

namespace {

// A length option read in the input's time language, or nothing after saying why.
std::optional<std::int64_t> lengthOption(const char* option, const std::string& text, const Clock& clock) {
    Reading length = readLength(clock, text);
    if (length.frame == 0 && std::string_view(option) == "--every")
        length = {std::nullopt, "\"" + text + "\" is no length: give the pieces' length"};
    if (!length.frame) complain(option, length.refusal);
    return length.frame;
}

}  // namespace

int runSplit(const SplitOptions& options) {
    const std::filesystem::path& input = options.input;
    const std::filesystem::path& folder = options.folder;
    sayLeftovers(folder);
    if (!usableFolder(folder, "-o names the folder for the pieces")) return kRefused;
    if (const auto fault = options.name.empty() ? std::nullopt : patternFault(options.name)) {
        complain("--name", *fault);
        return kRefused;
    }
    const auto choice = choiceOf(options.times);
    if (!choice) return kRefused;
    SplitPlan plan;
    std::vector<Segment> segments;
    try {
        const Clock clock = BWFParser(input, &systemLines(options.json)).clock(*choice);
        if (options.atMarkers || options.regions) {
            const FileHandle file = FileHandle::openForReading(input);
            const std::vector<Marker> markers = markersOf(file, BWFParser(file));
            segments = options.atMarkers ? segmentsAtMarkers(markers, clock.frames)
                                         : segmentsFromRegions(markers, clock.frames);
            if (segments.empty() || (options.atMarkers && segments.size() == 1 && markers.empty())) {
                complain(input.string(), options.atMarkers ? "holds no markers to cut at"
                                                           : "holds no regions (labelled text with a length)");
                return kRefused;
            }
        } else if (options.every) {
            const auto length = lengthOption("--every", *options.every, clock);
            if (!length) return kRefused;
            segments = segmentsEvery(*length, clock.frames);
        } else {
            segments = readSegmentListFile(*options.list, clock);
        }
        if (options.handles) {
            const auto handle = lengthOption("--handles", *options.handles, clock);
            if (!handle) return kRefused;
            segments = withHandles(std::move(segments), *handle, clock.frames);
        }
        std::vector<std::filesystem::path> members{input};
        if (options.take) {
            Take take = findTake(input);
            if (take.notice) complain(input.string(), "notice: " + *take.notice);
            members = take.members;
        }
        plan = planSplit(segments, input, members, folder, options.name, *choice);
    } catch (const BWFError& e) {
        complain(e);
        return kRefused;
    }
    for (const auto& [member, why] : plan.skipped) complain(member.string(), "notice: " + why);
    for (std::size_t i = 0; i < plan.requests.size(); ++i)
        if (plan.notice[i]) complain(plan.requests[i].input.string(), "notice: " + *plan.notice[i]);
    for (CopyRequest& request : plan.requests) {
        request.replace = options.force;
        request.share = !options.noShare;
    }
    SaveRunOptions run{folder, options.quiet, options.json, options.jobs, {}};
    run.annotate = [&](std::size_t i, nlohmann::ordered_json& copy) {
        const std::size_t segment = plan.segmentOf[i];
        putName(copy, "segment", segments[segment].name);
        copy["index"] = segment + 1;
        if (plan.notice[i]) copy["notice"] = *plan.notice[i];
    };
    return runSave(std::move(plan.requests), run);
}

}  // namespace keeptime::cli
