#include "segments/Split.hpp"

#include <algorithm>
#include <map>

#include "recording/BWFParser.hpp"

namespace keeptime {

namespace {

// Each field of pattern in turn: literal text (field false) or a field's name.
template <typename Visit>
std::optional<std::string> walkPattern(std::string_view pattern, Visit&& visit) {
    for (std::size_t at = 0; at < pattern.size();) {
        const std::size_t open = std::min(pattern.find_first_of("{}", at), pattern.size());
        if (open > at) visit(pattern.substr(at, open - at), false);
        if (open == pattern.size()) break;
        if (pattern[open] == '}') return "a \"}\" closes no field";
        const std::size_t close = pattern.find('}', open);
        if (close == pattern.npos) return "the field at \"" + std::string(pattern.substr(open)) + "\" is not closed";
        const std::string_view field = pattern.substr(open + 1, close - open - 1);
        if (std::ranges::find(kNameFields, field) == std::end(kNameFields))
            return "{" + std::string(field) + "} is no field (use {file}, {n}, {name}, {scene}, {take}, {tape} or {tc})";
        visit(field, true);
        at = close + 1;
    }
    return std::nullopt;
}

bool endsWithNoCase(std::string_view text, std::string_view end) {
    return text.size() >= end.size() &&
           std::ranges::equal(text.substr(text.size() - end.size()), end,
                              [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
}

}  // namespace

std::optional<std::string> patternFault(std::string_view pattern) {
    if (pattern.empty()) return "the name pattern is empty";
    if (pattern.find('/') != pattern.npos || pattern.find('\0') != pattern.npos)
        return "a name pattern names files in the output folder: no \"/\" in it";
    return walkPattern(pattern, [](std::string_view, bool) {});
}

std::string defaultPattern(const std::vector<Segment>& segments) {
    const bool named = std::ranges::any_of(segments, [](const Segment& s) { return !safeName(s.name).empty(); });
    return named ? "{file}_{name}" : "{file}_{n}";
}

std::string safeName(std::string_view name) {
    std::string safe;
    for (unsigned char c : name)
        safe += c < 0x20 || c == 0x7f || std::string_view("/\\:*?\"<>|").find(char(c)) != std::string_view::npos ? '_' : char(c);
    const std::size_t first = safe.find_first_not_of(" ."), last = safe.find_last_not_of(" .");
    return first == safe.npos ? "" : safe.substr(first, last - first + 1);
}

SplitPlan planSplit(const std::vector<Segment>& segments, const std::filesystem::path& lead,
                    const std::vector<std::filesystem::path>& members, const std::filesystem::path& folder,
                    std::string pattern, const ClockChoice& times) {
    if (pattern.empty()) pattern = defaultPattern(segments);
    if (const auto fault = patternFault(pattern)) throw BWFError(BWFError::Kind::BadRange, "the name pattern: " + *fault);
    const BWFParser leadParser(lead);
    const Clock from = leadParser.clock(times);
    const bool leadStamped = leadParser.timeReferenceSource() != TimeReferenceSource::None;
    const std::size_t width = std::to_string(segments.size()).size();

    SplitPlan plan;
    std::map<std::filesystem::path, std::size_t> named;  // output -> its request
    for (const auto& member : members) {
        const BWFParser parser(member);
        const Clock to = parser.clock(times);
        const TakeNotes& notes = parser.takeNotes();
        const bool byTime = leadStamped && parser.timeReferenceSource() != TimeReferenceSource::None;
        const std::string extension = member.extension().empty() ? ".wav" : member.extension().string();
        for (std::size_t i = 0; i < segments.size(); ++i) {
            const Segment& segment = segments[i];
            // A take's member holds the segment's times of day; an edge at the lead's edge is its own.
            const auto align = [&](std::int64_t frame) { return byTime ? from.frameAtSameTime(frame, to) : frame; };
            const std::int64_t wantFirst = segment.first <= 0 ? 0 : align(segment.first);
            const std::int64_t wantEnd = segment.end >= from.frames ? to.frames : align(segment.end);
            const std::int64_t first = std::clamp<std::int64_t>(wantFirst, 0, to.frames);
            const std::int64_t end = std::clamp<std::int64_t>(wantEnd, 0, to.frames);
            const std::string range = from.text(Notation::TimeOfDay, segment.first) + " to " +
                                      from.text(Notation::TimeOfDay, segment.end);
            if (first >= end) {
                plan.skipped.emplace_back(member, "holds none of segment " + std::to_string(i + 1) + " (" + range +
                                                      "); no copy of it is written");
                continue;
            }
            std::string number = std::to_string(i + 1);
            number.insert(0, width - number.size(), '0');
            std::string name;
            const auto missing = walkPattern(pattern, [&](std::string_view part, bool field) {
                const auto note = [&](const std::optional<std::string>& value, const char* tag) {
                    if (!value || safeName(*value).empty())
                        throw BWFError(BWFError::Kind::BadRange, member,
                                       std::string("names no ") + tag + " in its iXML, which the name pattern's {" +
                                           std::string(part) + "} asks for");
                    return safeName(*value);
                };
                if (!field) name += part;
                else if (part == "file") name += member.stem().string();
                else if (part == "n") name += number;
                else if (part == "name") name += safeName(segment.name).empty() ? number : safeName(segment.name);
                else if (part == "scene") name += note(notes.scene, "SCENE");
                else if (part == "take") name += note(notes.take, "TAKE");
                else if (part == "tape") name += note(notes.tape, "TAPE");
                else if (part == "tc") {
                    const std::string label = to.text(Notation::TimeOfDay, first);
                    for (char c : label.substr(0, label.find('.'))) if (c >= '0' && c <= '9') name += c;
                }
            });
            (void)missing;  // checked above
            if (!endsWithNoCase(name, extension)) name += extension;
            const std::filesystem::path output = folder / name;
            if (const auto [at, fresh] = named.emplace(output.lexically_normal(), plan.requests.size()); !fresh) {
                const std::size_t other = plan.segmentOf[at->second];
                throw BWFError(BWFError::Kind::Output, output,
                               "segments " + std::to_string(other + 1) + " and " + std::to_string(i + 1) +
                                   " would both be written under this name; give a name pattern with {n} in it");
            }
            plan.requests.push_back({member, output, first, end, times});
            plan.segmentOf.push_back(i);
            plan.notice.push_back(first == wantFirst && end == wantEnd
                                      ? std::nullopt
                                      : std::optional("holds only " +
                                                      to.text(Notation::TimeOfDay, first) + " to " +
                                                      to.text(Notation::TimeOfDay, end) + " of segment " +
                                                      std::to_string(i + 1) + " (" + range + "); its copy is cut to that"));
        }
    }
    return plan;
}

}  // namespace keeptime
