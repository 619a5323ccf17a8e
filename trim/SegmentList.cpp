#include "trim/SegmentList.hpp"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <variant>

#include "io/OutputFile.hpp"
#include "segments/Split.hpp"
#include "timecode/Decimal.hpp"

namespace keeptime {

std::optional<std::size_t> SegmentList::add(std::int64_t first, std::int64_t end, std::string name) {
    if (first < 0 || end > clock_.frames || first >= end) return std::nullopt;
    segments_.push_back({std::move(name), first, end});
    return segments_.size() - 1;
}

std::string SegmentList::inText(std::size_t row) const { return clock_.text(Notation::TimeOfDay, segments_.at(row).first); }
std::string SegmentList::outText(std::size_t row) const { return clock_.text(Notation::TimeOfDay, segments_.at(row).end); }
std::string SegmentList::lengthText(std::size_t row) const {
    return clock_.lengthText(segments_.at(row).first, segments_.at(row).end);
}

std::optional<std::string> SegmentList::set(std::size_t row, std::int64_t first, std::int64_t end) {
    if (first >= end)
        return "the in point " + clock_.text(Notation::TimeOfDay, first) + " is not before the out point " +
               clock_.text(Notation::TimeOfDay, end);
    segments_.at(row).first = first, segments_.at(row).end = end;
    return std::nullopt;
}

std::optional<std::string> SegmentList::setIn(std::size_t row, const std::string& text) {
    const Reading in = clock_.read(Notation::TimeOfDay, text, false);
    return in.frame ? set(row, *in.frame, segments_.at(row).end) : in.refusal;
}

std::optional<std::string> SegmentList::setOut(std::size_t row, const std::string& text) {
    const Reading out = clock_.read(Notation::TimeOfDay, text, true);
    return out.frame ? set(row, segments_.at(row).first, *out.frame) : out.refusal;
}

std::optional<std::string> SegmentList::setLength(std::size_t row, const std::string& text) {
    const Reading length = readLength(clock_, text);
    if (!length.frame) return length.refusal;
    const std::int64_t first = segments_.at(row).first;
    if (*length.frame > clock_.frames - first)
        return "\"" + text + "\" from " + inText(row) + " runs past the recording's end " +
               clock_.text(Notation::TimeOfDay, clock_.frames);
    return set(row, first, first + *length.frame);
}

std::size_t SegmentList::replace(std::vector<Segment> segments) {
    const std::size_t before = segments.size();
    std::erase_if(segments, [&](const Segment& s) { return s.first < 0 || s.end > clock_.frames || s.first >= s.end; });
    segments_ = std::move(segments);
    return before - segments_.size();
}

std::vector<std::filesystem::path> SegmentList::names(const std::filesystem::path& recording,
                                                      const std::filesystem::path& folder, const std::string& pattern,
                                                      const ClockChoice& times) const {
    std::vector<std::filesystem::path> names;
    for (const CopyRequest& request : planSplit(segments_, recording, {recording}, folder, pattern, times).requests)
        names.push_back(request.output);
    return names;
}

namespace {

// Strings as JSON writes them: quotes, backslashes and control characters escaped, other bytes as they are.
std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') out += '\\', out += char(c);
        else if (c < 0x20) out += "\\u00", out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
        else out += char(c);
    }
    return out + "\"";
}

// The JSON a sidecar holds, read strictly: objects, arrays, strings, whole numbers, true, false and null.
struct Json;
using JsonObject = std::map<std::string, Json>;
using JsonArray = std::vector<Json>;
struct Json {
    std::variant<std::nullptr_t, bool, std::int64_t, std::string, std::shared_ptr<JsonArray>, std::shared_ptr<JsonObject>> value;
    template <typename T> const T* as() const { return std::get_if<T>(&value); }
};

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}
    std::optional<Json> document() {
        auto value = read(0);
        blanks();
        return at_ == text_.size() ? value : std::nullopt;
    }

private:
    static constexpr int kDepth = 16;
    void blanks() {
        while (at_ < text_.size() && std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos) ++at_;
    }
    bool take(char c) {
        blanks();
        return at_ < text_.size() && text_[at_] == c ? (++at_, true) : false;
    }
    bool word(std::string_view w) { return text_.substr(at_, w.size()) == w ? (at_ += w.size(), true) : false; }
    std::optional<std::string> string() {
        if (!take('"')) return std::nullopt;
        std::string out;
        while (at_ < text_.size() && text_[at_] != '"') {
            char c = text_[at_++];
            if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
            if (c == '\\') {
                if (at_ >= text_.size()) return std::nullopt;
                const char e = text_[at_++];
                const std::string_view from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
                if (e == 'u') {  // only what sidecarText writes: \u00XX
                    const std::string_view hex = text_.substr(at_, 4);
                    if (hex.size() != 4 || !hex.starts_with("00") ||
                        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
                        return std::nullopt;
                    out += char(std::stoi(std::string(hex), nullptr, 16)), at_ += 4;
                    continue;
                }
                if (from.find(e) == std::string_view::npos) return std::nullopt;
                c = to[from.find(e)];
            }
            out += c;
        }
        return take('"') ? std::optional(out) : std::nullopt;
    }
    std::optional<Json> read(int depth) {
        blanks();
        if (depth > kDepth || at_ >= text_.size()) return std::nullopt;
        const char c = text_[at_];
        if (c == '"') {
            auto s = string();
            return s ? std::optional(Json{*s}) : std::nullopt;
        }
        if (c == '{' || c == '[') {
            ++at_;
            const bool object = c == '{';
            auto members = std::make_shared<JsonObject>();
            auto items = std::make_shared<JsonArray>();
            if (!take(object ? '}' : ']')) {
                do {
                    std::optional<std::string> key;
                    if (object && (!(key = string()) || !take(':'))) return std::nullopt;
                    auto value = read(depth + 1);
                    if (!value) return std::nullopt;
                    object ? void(members->insert_or_assign(*key, std::move(*value))) : items->push_back(std::move(*value));
                } while (take(','));
                if (!take(object ? '}' : ']')) return std::nullopt;
            }
            return object ? Json{members} : Json{items};
        }
        if (word("true")) return Json{true};
        if (word("false")) return Json{false};
        if (word("null")) return Json{nullptr};
        const std::size_t end = text_.find_first_not_of("-0123456789", at_);
        const auto number = parseInt64(text_.substr(at_, end - at_));
        if (!number) return std::nullopt;
        at_ = std::min(end, text_.size());
        return Json{*number};
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

constexpr std::int64_t kMaxSidecarBytes = 16 << 20;

}  // namespace

std::filesystem::path sidecarPath(const std::filesystem::path& recording) {
    std::filesystem::path sidecar = recording;
    return sidecar.replace_filename(recording.stem().string() + ".keeptime.json");
}

std::string sidecarText(const std::filesystem::path& recording, const Clock& clock, const std::vector<Segment>& segments) {
    std::string text = "{\n  \"keeptime\": \"segments\",\n  \"version\": 1,\n  \"recording\": " +
                       jsonString(recording.filename().string()) + ",\n  \"frames\": " + toDecimal(clock.frames) +
                       ",\n  \"sampleRate\": " + toDecimal(clock.sampleRate) + ",\n  \"segments\": [";
    for (std::size_t i = 0; i < segments.size(); ++i)
        text += std::string(i ? "," : "") + "\n    {\"name\": " + jsonString(segments[i].name) + ", \"first\": " +
                toDecimal(segments[i].first) + ", \"end\": " + toDecimal(segments[i].end) + "}";
    return text + (segments.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

std::optional<std::vector<Segment>> readSidecar(const std::string& text, const Clock& clock) {
    const auto document = JsonReader(text).document();
    const auto* top = document ? document->as<std::shared_ptr<JsonObject>>() : nullptr;
    if (!top) return std::nullopt;
    const auto field = [](const JsonObject& object, const char* key) -> const Json* {
        const auto it = object.find(key);
        return it == object.end() ? nullptr : &it->second;
    };
    const auto number = [&](const JsonObject& object, const char* key) {
        const Json* value = field(object, key);
        const auto* n = value ? value->as<std::int64_t>() : nullptr;
        return n ? std::optional(*n) : std::nullopt;
    };
    const Json* kind = field(**top, "keeptime");
    const Json* rows = field(**top, "segments");
    if (!kind || !kind->as<std::string>() || *kind->as<std::string>() != "segments" || number(**top, "version") != 1 ||
        number(**top, "frames") != clock.frames || number(**top, "sampleRate") != clock.sampleRate || !rows ||
        !rows->as<std::shared_ptr<JsonArray>>())
        return std::nullopt;
    std::vector<Segment> segments;
    for (const Json& row : **rows->as<std::shared_ptr<JsonArray>>()) {
        const auto* object = row.as<std::shared_ptr<JsonObject>>();
        if (!object) return std::nullopt;
        const Json* name = field(**object, "name");
        const auto first = number(**object, "first"), end = number(**object, "end");
        if (!name || !name->as<std::string>() || !first || !end) return std::nullopt;
        if (*first >= 0 && *first < *end && *end <= clock.frames) segments.push_back({*name->as<std::string>(), *first, *end});
    }
    return segments;
}

std::optional<std::string> saveSidecar(const std::filesystem::path& recording, const Clock& clock,
                                       const std::vector<Segment>& segments) {
    const std::string text = sidecarText(recording, clock, segments);
    const std::filesystem::path sidecar = sidecarPath(recording);
    if (sameFile(sidecar, recording)) return text;  // a link to the recording: never written through
    try {
        OutputFile file(checkOutput(sidecar, true), true);
        file.writeAt(0, asBytes(text));
        if (file.commit({})) return std::nullopt;
    } catch (const BWFError&) {  // a folder that cannot take it: the caller keeps the list
    }
    return text;
}

std::vector<Segment> loadSidecar(const std::filesystem::path& recording, const Clock& clock,
                                 const std::optional<std::string>& fromSettings) {
    std::error_code error;
    const std::filesystem::path sidecar = sidecarPath(recording);
    if (std::filesystem::exists(sidecar, error) && !sameFile(sidecar, recording)) {
        try {
            const FileHandle file = FileHandle::openForReading(sidecar);
            if (const std::int64_t size = file.size(); size <= kMaxSidecarBytes) {
                const Bytes bytes = file.readAt(0, static_cast<std::size_t>(size));
                if (auto kept = readSidecar(std::string(bytes.begin(), bytes.end()), clock)) return *kept;
            }
        } catch (const BWFError&) {  // unreadable: as if there were none
        }
    }
    if (fromSettings)
        if (auto kept = readSidecar(*fromSettings, clock)) return *kept;
    return {};
}

}  // namespace keeptime
