#include "edits/EditList.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <span>
#include <sstream>

#include "base/BWFError.hpp"

namespace keeptime {

namespace {

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    for (std::size_t at = 0; at < line.size();) {
        at = line.find_first_not_of(" \t", at);
        if (at == line.npos) break;
        const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
        out.push_back(line.substr(at, end - at));
        at = end;
    }
    return out;
}

bool digits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "01:00:00:00" or with ';' anywhere: two digits a field.
bool isTimecode(std::string_view text) {
    if (text.size() != 11) return false;
    for (std::size_t i = 0; i < 11; ++i)
        if (i % 3 == 2 ? text[i] != ':' && text[i] != ';' : !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

std::string colons(std::string_view label) {
    std::string out(label);
    std::replace(out.begin(), out.end(), ';', ':');
    return out;
}

// V, A, A2, AA, B (audio 1 and video), AA/V, A2/V, A/V, A3 … A8 (as some
// editors write the tracks an AUD line would name), NONE.
bool readTracks(std::string_view field, EditEvent& event) {
    std::string f = upper(field);
    if (f == "NONE") return true;
    bool video = false;
    if (f.size() > 2 && f.ends_with("/V")) video = true, f.resize(f.size() - 2);
    if (f == "V") return event.video = true, true;
    if (f == "B") return event.video = true, event.audio = true, event.audioTracks = {1}, true;
    if (f == "A" || f == "A1") event.audioTracks = {1};
    else if (f == "AA" || f == "A12") event.audioTracks = {1, 2};
    else if (f.size() == 2 && f[0] == 'A' && f[1] >= '2' && f[1] <= '8') event.audioTracks = {f[1] - '0'};
    else return false;
    event.audio = true;
    event.video = video;
    return true;
}

BWFError lineError(std::size_t line, const std::string& why) {
    return BWFError(BWFError::Kind::Malformed, "line " + std::to_string(line) + ": " + why);
}

// One event line: NUMBER REEL TRACKS TRANSITION [DURATION] SRC-IN SRC-OUT REC-IN REC-OUT.
EditEvent readEventLine(const std::vector<std::string_view>& w, std::size_t line, bool dropFrame) {
    const std::string form = "not an event line (NUMBER REEL TRACKS C|D nnn|W### nnn SRC-IN SRC-OUT REC-IN REC-OUT)";
    if (w.size() < 8 || !digits(w[0])) throw lineError(line, form);
    EditEvent event;
    event.number = w[0];
    event.line = line;
    event.reel = w[1];
    if (event.reel.size() > 128) throw lineError(line, "the reel name runs past 128 characters");
    event.tracks = w[2];
    if (!readTracks(w[2], event)) throw lineError(line, "\"" + std::string(w[2]) + "\" is no track field (V, A, A2, AA, AA/V, B, A3–A8)");
    const std::string transition = upper(w[3]);
    std::size_t next = 4;
    if (transition == "C") {
        event.transition = "C";
    } else if (transition == "D" || (transition[0] == 'W' && (transition.size() == 1 || digits(transition.substr(1))))) {
        if (w.size() < 9 || !digits(w[4])) throw lineError(line, "a " + transition + " transition needs its length in frames");
        event.transition = transition;
        event.transitionFrames = std::stoll(std::string(w[4].substr(0, 9)));
        next = 5;
    } else {
        throw lineError(line, "\"" + std::string(w[3]) + "\" is no transition (C, D nnn or W### nnn)");
    }
    if (w.size() != next + 4) throw lineError(line, form);
    for (std::size_t i = next; i < next + 4; ++i)
        if (!isTimecode(w[i])) throw lineError(line, "\"" + std::string(w[i]) + "\" is no timecode (HH:MM:SS:FF)");
    event.sourceIn = colons(w[next]);
    event.sourceOut = colons(w[next + 1]);
    event.dropFrame = dropFrame;
    return event;
}

// "* FROM CLIP NAME: T012.WAV" → {"FROM CLIP NAME", "T012.WAV"}.
std::pair<std::string, std::string> commentField(std::string_view comment) {
    comment = trimmed(comment.substr(1));
    const std::size_t colon = comment.find(':');
    if (colon == comment.npos) return {};
    return {upper(trimmed(comment.substr(0, colon))), std::string(trimmed(comment.substr(colon + 1)))};
}

}  // namespace

bool EditEvent::black() const { return upper(reel) == "BL" || upper(reel) == "BLK" || upper(reel) == "BLACK"; }

EditList readCMX3600(std::string_view text) {
    EditList list;
    // Until an FCM line says otherwise, ';' in the first timecode means drop-frame.
    std::optional<bool> fcm;
    std::size_t current = 0;  // the first line of the event the comments belong to, in list.events
    bool inEvent = false;
    std::size_t number = 0;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a byte-order mark some editors write
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
        const std::string_view raw = text.substr(at, end - at);
        at = end + (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
        ++number;
        const std::string_view line = trimmed(raw);
        if (line.empty()) continue;
        const std::string head = upper(line.substr(0, std::min<std::size_t>(line.size(), 16)));
        auto events = [&] { return std::span(list.events).subspan(current); };
        if (line.front() == '*') {
            if (!inEvent) continue;
            const auto [key, value] = commentField(line);
            if (key == "FROM CLIP NAME") events().front().clipName = value;
            else if (key == "TO CLIP NAME") events().back().clipName = value;
            else if (key == "SOURCE FILE") {
                for (EditEvent& event : events())
                    if (event.sourceFile.empty()) {
                        event.sourceFile = value;
                        break;
                    }
            }
            continue;  // any other comment says nothing a conform needs
        }
        if (head.starts_with("TITLE:")) {
            list.title = trimmed(line.substr(6));
            continue;
        }
        if (head.starts_with("FCM:")) {
            const std::string mode = upper(trimmed(line.substr(4)));
            if (mode == "DROP FRAME") fcm = true;
            else if (mode == "NON-DROP FRAME" || mode == "NON DROP FRAME") fcm = false;
            else throw lineError(number, "FCM is DROP FRAME or NON-DROP FRAME, not \"" + std::string(trimmed(line.substr(4))) + "\"");
            continue;
        }
        const auto w = words(line);
        const std::string first = upper(w.front());
        if (first == "SPLIT:" || first == "GPI" || head.starts_with("EFFECTS NAME IS")) continue;  // no source of their own
        if (first == "AUD") {
            if (!inEvent || w.size() < 2 || w.size() > 3) throw lineError(number, "an AUD line names tracks 3 and 4 of the event above it");
            for (std::size_t i = 1; i < w.size(); ++i) {
                if (w[i] != "3" && w[i] != "4") throw lineError(number, "AUD names track 3 or 4, not \"" + std::string(w[i]) + "\"");
                for (EditEvent& event : events()) event.audio = true, event.audioTracks.push_back(w[i][0] - '0');
            }
            continue;
        }
        if (first == "M2") {
            // M2 REEL SPEED ENTRY: the speed in frames a second; negative plays backwards.
            if (!inEvent || w.size() != 4 || !isTimecode(w[3]))
                throw lineError(number, "an M2 line is M2 REEL SPEED TIMECODE, after its event");
            std::string_view speed = w[2];
            const bool reverse = speed.starts_with('-');
            const std::string why = std::string(reverse ? "reverse" : "a speed change") + " (M2 " + std::string(w[1]) + " " +
                                    std::string(speed) + ")";
            bool named = false;
            for (EditEvent& event : events())
                if (upper(event.reel) == upper(w[1])) event.notConformable = why, named = true;
            if (!named)
                for (EditEvent& event : events()) event.notConformable = why;
            continue;
        }
        const bool drop = fcm.value_or(w.size() >= 8 && line.find(';') != line.npos);
        EditEvent event = readEventLine(w, number, drop);
        if (inEvent && list.events[current].number == event.number) {
            list.events.push_back(std::move(event));
        } else {
            current = list.events.size();
            list.events.push_back(std::move(event));
            inEvent = true;
        }
        // The outgoing side of a dissolve or wipe plays on under it: its range runs the transition's length.
        auto group = std::span(list.events).subspan(current);
        if (group.size() == 2 && group[1].transitionFrames > 0 && group[0].sourceIn == group[0].sourceOut)
            group[0].transitionFrames = group[1].transitionFrames;
    }
    return list;
}

namespace {

using Json = nlohmann::json;

BWFError otioError(const std::string& why) { return BWFError(BWFError::Kind::Malformed, why); }

std::string schemaOf(const Json& object) {
    if (!object.is_object() || !object.contains("OTIO_SCHEMA") || !object["OTIO_SCHEMA"].is_string()) return {};
    const std::string schema = object["OTIO_SCHEMA"];
    return schema.substr(0, schema.find('.'));
}

// object[key] when it is a text; fallback for anything else (a number where a name belongs, say).
std::string textAt(const Json& object, const char* key, const std::string& fallback = "") {
    if (!object.is_object()) return fallback;
    const auto at = object.find(key);
    return at != object.end() && at->is_string() ? at->get<std::string>() : fallback;
}
const Json& memberAt(const Json& object, const char* key) {
    static const Json none;
    if (!object.is_object()) return none;
    const auto at = object.find(key);
    return at != object.end() ? *at : none;
}

// A RationalTime: value frames at rate frames a second.
struct Rational {
    double value = 0, rate = 0;
};

Rational rationalOf(const Json& time, const std::string& where) {
    if (schemaOf(time) != "RationalTime" || !time.contains("value") || !time.contains("rate") ||
        !time["value"].is_number() || !time["rate"].is_number())
        throw otioError(where + ": not a RationalTime with a value and a rate");
    Rational r{time["value"].get<double>(), time["rate"].get<double>()};
    if (!(r.rate > 0) || !std::isfinite(r.value) || std::abs(r.value) > 1e15) throw otioError(where + ": a time out of range");
    return r;
}

std::string numberText(double value) {
    std::ostringstream out;
    out.precision(17);
    out << value;
    return out.str();
}

void readTrack(const Json& track, const std::string& name, EditList& list) {
    if (!track.contains("children") || !track["children"].is_array()) return;
    std::size_t place = 0;
    for (const Json& item : track["children"]) {
        ++place;
        const std::string schema = schemaOf(item);
        if (schema == "Stack" || schema == "Track") {  // nested: its clips are this track's
            readTrack(item, name, list);
            continue;
        }
        if (schema != "Clip") continue;  // gaps and transitions use no source
        const std::string where = name + ", item " + std::to_string(place);
        EditEvent event;
        event.number = std::to_string(list.events.size() + 1);
        event.line = place;
        event.tracks = name;
        event.audio = true;
        event.transition = "C";
        if (item.contains("name") && item["name"].is_string()) event.clipName = item["name"];
        const Json* reference = nullptr;
        if (item.contains("media_references") && item["media_references"].is_object()) {  // Clip.2
            const std::string key = textAt(item, "active_media_reference_key", "DEFAULT_MEDIA");
            if (item["media_references"].contains(key)) reference = &item["media_references"][key];
        } else if (item.contains("media_reference")) {
            reference = &item["media_reference"];
        }
        if (reference && !reference->is_object()) reference = nullptr;
        // Without a source_range a clip uses all its media has.
        const Json* used = item.contains("source_range") && item["source_range"].is_object() ? &item["source_range"]
                           : reference && reference->contains("available_range") && (*reference)["available_range"].is_object()
                               ? &(*reference)["available_range"]
                               : nullptr;
        if (!used) throw otioError(where + " (" + event.clipName + "): a clip without a source_range");
        const Json& range = *used;
        const Rational start = rationalOf(memberAt(range, "start_time"), where + " start_time");
        const Rational length = rationalOf(memberAt(range, "duration"), where + " duration");
        // Every time of the clip is counted at the start's rate.
        // A whole rate is taken as it is (48000 counts samples); 23.976023976… is the nearest standard rate.
        const bool whole = start.rate == std::floor(start.rate) && start.rate < 1e9;
        const auto rate = parseTimecodeRate(whole ? numberText(start.rate) + "/1" : numberText(start.rate), "");
        if (!rate || !rate->nominal()) throw otioError(where + ": " + numberText(start.rate) + " is no frame rate");
        const double scale = rate->num / static_cast<double>(rate->den) / length.rate;
        const double end = start.value + length.value * scale;
        if (length.value < 0) throw otioError(where + ": a negative duration");
        if (!std::isfinite(end) || end > 1e15) throw otioError(where + ": a time out of range");
        const auto first = static_cast<std::int64_t>(std::floor(start.value + 1e-9));
        const auto last = static_cast<std::int64_t>(std::ceil(end - 1e-9));
        event.rate = rate;
        event.sourceIn = timeOfDayLabel(first, *rate);
        event.sourceOut = timeOfDayLabel(last, *rate);
        if (reference && reference->contains("target_url") && (*reference)["target_url"].is_string())
            event.sourceFile = (*reference)["target_url"];
        list.events.push_back(std::move(event));
    }
}

void readStack(const Json& stack, EditList& list) {
    if (!stack.contains("children") || !stack["children"].is_array()) return;
    std::size_t number = 0;
    for (const Json& child : stack["children"]) {
        ++number;
        const std::string schema = schemaOf(child);
        if (schema == "Stack") readStack(child, list);
        if (schema != "Track" || textAt(child, "kind") != "Audio") continue;
        std::string name = textAt(child, "name");
        readTrack(child, name.empty() ? "track " + std::to_string(number) : name, list);
    }
}

}  // namespace

EditList readOTIO(std::string_view text) {
    const Json root = Json::parse(text, nullptr, false);
    if (root.is_discarded()) throw otioError("not JSON");
    const std::string schema = schemaOf(root);
    EditList list;
    if (schema == "Timeline") {
        list.title = textAt(root, "name");
        if (!root.contains("tracks")) throw otioError("a Timeline without tracks");
        readStack(root["tracks"], list);
    } else if (schema == "Stack") {
        readStack(root, list);
    } else if (schema == "Track") {
        if (textAt(root, "kind") == "Audio") readTrack(root, textAt(root, "name", "track 1"), list);
    } else {
        throw otioError("not an OpenTimelineIO timeline (OTIO_SCHEMA Timeline, Stack or Track)");
    }
    return list;
}

EditList readEditList(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw BWFError(BWFError::Kind::Unreadable, file, "cannot be opened");
    std::string text;
    constexpr std::size_t kMaxList = 256u << 20;  // larger than any cut's list; a device or a wrong file stops here
    char block[65536];
    while (in && text.size() <= kMaxList) {
        in.read(block, sizeof block);
        text.append(block, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) throw BWFError(BWFError::Kind::Unreadable, file, "cannot be read");
    if (text.size() > kMaxList) throw BWFError(BWFError::Kind::Malformed, file, "is larger than 256 MiB: not an edit list");
    const std::size_t first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    try {
        return first != text.npos && text[first] == '{' ? readOTIO(text) : readCMX3600(text);
    } catch (const BWFError& error) {
        throw error.withPath(file);
    }
}

}  // namespace keeptime
