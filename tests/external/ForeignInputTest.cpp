// keeptime-cli on files written by other programs (ffmpeg, sox, real recorders
// and DAWs), checked against readers that share no code with ours.
#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <map>

#include "tests/TempDir.hpp"
#include "tests/WavWriter.hpp"
#include "tests/external/External.hpp"

namespace keeptime::external {
namespace {

const char* const kTags[] = {"TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO", "BWF_TIME_REFERENCE_LOW"};

struct Input {
    std::string name;
    std::string tool;               // the program that makes it; "samples": a real file; "": our writer
    std::vector<std::string> args;  // its command line after the program; "{out}" is the file
};

std::vector<std::string> ffmpeg(int rate, int frames, const std::string& layout, const std::string& codec,
                                const std::string& timeReference, bool rf64 = false) {
    std::vector<std::string> args = {"-v", "error", "-f", "lavfi", "-i",
                                     "sine=frequency=440:sample_rate=" + std::to_string(rate), "-af",
                                     "atrim=end_sample=" + std::to_string(frames), "-ac", layout, "-c:a", codec,
                                     "-write_bext", "1", "-metadata", "time_reference=" + timeReference};
    if (rf64) args.insert(args.end(), {"-rf64", "always"});
    args.push_back("{out}");
    return args;
}

const std::vector<Input> kInputs = {
    // 144001 mono 24-bit frames: an odd number of audio bytes.
    {"ffmpeg_48k_mono24_odd", "ffmpeg", ffmpeg(48000, 144001, "1", "pcm_s24le", "1728012345")},
    {"ffmpeg_44k1_stereo16", "ffmpeg", ffmpeg(44100, 132300, "2", "pcm_s16le", "2063880007")},
    {"ffmpeg_96k_stereo24", "ffmpeg", ffmpeg(96000, 288000, "2", "pcm_s24le", "3456000000")},
    {"ffmpeg_rf64_96k", "ffmpeg", ffmpeg(96000, 288000, "2", "pcm_s24le", "4147200000", true)},
    // Written to a pipe, ffmpeg cannot go back to fill in the sizes: both stay 0xFFFFFFFF.
    {"ffmpeg_streamed_sizes_unknown", "ffmpeg", [] {
         auto args = ffmpeg(48000, 96001, "1", "pcm_s24le", "1728000000");
         args.back() = "-f";
         args.insert(args.end(), {"wav", "-"});
         return args;
     }()},
    {"sox_no_time_reference", "sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", "{out}", "synth", "2.5", "sine", "300"}},
    {"recorder_a_ixml_timestamp", "samples", {"recorder-a-ixml-timestamp.wav"}},
    {"daw_export_ixml_after_data", "samples", {"daw-export-ixml-after-data.wav"}},
    // Our own writer, for the one thing no foreign writer here makes: an iXML time
    // reference whose digit count grows (999999 → 7 digits), in an odd- and an even-sized chunk.
    {"own_ixml_grows_odd_chunk", "", {"TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO", "odd"}},
    {"own_ixml_grows_even_chunk", "", {"BWF_TIME_REFERENCE_LOW", "even"}},
};

// Makes the input in folder; empty with the reason when it cannot be had here.
fs::path make(const Input& input, const fs::path& folder, std::string& why) {
    if (input.tool == "samples") {
        const fs::path file = samplesDir() / input.args[0];
        if (!fs::exists(file)) why = "no " + file.string() + " (../shared/samples is not beside the checkout)";
        return fs::exists(file) ? file : fs::path();
    }
    const fs::path file = folder / (input.name + ".wav");
    if (input.tool.empty()) {
        const std::string tag = input.args[0];
        std::string xml = "<?xml version=\"1.0\"?>\n<BWFXML><" + tag + ">999999</" + tag + "></BWFXML>";
        if (xml.size() % 2 != (input.args[1] == "odd" ? 1u : 0u)) xml += '\n';
        testing::WavWriter().bext(999999).ixml(xml).fmt(2, 48000, 24).data(testing::audioPattern(48000 * 6 * 3))
            .write(file);
        return file;
    }
    if (!onPath(input.tool)) {
        why = input.tool + " is not installed (Debian package " + (input.tool == "sox" ? "sox" : "ffmpeg") + ")";
        return {};
    }
    std::vector<std::string> argv = {input.tool};
    for (const auto& a : input.args) argv.push_back(a == "{out}" ? file.string() : a);
    const Result made = run(argv);
    if (made.status != 0) throw std::runtime_error(input.tool + " failed: " + made.err);
    if (argv.back() == "-") testing::writeFile(file, Bytes(made.out.begin(), made.out.end()));
    return file;
}

std::string missingReaders() {
    if (python().empty()) return "python3 is not installed (Debian package python3)";
    if (!onPath("ffprobe")) return "ffprobe is not installed (Debian package ffmpeg)";
    return {};
}

std::optional<std::int64_t> integer(const json& text) {
    if (!text.is_string()) return std::nullopt;
    const std::string s = text.get<std::string>();
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (error != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return value;
}

// What the independent readers say a file holds.
struct Reading {
    json walk, probe;
    std::int64_t rate = 0, bytesPerFrame = 0, audioBytes = 0, frames = 0, timeReference = 0;
    std::string source = "none";
    bool bextBeforeData = false;
};

Reading independentReading(const fs::path& file) {
    Reading r;
    r.walk = riffcheck(file);
    r.probe = ffprobe(file);
    const json& stream = r.probe["streams"][0];
    r.rate = std::stoll(stream["sample_rate"].get<std::string>());
    r.bytesPerFrame = stream["channels"].get<std::int64_t>() * stream["bits_per_sample"].get<std::int64_t>() / 8;
    r.audioBytes = r.walk["dataSize"];
    r.frames = r.audioBytes / r.bytesPerFrame;
    r.bextBeforeData = r.walk["bext"].is_object() && r.walk["bext"]["offset"] < r.walk["dataOffset"];
    for (const char* tag : kTags)
        for (const json& ixml : r.walk["ixml"])
            if (auto value = integer(ixml.value(tag, json())); value && r.source == "none") {
                r.source = tag;
                r.timeReference = *value;
            }
    if (r.source == "none" && r.bextBeforeData) {
        r.source = "bext";
        r.timeReference = r.walk["bext"]["timeReference"];
    }
    return r;
}

std::string clock(std::int64_t t) {
    char text[40];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(t / 3600),
                  static_cast<long long>(t / 60 % 60), static_cast<long long>(t % 60));
    return text;
}

std::string span(std::int64_t t) {
    if (t >= 3600) return std::to_string(t / 3600) + ":" + clock(t).substr(clock(t).size() - 5);
    return std::to_string(t / 60) + ":" + clock(t).substr(clock(t).size() - 2);
}

std::int64_t le64(const Bytes& bytes, std::size_t at) {
    std::int64_t value = 0;
    std::memcpy(&value, bytes.data() + at, 8);
    return value;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t length) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + length));
}

Bytes replaceAll(Bytes text, const std::string& from, const std::string& to) {
    std::string s(text.begin(), text.end());
    for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return Bytes(s.begin(), s.end());
}

class External : public ::testing::TestWithParam<Input> {
protected:
    void SetUp() override {
        if (auto missing = missingReaders(); !missing.empty()) GTEST_SKIP() << missing;
        std::string why;
        file = make(GetParam(), dir.path(), why);
        if (file.empty()) GTEST_SKIP() << why;
        in = independentReading(file);
    }
    testing::TempDir dir;
    fs::path file;
    Reading in;
};

using ExternalInfo = External;

TEST_P(ExternalInfo, AgreesWithIndependentReaders) {
    // The two independent readers agree with each other first.
    EXPECT_NEAR(std::stod(in.probe["format"]["duration"].get<std::string>()),
                static_cast<double>(in.frames) / static_cast<double>(in.rate), 2e-6);
    if (in.bextBeforeData) {
        EXPECT_EQ(integer(in.probe["format"]["tags"]["time_reference"]), in.walk["bext"]["timeReference"]);
    }

    for (const bool weird : {false, true}) {
        SCOPED_TRACE(weird ? "--weird-tc" : "file rate");
        std::vector<std::string> argv = {cli(), "info", "--json", file.string()};
        if (weird) argv.push_back("--weird-tc");
        const Result info = run(argv);
        ASSERT_EQ(info.status, 0) << info.err;
        const json got = json::parse(info.out);
        // Whole seconds in integers: time reference ÷ (rate × 1001/1000), plus the length.
        const std::int64_t num = weird ? 1000 : 1, den = in.rate * (weird ? 1001 : 1);
        const std::int64_t startSecond = in.timeReference * num / den;
        const std::int64_t endSecond = (in.timeReference * num + in.frames * (den / in.rate)) / den;
        const json expected = {
            {"rf64", in.walk["form"] == "RF64"},
            {"sampleRate", in.rate},
            {"bytesPerFrame", in.bytesPerFrame},
            {"audioBytes", in.audioBytes},
            {"frames", in.frames},
            {"preDataBytes", in.walk["dataOffset"]},
            {"samplesSinceMidnight", in.timeReference},
            {"timeReferenceSource", in.source},
            {"start", clock(startSecond)},
            {"end", clock(endSecond)},
            {"length", span(in.frames / in.rate)},
        };
        for (const auto& [key, value] : expected.items()) EXPECT_EQ(got[key], value) << key;
        EXPECT_DOUBLE_EQ(got["timeReferenceRate"].get<double>(),
                         weird ? static_cast<double>(in.rate) * 1.001 : static_cast<double>(in.rate));
    }
}

struct TrimCase {
    std::vector<std::string> args;
    std::int64_t start;               // seconds
    std::optional<std::int64_t> end;  // seconds; none: the file's end
    bool weird = false;
};

const TrimCase kTrims[] = {
    {{}, 0, {}},
    {{"--start", "1"}, 1, {}},
    {{"--start", "0:01", "--end", "2"}, 1, 2},
    {{"--start", "1", "--weird-tc"}, 1, {}, true},
    // 5 s lies in the recorder file's last whole second (5.005 s), past the end of the others.
    {{"--start", "2", "--end", "0:05", "--weird-tc"}, 2, 5, true},
};

// One copy per applicable trim case, with what it should hold.
struct Copy {
    std::string label;
    fs::path file;
    std::int64_t first = 0, last = 0, newReference = 0, audioBytes = 0;
    std::map<std::string, std::string> tags;  // the copy's iXML tag texts
};

class ExternalTrim : public External {
protected:
    void SetUp() override {
        External::SetUp();
        if (IsSkipped()) return;
        std::map<std::string, std::string> inputTags;
        for (const json& ixml : in.walk["ixml"])
            if (ixml["offset"] < in.walk["dataOffset"])
                for (const char* tag : kTags)
                    if (ixml.contains(tag)) inputTags.emplace(tag, ixml[tag]);
        for (const TrimCase& c : kTrims) {
            Copy copy;
            for (const auto& a : c.args) copy.label += a + " ";
            copy.first = c.start * in.rate;
            copy.last = !c.end || *c.end >= in.frames / in.rate ? in.frames : *c.end * in.rate;
            if (copy.first > copy.last) continue;  // past this file's end
            const std::int64_t shift =
                in.source == "none" ? 0 : c.weird ? c.start * in.rate * 1001 / 1000 : c.start * in.rate;
            copy.newReference = in.timeReference + shift;
            copy.audioBytes = (copy.last - copy.first) * in.bytesPerFrame;
            for (const auto& [tag, text] : inputTags)
                copy.tags[tag] = in.source != "none" && integer(text) == in.timeReference
                                     ? std::to_string(copy.newReference) : text;
            copy.file = dir / ("copy" + std::to_string(copies.size()) + ".wav");
            std::vector<std::string> argv = {cli(), "trim", file.string(), "-o", copy.file.string(), "--json"};
            argv.insert(argv.end(), c.args.begin(), c.args.end());
            const Result trim = run(argv);
            ASSERT_EQ(trim.status, 0) << copy.label << trim.err;
            const json report = json::parse(trim.out);
            EXPECT_EQ(report["startFrame"], copy.first) << copy.label;
            EXPECT_EQ(report["frames"], copy.last - copy.first) << copy.label;
            EXPECT_EQ(report["timeReferenceAfter"], in.source == "none" ? json() : json(copy.newReference));
            copies.push_back(copy);
        }
    }
    std::vector<Copy> copies;
};

TEST_P(ExternalTrim, CopyHoldsTheInputsChunksAndFramesExactly) {
    const Bytes input = readBytes(file);
    const std::int64_t inData = in.walk["dataOffset"];
    for (const Copy& c : copies) {
        SCOPED_TRACE("trim " + c.label);
        // The strict chunk walk finds nothing malformed.
        int status = -1;
        const json walk = riffcheck(c.file, &status);
        EXPECT_EQ(status, 0) << walk["errors"].dump();
        const Bytes copy = readBytes(c.file);
        const std::int64_t outData = walk["dataOffset"];
        EXPECT_EQ(std::string(copy.begin(), copy.begin() + 4), "RIFF");  // all of these fit 32-bit sizes
        EXPECT_EQ(walk["dataSize"], c.audioBytes);
        EXPECT_EQ(static_cast<std::int64_t>(copy.size()), outData + 8 + c.audioBytes + (c.audioBytes & 1));
        EXPECT_TRUE(std::equal(copy.begin() + outData + 8, copy.begin() + outData + 8 + c.audioBytes,
                               input.begin() + inData + 8 + c.first * in.bytesPerFrame))
            << "the audio is not the input's frames " << c.first << " to " << c.last;

        // Every header chunk as the input had it, but for the sizes and the time reference.
        std::vector<json> before, after;
        for (const json& chunk : in.walk["chunks"])
            if (chunk["offset"] < inData) before.push_back(chunk);
        for (const json& chunk : walk["chunks"])
            if (chunk["offset"] < outData) after.push_back(chunk);
        ASSERT_EQ(after.size(), before.size());
        for (std::size_t i = 0; i < before.size(); ++i) {
            const std::string id = before[i]["id"];
            ASSERT_EQ(after[i]["id"], id);
            Bytes expected = slice(input, before[i]["offset"].get<std::size_t>() + 8, before[i]["size"]);
            const Bytes got = slice(copy, after[i]["offset"].get<std::size_t>() + 8, after[i]["size"]);
            if (id == "bext" && le64(expected, 338) == in.timeReference && in.source != "none")
                std::memcpy(expected.data() + 338, &c.newReference, 8);
            if (id == "ds64") {
                const std::int64_t sizes[3] = {static_cast<std::int64_t>(copy.size()) - 8, c.audioBytes,
                                               c.last - c.first};
                std::memcpy(expected.data(), sizes, sizeof sizes);
            }
            if (id == "iXML" && in.source != "none")
                for (const char* tag : kTags) {
                    const std::string open = std::string("<") + tag + ">", close = std::string("</") + tag + ">";
                    expected = replaceAll(expected, open + std::to_string(in.timeReference) + close,
                                          open + std::to_string(c.newReference) + close);
                }
            EXPECT_TRUE(got == expected) << "chunk '" << id << "' differs from the input's";
        }
        EXPECT_TRUE(std::equal(copy.begin() + 8, copy.begin() + 12, input.begin() + 8));

        // ffprobe's reading.
        const json probe = ffprobe(c.file);
        if (c.last > c.first) {
            EXPECT_NEAR(std::stod(probe["format"]["duration"].get<std::string>()),
                        static_cast<double>(c.last - c.first) / static_cast<double>(in.rate), 2e-6);
        }
        if (in.bextBeforeData) {
            EXPECT_EQ(integer(probe["format"]["tags"]["time_reference"]), c.newReference);
        }
    }
}

TEST_P(ExternalTrim, NpmWavefileReadsTheCopy) {
    if (!nodeModules())
        GTEST_SKIP() << "node or the npm package wavefile is missing (npm install --prefix build/npm wavefile; "
                        "or set KEEPTIME_NODE_PATH to a node_modules holding it)";
    for (const Copy& c : copies) {
        SCOPED_TRACE("trim " + c.label);
        const json wave = wavefile(c.file);
        EXPECT_FALSE(wave.contains("error")) << wave.dump();
        EXPECT_EQ(wave["container"], "RIFF");
        EXPECT_EQ(wave["sampleRate"], in.rate);
        EXPECT_EQ(wave["blockAlign"], in.bytesPerFrame);
        EXPECT_EQ(wave["dataChunkSize"], c.audioBytes);
        EXPECT_EQ(wave["bextTimeReference"], in.bextBeforeData ? json(std::to_string(c.newReference)) : json());
        for (const char* tag : kTags)
            EXPECT_EQ(wave["ixml"][tag], c.tags.count(tag) ? json(c.tags.at(tag)) : json()) << tag;
    }
}

TEST_P(ExternalTrim, LibsndfileFindsNoNewFault) {
    if (!onPath("sndfile-info")) GTEST_SKIP() << "sndfile-info is not installed (Debian package sndfile-programs)";
    const auto known = sndfileInfo(file).complaints;  // about the input itself
    for (const Copy& c : copies) {
        SCOPED_TRACE("trim " + c.label);
        // libsndfile reports a short read for any empty data chunk, whoever wrote it.
        if (c.last == c.first) continue;
        const SndfileReading reading = sndfileInfo(c.file);
        EXPECT_EQ(reading.frames, c.last - c.first);
        for (const auto& line : reading.complaints)
            EXPECT_NE(std::find(known.begin(), known.end(), line), known.end()) << "sndfile-info: " << line;
    }
}

void PrintTo(const Input& input, std::ostream* out) { *out << input.name; }

std::string inputName(const ::testing::TestParamInfo<Input>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Files, ExternalInfo, ::testing::ValuesIn(kInputs), inputName);
INSTANTIATE_TEST_SUITE_P(Files, ExternalTrim, ::testing::ValuesIn(kInputs), inputName);

}  // namespace
}  // namespace keeptime::external
