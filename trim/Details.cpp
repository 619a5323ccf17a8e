#include "trim/Details.hpp"

#include <algorithm>
#include <vector>

#include "timecode/Decimal.hpp"

namespace keeptime {

namespace {

constexpr std::string_view kDot = " · ";
constexpr std::size_t kLongestNote = 240;  // bytes: a long note must not push the fields off the window

std::string joined(const std::vector<std::string>& parts, std::string_view between) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : std::string(between)) + part;
    return text;
}

// value / scale with as few decimals as it needs: 44100, 1000 -> "44.1".
std::string decimal(std::int64_t value, std::int64_t scale) {
    std::string text = toDecimal(value / scale);
    std::string fraction = toDecimal(scale + value % scale).substr(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    return fraction.empty() ? text : text + "." + fraction;
}

// On one line, and cut at a character's start when long.
std::string oneLine(std::string text) {
    std::replace_if(text.begin(), text.end(), [](char c) { return c >= 0 && c < ' '; }, ' ');
    if (text.size() <= kLongestNote) return text;
    std::size_t cut = kLongestNote;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "…";
}

}  // namespace

std::string detailsText(const BWFParser& parser) {
    std::vector<std::string> format{decimal(parser.samplesPerSecond(), 1000) + " kHz"};
    if (const auto& samples = parser.sampleFormat()) {
        format.push_back(std::to_string(samples->bitsPerSample) + "-bit" +
                         (samples->kind == SampleFormat::Kind::Float ? " float" : ""));
        format.push_back(std::to_string(samples->channels) + (samples->channels == 1 ? " channel" : " channels"));
    }
    if (auto rate = parser.namedTimecodeRate()) format.push_back(rateName(*rate));
    std::vector<std::string> lines{joined(format, kDot)};
    // Else the times shown look like a recorder's, and a copy's stamp like a moved one.
    if (parser.timeReferenceSource() == TimeReferenceSource::None) lines.push_back("No time stamp (taken as 00:00:00)");
    const TakeNotes& notes = parser.takeNotes();
    std::vector<std::string> take;
    const std::pair<const char*, const std::optional<std::string>*> named[] = {
        {"Scene ", &notes.scene}, {"Take ", &notes.take}, {"Tape ", &notes.tape}};
    for (const auto& [label, value] : named)
        if (*value) take.push_back(label + oneLine(**value));
    if (!take.empty()) lines.push_back(joined(take, kDot));
    if (!notes.trackNames.empty()) lines.push_back("Tracks: " + oneLine(joined(notes.trackNames, ", ")));
    if (notes.note) lines.push_back("Note: " + oneLine(*notes.note));
    return joined(lines, "\n");
}

std::string copyName(const std::filesystem::path& input, std::int64_t inFrame, const Clock& clock) {
    const std::string base = input.stem().string();
    if (!clock.rate) return base + "_trim.wav";
    std::string digits = clock.text(Notation::TimeOfDay, inFrame);
    std::erase_if(digits, [](char c) { return c < '0' || c > '9'; });
    return base + "_" + digits + ".wav";
}

}  // namespace keeptime
