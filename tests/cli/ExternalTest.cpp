// keeptime-cli run as a user would, on files other programs wrote (ffmpeg, sox, real recorders), its copies read
// by programs sharing no code with ours: ffprobe, riffcheck.py and npm wavefile. Missing tools skip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <thread>

#include "io/OutputFile.hpp"
#include "tests/WavWriter.hpp"
#include "tests/cli/CliRun.hpp"

namespace keeptime::external {
namespace {

const std::string kFfmpeg = "ffmpeg -v error -f lavfi -i sine=sample_rate=";
const std::pair<std::string, std::string> kInputs[] = {  // a shell command writing {out}, or a file in samples
    {"ffmpeg_48k_mono24_odd", kFfmpeg + "48000 -af atrim=end_sample=144001 -ac 1 -c:a pcm_s24le "  // odd byte count
                                        "-write_bext 1 -metadata time_reference=1728012345 {out}"},
    {"ffmpeg_44k1_stereo16", kFfmpeg + "44100 -af atrim=end_sample=132300 -ac 2 -c:a pcm_s16le "
                                       "-write_bext 1 -metadata time_reference=2063880007 {out}"},
    {"ffmpeg_rf64_96k", kFfmpeg + "96000 -af atrim=end_sample=288000 -ac 2 -c:a pcm_s24le -rf64 always "
                                  "-write_bext 1 -metadata time_reference=4147200000 {out}"},
    {"sox_no_time_reference", "sox -n -r 44100 -c 2 -b 16 {out} synth 2.5 sine 300"},
    {"recorder_a_ixml_timestamp", "samples recorder-a-ixml-timestamp.wav"},    // 5.005 s, iXML and bext
    {"daw_export_ixml_after_data", "samples daw-export-ixml-after-data.wav"},  // 1 s: trims from 1 s are refused
    // Chunks after the audio: cue, smpl, LIST adtl and LIST INFO; levl and id3; LIST INFO.
    {"wavefile_markers_loops_after_data", "node '" KEEPTIME_EXTERNAL_DIR "/wavefile-write.js' {out}"},
    {"ffmpeg_peaks_mutagen_id3_after_data",
     kFfmpeg + "48000 -af atrim=end_sample=144000 -c:a pcm_s16le -write_peak on -metadata title=Tone -write_bext 1 "
               "-metadata time_reference=1728000000 {out} && /usr/bin/python3 -c 'import sys, mutagen.wave, "
               "mutagen.id3 as id3; w = mutagen.wave.WAVE(sys.argv[1]); w.add_tags(); "
               "w.tags.add(id3.TIT2(text=\"Tone\")); w.save()' {out}"},
    {"sndfile_metadata_list_info_after_data",
     "sox -n -r 44100 -c 2 -b 16 {out}.sox.wav synth 2.5 sine 300 && sndfile-metadata-set --bext-time-ref "
     "1587600000 --str-title Tone --str-comment 'after the audio' {out}.sox.wav {out}"},
};

class ExternalFiles : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(ExternalFiles, InfoAndCopiesAgreeWithIndependentReaders) {
    TempDir dir;
    fs::path file = dir / "input.wav", out = dir / "copy.wav";
    std::string how = GetParam().second;
    if (!onPath("ffprobe") || !onPath("python3")) GTEST_SKIP() << "ffprobe or python3 is not installed";
    if (how.rfind("samples ", 0) == 0 && !fs::exists(file = fs::path(KEEPTIME_SAMPLES_DIR) / how.substr(8)))
        GTEST_SKIP() << "no " << file << " (../shared/samples is not beside the checkout)";
    for (auto at = how.find("{out}"); at != how.npos; at = how.find("{out}"))
        how.replace(at, 5, "'" + file.string() + "'");
    if (how.rfind("samples ", 0) != 0) {
        const Result wrote = run({"env", "NODE_PATH=" + nodeModules(), "sh", "-c", how});
        std::smatch missing;  // the line saying which
        if (std::regex_search(wrote.err, missing, std::regex(".*(No module named|Cannot find module|: not found).*")))
            GTEST_SKIP() << "a program or package that writes this input is missing: " << missing.str();
        ASSERT_EQ(wrote.status, 0) << "could not write " << file << ": " << wrote.err;
    }
    const json walk = reading("riffcheck", file), probe = reading("ffprobe", file), &stream = probe["streams"][0];
    ASSERT_EQ(walk["errors"], json::array()) << "riffcheck.py finds the input malformed";
    const std::int64_t rate = std::stoll(stream["sample_rate"].get<std::string>()), inData = walk["dataOffset"];
    const std::int64_t bytesPerFrame = stream["channels"].get<int>() * stream["bits_per_sample"].get<int>() / 8;
    const std::int64_t frames = walk["dataSize"].get<std::int64_t>() / bytesPerFrame;
    const bool bext = walk["bext"].is_object() && walk["bext"]["offset"] < inData;  // one before the audio
    json chunks = json::array();  // as info --json lists them
    for (const json& c : walk["chunks"])
        chunks.push_back({{"id", c["id"]}, {"offset", c["offset"]}, {"size", c["size"]},
                          {"where", c["offset"] < inData ? "before" : c["offset"] == inData ? "audio" : "after"}});
    std::string source = "none";  // an iXML time reference first, wherever the chunk stands; then bext
    std::int64_t reference = 0;
    for (const char* tag : {"TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO", "BWF_TIME_REFERENCE_LOW"})
        for (const json& ixml : walk["ixml"])
            if (source == "none" && ixml.contains(tag)) source = tag, reference = std::stoll(std::string(ixml[tag]));
    if (source == "none" && bext) source = "bext", reference = walk["bext"]["timeReference"];

    for (int weird = 0; weird <= (GetParam() == kInputs[0]); ++weird) {  // --weird-tc on one input is enough
        const Result r = keeptime({"info", "--json", file}, weird ? "--weird-tc" : "");
        ASSERT_EQ(r.status, 0) << r.err;
        const std::int64_t t = reference * 1000 / (rate * (weird ? 1001 : 1000));  // the start in whole seconds
        char start[16];
        std::snprintf(start, sizeof start, "%02d:%02d:%02d", int(t / 3600), int(t / 60 % 60), int(t % 60));
        const json got = json::parse(r.out), expected = {
            {"rf64", walk["form"] == "RF64"}, {"sampleRate", rate}, {"bytesPerFrame", bytesPerFrame},
            {"audioBytes", walk["dataSize"]}, {"samplesSinceMidnight", reference}, {"timeReferenceSource", source},
            {"start", start}, {"timeReferenceRate", rate * (weird ? 1001 : 1000) / 1000.0}, {"chunks", chunks}};
        for (const auto& [key, value] : expected.items())
            EXPECT_EQ(got.value(key, json()), value) << key << " weird=" << weird;
    }

    const std::string input = text(file);
    const json inWave = nodeModules().empty() ? json() : reading("wavefile", file);
    const auto ids = [](json list) { for (json& c : list) c = json(c["id"]); return list; };
    const std::int64_t end1 = 1 < frames / rate ? rate : frames;  // an end in the last whole second is the end
    using Trim = std::tuple<std::string, std::int64_t, std::int64_t, bool>;  // arguments, frames kept, --weird-tc
    // In seconds, so that the frames kept do not hang on a file's timecode rate.
    for (const auto& [args, first, last, weird] : {Trim{"--seconds --start 0:00.5 --end 1", rate / 2, end1, false},
                                                   Trim{"--seconds --start 1 --weird-tc", rate, frames, true},
                                                   Trim{"--seconds --start-from-end 1", frames - rate, frames, false}}) {
        SCOPED_TRACE(args);
        const std::int64_t audio = (last - first) * bytesPerFrame;
        // Weird TC rounds the stamp up.
        const std::int64_t shift = source == "none" ? 0 : weird ? (first * 1001 + 999) / 1000 : first;
        const std::int64_t moved = reference + shift, bextWas = bext ? std::int64_t(walk["bext"]["timeReference"]) : 0;
        const json bextAfter = bext ? json(std::to_string(bextWas + shift)) : json();  // as ffprobe and wavefile say
        const Result trimmed = keeptime({"trim", file, "-o", out, "--force"}, args);
        if (first == last) {  // a range with no audio left is refused, as the window refuses it
            EXPECT_EQ(std::pair(trimmed.status, trimmed.err), std::pair(2, "keeptime-cli: " + file.string() +
                                                                          ": the range holds no audio\n"));
            continue;
        }
        ASSERT_EQ(trimmed.status, 0) << trimmed.err;

        const json copyWalk = reading("riffcheck", out);
        EXPECT_EQ(copyWalk["errors"], json::array()) << "riffcheck.py finds the copy malformed";
        const std::string copy = text(out);
        const std::int64_t outData = copyWalk["dataOffset"], size = copy.size();
        EXPECT_EQ(copyWalk["dataSize"], audio);
        EXPECT_EQ(copy.compare(outData + 8, audio, input, inData + 8 + first * bytesPerFrame, audio), 0) << "audio";
        const std::uint32_t riffSize = size - 8;  // RF64 only where RIFF cannot count the bytes
        EXPECT_EQ(copy.substr(0, 12), "RIFF" + std::string(reinterpret_cast<const char*>(&riffSize), 4) + "WAVE");
        EXPECT_EQ(ids(copyWalk["chunks"]), ids(walk["chunks"])) << "the copy's chunks are not the input's, in order";

        // The input's cue points or loops inside the kept frames, moved as the copy must hold them.
        const auto keep = [&](json list) {
            json kept = json::array();
            for (json& x : list) {
                const bool loop = x.contains("start"), data = loop || x["fccChunk"] == "data";
                const std::int64_t at = x[loop ? "start" : "sampleOffset"], end = loop ? std::int64_t(x["end"]) : at;
                if (data && (at < first || end >= last)) continue;
                for (const char* key : {"start", "end", "sampleOffset"})
                    if (data && x.contains(key)) x[key] = std::int64_t(x[key]) - first;
                if (!loop && data && x["position"] == at) x["position"] = at - first;
                kept.push_back(x);
            }
            return kept;
        };
        std::set<json> keptIds;
        for (const json& c : walk["chunks"])
            for (const json& point : keep(c.value("points", json::array()))) keptIds.insert(point["id"]);
        const auto moveStamps = [&](std::string body) {  // each iXML stamp from its own value
            static const std::regex stamp("<(TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO|BWF_TIME_REFERENCE_LOW)>([0-9]+)<");
            std::string edited;
            for (std::smatch m; std::regex_search(body, m, stamp); body = m.suffix())
                edited += m.prefix().str() + "<" + m[1].str() + ">" + std::to_string(std::stoll(m[2]) + shift) + "<";
            return edited + body;
        };
        for (std::size_t i = 0; i < std::min(walk["chunks"].size(), copyWalk["chunks"].size()); ++i) {
            const json &c = walk["chunks"][i], &d = copyWalk["chunks"][i];
            if (c["id"] == "data" || c["id"] != d["id"]) continue;
            if (c.contains("points")) { EXPECT_EQ(d.value("points", json()), keep(c["points"])) << "cue points"; }
            if (c.contains("loops")) { EXPECT_EQ(d.value("loops", json()), keep(c["loops"])) << "smpl loops"; }
            if (c.contains("adtl")) {
                json labels = json::array();
                for (const json& label : c["adtl"])
                    if (keptIds.count(label["cueId"])) labels.push_back(label);
                EXPECT_EQ(d.value("adtl", json()), labels) << "labels of the points kept";
            }
            if (c.contains("points") || c.contains("loops") || c.contains("adtl")) continue;
            std::string body = input.substr(std::size_t(c["offset"]) + 8, std::size_t(c["size"]));  // as it must be:
            if (c["id"] == "ds64") std::memcpy(&body[0], std::array{size - 8, audio, last - first}.data(), 24);
            if (c["id"] == "iXML") body = moveStamps(body);
            if (std::int64_t stamp; c["id"] == "bext" && body.size() >= 346)
                std::memcpy(&stamp, &body[338], 8), stamp += shift, std::memcpy(&body[338], &stamp, 8);
            EXPECT_TRUE(copy.substr(std::size_t(d["offset"]) + 8, std::size_t(d["size"])) == body)
                << c["id"] << " at " << d["offset"] << " in the copy is not the input's, edited";
        }

        json format = reading("ffprobe", out)["format"];
        EXPECT_NEAR(audio ? std::stod(std::string(format["duration"])) : 0, double(last - first) / rate, 2e-6);
        EXPECT_EQ(format["tags"]["time_reference"], bextAfter) << "ffprobe";
        if (!nodeModules().empty()) {
            const json wave = reading("wavefile", out), expected = {
                {"container", "RIFF"}, {"sampleRate", rate}, {"blockAlign", bytesPerFrame}, {"dataChunkSize", audio},
                {"bextTimeReference", bextAfter}, {"cuePoints", keep(inWave.value("cuePoints", json()))},
                {"loops", keep(inWave.value("loops", json()))}};
            for (const auto& [key, value] : expected.items())
                EXPECT_EQ(wave.value(key, json()), value) << "npm wavefile: " << key;
            if (source.find('_') != source.npos) { EXPECT_EQ(wave["ixml"][source], std::to_string(moved)); }
        }
    }
    if (nodeModules().empty()) GTEST_SKIP() << "copies not read by npm wavefile: node or the package is missing "
                                              "(npm install --prefix build/npm wavefile, or set KEEPTIME_NODE_PATH)";
}

INSTANTIATE_TEST_SUITE_P(Files, ExternalFiles, ::testing::ValuesIn(kInputs), [](auto& p) { return p.param.first; });

struct ExternalCli : ::testing::Test {
    void SetUp() override {  // 3 s of 48 kHz stereo 24-bit that starts at 10:00:00
        testing::WavWriter().bext(1728000000).fmt().data(testing::audioPattern(48000 * 18)).write(in);
    }
    TempDir dir;
    const fs::path in = dir / "in.wav", out = dir / "out.wav";
};

TEST_F(ExternalCli, FailuresSayWhyOnOneLineLeavingEveryFileAndSuccessesPrintTheirLines) {
    const std::string notes = dir / "notes.txt", link = dir / "link.wav", nowhere = dir / "no/out.wav";
    const std::string odd = dir / "a\nb.wav", oddQuoted = "'" + dir.path().string() + "/a'$'\\n''b.wav'";  // as ls quotes it
    testing::writeFile(out, Bytes(3, 'x'));
    testing::writeFile(odd, Bytes(3, 'x'));
    testing::writeFile(notes, Bytes(400, 'x'));
    fs::create_symlink(in, link);
    const struct { std::vector<std::string> args; std::string named, says; } cases[] = {  // what the message names, and says
        {{"trim", notes, "-o", out, "--force", "--json"}, notes, ""},  // not a WAV file
        {{"trim", in, "-o", out}, out, ""},                            // an existing output, without --force
        {{"trim", in, "-o", link, "--force"}, link, ""},               // the input again, through a link
        {{"trim", in, "-o", nowhere}, nowhere, ""},                    // no such folder: 1 (failed) or 2 (refused)
        {{"trim", in, "-o", out, "--start", "1:75"}, in, ""},          // not a time
        {{"trim", in, "-o", "/dev/null", "--force"}, "/dev/null", ""},  // a device is never replaced
        {{"trim", in, "-o", out, "--force", "--start", "1", "--end", "1"}, in, ""},  // a range with no audio
        {{"trim", odd, "-o", dir / "copy.wav"}, oddQuoted, ""},        // a newline in a name does not split the line
        {{"trim", in, "-o", odd}, oddQuoted, "already exists"},
        {{"trim", in, "-o", out, "--force", "--start-frame", "0x10"}, "--start-frame", "\"0x10\" is not a frame number"},
        {{"trim", in, "-o", out, "--force", "--end-frame", "+5"}, "--end-frame", "(no sign"},
        {{"trim", in, "-o", out, "--force", "--start-frame", " 3"}, "--start-frame", "(a blank in it"},
        {{"trim", in, "--force", "--start", "1"}, "usage", "--output is required"},  // one line, as any usage error
    };
    const std::size_t files = testing::fileNames(dir.path()).size();
    const std::string input = text(in);
    for (auto [args, named, says] : cases) {
        SCOPED_TRACE(named + " " + args.back());
        const Result r = keeptime(args);
        EXPECT_TRUE(r.status == 2 || (r.status == 1 && named == nowhere)) << r.status;
        auto said = split(r.err);  // with --json the "Done" lines come here too
        said.erase(std::remove(said.begin(), said.end(), "Done"), said.end());
        EXPECT_EQ(said.size(), 1u) << r.err;
        if (said.empty()) continue;
        EXPECT_TRUE(said[0].rfind("keeptime-cli: " + named + ": ", 0) == 0 && said[0].size() > named.size() + 20) << said[0];
        EXPECT_NE(said[0].find(says), std::string::npos) << said[0];
        EXPECT_TRUE(args.back() != "--json" || r.out.empty()) << "standard output holds JSON or nothing";
        EXPECT_EQ(testing::fileNames(dir.path()).size(), files) << "a file was added or removed";
        EXPECT_TRUE(text(in) == input && text(out) == "xxx") << "a file changed";
    }
    EXPECT_EQ(keeptime({"trim", in, "-o", dir / "empty.wav", "--start", "1", "--end", "1"}).err,
              "keeptime-cli: " + in.string() + ": the range holds no audio\n");
    // Done lines on standard output, or on standard error when standard output holds the JSON object alone.
    const std::string n = std::to_string(48000 * 12), done = "Done\nDone\n" + n + " == " + n + " == " + n + "\n";
    const Result plain = keeptime({"trim", in, "-o", out, "--start", "1", "--force"});
    const Result asJson = keeptime({"trim", in, "-o", out, "--start", "1", "--force", "--json"});
    EXPECT_TRUE(plain.status == 0 && plain.err.empty() && asJson.status == 0) << plain.err << asJson.err;
    EXPECT_EQ(std::pair(plain.out, asJson.err), std::pair(done, done));
    EXPECT_EQ(json::parse(asJson.out)["sharedBytes"], 0) << "on a file system that cannot share";  // one value alone
    for (const char* option : {"--help", "--version"}) EXPECT_EQ(keeptime({option}).status, 0) << option;
    // A name or an iXML text that is not UTF-8 still gives JSON: such bytes as U+FFFD, and a name's bytes in hex.
    const fs::path latin = dir / "caf\xe9.wav", copy = dir / "copy\xff.wav";
    testing::WavWriter().bext(1728000000).fmt().data(Bytes(600)).ixml("<BWFXML><SCENE>caf\xe9</SCENE></BWFXML>").write(latin);
    const auto hex = [](const std::string& bytes) {
        std::string digits;
        for (unsigned char c : bytes) digits += "0123456789abcdef"[c >> 4], digits += "0123456789abcdef"[c & 15];
        return digits;
    };
    for (const std::vector<std::string>& args : {std::vector<std::string>{"trim", latin, "-o", copy, "--json"},
                                                 std::vector<std::string>{"info", latin, "--json"}}) {
        const Result r = keeptime(args);
        const json got = json::parse(r.out, nullptr, false);
        EXPECT_EQ(std::pair(r.status, got.is_discarded()), std::pair(0, false)) << r.err;
        if (got.is_discarded()) continue;
        if (args[0] == "info") { EXPECT_EQ(got.value("scene", json()), "caf\ufffd"); continue; }
        EXPECT_EQ(json({got["input"], got["inputBytes"], got["outputBytes"]}),
                  json({dir.path().string() + "/caf\ufffd.wav", hex(latin), hex(copy)}));
    }
    EXPECT_FALSE(json::parse(asJson.out).contains("inputBytes")) << "only a name that is not UTF-8 has its bytes";
}

// A signal while copying: the unfinished copy goes (even after SIGKILL, as it has no name),
// the input stays as it was, and the exit status names the signal. A signal that was ignored when the command
// started (nohup ignores SIGHUP, a script's background job SIGINT) stays ignored: the copy goes on until SIGTERM.
TEST_F(ExternalCli, SignalsLeaveNoCopyAndTheInputAsItWas) {
    // 3 GiB of sparse audio: the copy takes seconds, the input costs no disk.
    testing::WavWriter().rf64().ds64().bext(1728000000).fmt().sparseData(std::int64_t{3} << 30).write(in);
    const auto state = [&] { return std::pair(fs::file_size(in), fs::last_write_time(in)); };
    const auto before = state();
    const auto running = [](pid_t pid) {  // without reaping it
        siginfo_t info{};
        return ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
    };
    const struct { std::string startedBy; std::vector<int> signals; } cases[] = {
        {"exec", {SIGINT}}, {"exec", {SIGHUP}}, {"exec", {SIGTERM}}, {"exec", {SIGPIPE}}, {"exec", {SIGKILL}},
        {"exec nohup", {SIGHUP, SIGTERM}}, {"trap '' INT; exec", {SIGINT, SIGTERM}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.startedBy + ", signal " + std::to_string(c.signals[0]));
        TempDir logs;
        const pid_t pid = start({"sh", "-c", c.startedBy + " \"$0\" \"$@\"", kCli, "trim", in, "-o", out, "--quiet"}, logs.path());
        for (int i = 0; i < 60000 && text(logs / "out").empty(); ++i)  // "Done": the copy begins
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (int signal : c.signals) {
            if (signal != c.signals.front()) {  // the signal before was ignored
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                EXPECT_TRUE(running(pid)) << "ended by an ignored signal";
            }
            ::kill(pid, signal);
        }
        EXPECT_EQ(finish(pid), 128 + c.signals.back()) << text(logs / "err");
        EXPECT_EQ(split(text(logs / "err")).size(), c.signals.back() == SIGKILL ? 0u : 1u) << text(logs / "err");
#ifdef KEEPTIME_PORTABLE
        // Without unnamed files a killed copy keeps its hidden name, which the next run in the folder names.
        if (c.signals.back() == SIGKILL) {
            ASSERT_EQ(leftovers(dir.path()).size(), 1u);
            const Result next = keeptime({"trim", in, "-o", dir / "next.wav", "--end-frame", "1"});
            EXPECT_NE(next.err.find(leftovers(dir.path()).front().string() + ": notice: a copy that a stopped run did not put in place"),
                      std::string::npos) << next.err;
            fs::remove(leftovers(dir.path()).front());
            fs::remove(dir / "next.wav");
        }
#endif
        EXPECT_EQ(testing::fileNames(dir.path()).size(), 1u) << "an unfinished copy was left";
    }
    {  // SIGPIPE before the copy begins (here while "Done" waits for room in a full pipe) ends the command too.
        TempDir logs;
        const fs::path full = logs / "full", small = logs / "small.wav";
        testing::WavWriter().bext(1728000000).fmt().data(testing::audioPattern(6000)).write(small);
        ASSERT_EQ(::mkfifo(full.c_str(), 0600), 0);
        const int pipe = ::open(full.c_str(), O_RDWR | O_NONBLOCK);
        for (int size : {4096, 1})
            while (::write(pipe, Bytes(4096).data(), std::size_t(size)) > 0) {}
        const pid_t pid = start({"sh", "-c", "exec \"$0\" \"$@\" > " + full.string(), kCli, "trim", small, "-o", logs / "copy.wav"},
                                logs.path());
        const auto stat = [&] { return text("/proc/" + std::to_string(pid) + "/stat"); };
        for (int asleep = 0, i = 0; asleep < 20 && i < 12000; ++i) {  // blocked writing: asleep for 100 ms on end
            asleep = stat().find("(keeptime-cli) S") != std::string::npos ? asleep + 1 : 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::kill(pid, SIGPIPE);
        for (char drain[4096]; running(pid); std::this_thread::sleep_for(std::chrono::milliseconds(1)))
            while (::read(pipe, drain, sizeof drain) > 0) {}
        ::close(pipe);
        EXPECT_EQ(finish(pid), 128 + SIGPIPE) << text(logs / "err");
        EXPECT_FALSE(fs::exists(logs / "copy.wav"));
    }
    // Several inputs: none of the copies is kept.
    TempDir logs, folder;
    const fs::path second = dir / "second.wav";
    testing::WavWriter().rf64().ds64().bext(1728000000).fmt().sparseData(std::int64_t{1} << 30).write(second);
    const pid_t pid = start({kCli, "trim", "--quiet", in, second, "-o", folder.path(), "--jobs", "1"}, logs.path());
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // its lines come at the end: give it time to begin
    ::kill(pid, SIGINT);
    EXPECT_EQ(finish(pid), 130) << text(logs / "err");
    EXPECT_EQ(testing::fileNames(folder.path()).size(), 0u) << text(logs / "err");
    EXPECT_TRUE(state() == before) << "the input changed";
    EXPECT_EQ(keeptime({"info", in, "--json"}, "").status, 0);
    EXPECT_EQ(run({"sh", "-c", kCli + " info " + in.string() + " --json > /dev/full"}).status, 1) << "a full disk";
}

// Several inputs, or a whole take, go into a folder under their own names, kept only when every copy is done.
TEST(ExternalCliTakes, SeveralFilesAndWholeTakesIntoAFolder) {
    TempDir dir;
    const fs::path in = dir / "in", out = dir / "out", copies = out / "", solo = in / "solo.wav";
    fs::create_directories(in), fs::create_directories(out);
    const std::int64_t stamp = 1728000000, deltas[] = {0, 3, -2, 1, 0};  // 10:00:00, and files a few samples apart
    std::vector<std::string> take;
    for (int i = 0; i < 5; ++i) {  // the iXML after the audio, as Metacorder writes it; the sixth file is missing
        take.push_back(in / ("Tr" + std::to_string(i + 1) + ".wav"));
        testing::WavWriter().fmt().data(testing::audioPattern(48000 * 6 * 3, i + 1))
            .ixml(testing::takeIXML("U1", "6", std::to_string(i + 1), stamp + deltas[i])).write(take[i]);
    }
    testing::WavWriter().bext(stamp).fmt().data(Bytes(600)).write(solo);
    const std::string limited = "ulimit -f 100; exec " + kCli + " trim --quiet " + take[0] + " " + solo.string() + " -o " + out.string();
    const struct { std::vector<std::string> args; int status; std::size_t copiesLeft; std::string says; } cases[] = {
        {{"trim", take[1], take[2], "-o", copies, "--start", "1", "--json"}, 0, 2, ""},  // each file from its own start
        {{"trim", take[1], take[2], "-o", copies}, 2, 2, "already exists; add --force"},
        {{"trim", take[1], "--take", "-o", copies, "--start-tc", "10:00:01", "--json", "--force", "--jobs", "2"}, 0, 5, ""},
        {{"trim", take[0], solo, "-o", copies / "Tr1.wav", "--force"}, 2, 5, "is not a folder"},
        // The inputs' own folder: refused as such, not answered with --force.
        {{"trim", take[0], "--take", "-o", in}, 2, 5, "a file of this save; choose another folder"},
        {{"sh", "-c", limited}, 1, 0, ""},  // one copy cannot be written: the other is not kept either
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args.back());
        if (c.args[0] == "sh") fs::remove_all(out), fs::create_directories(out);
        const Result r = c.args[0] == "sh" ? run(c.args) : keeptime(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(testing::fileNames(out).size(), c.copiesLeft);
        if (c.status != 0) { EXPECT_NE(r.err.find("keeptime-cli: "), std::string::npos); }
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        if (c.status == 2) { EXPECT_EQ(r.err.find("--force") == std::string::npos, c.says.find("--force") == std::string::npos) << r.err; }
        if (r.status != 0 || r.out.empty()) continue;
        const json copiesMade = json::parse(r.out);
        ASSERT_TRUE(copiesMade.is_array()) << r.out;
        const bool whole = c.copiesLeft == 5;
        EXPECT_EQ(copiesMade.size(), c.copiesLeft);
        EXPECT_EQ(r.err.find("1 of the take's 6 files is missing") != std::string::npos, whole) << r.err;
        for (std::size_t i = 0; i < copiesMade.size(); ++i) {
            EXPECT_EQ(copiesMade[i]["timeReferenceAfter"], whole ? stamp + 48000 : stamp + deltas[i + 1] + 48000);
            EXPECT_EQ(copiesMade[i].contains("notice"), whole);
            EXPECT_EQ(reading("riffcheck", copiesMade[i]["output"].get<std::string>())["errors"], json::array());
        }
    }
}

// A batch of a thousand files runs with 64 descriptors, and one copy that cannot be written leaves none of the
// thousand, and no hidden file. In memory (/dev/shm) where there is one, so that a thousand flushes cost nothing.
TEST(ExternalCliTakes, AThousandFilesUnderSixtyFourDescriptors) {
    TempDir dir(fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path());
    const fs::path in = dir / "in", out = dir / "out";
    fs::create_directories(in), fs::create_directories(out);
    std::string inputs;
    for (int i = 0; i < 1000; ++i) {
        const fs::path file = in / ("f" + std::to_string(1000 + i) + ".wav");
        testing::WavWriter().bext(1728000000).fmt(1, 48000, 16).data(testing::audioPattern(i == 700 ? 120000 : 960, i))
            .write(file);
        inputs += " '" + file.string() + "'";
    }
    const std::string trim = "ulimit -n 64 && exec '" + kCli + "' trim --quiet --start 0.001" + inputs + " -o '" + out.string() + "'";
    for (const std::string limit : {"", "ulimit -f 100 && "}) {  // -f: the copy of f1700 (120 KB) cannot be written
        SCOPED_TRACE(limit);
        fs::remove_all(out), fs::create_directories(out);
        const Result r = run({"sh", "-c", limit + trim});
        EXPECT_EQ(r.status, limit.empty() ? 0 : 1) << r.err.substr(0, 2000);
        EXPECT_EQ(testing::fileNames(out).size(), limit.empty() ? 1000u : 0u);
        if (!limit.empty()) { EXPECT_NE(r.err.find("f1700.wav: cannot write the copy: File too large"), std::string::npos) << r.err; }
    }
}

// A --force save of a take stopped while its copies are put in place. After Ctrl-C every file it replaced is
// there as it was (or, when the signal came too late to stop it, every copy), and no hidden file. After SIGKILL a person recovers as the man page says: while copies not yet in place
// (.NAME.keeptime-XXXXXX) are left, each .NAME.keeptime-original-XXXXXX is renamed back to NAME; when none are, the
// save was in place and the originals may go. Either way the folder then holds the old files or the new copies,
// never some of each. The signal is sent when the first copy shows under its name; a run that ends first is tried
// again.
TEST(ExternalCliTakes, AForcedSaveStoppedWhilePlacingLeavesTheFilesItReplaced) {
    TempDir dir(fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path());
    const fs::path in = dir / "in", out = dir / "out";
    fs::create_directories(in);
    constexpr int kMembers = 300;
    for (int i = 0; i < kMembers; ++i)
        testing::WavWriter().fmt(1, 48000, 16).data(testing::audioPattern(960, i))
            .ixml(testing::takeIXML("P", std::to_string(kMembers), std::to_string(i + 1), 1728000000))
            .write(in / ("T" + std::to_string(1000 + i) + ".wav"));
    const auto kept = [](const std::string& name) { return name.find(".keeptime-original-") != std::string::npos; };
    for (int signal : {SIGINT, SIGKILL}) {
        int interrupted = 0;
        for (int attempt = 0; attempt < 20 && interrupted < 3; ++attempt) {
            fs::remove_all(out), fs::create_directories(out);
            for (int i = 0; i < kMembers; ++i) testing::writeFile(out / ("T" + std::to_string(1000 + i) + ".wav"), Bytes(3, 'o'));
            TempDir logs;
            const pid_t pid = start({kCli, "trim", "--quiet", "--take", in / "T1000.wav", "-o", out, "--force"}, logs.path());
            int status = -1;
            for (int raw = 0; status < 0;) {
                if (::waitpid(pid, &raw, WNOHANG) == pid) status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
                else if (text(out / "T1000.wav").starts_with("RIFF")) ::kill(pid, signal), status = finish(pid);
            }
            if (status == 0) continue;  // it was done before the signal came
            ++interrupted;
            SCOPED_TRACE("signal " + std::to_string(signal) + ", attempt " + std::to_string(attempt));
            EXPECT_EQ(status, 128 + signal) << text(logs / "err");
            const auto left = testing::fileNames(out);
            const bool unfinished = std::any_of(left.begin(), left.end(), [&](auto& name) { return name[0] == '.' && !kept(name); });
            for (const auto& name : left) {  // a rename between two names of one file does nothing: the name stays
                if (kept(name) && unfinished) fs::rename(out / name, out / name.substr(1, name.find(".keeptime-") - 1));
                if (name[0] == '.') fs::remove(out / name);
            }
            std::map<std::string, int> contents;  // how many files begin so: "ooo" the old ones, "RIFF" copies
            for (const auto& name : testing::fileNames(out)) ++contents[text(out / name).substr(0, 4)];
            // All copies: the signal came once the save was in place (a Ctrl-C after the run, too, ends it so).
            EXPECT_TRUE(contents == (std::map<std::string, int>{{"ooo", kMembers}}) ||
                        contents == (std::map<std::string, int>{{"RIFF", kMembers}}))
                << "old files: " << contents["ooo"] << ", copies: " << contents["RIFF"];
            if (signal == SIGINT) { EXPECT_EQ(left.size(), std::size_t(kMembers)) << "hidden files were left"; }
        }
        if (interrupted == 0) std::cout << "signal " << signal << " never came while the copies were put in place\n";
    }
}

// On a file system that shares blocks (./test mounts one and names it in KEEPTIME_REFLINK_DIR) the copy's audio is
// the input's own blocks: readers accept it, `info` lists the JUNK chunk that lines it up, and filefrag marks all
// but the header's and the ends' blocks shared, so it takes no space (other tests write beside it: df cannot say).
TEST(ExternalSharedBlocks, ASharedCopyIsReadAndTakesNoSpace) {
    const char* folder = sharingFolder();
    if (!folder || !onPath("filefrag") || !onPath("ffprobe"))
        GTEST_SKIP() << "needs KEEPTIME_REFLINK_DIR (a file system that shares blocks) in a build that shares them, filefrag and ffprobe";
    TempDir dir(folder);
    const fs::path in = dir / "in.wav", out = dir / "out.wav";
    testing::WavWriter().bext(1728000000).fmt().data(testing::audioPattern(48000 * 6 * 40)).write(in);  // 40 s
    const Result r = keeptime({"trim", in, "-o", out, "--start", "1", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GT(json::parse(r.out)["sharedBytes"].get<std::int64_t>(), 48000 * 6 * 38);
    const std::string ownBlocks = "filefrag -v '" + out.string() + "' | awk -F: '/^ *[0-9]+:/ && !/shared/ { n += $4 } "
                                                                   "END { print n + 0 }'";
    EXPECT_LE(std::stoi(run({"sh", "-c", ownBlocks}).out), 3) << "blocks of its own: the header's and the ends'";
    EXPECT_EQ(reading("riffcheck", out)["errors"], json::array());
    EXPECT_EQ(reading("ffprobe", out)["format"]["duration"], "39.000000");
    EXPECT_NE(keeptime({"info", "--json", out}).out.find("\"JUNK\""), std::string::npos);
}

// Every notation of a point names the same frames and gives the same bytes; a point lands on its exact
// frame, not one early through the float error of the seconds it was turned into.
TEST(ExternalCliFrames, PointsLandOnTheExactFrame) {
    struct Case {  // after: the copy's time reference; the file is 3 s from 10:00:00 unless a row says otherwise
        std::string args;
        std::int64_t startFrame, frames, after, rate = 48000, length = 144000, reference = 1728000000;
    };
    const std::int64_t at1 = 1728000000, at2 = 1728096000, t = 2077149277;
    const Case cases[] = {
        {"--start 2", 96000, 48000, at2}, {"--start 0:02", 96000, 48000, at2}, {"--end 1", 0, 48000, at1},
        {"--start-tc 10:00:02", 96000, 48000, at2}, {"--start-from-end 1", 96000, 48000, at2},
        {"--end 00:00:01", 0, 48000, at1}, {"--end-tc 10:00:01", 0, 48000, at1}, {"--end-from-end 0:02", 0, 48000, at1},
        {"--start-frame 0100000", 100000, 44000, at1 + 100000}, {"--end-frame 048000", 0, 48000, at1},  // decimal
        {"--start-tc 12:01:14", 2723, 242636 - 2723, 43274LL * 48000, 48000, 242636, t},
        {"--start-from-end 1", 194636, 48000, t + 194636, 48000, 242636, t},
        {"--end-from-end 1", 0, 194636, t, 48000, 242636, t},
        // 10:50:04 at 32.032 kHz is stamp sample 39004 × 32032 = 1249376128: frame 30227.77 rounded up, whose
        // stamp rounds up to the sample after it.
        {"--start-tc 10:50:04 --weird-tc", 30228, 100000 - 30228, 1249376129, 32000, 100000, 1249345870},
    };
    std::map<std::array<std::int64_t, 3>, Bytes> copies;  // by file and frames
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        TempDir dir;
        testing::WavWriter().bext(c.reference).fmt(2, int(c.rate), 16).data(testing::audioPattern(c.length * 4))
            .write(dir / "in");
        const Result r = keeptime({"trim", dir / "in", "-o", dir / "out", "--json"}, c.args);
        ASSERT_EQ(r.status, 0) << r.err;
        const json got = json::parse(r.out);
        EXPECT_EQ(json({got["startFrame"], got["frames"], got["timeReferenceAfter"]}),
                  json({c.startFrame, c.frames, c.after}));
        const Bytes copy = testing::readFile(dir / "out");
        EXPECT_TRUE(copies.emplace(std::array{c.reference, c.startFrame, c.frames}, copy).first->second == copy)
            << "not the bytes another notation of the same frames gave";
    }
}

// --json reports the stamp the copy holds, as `info` reads it back, whichever chunk holds it: also an iXML after
// the audio that a trim from the first frame carries as it was.
TEST(ExternalCliFrames, TheReportedStampIsTheCopys) {
    const std::int64_t ten = 1728000000;
    const struct { const char* name; testing::WavWriter wav; std::string args; std::int64_t after; } cases[] = {
        {"iXML after the audio, from the start", testing::WavWriter().fmt().data(testing::audioPattern(48000 * 12))
             .ixml(testing::ixmlText(std::to_string(ten), {})), "", ten},
        {"iXML after the audio, from 1 s", testing::WavWriter().fmt().data(testing::audioPattern(48000 * 12))
             .ixml(testing::ixmlText(std::to_string(ten), {})), "--start 1", ten + 48000},
        {"bext before, iXML after", testing::WavWriter().bext(ten + 5).fmt().data(testing::audioPattern(48000 * 12))
             .ixml(testing::ixmlText({}, std::to_string(ten))), "--end 1", ten},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        c.wav.write(dir / "in.wav");
        const Result r = keeptime({"trim", dir / "in.wav", "-o", dir / "out.wav", "--json", "--tc-rate", "25"}, c.args);
        ASSERT_EQ(r.status, 0) << r.err;
        const json copy = json::parse(r.out), info = json::parse(keeptime({"info", dir / "out.wav", "--json", "--tc-rate", "25"}).out);
        EXPECT_EQ(json({copy["timeReferenceAfter"], copy["startTimecode"]}),
                  json({info["samplesSinceMidnight"], info["startTimecode"]}));
        EXPECT_EQ(copy["timeReferenceAfter"], c.after);
    }
}

// A trim from a label lands on the first frame of that label, at every standard rate, and `info` on the
// copy shows exactly that label; the frame before it is still the label before. HH:MM:SS is HH:MM:SS:00, in
// a file of ours that starts between labels and in a recorder's.
TEST(ExternalCliFrames, ATrimFromALabelStartsOnThatLabel) {
    TempDir dir;  // 70 s at 48 kHz from 10:00:00.5
    testing::WavWriter().bext(1728024000).fmt(1, 48000, 16).sparseData(70 * 96000).write(dir / "in");
    auto trim = [&](const fs::path& file, const std::string& point, const char* rate) {
        const auto r = keeptime({"trim", file, "-o", dir / "out", "--tc-rate", rate}, point + " --force --json");
        EXPECT_EQ(r.status, 0) << r.err;
        return json::parse(r.out, nullptr, false);
    };
    const fs::path recorder = KEEPTIME_SAMPLES_DIR "/recorder-a-ixml-timestamp.wav";
    for (const char* rate : {"23.976", "24", "25", "29.97df", "29.97nd", "30", "50", "59.94df", "60"}) {
        const std::string label = trim(dir / "in", "--start-frame 1500000", rate)["startTimecode"];  // some label within
        const json copy = trim(dir / "in", "--start-tc " + label, rate);
        const json info = json::parse(keeptime({"info", dir / "out", "--json", "--tc-rate", rate}).out);
        EXPECT_EQ(json({copy["startTimecode"], info["startTimecode"]}), json({label, label})) << rate;
        const std::string before = std::to_string(copy["startFrame"].get<std::int64_t>() - 1);
        EXPECT_NE(trim(dir / "in", "--start-frame " + before, rate)["startTimecode"], label) << rate;
        for (const fs::path& file : {dir / "in", recorder}) {
            if (!fs::exists(file)) continue;
            const std::string near = trim(file, "--start-frame 100000", rate)["startTimecode"], second = near.substr(0, 8);
            const Bytes whole = (trim(file, "--start-tc " + second + near[8] + "00", rate), testing::readFile(dir / "out"));
            const json bare = trim(file, "--start-tc " + second, rate);
            EXPECT_TRUE(testing::readFile(dir / "out") == whole) << file << " " << rate << " " << second;
            EXPECT_EQ(bare["startTimecode"].get<std::string>().substr(0, 8), second) << file << " " << rate;
        }
    }
    const Result info = keeptime({"info", recorder, "--json"});
    if (info.status != 0) GTEST_SKIP() << "../shared/samples is not beside the checkout";
    const json got = json::parse(info.out);  // 24000/1001 NDF, as the recorder itself shows it
    EXPECT_EQ(json({got["timecodeRate"], got["startTimecode"], got["endTimecode"], got["lengthTimecode"]}),
              json({"24000/1001", "12:39:59:00", "12:40:04:00", "0:00:05:00"}));
}

// A 24-bit stereo file with known samples: the exact data at each bit depth, a last pixel of one frame.
TEST(ExternalCliPeaks, KnownSamplesGiveExactData) {
    TempDir dir;
    const std::int32_t samples[] = {0x123456, -0x800000, -0x100, 0x7FFFFF, 0x7FFFFF, 0x100, -0x800000, -1, 0x100, 0x345678};
    Bytes audio;
    for (std::int32_t v : samples) audio.insert(audio.end(), {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16)});
    testing::WavWriter().fmt(2, 48000, 24).data(audio).write(dir / "in.wav");
    const json data16 = {-1, 4660, -32768, 32767, -32768, 32767, -1, 1, 1, 1, 13398, 13398};
    const json data8 = {-1, 18, -128, 127, -128, 127, -1, 0, 0, 0, 52, 52};
    const std::tuple<std::string, int, json> cases[] = {{"--samples-per-pixel 2", 16, data16},
                                                        {"--pixels-per-second 20000 --bits 16", 16, data16},  // 2.4
                                                        {"--samples-per-pixel 2 --bits 8", 8, data8}};
    for (const auto& [args, bits, data] : cases) {
        SCOPED_TRACE(args);
        const Result r = keeptime({"peaks", dir / "in.wav"}, args), toFile = keeptime({"peaks", dir / "in.wav", "-o",
                                                                                      dir / "out.json"}, args);
        ASSERT_EQ(std::tuple(r.status, r.err, toFile.status, toFile.out + toFile.err), std::tuple(0, "", 0, ""));
        const json got = json::parse(r.out);
        EXPECT_EQ(got, json({{"version", 2}, {"channels", 2}, {"sample_rate", 48000}, {"samples_per_pixel", 2},
                             {"bits", bits}, {"length", 3}, {"data", data}}));
        EXPECT_EQ(text(dir / "out.json"), r.out);
    }
    // Floats: times 32767, rounded, clamped; NaN as 0.
    Bytes floats;
    for (float v : {0.5f, -1.5f, NAN, 1.0f, -1.0f, 0.25f})
        floats.resize(floats.size() + 4), writeLE(floats, floats.size() - 4, std::bit_cast<std::uint32_t>(v));
    testing::WavWriter().fmt(1, 8000, 32, 3).data(floats).write(dir / "float.wav");
    for (auto [bits, data] : {std::pair(16, json({16384, 16384, -32768, -32768, 0, 0, 32767, 32767, -32767, -32767, 8192, 8192})),
                              std::pair(8, json({64, 64, -128, -128, 0, 0, 127, 127, -128, -128, 32, 32}))}) {
        const Result r = keeptime({"peaks", dir / "float.wav", "--samples-per-pixel", "1", "--bits", std::to_string(bits)});
        EXPECT_EQ(json::parse(r.out, nullptr, false).value("data", json()), data) << r.err;
    }
    for (const std::string args : {"--bits 12", "--samples-per-pixel 0", "--pixels-per-second 1.5",
                                   "--samples-per-pixel 2 --pixels-per-second 9"}) {
        const Result r = keeptime({"peaks", dir / "in.wav"}, args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err.find("179769"), std::string::npos) << r.err;  // a count is refused in words, not by a double's limits
    }
    // A pixel wider than the audio holds all of it, however near the int64 limit its frame count is.
    const json widest = json::parse(keeptime({"peaks", dir / "in.wav", "--samples-per-pixel", "9223372036854775807"}).out);
    EXPECT_EQ(json({widest["length"], widest["data"]}), json({1, {-32768, 32767, -32768, 32767}}));
    const Result refused = keeptime({"peaks", dir / "in.wav", "-o", dir / "in.wav"});  // never over the recording
    EXPECT_EQ(std::tuple(refused.status, split(refused.err).size()), std::tuple(2, 1u));
    EXPECT_EQ(testing::readFile(dir / "in.wav").size(), 44 + audio.size());
}

// Files sox wrote, against ffmpeg's decoding to 16 bits (the top 16 bits, as the format's values are).
TEST(ExternalCliPeaks, PeaksOfSoxFilesMatchFfmpegsSamples) {
    if (!onPath("sox") || !onPath("ffmpeg")) GTEST_SKIP() << "sox or ffmpeg is not installed";
    for (const std::string layout : {"-c 2 -b 24", "-c 1 -b 8", "-c 6 -b 32"}) {
        SCOPED_TRACE(layout);
        TempDir dir;
        const int channels = layout[3] - '0';
        ASSERT_EQ(run({"sh", "-c", "sox -n -r 44100 " + layout + " " + (dir / "in.wav").string() +
                                   " synth 0.7 whitenoise vol 0.9"}).status, 0);
        const Result raw = run({"ffmpeg", "-v", "error", "-i", dir / "in.wav", "-f", "s16le", "-c:a", "pcm_s16le", "-"});
        const Result r = keeptime({"peaks", dir / "in.wav", "--samples-per-pixel", "1000"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::int16_t> s(raw.out.size() / 2);
        std::memcpy(s.data(), raw.out.data(), s.size() * 2);
        json data = json::array();
        for (std::size_t frame = 0; frame * channels < s.size(); frame += 1000)
            for (int c = 0; c < channels; ++c) {
                std::int16_t lo = INT16_MAX, hi = INT16_MIN;
                for (std::size_t i = frame * channels + c; i < std::min(s.size(), (frame + 1000) * channels); i += channels)
                    lo = std::min(lo, s[i]), hi = std::max(hi, s[i]);
                data.push_back(lo), data.push_back(hi);
            }
        EXPECT_EQ(json::parse(r.out), json({{"version", 2}, {"channels", channels}, {"sample_rate", 44100},
                                            {"samples_per_pixel", 1000}, {"bits", 16}, {"length", 31}, {"data", data}}));
    }
}

}  // namespace
}  // namespace keeptime::external
