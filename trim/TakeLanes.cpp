#include "trim/TakeLanes.hpp"

#include <algorithm>

#include "base/BWFError.hpp"

namespace keeptime {

namespace {

int channelsOf(const BWFParser& parser) {
    return parser.sampleFormat() ? parser.sampleFormat()->channels : 1;
}

TakeTrack trackOf(const std::filesystem::path& file) {
    TakeTrack track;
    track.file = file;
    track.input = std::make_shared<const FileHandle>(FileHandle::openForReading(file));
    track.parser = std::make_shared<const BWFParser>(*track.input);
    track.channels = std::max(channelsOf(*track.parser), 1);
    const auto& names = track.parser->takeNotes().trackNames;
    const std::string stem = file.stem().string();
    for (int c = 0; c < track.channels; ++c) {
        if (names.size() == static_cast<std::size_t>(track.channels))
            track.laneNames.push_back(names[static_cast<std::size_t>(c)]);
        else
            track.laneNames.push_back(track.channels > 1 ? stem + " " + std::to_string(c + 1) : stem);
    }
    return track;
}

}  // namespace

TakeLayout layTake(const std::vector<std::filesystem::path>& members, const std::filesystem::path& shown,
                   const ClockChoice& choice) {
    TakeLayout layout;
    TakeTrack first = trackOf(shown);
    const Clock shownClock = first.parser->clock(choice);
    layout.tracks.push_back(std::move(first));
    for (const auto& member : members) {
        if (member == shown) continue;
        try {
            TakeTrack track = trackOf(member);
            if (track.parser->samplesPerSecond() != layout.tracks.front().parser->samplesPerSecond()) {
                layout.problems.push_back(member.filename().string() + " plays at " +
                                          std::to_string(track.parser->samplesPerSecond()) + " Hz, not at the take's " +
                                          std::to_string(layout.tracks.front().parser->samplesPerSecond()) + " Hz");
                continue;
            }
            track.offset = track.parser->clock(choice).frameAtSameTime(0, shownClock);
            layout.tracks.push_back(std::move(track));
        } catch (const BWFError& error) {
            layout.problems.push_back(error.what());
        }
    }
    return layout;
}

std::string trackTitle(const BWFParser& parser, const std::filesystem::path& file) {
    std::string title;
    for (const std::string& name : parser.takeNotes().trackNames) title += (title.empty() ? "" : ", ") + name;
    return title.empty() ? file.stem().string() : title;
}

}  // namespace keeptime
