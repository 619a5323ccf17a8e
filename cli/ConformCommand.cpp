#include "cli/ConformCommand.hpp"

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "cli/Output.hpp"
#include "cli/SaveRun.hpp"
#include "edits/Conform.hpp"

namespace keeptime::cli {

namespace {

// One CSV field: quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) text += (text.empty() ? "" : ";") + part;
    return text;
}

// What a row, a line and the JSON say of one event.
struct EventReport {
    std::string status;
    std::vector<std::string> recordings, copies;
};

std::string eventName(const EditEvent& event) {
    std::string name = "event " + event.number;
    if (!event.reel.empty()) name += " (reel " + event.reel + (event.clipName.empty() ? "" : ", clip " + event.clipName) + ")";
    else if (!event.clipName.empty()) name += " (clip " + event.clipName + ")";
    return name;
}

// Written beside its final name and renamed onto it, so that a report cut short never stands there.
bool writeReport(const std::filesystem::path& file, const EditList& list, const std::vector<Match>& matches,
                 const std::vector<EventReport>& reports) {
    std::filesystem::path part = file;
    part += ".keeptime-part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << "event,reel,clip,source_in,source_out,status,recording,copy,note\r\n";
        for (std::size_t i = 0; i < list.events.size(); ++i) {
            const EditEvent& e = list.events[i];
            const EventReport& r = reports[i];
            const std::string note = matches[i].why + (matches[i].notice ? "; " + *matches[i].notice : "");
            for (const std::string& field : {e.number, e.reel, e.clipName.empty() ? e.sourceFile : e.clipName, e.sourceIn,
                                             e.sourceOut, r.status, joined(r.recordings), joined(r.copies)})
                out << csvField(field) << ',';
            out << csvField(note) << "\r\n";
        }
        out.flush();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(part, ignored);
            complain(file.string(), "the report cannot be written");
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(part, file, error);
    if (error) {
        std::filesystem::remove(part, error);
        complain(file.string(), "the report cannot be put in place");
        return false;
    }
    return true;
}

nlohmann::ordered_json eventsJson(const EditList& list, const std::vector<Match>& matches,
                                  const std::vector<EventReport>& reports) {
    auto events = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < list.events.size(); ++i) {
        const EditEvent& e = list.events[i];
        const Match& m = matches[i];
        nlohmann::ordered_json event{{"event", e.number}, {"line", e.line}, {"reel", e.reel}, {"tracks", e.tracks}};
        putName(event, "clip", e.clipName);
        putName(event, "sourceFile", e.sourceFile);
        event.update(nlohmann::ordered_json{{"sourceIn", e.sourceIn}, {"sourceOut", e.sourceOut},
                                            {"status", reports[i].status}, {"why", m.why}});
        if (m.notice) event["notice"] = *m.notice;
        auto names = [](const std::vector<std::string>& paths) {
            auto array = nlohmann::ordered_json::array();
            for (const auto& path : paths) {
                nlohmann::ordered_json one;
                putName(one, "path", path);
                array.push_back(one["path"]);
            }
            return array;
        };
        event[m.status == Match::Status::Ambiguous ? "candidates" : "recordings"] = names(reports[i].recordings);
        event["copies"] = names(reports[i].copies);
        events.push_back(std::move(event));
    }
    return events;
}

}  // namespace

int runConform(const ConformOptions& options) {
    const std::filesystem::path& folder = options.folder;
    sayLeftovers(folder);
    if (!usableFolder(folder, "-o names the folder for the copies")) return kRefused;
    std::error_code error;
    for (const auto& media : options.media)
        if (std::filesystem::equivalent(media, folder, error)) {  // the next conform would take the copies for recordings
            complain(folder.string(), "is a media folder; the copies go into another folder");
            return kRefused;
        }
    const auto handles = parseHandles(options.handles);
    if (!handles) {
        complain("--handles", "\"" + options.handles + "\" is not a length (0:00:02:00, or seconds: 2, 0:02)");
        return kRefused;
    }
    std::optional<TimecodeRate> fps;
    if (options.fps && !(fps = parseRateOption(*options.fps))) {
        complain("--fps", "\"" + *options.fps + "\" is not a frame rate (23.976, 24, 25, 29.97, 30, …)");
        return kRefused;
    }
    if (options.report) {
        if (std::filesystem::equivalent(*options.report, options.list, error)) {
            complain(options.report->string(), "is the edit list; the report goes elsewhere");
            return kRefused;
        }
        if (!options.force && std::filesystem::exists(std::filesystem::symlink_status(*options.report, error))) {
            complain(options.report->string(), "already exists; add --force to replace it");
            return kRefused;
        }
        // A report that could not be written once the copies are in place would come too late to refuse.
        std::filesystem::path part = *options.report;
        part += ".keeptime-part";
        if (!std::ofstream(part, std::ios::binary | std::ios::app)) {
            complain(options.report->string(), "cannot be written there");
            return kRefused;
        }
        std::filesystem::remove(part, error);
    }
    EditList list;
    Media media;
    try {
        list = readEditList(options.list);
        media = readMedia(options.media);
    } catch (const BWFError& e) {
        complain(e);
        return kRefused;
    }
    for (const auto& notice : media.notices) complain("notice: passed over: " + notice);
    const std::vector<Match> matches = matchEvents(list, media, fps);

    // Every audio event that cannot be copied is named; each notice once.
    std::size_t audio = 0, problems = 0;
    std::set<std::string> notices;
    for (std::size_t i = 0; i < matches.size(); ++i) {
        const Match& m = matches[i];
        if (m.notice && notices.insert(*m.notice).second) complain(options.list.string(), "notice: " + *m.notice);
        const bool counted = m.status != Match::Status::Skipped || m.notConformable;
        audio += counted;
        if (counted && m.status != Match::Status::Matched) {
            ++problems;
            complain(options.list.string(), eventName(list.events[i]) + ": " + std::string(statusName(m.status)) + ": " + m.why);
        }
    }
    if (audio == 0) complain(options.list.string(), "notice: the list holds no audio events; nothing to copy");
    const bool copying = problems == 0 || options.allowMissing;
    const std::vector<ConformCopy> copies = copying ? planCopies(matches, media, *handles, options.take)
                                                    : std::vector<ConformCopy>{};

    nlohmann::ordered_json copiesJson = nlohmann::ordered_json::array();
    if (!copies.empty()) {
        SaveRunOptions save{folder, options.quiet, options.json, options.jobs, {}, &copiesJson};
        if (const int status = runSave(conformRequests(copies, media, folder, options.force), save); status != kOk)
            return status;
    }

    std::vector<EventReport> reports(list.events.size());
    for (std::size_t i = 0; i < matches.size(); ++i) {
        const Match& m = matches[i];
        // A matched event left uncopied because others are missing says so.
        reports[i].status = m.status == Match::Status::Matched && !copying ? "matched" : std::string(statusName(m.status));
        for (std::size_t f : m.status == Match::Status::Ambiguous ? m.candidates : m.files)
            reports[i].recordings.push_back(media.files[f].path.string());
    }
    for (const ConformCopy& copy : copies)
        for (std::size_t e : copy.events) reports[e].copies.push_back((folder / copy.name).string());
    if (options.report && !writeReport(*options.report, list, matches, reports)) return kCopyFailed;
    if (options.json)
        std::cout << jsonText(nlohmann::ordered_json{{"events", eventsJson(list, matches, reports)}, {"copies", copiesJson}})
                  << std::endl;
    if (problems) {
        complain(options.list.string(), std::to_string(problems) + " of " + std::to_string(audio) +
                                            " audio events cannot be conformed; " +
                                            (copying ? "the rest were copied"
                                                     : "nothing was written (--allow-missing copies the rest)"));
        return kEventsMissing;
    }
    return kOk;
}

}  // namespace keeptime::cli
