// keeptime-cli: Keeptime's trims and file facts for scripts and batch work.
#include <CLI/CLI.hpp>
#include <charconv>
#include <csignal>

#include "cli/ConformCommand.hpp"
#include "cli/InfoCommand.hpp"
#include "cli/Output.hpp"
#include "cli/PeaksCommand.hpp"
#include "cli/Signals.hpp"
#include "cli/SplitCommand.hpp"
#include "cli/TrimCommand.hpp"

using namespace keeptime::cli;

namespace {

// A whole number as people write it: decimal digits, leading zeros allowed.
// CLI11 reads a number as a C literal (0100000 octal, 0x10 hexadecimal, a sign
// or a leading blank accepted), so the text is checked here and handed on
// without its leading zeros. noun: "a frame number"; least: the smallest allowed.
CLI::Validator decimal(const std::string& noun, std::int64_t least, const std::string& name) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            const auto refuse = [&](const std::string& why) { return "\"" + text + "\" is not " + noun + " (" + why + ")"; };
            std::int64_t value = 0;
            if (text.empty()) return refuse("empty");
            if (text[0] == '+' || text[0] == '-') return refuse("no sign");
            if (text.find_first_of(" \t\n\r\v\f") != std::string::npos) return refuse("a blank in it");
            if (text.find_first_not_of("0123456789") != std::string::npos) return refuse("decimal digits only");
            if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc())
                return refuse("at most " + std::to_string(INT64_MAX));
            if (value < least) return "\"" + text + "\" is less than " + std::to_string(least);
            text = std::to_string(value);
            return {};
        },
        name);
}

// Copies written at once, as every command that writes several takes it.
void jobsOption(CLI::App* command, unsigned& jobs) {
    command->add_option("--jobs", jobs, "Copies written at once (default: the cores, at most 4)")
        ->check(CLI::Range(1u, 64u))
        ->transform(decimal("a count", 1, ""));
}

}  // namespace

int main(int argc, char** argv) {
    handleStopSignals();
    CLI::App app{"Trims Broadcast-WAV (RIFF and RF64) recordings, keeping every header chunk and\n"
                 "moving the time stamp (bext and iXML) so that the copy still lines up.",
                 "keeptime-cli"};
    app.set_version_flag("--version", std::string("keeptime-cli ") + KEEPTIME_VERSION);
    app.require_subcommand(1);
    app.footer("Times are written H:MM:SS, M:SS or S, with an optional fraction (\"10:00:05\", \"1:30.25\", \"90\"),\n"
               "or as timecode H:MM:SS:FF (H:MM:SS;FF drop-frame) at the file's rate or --tc-rate.\n"
               "Exit status: 0 done, 1 copy failed, 2 file refused or usage error,\n"
               "128 + the signal when interrupted (130 for Ctrl-C).");

    // The options that say how a file's times read, on both commands.
    auto timeOptions = [](CLI::App* command, TimeOptions& times) {
        command->add_flag("--weird-tc", times.weirdTC,
                          "Count the stamp 0.1 % fast: 48.048 kHz time code on 48 kHz audio");
        auto* rate = command->add_option("--tc-rate", times.tcRate,
                                         "Timecode rate for files that name none (25, 23.976, 29.97df)");
        command->add_flag("--seconds", times.seconds, "Show times in seconds, not timecode labels")->excludes(rate);
    };

    InfoOptions info;
    auto* infoCommand = app.add_subcommand("info", "Show a file's format, length, time of day and chunks");
    infoCommand->add_option("FILE", info.file, "A Broadcast-WAV or RF64 file")->required();
    infoCommand->add_flag("--json", info.json, "Print one JSON object on standard output");
    timeOptions(infoCommand, info.times);

    TrimOptions trim;
    auto* trimCommand = app.add_subcommand("trim", "Write a shorter copy of a stretch of a file, or of several files into a folder");
    trimCommand->add_option("INPUT", trim.inputs, "The recordings to trim")->required();
    trimCommand->add_option("-o,--output", trim.output,
                            "Where to write the copy; with several inputs or --take, the folder for the copies")
        ->required();
    trimCommand->add_flag("--take", trim.take,
                          "Trim every file of each input's take (iXML FAMILY_UID), lined up by time of day");
    jobsOption(trimCommand, trim.jobs);
    auto* start = trimCommand->add_option("--start", trim.start, "In point, from the file's start (1:30)");
    auto* startTC = trimCommand->add_option("--start-tc", trim.startTC,
                                            "In point as a time of day (10:00:05, or 10:00:05:12 at the rate)");
    auto* startFromEnd = trimCommand->add_option("--start-from-end", trim.startFromEnd,
                                                 "In point, back from the file's end");
    const CLI::Validator frameNumber = decimal("a frame number", 0, "FRAME");
    auto* startFrame = trimCommand->add_option("--start-frame", trim.startFrame, "In point, exact frame of the audio")
                           ->transform(frameNumber);
    auto* end = trimCommand->add_option("--end", trim.end, "Out point, from the file's start");
    auto* endTC = trimCommand->add_option("--end-tc", trim.endTC, "Out point as a time of day");
    auto* endFromEnd = trimCommand->add_option("--end-from-end", trim.endFromEnd,
                                               "Out point, back from the file's end");
    auto* endFrame = trimCommand->add_option("--end-frame", trim.endFrame, "Out point, exact frame of the audio (not kept)")
                         ->transform(frameNumber);
    start->excludes(startTC)->excludes(startFromEnd)->excludes(startFrame);
    startTC->excludes(startFromEnd)->excludes(startFrame);
    startFromEnd->excludes(startFrame);
    end->excludes(endTC)->excludes(endFromEnd)->excludes(endFrame);
    endTC->excludes(endFromEnd)->excludes(endFrame);
    endFromEnd->excludes(endFrame);
    timeOptions(trimCommand, trim.times);
    trimCommand->footer("Several inputs (or --take) are copied into the folder -o names, under their own names, and\n"
                        "kept only when every copy is done. The range options apply to each file; with --take, the\n"
                        "range is read on the input named and every file of its take keeps the same times of day.");
    trimCommand->add_flag("--force", trim.force, "Replace OUTPUT if it exists");
    trimCommand->add_flag("-q,--quiet", trim.quiet, "No progress bar");
    trimCommand->add_flag("--json", trim.json,
                          "Print one JSON object describing the copy (an array of them for several files)");
    trimCommand->add_flag("--no-share", trim.noShare,
                          "Write every audio byte anew, even on a file system that could share the input's blocks");

    SplitOptions split;
    auto* splitCommand = app.add_subcommand("split", "Cut a recording into many copies: at its markers, its regions, "
                                                     "every so long, or as a list says");
    splitCommand->add_option("INPUT", split.input, "The recording to split")->required();
    splitCommand->add_option("-o,--output", split.folder, "The folder for the pieces")->required();
    // Exactly one source of pieces; CLI11 refuses none or two as a usage error.
    auto* source = splitCommand->add_option_group("source", "Where the pieces come from (exactly one)");
    source->add_flag("--at-markers", split.atMarkers,
                     "Cut at every cue point; each piece is named after the marker opening it");
    source->add_flag("--regions", split.regions, "One piece per region (a cue with a length)");
    source->add_option("--every", split.every, "Pieces of this length, the last one shorter (0:10:00)");
    source->add_option("--list", split.list,
                       "CSV with the header name,start,end (times of day), or label-track text "
                       "(start<TAB>end<TAB>label, in seconds)");
    source->require_option(1);
    splitCommand->add_option("--handles", split.handles, "Add this length before and after each piece, inside the recording");
    splitCommand->add_option("--name", split.name,
                             "Name pattern: {file} {n} {name} {scene} {take} {tape} {tc} (default {file}_{name} "
                             "where the pieces have names, else {file}_{n})");
    splitCommand->add_flag("--take", split.take, "Split every file of the input's take at the same times of day");
    jobsOption(splitCommand, split.jobs);
    splitCommand->add_flag("--force", split.force, "Replace pieces that exist");
    splitCommand->add_flag("-q,--quiet", split.quiet, "No progress bar");
    splitCommand->add_flag("--json", split.json, "Print an array with one JSON object per copy");
    splitCommand->add_flag("--no-share", split.noShare, "Write every audio byte anew, even where blocks could be shared");
    timeOptions(splitCommand, split.times);
    splitCommand->footer("Every piece is kept only when every copy is done. Give exactly one of --at-markers, --regions,\n"
                         "--every and --list. A list's rows outside the recording are refused with their line number.");

    ConformOptions conform;
    auto* conformCommand = app.add_subcommand(
        "conform", "Copy the parts of the original recordings an edit list uses (CMX 3600 EDL or .otio), with handles");
    conformCommand->add_option("EDIT_LIST", conform.list, "A CMX 3600 EDL, or an OpenTimelineIO .otio file")->required();
    conformCommand->add_option("-m,--media", conform.media, "A folder of original recordings (repeat for more)")
        ->required()
        ->allow_extra_args(false);  // one folder a -m: the edit list may follow
    conformCommand->add_option("-o,--output", conform.folder, "The folder for the copies")->required();
    conformCommand->add_option("--handles", conform.handles,
                               "Add this length before and after each used range, inside the recording "
                               "(default 0:00:02:00)");
    conformCommand->add_option("--fps", conform.fps,
                               "The rate of the EDL's timecodes (23.976, 24, 25, 29.97, 30, ...); default: the "
                               "recording's own, else 25");
    conformCommand->add_flag("--take", conform.take, "Copy every file of each matched take, at the same times of day");
    jobsOption(conformCommand, conform.jobs);
    conformCommand->add_flag("--force", conform.force, "Replace copies (and the report) that exist");
    conformCommand->add_option("--report", conform.report,
                               "Write a CSV with one row per event: event,reel,clip,source_in,source_out,status,"
                               "recording,copy,note");
    conformCommand->add_flag("--json", conform.json, "Print {\"events\": [...], \"copies\": [...]}");
    conformCommand->add_flag("-q,--quiet", conform.quiet, "No progress bar");
    conformCommand->add_flag("--allow-missing", conform.allowMissing,
                             "Copy what was found even when some events have no recording (still exit 3)");
    conformCommand->footer("Events are matched by SOURCE FILE or clip name against the file's name, else by reel against\n"
                           "iXML TAPE or the file's name (8-character reels match the first 8), then by the time of day\n"
                           "each recording spans. Every copy is kept only when every copy is done. Exit status 3: some\n"
                           "audio events are missing, ambiguous or not conformable; then nothing is written unless\n"
                           "--allow-missing is given.");

    // A count of 1 or more, said so when refused (CLI11's own range names a double's limits).
    const CLI::Validator wholePositive = decimal("a count", 1, "COUNT");
    PeaksOptions peaks;
    auto* peaksCommand = app.add_subcommand("peaks", "Write a file's waveform as JSON for web waveform players");
    peaksCommand->add_option("FILE", peaks.file, "A Broadcast-WAV or RF64 file")->required();
    auto* perSecond = peaksCommand->add_option(
        "--pixels-per-second", peaks.pixelsPerSecond,
        "Pixels per second of audio: samples per pixel is the sample rate / N, rounded down, at least 1")
                          ->transform(wholePositive);
    peaksCommand->add_option("--samples-per-pixel", peaks.samplesPerPixel, "Frames per pixel (default 256)")
        ->transform(wholePositive)
        ->excludes(perSecond);
    peaksCommand->add_option("--bits", peaks.bits, "8 or 16 (default): the values' scale")
        ->check(CLI::IsMember({8, 16}))
        ->transform(decimal("8 or 16", 0, "BITS"));
    peaksCommand->add_option("-o,--output", peaks.output,
                             "Write the JSON here, replacing the file, instead of on standard output");
    peaksCommand->footer("Output: {\"version\":2,\"channels\":C,\"sample_rate\":R,\"samples_per_pixel\":N,"
                         "\"bits\":B,\"length\":PIXELS,\"data\":[...]}, data holding for each pixel, for each\n"
                         "channel, the min and then the max. 16-bit values are the top 16 bits of integer samples\n"
                         "or floats times 32767; 8-bit values are those shifted right by 8. The last pixel may\n"
                         "cover fewer frames.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ValidationError& e) {  // "--start-frame: REASON": the option names itself
        complain(e.what());
        return kRefused;
    } catch (const CLI::ParseError& e) {
        complain("usage", std::string(e.what()) + " (see keeptime-cli --help)");
        return kRefused;
    }
    // A file-size limit fails the write that passes it, instead of ending the
    // process with its unfinished copy left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    int status = kCopyFailed;
    try {
        status = infoCommand->parsed()    ? runInfo(info)
                 : peaksCommand->parsed() ? runPeaks(peaks)
                 : splitCommand->parsed() ? runSplit(split)
                 : conformCommand->parsed() ? runConform(conform)
                                          : runTrim(trim);
    } catch (const std::exception& error) {  // a fault of ours still ends with one line and a status
        complain(error.what());
    }
    if (!(std::cout << std::flush)) {
        complain("standard output", "cannot write what the command printed");
        return status == kOk ? kCopyFailed : status;
    }
    return status;
}
