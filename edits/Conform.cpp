#include "edits/Conform.hpp"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "base/BWFError.hpp"
#include "io/File.hpp"
#include "recording/BWFParser.hpp"

namespace keeptime {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isAudioExtension(std::string_view ext) {
    const std::string e = lower(ext);
    return e == ".wav" || e == ".bwf" || e == ".rf64" || e == ".w64" || e == ".aif" || e == ".aiff";
}

// "file:///Volumes/CARD%201/T012.WAV", "C:\Sound\T012.WAV", "T012.WAV", "T012" → "t012".
std::string nameKey(std::string_view name, bool anyExtension) {
    std::string decoded;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size() && std::isxdigit(static_cast<unsigned char>(name[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(name[i + 2]))) {
            decoded.push_back(static_cast<char>(std::stoi(std::string(name.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            decoded.push_back(name[i]);
        }
    }
    std::string_view base = decoded;
    if (const auto slash = base.find_last_of("/\\"); slash != base.npos) base.remove_prefix(slash + 1);
    if (const auto dot = base.rfind('.'); dot != base.npos && dot > 0 && (anyExtension || isAudioExtension(base.substr(dot))))
        base = base.substr(0, dot);
    return lower(base);
}

bool isWavName(const std::filesystem::path& path) { return isAudioExtension(path.extension().string()); }

}  // namespace

Media readMedia(const std::vector<std::filesystem::path>& folders) {
    Media media;
    std::set<FileId> seen;  // a folder named twice, or by two names, is read once
    for (const auto& folder : folders) {
        std::error_code error;
        std::vector<std::filesystem::path> names;
        if (!std::filesystem::is_directory(folder, error))
            throw BWFError(BWFError::Kind::Unreadable, folder, "is not a folder");
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
            if (it->is_regular_file(error)) names.push_back(it->path());
        if (error) throw BWFError(BWFError::Kind::Unreadable, folder, "cannot list the folder: " + error.message());
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            try {
                const FileHandle handle = FileHandle::openForReading(name);
                if (const auto id = fileId(name); id && !seen.insert(*id).second) continue;
                const BWFParser parser(handle, kTakeHeadRead);
                MediaFile file;
                file.path = name;
                file.stem = name.stem().string();
                file.tape = parser.takeNotes().tape;
                file.set = parser.takeNotes().fileSet;
                file.namedRate = parser.namedTimecodeRate();
                file.clock = parser.clock();
                file.stamped = parser.timeReferenceSource() != TimeReferenceSource::None;
                media.files.push_back(std::move(file));
            } catch (const BWFError& e) {
                if (isWavName(name)) media.notices.push_back(e.what());  // other files are no recordings
            }
        }
    }
    return media;
}

std::string_view statusName(Match::Status status) {
    switch (status) {
        case Match::Status::Matched: return "copied";
        case Match::Status::Missing: return "missing";
        case Match::Status::Ambiguous: return "ambiguous";
        case Match::Status::Skipped: return "skipped";
    }
    return "";
}

namespace {

// The files each name and reel point at, looked up once per event.
class Names {
public:
    explicit Names(const Media& media) : count_(media.files.size()) {
        for (std::size_t i = 0; i < media.files.size(); ++i) {
            const MediaFile& file = media.files[i];
            stems_[lower(file.stem)].push_back(i);
            std::set<std::string> keys{lower(file.stem)};
            if (file.tape) keys.insert(lower(*file.tape));
            for (const auto& key : keys) {
                reels_[key].push_back(i);
                if (key.size() > 8) cut_[key.substr(0, 8)].push_back(i);
            }
        }
    }
    std::vector<std::size_t> byName(const EditEvent& event) const {
        std::vector<std::size_t> found;
        for (const std::string& key : {nameKey(event.sourceFile, true), nameKey(event.clipName, false)})
            if (!key.empty()) add(found, stems_, key);
        return once(std::move(found));
    }
    // A reel matches TAPE or the file's name; an 8-character reel also their first 8, and a longer one a TAPE of 8.
    std::vector<std::size_t> byReel(const std::string& reel) const {
        std::vector<std::size_t> found;
        const std::string key = lower(reel);
        add(found, reels_, key);
        if (key.size() == 8) add(found, cut_, key);
        if (key.size() > 8) add(found, reels_, key.substr(0, 8));
        return once(std::move(found));
    }

private:
    using Index = std::map<std::string, std::vector<std::size_t>>;
    static void add(std::vector<std::size_t>& found, const Index& index, const std::string& key) {
        const auto at = index.find(key);
        if (at != index.end()) found.insert(found.end(), at->second.begin(), at->second.end());
    }
    // Each file once, in the order found: a day's files on one tape are a thousand candidates.
    std::vector<std::size_t> once(std::vector<std::size_t> found) const {
        std::vector<bool> seen(count_);
        std::erase_if(found, [&](std::size_t i) { return seen[i] ? true : (seen[i] = true, false); });
        return found;
    }
    std::size_t count_;
    Index stems_, reels_, cut_;
};

bool dropFrameAllowed(const TimecodeRate& rate) { return rate.den == 1001 && (rate.nominal() == 30 || rate.nominal() == 60); }

// The rate an event's labels are read at against one recording.
TimecodeRate rateFor(const EditEvent& event, const MediaFile& file, const std::optional<TimecodeRate>& fps,
                     std::optional<std::string>& notice) {
    if (event.rate) return *event.rate;
    TimecodeRate rate{25, 1, false};
    if (fps) rate = *fps;
    else if (file.namedRate) rate = *file.namedRate;
    else notice = "times read at 25 fps: neither --fps nor " + file.path.filename().string() + " names a frame rate";
    // The list says whether its labels count drop-frame.
    if (!fps || dropFrameAllowed(rate)) rate.dropFrame = event.dropFrame && dropFrameAllowed(rate);
    return rate;
}

std::string takeKey(const MediaFile& file) {
    return file.set ? "\x01" + file.set->familyUid + "\x01" + file.set->totalFiles : file.path.string();
}

std::string fileNames(const Media& media, const std::vector<std::size_t>& files) {
    std::string text;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i == 3 && files.size() > 4) return text + " and " + std::to_string(files.size() - 3) + " more";
        text += (i ? ", " : "") + media.files[files[i]].path.filename().string();
    }
    return text;
}

// Whether a recording may hold a range starting at the label "HH:MM:SS:FF": a
// coarse look in seconds, so that of a day's recordings on one tape only the
// few near the label are read exactly. A label's second L is a time of day from
// L to L × 1.001 (labels at 1000/1001 rates run slow), a day later past
// midnight; the margins only widen it, and the exact reading decides.
bool mayHold(const Clock& clock, std::string_view label) {
    const auto field = [&](std::size_t at) { return (label[at] - '0') * 10 + (label[at + 1] - '0'); };
    if (label.size() < 8) return true;
    const double second = field(0) * 3600.0 + field(3) * 60.0 + field(6);
    const double start = double(clock.stamp) * double(clock.stampRate.den) / double(clock.stampRate.num);
    const double end = start + double(clock.frames) / clock.sampleRate;
    for (const double at : {second, second + 86400.0})
        if (at - 2 <= end && at + at / 500 + 2 >= start) return true;
    return false;
}

struct Held {
    std::size_t file;
    std::int64_t first, last;
};

}  // namespace

std::vector<Match> matchEvents(const EditList& list, const Media& media, const std::optional<TimecodeRate>& fps) {
    const Names names(media);
    std::vector<Match> matches;
    matches.reserve(list.events.size());
    for (const EditEvent& event : list.events) {
        Match match;
        auto skip = [&](std::string why) {
            match.status = Match::Status::Skipped;
            match.why = std::move(why);
            matches.push_back(std::move(match));
        };
        if (event.black()) { skip("black: no source"); continue; }
        if (!event.audio) { skip("video only"); continue; }
        if (event.notConformable) {
            match.notConformable = true;
            skip("not conformable: " + *event.notConformable);
            continue;
        }
        const bool outgoing = event.transitionFrames > 0 && event.sourceIn == event.sourceOut;
        if (event.sourceIn == event.sourceOut && !outgoing) { skip("uses no frames of its source"); continue; }

        std::vector<std::size_t> named = names.byName(event);
        std::string how = "by name";
        const bool aux = lower(event.reel) == "ax" || event.reel.empty();
        if (named.empty() && !aux) named = names.byReel(event.reel), how = "by reel";
        if (named.empty()) {
            std::vector<std::string> asked;
            if (!event.sourceFile.empty()) asked.push_back("source file " + event.sourceFile);
            if (!event.clipName.empty()) asked.push_back("clip " + event.clipName);
            if (!aux) asked.push_back("reel " + event.reel);
            std::string text;
            for (std::size_t i = 0; i < asked.size(); ++i) text += (i ? (i + 1 == asked.size() ? " or " : ", ") : "") + asked[i];
            match.why = "no recording matches " + (text.empty() ? std::string("its names") : text);
            matches.push_back(std::move(match));
            continue;
        }
        // Only recordings whose span holds the range, read in each one's own time language.
        std::vector<Held> held;
        std::string refusal;
        for (std::size_t i : named) {
            const MediaFile& file = media.files[i];
            if (!mayHold(file.clock, event.sourceIn)) {
                if (refusal.empty()) refusal = file.path.filename().string() + " holds " + file.clock.span();
                continue;
            }
            Clock clock = file.clock;
            std::optional<std::string> notice;  // kept for the recording that matches
            clock.rate = rateFor(event, file, fps, notice);
            std::string out = event.sourceOut;
            if (outgoing)  // under the dissolve, the outgoing source plays on for its length
                if (const auto in = labelFrames(event.sourceIn, *clock.rate))
                    out = timeOfDayLabel(*in + event.transitionFrames, *clock.rate);
            const Reading first = clock.read(Notation::TimeOfDay, event.sourceIn, false);
            const Reading last = clock.read(Notation::TimeOfDay, out, true);
            if (first.frame && last.frame && *first.frame < *last.frame) {
                held.push_back({i, *first.frame, *last.frame});
                if (held.size() == 1) match.rate = *clock.rate, match.notice = notice;
            } else if (refusal.empty()) {
                refusal = file.path.filename().string() + ": " +
                          (!first.frame ? first.refusal : !last.frame ? last.refusal : "the out point comes before the in point");
            }
        }
        // The files of one take count once: several files of a take are the take, one file per index.
        std::map<std::string, std::vector<Held>> takes;
        std::vector<std::string> order;
        for (const Held& h : held) {
            const MediaFile& file = media.files[h.file];
            auto& take = takes[takeKey(file)];
            if (take.empty()) order.push_back(takeKey(file));
            const bool sameIndex = file.set && std::any_of(take.begin(), take.end(), [&](const Held& other) {
                                       return media.files[other.file].set->index == file.set->index;
                                   });
            if (!sameIndex) take.push_back(h);
        }
        if (takes.empty()) {
            match.why = fileNames(media, named) + " matched " + how + ", but no span holds " + event.sourceIn + "–" +
                        event.sourceOut + " (" + refusal + ")";
        } else if (takes.size() > 1) {
            match.status = Match::Status::Ambiguous;
            for (const Held& h : held) match.candidates.push_back(h.file);
            match.why = std::to_string(takes.size()) + " recordings hold " + event.sourceIn + "–" + event.sourceOut + ": " +
                        fileNames(media, match.candidates);
        } else {
            std::vector<Held> take = takes[order.front()];
            std::stable_sort(take.begin(), take.end(), [&](const Held& a, const Held& b) {
                const auto &sa = media.files[a.file].set, &sb = media.files[b.file].set;
                return sa && sb && fileSetIndexBefore(sa->index, sb->index);
            });
            match.status = Match::Status::Matched;
            match.why = how;
            for (const Held& h : take) match.files.push_back(h.file);
            match.first = take.front().first;
            match.last = take.front().last;
        }
        matches.push_back(std::move(match));
    }
    return matches;
}

std::optional<Handles> parseHandles(std::string_view text) {
    std::vector<std::int64_t> fields;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find_first_of(":;", at), text.size());
        const std::string_view field = text.substr(at, end - at);
        if (field.empty() || field.size() > 6 || field.find_first_not_of("0123456789") != field.npos) return std::nullopt;
        fields.push_back(std::stoll(std::string(field)));
        at = end + 1;
    }
    if (fields.empty() || fields.size() > 4) return std::nullopt;
    Handles h{0, 0};
    if (fields.size() == 4) h.labels = fields.back(), fields.pop_back();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0 && fields[i] >= 60) return std::nullopt;
        h.seconds = h.seconds * 60 + fields[i];
    }
    return h;
}

std::vector<ConformCopy> planCopies(const std::vector<Match>& matches, const Media& media, const Handles& handles,
                                    bool take) {
    struct Range {
        std::int64_t first, last;
        std::size_t event;
        TimecodeRate rate;
    };
    std::map<std::size_t, std::vector<Range>> used;  // by file
    for (std::size_t e = 0; e < matches.size(); ++e) {
        const Match& match = matches[e];
        if (match.status != Match::Status::Matched) continue;
        const MediaFile& lead = media.files[match.files.front()];
        Clock from = lead.clock;
        from.rate = match.rate;
        const std::int64_t h = handles.seconds * match.rate.nominal() + handles.labels;
        const std::int64_t first = h ? from.stepLabels(match.first, -h) : match.first;
        const std::int64_t last = h ? from.stepLabels(match.last, h) : match.last;
        std::vector<std::size_t> files = match.files;
        if (take && lead.set) {  // every member the folders hold, one per index, the matched ones first
            std::set<std::string> indexes;
            for (std::size_t f : files) indexes.insert(media.files[f].set ? media.files[f].set->index : "");
            for (std::size_t f = 0; f < media.files.size(); ++f) {
                const MediaFile& member = media.files[f];
                if (takeKey(member) == takeKey(lead) && indexes.insert(member.set->index).second) files.push_back(f);
            }
        }
        for (std::size_t f : files) {
            const MediaFile& to = media.files[f];
            const bool byTime = lead.stamped && to.stamped;
            auto align = [&](std::int64_t frame) {
                return std::clamp<std::int64_t>(byTime ? from.frameAtSameTime(frame, to.clock) : frame, 0, to.clock.frames);
            };
            // A range from the lead's edge runs from each member's own edge, as a take's save has it.
            const std::int64_t start = f == match.files.front() ? first : first <= 0 ? 0 : align(first);
            const std::int64_t end = f == match.files.front() ? last : last >= from.frames ? to.clock.frames : align(last);
            if (start < end) used[f].push_back({start, end, e, match.rate});
        }
    }
    std::vector<ConformCopy> copies;
    for (auto& [f, ranges] : used) {
        std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
        const MediaFile& file = media.files[f];
        for (const Range& r : ranges) {
            if (!copies.empty() && copies.back().file == f && r.first <= copies.back().last) {  // overlapping or touching
                copies.back().last = std::max(copies.back().last, r.last);
                copies.back().events.push_back(r.event);
                continue;
            }
            copies.push_back({f, r.first, r.last, r.rate, {r.event}, {}});
        }
        for (ConformCopy& copy : copies) {
            if (copy.file != f || !copy.name.empty()) continue;
            Clock clock = file.clock;
            clock.rate = copy.rate;
            std::string tc = clock.text(Notation::TimeOfDay, copy.first);
            std::erase_if(tc, [](char c) { return c == ':' || c == ';'; });
            const std::string ext = file.path.extension().string();
            copy.name = file.stem + "_" + tc + (ext.empty() ? ".wav" : ext);
            std::sort(copy.events.begin(), copy.events.end());
            copy.events.erase(std::unique(copy.events.begin(), copy.events.end()), copy.events.end());
        }
    }
    return copies;
}

std::vector<CopyRequest> conformRequests(const std::vector<ConformCopy>& copies, const Media& media,
                                         const std::filesystem::path& folder, bool replace) {
    std::vector<CopyRequest> requests;
    for (const ConformCopy& copy : copies)
        requests.push_back({media.files[copy.file].path, folder / copy.name, copy.first, copy.last,
                            ClockChoice{false, copy.rate, false}, replace, true});
    return requests;
}

}  // namespace keeptime
