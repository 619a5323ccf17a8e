#include "segments/Segments.hpp"

#include <algorithm>
#include <utility>

#include "io/File.hpp"
#include "timecode/Decimal.hpp"

namespace keeptime {

namespace {

constexpr std::int64_t kMaxListBytes = 64 << 20;

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

[[noreturn]] void refuseLine(const std::filesystem::path& list, std::size_t line, const std::string& why) {
    throw BWFError(BWFError::Kind::BadRange, list, "line " + std::to_string(line) + ": " + why);
}

// A CSV row's fields: commas outside double quotes part them, "" inside quotes is one quote.
std::optional<std::vector<std::string>> csvFields(std::string_view row) {
    std::vector<std::string> fields(1);
    bool quoted = false, wasQuoted = false;
    for (std::size_t i = 0; i < row.size(); ++i) {
        const char c = row[i];
        if (quoted) {
            if (c != '"') fields.back() += c;
            else if (i + 1 < row.size() && row[i + 1] == '"') fields.back() += '"', ++i;
            else quoted = false;
        } else if (c == '"' && trimmed(fields.back()).empty()) {
            fields.back().clear(), quoted = wasQuoted = true;
        } else if (c == ',') {
            fields.emplace_back(), wasQuoted = false;
        } else if (!(wasQuoted && (c == ' ' || c == '\t' || c == '\r'))) {
            if (wasQuoted) return std::nullopt;  // text after a closing quote
            fields.back() += c;
        }
    }
    if (quoted) return std::nullopt;
    for (auto& field : fields) field = std::string(trimmed(field));
    return fields;
}

// Seconds with '.' as the decimal mark as the first frame at or after that time;
// a time within a frame past the end is the end (writers round to microseconds).
std::optional<std::int64_t> secondsFrame(std::string_view text, std::int32_t rate, std::int64_t frames) {
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot), fraction = dot == text.npos ? "" : text.substr(dot + 1);
    const auto digits = [](std::string_view d) { return d.empty() || allDigits(d); };
    if ((whole.empty() && fraction.empty()) || !digits(whole) || !digits(fraction) || whole.size() > 12 ||
        fraction.size() > 18)
        return std::nullopt;
    Wide num = 0, den = 1;
    for (char c : whole) num = num * 10 + (c - '0');
    for (char c : fraction) num = num * 10 + (c - '0'), den *= 10;
    const Wide scaled = num * rate, floor = scaled / den, ceil = floor + (scaled % den != 0);
    return static_cast<std::int64_t>(ceil > frames && floor <= frames ? frames : ceil);
}

std::vector<Segment> readCsv(const std::vector<std::string_view>& lines, std::size_t header, const Clock& clock,
                             const std::filesystem::path& list) {
    std::vector<Segment> segments;
    for (std::size_t i = header + 1; i < lines.size(); ++i) {
        const std::size_t line = i + 1;
        if (trimmed(lines[i]).empty()) continue;
        const auto fields = csvFields(lines[i]);
        if (!fields || fields->size() != 3)
            refuseLine(list, line, "not a row of name,start,end (three fields; quote a name that holds a comma)");
        const Reading start = clock.read(Notation::TimeOfDay, (*fields)[1], false);
        if (!start.frame) refuseLine(list, line, "start " + start.refusal);
        const Reading end = clock.read(Notation::TimeOfDay, (*fields)[2], true);
        if (!end.frame) refuseLine(list, line, "end " + end.refusal);
        if (*end.frame <= *start.frame)
            refuseLine(list, line, "the end " + (*fields)[2] + " is not after the start " + (*fields)[1]);
        segments.push_back({(*fields)[0], *start.frame, *end.frame});
    }
    return segments;
}

std::vector<Segment> readLabelTrack(const std::vector<std::string_view>& lines, const Clock& clock,
                                    const std::filesystem::path& list) {
    std::vector<Segment> segments;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t line = i + 1;
        const std::string_view row = lines[i].ends_with('\r') ? lines[i].substr(0, lines[i].size() - 1) : lines[i];
        // A line starting with a backslash holds the frequencies of the label above it.
        if (trimmed(row).empty() || row.front() == '\\') continue;
        const std::size_t tab1 = row.find('\t'), tab2 = tab1 == row.npos ? row.npos : row.find('\t', tab1 + 1);
        if (tab1 == row.npos)
            refuseLine(list, line, "not a label line (start<TAB>end<TAB>label, in seconds), nor the CSV header name,start,end");
        const std::string_view startText = trimmed(row.substr(0, tab1));
        const std::string_view endText = trimmed(row.substr(tab1 + 1, tab2 == row.npos ? row.npos : tab2 - tab1 - 1));
        const auto start = secondsFrame(startText, clock.sampleRate, clock.frames);
        const auto end = secondsFrame(endText, clock.sampleRate, clock.frames);
        for (const auto& [text, frame] : {std::pair(startText, start), std::pair(endText, end)}) {
            if (!frame) refuseLine(list, line, "\"" + std::string(text) + "\" is not a time in seconds (such as 12.5)");
            if (*frame > clock.frames)
                refuseLine(list, line, "\"" + std::string(text) + "\" lies outside the recording (0–" +
                                           clock.text(Notation::FromStart, clock.frames) + " s)");
        }
        if (*end <= *start)
            refuseLine(list, line, "the end " + std::string(endText) + " is not after the start " + std::string(startText));
        segments.push_back({tab2 == row.npos ? "" : std::string(row.substr(tab2 + 1)), *start, *end});
    }
    return segments;
}

}  // namespace

std::vector<Segment> segmentsAtMarkers(const std::vector<Marker>& markers, std::int64_t frames) {
    std::vector<Segment> segments;
    Segment piece{{}, 0, frames};
    for (const Marker& marker : markers) {  // ordered by frame
        if (marker.frame >= frames) continue;
        if (marker.frame == piece.first) {  // at the first frame, or a second point at one frame: a name, no cut
            if (piece.name.empty()) piece.name = marker.label;
            continue;
        }
        piece.end = marker.frame;
        segments.push_back(std::exchange(piece, Segment{marker.label, marker.frame, frames}));
    }
    if (frames > 0) segments.push_back(piece);
    return segments;
}

std::vector<Segment> segmentsFromRegions(const std::vector<Marker>& markers, std::int64_t frames) {
    std::vector<Segment> segments;
    for (const Marker& marker : markers)
        if (marker.length > 0 && marker.frame < frames)
            segments.push_back({marker.label, marker.frame, std::min(marker.frame + marker.length, frames)});
    return segments;
}

std::vector<Segment> segmentsEvery(std::int64_t length, std::int64_t frames) {
    std::vector<Segment> segments;
    if (length <= 0) return segments;
    for (std::int64_t first = 0; first < frames; first += length)
        segments.push_back({{}, first, std::min(first + length, frames)});
    return segments;
}

std::vector<Segment> withHandles(std::vector<Segment> segments, std::int64_t handle, std::int64_t frames) {
    for (Segment& segment : segments) {
        segment.first = std::max<std::int64_t>(0, segment.first - handle);
        segment.end = std::min(frames, segment.end > frames - handle ? frames : segment.end + handle);
    }
    return segments;
}

Reading readLength(const Clock& clock, std::string_view text) {
    // From midnight, where a label starts: the same count of frames wherever the piece begins.
    Clock lengths = clock;
    lengths.stamp = 0;
    lengths.frames = std::int64_t{clock.sampleRate} * 1'000'000'000;
    return lengths.read(Notation::FromStart, text, false);
}

std::vector<Segment> readSegmentList(std::string_view text, const Clock& clock, const std::filesystem::path& list) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a byte-order mark from a spreadsheet
    std::vector<std::string_view> lines;
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t at = std::min(text.find('\n', from), text.size());
        lines.push_back(text.substr(from, at - from));
        from = at + 1;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (trimmed(lines[i]).empty()) continue;
        std::string header(trimmed(lines[i]));
        std::erase_if(header, [](char c) { return c == ' ' || c == '"'; });
        std::ranges::transform(header, header.begin(), [](unsigned char c) { return std::tolower(c); });
        if (header == "name,start,end") return readCsv(lines, i, clock, list);
        break;
    }
    return readLabelTrack(lines, clock, list);
}

std::vector<Segment> readSegmentListFile(const std::filesystem::path& list, const Clock& clock) {
    const FileHandle file = FileHandle::openForReading(list);
    const std::int64_t size = file.size();
    if (size > kMaxListBytes)
        throw BWFError(BWFError::Kind::Unreadable, list, "is larger than a list of segments can be (64 MiB)");
    const Bytes bytes = file.readAt(0, static_cast<std::size_t>(size));
    std::vector<Segment> segments =
        readSegmentList({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, clock, list);
    if (segments.empty()) throw BWFError(BWFError::Kind::BadRange, list, "lists no segments");
    return segments;
}

}  // namespace keeptime
