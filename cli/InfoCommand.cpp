#include "cli/InfoCommand.hpp"

#include <iomanip>
#include <nlohmann/json.hpp>

#include "base/BWFError.hpp"
#include "recording/BWFParser.hpp"
#include "meta/TimeReference.hpp"
#include "cli/Output.hpp"
#include "timecode/TimeString.hpp"

namespace keeptime::cli {

int runInfo(const InfoOptions& options) {
    std::unique_ptr<BWFParser> parser;
    try {
        parser = std::make_unique<BWFParser>(options.file, &systemLines(options.json));
    } catch (const BWFError& error) {
        complain(error);
        return kRefused;
    }
    const auto times = timesFor(*parser, options.times);
    if (!times) return kRefused;
    const double rate = static_cast<double>(times->stampRate.num) / static_cast<double>(times->stampRate.den);
    // Whole seconds, as these keys always were; the labels with frames stand beside them.
    Clock inSeconds = *times;
    inSeconds.rate.reset();
    auto whole = [&](std::int64_t frame) {
        const std::string text = inSeconds.text(Notation::TimeOfDay, frame);
        return text.substr(0, text.find('.'));
    };
    const std::string start = whole(0), end = whole(times->frames);
    const std::string length = inSeconds.lengthText(0, times->frames);
    auto labelled = [&](const std::string& text) { return times->rate ? nlohmann::json(text) : nullptr; };
    const std::string startLabel = times->text(Notation::TimeOfDay, 0);
    const std::string endLabel = times->text(Notation::TimeOfDay, times->frames);
    const std::string lengthLabel = times->lengthText(0, times->frames);
    const TimeReferenceSource source = parser->timeReferenceSource();
    auto where = [](Where place) { return place == Where::Before ? "before" : place == Where::Audio ? "audio" : "after"; };

    const TakeNotes& notes = parser->takeNotes();
    auto orNull = [](const std::optional<std::string>& value) { return value ? nlohmann::json(*value) : nullptr; };
    if (options.json) {
        nlohmann::ordered_json info = {
            {"rf64", parser->rf64()},
            {"sampleRate", parser->samplesPerSecond()},
            {"bytesPerFrame", parser->bytesPerFrame()},
            {"audioBytes", parser->audioDataLength()},
            {"frames", parser->frames()},
            {"preDataBytes", parser->preData().size()},
            {"samplesSinceMidnight", parser->samplesSinceMidnight()},
            {"timeReferenceRate", rate},
            {"timeReferenceSource", sourceName(source)},
            {"start", start},
            {"end", end},
            {"length", length},
            {"timecodeRate", times->rate ? nlohmann::json(rateText(*times->rate)) : nullptr},
            {"dropFrame", times->rate && times->rate->dropFrame},
            {"stampRate", rate},
            {"startTimecode", labelled(startLabel)},
            {"endTimecode", labelled(endLabel)},
            {"lengthTimecode", labelled(lengthLabel)},
            {"chunks", nlohmann::json::array()},
            {"notCarried", nullptr},
            {"notice", parser->notice() ? nlohmann::json(*parser->notice()) : nullptr},
            {"scene", orNull(notes.scene)},
            {"take", orNull(notes.take)},
            {"tape", orNull(notes.tape)},
            {"note", orNull(notes.note)},
            {"trackNames", notes.trackNames},
        };
        for (const Chunk& chunk : parser->chunks()) {
            nlohmann::ordered_json entry = {{"id", chunk.name()}, {"offset", chunk.offset},
                                            {"size", chunk.size}, {"where", where(chunk.where)}};
            if (!chunk.whole) entry["whole"] = false;
            info["chunks"].push_back(entry);
        }
        if (parser->notCarried())
            info["notCarried"] = {{"offset", parser->notCarriedOffset()}, {"reason", *parser->notCarried()}};
        std::cout << jsonText(info) << std::endl;
        return kOk;
    }

    auto row = [](const char* label) -> std::ostream& {
        return std::cout << std::left << std::setw(17) << label;
    };
    row("File") << quotedName(options.file.string()) << '\n';
    if (parser->notice()) row("Notice") << *parser->notice() << '\n';
    row("Format") << (parser->rf64() ? "RF64" : "RIFF") << '\n';
    row("Sample rate") << parser->samplesPerSecond() << " Hz\n";
    row("Bytes per frame") << parser->bytesPerFrame() << '\n';
    row("Audio bytes") << parser->audioDataLength() << '\n';
    row("Frames") << parser->frames() << '\n';
    if (source == TimeReferenceSource::None) {
        row("Time reference") << "none found (taken as 00:00:00)\n";
    } else {
        row("Time reference") << parser->samplesSinceMidnight() << " samples since midnight, from "
                              << (source == TimeReferenceSource::Bext ? "bext" : "iXML ")
                              << (source == TimeReferenceSource::Bext ? "" : sourceName(source)) << '\n';
        row("Counted at") << rate << " per second"
                          << (options.times.weirdTC ? " (counted 0.1 % fast: 48.048 kHz time code)" : "") << '\n';
    }
    if (times->rate) row("Timecode rate") << rateText(*times->rate) << (times->rate->dropFrame ? " drop-frame" : "") << '\n';
    const std::pair<const char*, const std::optional<std::string>*> noted[] = {
        {"Scene", &notes.scene}, {"Take", &notes.take}, {"Tape", &notes.tape}, {"Note", &notes.note}};
    for (const auto& [label, value] : noted)
        if (*value) row(label) << **value << '\n';
    if (!notes.trackNames.empty()) {
        row("Tracks");
        for (std::size_t i = 0; i < notes.trackNames.size(); ++i) std::cout << (i ? ", " : "") << notes.trackNames[i];
        std::cout << '\n';
    }
    row("Start") << startLabel << '\n';
    row("End") << endLabel << '\n';
    row("Length") << lengthLabel << '\n';
    // One line: the chunks in file order, the audio marked, then what a copy leaves out.
    row("Chunks");
    for (const Chunk& chunk : parser->chunks())
        std::cout << (chunk.where == Where::Audio ? "[data]" : std::string(chunk.name()))
                  << (chunk.whole ? "" : "(cut short)") << ' ';
    std::cout << '\n';
    if (parser->notCarried()) row("Not copied") << *parser->notCarried() << '\n';
    std::cout << std::flush;
    return kOk;
}

}  // namespace keeptime::cli
