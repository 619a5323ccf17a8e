#include "meta/TimeReference.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "timecode/Decimal.hpp"

namespace keeptime {

std::string_view sourceName(TimeReferenceSource source) {
    switch (source) {
        case TimeReferenceSource::TimestampSamplesSinceMidnightLo:
            return "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO";
        case TimeReferenceSource::BWFTimeReferenceLow:
            return "BWF_TIME_REFERENCE_LOW";
        case TimeReferenceSource::Bext:
            return "bext";
        case TimeReferenceSource::None:
            break;
    }
    return "none";
}

namespace {

constexpr std::int64_t k2To32 = std::int64_t{1} << 32;
constexpr std::int64_t k2To31 = std::int64_t{1} << 31;

// The text between one start tag and the first end tag after it.
struct TagText {
    std::size_t offset;
    std::size_t length;
    std::string_view text;
};

// Where XML says markup is not markup: comments and CDATA sections, [begin, end).
std::vector<std::pair<std::size_t, std::size_t>> unmarked(ByteView bytes) {
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    for (std::size_t from = 0;;) {
        const auto comment = find(bytes, "<!--", from), cdata = find(bytes, "<![CDATA[", from);
        if (!comment && !cdata) break;
        const bool isComment = comment && (!cdata || *comment < *cdata);
        const std::size_t begin = isComment ? *comment : *cdata;
        const auto close = find(bytes, isComment ? "-->" : "]]>", begin + 4);
        const std::size_t end = close ? *close + 3 : bytes.size();
        spans.push_back({begin, end});
        from = end;
    }
    return spans;
}

std::vector<TagText> tagTexts(ByteView bytes, const layout::TagPair& tag) {
    const auto spans = unmarked(bytes);
    // Whether at lies inside a comment or a CDATA section.
    auto hidden = [&](std::size_t at) {
        return std::any_of(spans.begin(), spans.end(), [&](const auto& s) { return at >= s.first && at < s.second; });
    };
    auto next = [&](std::string_view what, std::size_t from) {
        auto at = find(bytes, what, from);
        while (at && hidden(*at)) at = find(bytes, what, *at + 1);
        return at;
    };
    std::vector<TagText> found;
    std::size_t from = 0;
    while (auto start = next(tag.start, from)) {
        const std::size_t text = *start + tag.start.size();
        auto end = next(tag.end, text);
        if (!end) break;
        found.push_back({text, *end - text,
                         {reinterpret_cast<const char*>(bytes.data()) + text, *end - text}});
        from = *end + tag.end.size();
    }
    return found;
}

// The number in an element's text, as XML has it: blanks around it, or the
// content of a CDATA section, are not part of it. The rest stays as written.
TagText numberIn(TagText tag) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    auto trim = [&] {
        while (!tag.text.empty() && blank(tag.text.front())) tag.text.remove_prefix(1), ++tag.offset;
        while (!tag.text.empty() && blank(tag.text.back())) tag.text.remove_suffix(1);
    };
    trim();
    constexpr std::string_view open = "<![CDATA[", close = "]]>";
    if (tag.text.starts_with(open) && tag.text.ends_with(close) && tag.text.size() >= open.size() + close.size()) {
        tag.text = tag.text.substr(open.size(), tag.text.size() - open.size() - close.size());
        tag.offset += open.size();
        trim();
    }
    tag.length = tag.text.size();
    return tag;
}

std::vector<TagText> numberTexts(ByteView bytes, const layout::TagPair& tag) {
    auto found = tagTexts(bytes, tag);
    for (TagText& text : found) text = numberIn(text);
    return found;
}

// One pair as read: the 64-bit count and the form its texts were written in.
struct PairValue {
    std::int64_t value;
    bool signedLow;   // LO printed as a signed 32-bit number
    bool wholeInLow;  // LO holds the whole count; HI is not part of it
    bool withHigh;
};

std::optional<PairValue> readPair(std::string_view lowText, const TagText* high) {
    auto low = parseInt64(lowText);
    if (!low || *low < -k2To31) return std::nullopt;
    PairValue pair{*low, *low < 0, *low >= k2To32, false};
    if (pair.signedLow) pair.value += k2To32;
    if (pair.wholeInLow || !high) return pair;
    auto hi = parseInt64(high->text);
    if (!hi || *hi < 0 || *hi >= k2To31) return pair;
    pair.value += *hi * k2To32;
    pair.withHigh = true;
    return pair;
}

// value as text in the form of `was`: leading zeros keep its width when the new number fits.
std::string sameForm(std::int64_t value, std::string_view was) {
    std::string text = toDecimal(value);
    const bool padded = was.size() > 1 && was.front() == '0';
    if (padded && value >= 0 && text.size() < was.size()) text.insert(0, was.size() - text.size(), '0');
    return text;
}

}  // namespace

std::optional<std::int64_t> readStampTags(ByteView text, const layout::StampTags& tags) {
    const auto lows = numberTexts(text, tags.low);
    if (lows.empty()) return std::nullopt;
    const auto highs = numberTexts(text, tags.high);
    auto pair = readPair(lows.front().text, highs.empty() ? nullptr : &highs.front());
    if (!pair) return std::nullopt;
    return pair->value;
}

Bytes moveStampTags(ByteView text, const StampMove& move) {
    struct Edit {
        std::size_t offset, length;
        std::string text;
    };
    std::vector<Edit> edits;
    for (const auto& tags : layout::kStampTags) {
        const auto lows = numberTexts(text, tags.low);
        const auto highs = numberTexts(text, tags.high);
        for (std::size_t i = 0; i < lows.size(); ++i) {
            const TagText* high = i < highs.size() ? &highs[i] : nullptr;
            auto pair = readPair(lows[i].text, high);
            const auto movedValue = pair ? move.apply(pair->value) : std::nullopt;
            if (!movedValue) continue;
            const std::int64_t moved = *movedValue;
            if (pair->withHigh && moved / k2To32 >= k2To31) continue;  // no HI a reader would take
            std::int64_t low = moved;
            if (pair->withHigh) {
                low = moved % k2To32;
                edits.push_back({high->offset, high->length, sameForm(moved / k2To32, high->text)});
            }
            if (pair->signedLow && low >= k2To31 && low < k2To32) low -= k2To32;
            edits.push_back({lows[i].offset, lows[i].length, sameForm(low, lows[i].text)});
        }
    }
    // Last first, so that the offsets still to be edited do not move.
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.offset > b.offset; });
    Bytes out(text.begin(), text.end());
    for (const Edit& edit : edits) {
        const auto at = out.begin() + static_cast<std::ptrdiff_t>(edit.offset);
        out.erase(at, at + static_cast<std::ptrdiff_t>(edit.length));
        out.insert(out.begin() + static_cast<std::ptrdiff_t>(edit.offset), edit.text.begin(), edit.text.end());
    }
    return out;
}

std::vector<std::string> ixmlValues(ByteView text, std::string_view name) {
    const std::string start = "<" + std::string(name) + ">", end = "</" + std::string(name) + ">";
    std::vector<std::string> values;
    for (const TagText& found : tagTexts(text, {start, end})) values.emplace_back(found.text);
    return values;
}

std::optional<std::string> ixmlValue(ByteView text, std::string_view name) {
    auto values = ixmlValues(text, name);
    if (values.empty()) return std::nullopt;
    return std::move(values.front());
}

std::string ixmlPlain(std::string_view written) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string plain;
    for (std::size_t i = 0; i < written.size();) {
        auto entity = std::find_if(std::begin(kEntities), std::end(kEntities),
                                   [&](const auto& e) { return written.substr(i).starts_with(e.first); });
        if (entity != std::end(kEntities)) {
            plain += entity->second, i += entity->first.size();
        } else {
            plain += written[i++];
        }
    }
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!plain.empty() && blank(plain.back())) plain.pop_back();
    const auto first = std::find_if_not(plain.begin(), plain.end(), blank);
    return plain.substr(static_cast<std::size_t>(first - plain.begin()));
}

std::optional<std::int64_t> readBextStamp(ByteView body) {
    return readLE<std::int64_t>(body, layout::kBextBodyTimeReferenceOffset);
}

bool moveBextStamp(Bytes& body, const StampMove& move) {
    const auto old = readBextStamp(body);
    const auto moved = old ? move.apply(*old) : std::nullopt;
    return moved && writeLE<std::int64_t>(body, layout::kBextBodyTimeReferenceOffset, *moved);
}

Stamp chooseStamp(std::span<const ByteView> ixmlTexts, std::span<const ByteView> bextBodies) {
    const std::pair<layout::StampTags, TimeReferenceSource> kinds[] = {
        {layout::kTimestampSamplesSinceMidnight, TimeReferenceSource::TimestampSamplesSinceMidnightLo},
        {layout::kBWFTimeReference, TimeReferenceSource::BWFTimeReferenceLow}};
    for (const auto& [tags, source] : kinds)
        for (ByteView text : ixmlTexts)
            if (auto value = readStampTags(text, tags)) return {*value, source};
    for (ByteView body : bextBodies)
        if (auto value = readBextStamp(body)) return {*value, TimeReferenceSource::Bext};
    return {};
}

StampRate stampRate(std::int32_t fileRate, const std::optional<std::string>& stampSampleRate, bool weirdTC) {
    if (weirdTC) return {std::int64_t{fileRate} * 1001, 1000};
    if (stampSampleRate) {
        auto given = parseInt64(*stampSampleRate);
        if (given && *given > 0 && *given < (std::int64_t{1} << 31)) return {*given, 1};
    }
    return {fileRate, 1};
}

}  // namespace keeptime
