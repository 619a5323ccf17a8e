// keeptime-cli split run as a user would: every piece is the copy `trim` makes of its frames, byte for byte, and
// readers that share no code with ours (riffcheck.py, ffprobe, npm wavefile) accept it; a refusal writes nothing,
// a take is cut at the same times of day, and a signal leaves none of the pieces.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "tests/cli/CliRun.hpp"

namespace keeptime::external {
namespace {

void writeText(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

struct Piece {
    std::string file;  // the name it is written under
    std::int64_t first, end;
};

// The pieces of in.wav as split writes them (in a folder under base), each checked against `trim` of its frames
// and the readers; split's JSON.
json expectPieces(const fs::path& in, const std::vector<std::string>& args, const std::vector<Piece>& expected,
                  const fs::path& base = fs::temp_directory_path()) {
    TempDir out(base), trims(base);
    std::vector<std::string> argv = {"split", in.string(), "-o", out.path().string(), "--json", "-q"};
    argv.insert(argv.end(), args.begin(), args.end());
    const Result r = keeptime(argv);
    EXPECT_EQ(r.status, 0) << r.err;
    const json copies = json::parse(r.out, nullptr, false);
    if (r.status != 0 || copies.is_discarded() || copies.size() != expected.size()) {
        ADD_FAILURE() << "not the pieces expected: " << r.out;
        return copies;
    }
    EXPECT_EQ(testing::fileNames(out.path()).size(), expected.size());
    const bool wavefile = !nodeModules().empty();
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Piece& piece = expected[i];
        SCOPED_TRACE(piece.file);
        const json& copy = copies[i];
        const fs::path written = out / piece.file;
        EXPECT_EQ(json({copy["output"], copy["startFrame"], copy["frames"], copy["index"]}),
                  json({written.string(), piece.first, piece.end - piece.first, i + 1}));
        const fs::path trimmed = trims / piece.file;
        const Result t = keeptime({"trim", in.string(), "-o", trimmed.string(), "--start-frame", std::to_string(piece.first),
                                   "--end-frame", std::to_string(piece.end)});
        EXPECT_EQ(t.status, 0) << t.err;
        EXPECT_TRUE(text(written) == text(trimmed)) << "not the bytes trim writes for these frames";
        EXPECT_EQ(reading("riffcheck", written)["errors"], json::array());
        const json probe = reading("ffprobe", written);
        const std::int64_t rate = std::stoll(probe["streams"][0]["sample_rate"].get<std::string>());
        EXPECT_NEAR(std::stod(probe["format"]["duration"].get<std::string>()), double(piece.end - piece.first) / rate, 2e-6);
        if (wavefile) { EXPECT_FALSE(reading("wavefile", written).contains("error")); }
    }
    return copies;
}

// 3 s of 48 kHz stereo 16-bit with cue points, labels and one region, written by npm wavefile (skips without it).
fs::path markedByWavefile(const fs::path& dir) {
    const fs::path file = dir / "marked.wav";
    if (nodeModules().empty()) return {};
    const Result wrote = run({"env", "NODE_PATH=" + nodeModules(), "node", KEEPTIME_EXTERNAL_DIR "/wavefile-write.js", file});
    return wrote.status == 0 ? file : fs::path();
}

TEST(ExternalSplit, EachSourceGivesTheCopiesTrimMakes) {
    if (!onPath("ffprobe") || !onPath("python3")) GTEST_SKIP() << "ffprobe or python3 is not installed";
    TempDir dir;
    const fs::path in = markedByWavefile(dir.path());
    if (in.empty()) GTEST_SKIP() << "npm wavefile is missing (npm install --prefix build/npm wavefile)";
    writeText(dir / "scenes.csv", ("Name, Start, End\r\n\"Scene 1, wide\",10:00:00:12,10:00:01:00\r\n"
                                                            "close,10:00:00:00,10:00:03:00\r\n"));
    writeText(dir / "labels.txt", ("0.250000\t1.500000\tcar pass\n\\\t100.0\t2000.0\n"
                                                            "2.5\t3.000001\tbird\n"));
    const std::string csv = (dir / "scenes.csv").string(), labels = (dir / "labels.txt").string();
    // Markers at 0, 0.5, 1, 1.5, 2, 2.5 (the region's, to 2.9) and 2.999 s.
    const struct { std::vector<std::string> args; std::vector<Piece> pieces; } cases[] = {
        {{"--at-markers"}, {{"marked_start.wav", 0, 24000}, {"marked_half.wav", 24000, 48000}, {"marked_one.wav", 48000, 72000},
                            {"marked_one and a half.wav", 72000, 96000}, {"marked_two.wav", 96000, 120000},
                            {"marked_region.wav", 120000, 143952}, {"marked_last.wav", 143952, 144000}}},
        {{"--regions", "--name", "{name}-{tc}", "--tc-rate", "25"}, {{"region-10000212.wav", 120000, 139200}}},
        {{"--every", "1", "--seconds"}, {{"marked_1.wav", 0, 48000}, {"marked_2.wav", 48000, 96000}, {"marked_3.wav", 96000, 144000}}},
        {{"--every", "0:01.25", "--seconds", "--handles", "0.5"},  // handles clamped at both edges
         {{"marked_1.wav", 0, 84000}, {"marked_2.wav", 36000, 144000}, {"marked_3.wav", 96000, 144000}}},
        {{"--list", csv, "--tc-rate", "25"}, {{"marked_Scene 1, wide.wav", 23040, 48000}, {"marked_close.wav", 0, 144000}}},
        {{"--list", labels, "--name", "{n}_{name}"}, {{"1_car pass.wav", 12000, 72000}, {"2_bird.wav", 120000, 144000}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        expectPieces(in, c.args, c.pieces);
    }
    // A marker at a piece's first frame is kept at 0; the one at its end goes with the next piece.
    TempDir out;
    ASSERT_EQ(keeptime({"split", in, "-o", out.path(), "--at-markers", "-q"}).status, 0);
    json points = json::array();
    const json one = reading("wavefile", out / "marked_one.wav");
    for (const json& point : one["cuePoints"])
        points.push_back({point["label"], point["sampleOffset"]});
    EXPECT_EQ(points, json::parse(R"([["one", 0]])"));
}

TEST(ExternalSplit, OthersFilesSplitEverySecond) {
    if (!onPath("ffprobe") || !onPath("python3")) GTEST_SKIP() << "ffprobe or python3 is not installed";
    TempDir dir;
    // 2.5 s each: RF64 from ffmpeg (96 kHz, its stamp in bext), and sox's plain RIFF with no stamp at all.
    const std::pair<std::string, std::string> made[] = {
        {"ffmpeg.wav", "ffmpeg -v error -f lavfi -i sine=sample_rate=96000 -af atrim=end_sample=240000 -ac 2 -c:a pcm_s24le "
                       "-rf64 always -write_bext 1 -metadata time_reference=4147200000"},
        {"sox.wav", "sox -n -r 44100 -c 2 -b 16 {} synth 2.5 sine 300"}};
    for (const auto& [name, how] : made) {
        SCOPED_TRACE(name);
        const fs::path file = dir / name;
        std::string command = how;
        if (const auto at = command.find("{}"); at != command.npos) command.replace(at, 2, "'" + file.string() + "'");
        else command += " '" + file.string() + "'";
        const Result wrote = run({"sh", "-c", command});
        if (wrote.status != 0) GTEST_SKIP() << "could not write " << name << ": " << wrote.err;
        const std::int64_t rate = name == "sox.wav" ? 44100 : 96000, frames = rate * 5 / 2;
        const std::string stem = fs::path(name).stem().string();
        expectPieces(file, {"--every", "1", "--seconds"},
                     {{stem + "_1.wav", 0, rate}, {stem + "_2.wav", rate, 2 * rate}, {stem + "_3.wav", 2 * rate, frames}});
    }
}

// On a file system that shares blocks (./test names one in KEEPTIME_REFLINK_DIR) every piece shares the input's
// blocks, each lined up by its own JUNK chunk, and is still the copy trim makes.
TEST(ExternalSplit, PiecesShareTheInputsBlocks) {
    const char* folder = sharingFolder();
    if (!folder || !onPath("ffprobe") || !onPath("python3"))
        GTEST_SKIP() << "needs KEEPTIME_REFLINK_DIR (a file system that shares blocks) in a build that shares them, ffprobe and python3";
    TempDir dir(folder);
    testing::WavWriter().bext(1728000000).fmt().data(testing::audioPattern(48000 * 6 * 40)).write(dir / "in.wav");
    const json copies = expectPieces(dir / "in.wav", {"--every", "10", "--seconds"},
                                     {{"in_1.wav", 0, 480000}, {"in_2.wav", 480000, 960000}, {"in_3.wav", 960000, 1440000},
                                      {"in_4.wav", 1440000, 1920000}},
                                     folder);
    for (const json& copy : copies) EXPECT_GT(copy.value("sharedBytes", std::int64_t{0}), 48000 * 6 * 9) << copy.dump();
}

TEST(ExternalSplit, RealRecordingsSplitEverySecond) {
    if (!onPath("ffprobe") || !onPath("python3")) GTEST_SKIP() << "ffprobe or python3 is not installed";
    const fs::path samples = KEEPTIME_SAMPLES_DIR, recorder = samples / "recorder-a-ixml-timestamp.wav";
    if (!fs::exists(recorder)) GTEST_SKIP() << "no " << recorder << " (../shared/samples is not beside the checkout)";
    // 240240 frames from 12:39:59:00 at 23.976: a label's first frame, rounded up, every 24 labels.
    expectPieces(recorder, {"--every", "00:00:01:00"},
                 {{"recorder-a-ixml-timestamp_1.wav", 0, 48048}, {"recorder-a-ixml-timestamp_2.wav", 48048, 96096},
                  {"recorder-a-ixml-timestamp_3.wav", 96096, 144144}, {"recorder-a-ixml-timestamp_4.wav", 144144, 192192},
                  {"recorder-a-ixml-timestamp_5.wav", 192192, 240239}});
}

TEST(ExternalSplit, RefusalsSayWhyAndWriteNothing) {
    TempDir dir, out;
    const fs::path in = dir / "in.wav", none = dir / "plain.wav";
    testing::WavWriter().bext(1728000000).fmt().ixml(testing::ixmlText({}, {}))
        .data(testing::audioPattern(48000 * 6 * 3))
        .chunk("cue ", testing::cue({testing::point(1, 0, 48000), testing::point(2, 0, 96000)})).write(in);
    testing::WavWriter().bext(1728000000).fmt().data(testing::audioPattern(6000)).write(none);
    const auto list = [&](const std::string& name, const std::string& rows) {
        writeText(dir / name, rows);
        return (dir / name).string();
    };
    testing::writeFile(out / "in_2.wav", Bytes(3, 'x'));
    const struct { std::vector<std::string> args; std::string says; } cases[] = {
        {{"--at-markers", "--name", "cut"}, "/cut.wav: segments 1 and 2 would both be written under this name"},
        {{"--at-markers"}, "/in_2.wav: already exists; add --force to replace it"},
        {{"--every", "1", "--name", "{n}/{file}"}, "--name: a name pattern names files in the output folder"},
        {{"--every", "1", "--name", "{reel}"}, "--name: {reel} is no field"},
        {{"--every", "1", "--name", "{scene}_{n}"}, "in.wav: names no SCENE in its iXML"},
        {{"--every", "0"}, "--every: \"0\" is no length"},
        {{"--every", "2", "--handles", "0"}, "/in_2.wav: already exists"},  // no handles is a length too
        {{"--every", "1", "--handles", "1:60"}, "--handles: \"1:60\": minutes and seconds run 00–59"},
        {{"--list", list("late.csv", "name,start,end\na,10:00:00,10:00:01\n\nb,10:00:02,10:00:04\n")},
         "late.csv: line 4: end \"10:00:04\" lies outside the recording"},
        {{"--list", list("back.csv", "name,start,end\na,10:00:02,10:00:01\n")}, "back.csv: line 2: the end 10:00:01 is not after the start"},
        {{"--list", list("few.csv", "name,start,end\na,10:00:02\n")}, "few.csv: line 2: not a row of name,start,end"},
        {{"--list", list("late.txt", "0\t1\ta\n2.5\t3.5\tb\n")}, "late.txt: line 2: \"3.5\" lies outside the recording"},
        {{"--list", list("words.txt", "start end label\n")}, "words.txt: line 1: not a label line"},
        {{"--list", list("empty.txt", "\n")}, "empty.txt: lists no segments"},
        {{"--list", (dir / "missing.csv").string()}, "missing.csv: cannot open the file"},
        {{"--regions"}, "in.wav: holds no regions"},
        {{"--every", "1", "--at-markers"}, "usage: Exactly 1 option from"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        std::vector<std::string> argv = {"split", in.string(), "-o", out.path().string(), "-q", "--seconds"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const Result r = keeptime(argv);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(split(r.err).size(), 1u) << r.err;
        EXPECT_EQ(testing::fileNames(out.path()), std::vector<std::string>{"in_2.wav"});
    }
    EXPECT_NE(keeptime({"split", none, "-o", out.path(), "--at-markers"}).err.find("holds no markers"), std::string::npos);
}

// Every file of a take is cut at the same times of day; a member that starts late holds only part of the first
// piece, and its copy is cut to that, with a notice.
TEST(ExternalSplit, ATakeIsCutAtTheSameTimesOfDay) {
    TempDir dir, out;
    const std::int64_t stamp = 1728000000, late = 12000;  // the third member starts 0.25 s late
    const std::int64_t starts[] = {stamp, stamp + 3, stamp + late};
    std::vector<fs::path> take;
    for (int i = 0; i < 3; ++i) {
        take.push_back(dir / ("Tr" + std::to_string(i + 1) + ".wav"));
        testing::WavWriter().fmt(1, 48000, 16).data(testing::audioPattern(48000 * 2 * 3, i + 1))
            .ixml(testing::takeIXML("U7", "3", std::to_string(i + 1), starts[i])).write(take[i]);
    }
    writeText(dir / "rows.txt", "0.1\t1\ta\n1\t2\tb\n2\t2.9\tc\n");
    const Result r = keeptime({"split", take[0], "-o", out.path(), "--take", "--list", dir / "rows.txt", "--json", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Tr3.wav: notice: holds only"), std::string::npos) << r.err;
    const json copies = json::parse(r.out);
    ASSERT_EQ(copies.size(), 9u);
    for (const json& copy : copies) {
        const std::size_t member = std::stoul(fs::path(copy["input"].get<std::string>()).stem().string().substr(2)) - 1;
        const std::int64_t index = copy["index"], first[] = {4800, 48000, 96000}, end[] = {48000, 96000, 139200};
        SCOPED_TRACE(copy["output"].get<std::string>());
        // Each copy starts at the piece's time of day, or at the member's own first sample where that is later.
        const std::int64_t from = std::max(stamp + first[index - 1], starts[member]);
        EXPECT_EQ(json({copy["timeReferenceAfter"], copy["frames"]}), json({from, stamp + end[index - 1] - from}));
        EXPECT_EQ(copy["output"], (out / ("Tr" + std::to_string(member + 1) + "_" + "abc"[index - 1] + ".wav")).string());
        EXPECT_EQ(copy.contains("notice"), member == 2 && index == 1) << copy.dump();
    }
}

// SIGINT while a 100-piece split writes leaves none of the pieces, hidden or not. The signal comes once the first
// piece is staged (a hidden name shows in the folder), long before the last of 2 GB can be written.
TEST(ExternalSplit, AnInterruptedSplitLeavesNoPiece) {
    TempDir dir, out, logs;
    const fs::path in = dir / "long.wav";
    testing::WavWriter().rf64().ds64().bext(1728000000).fmt().sparseData(std::int64_t{48000} * 6 * 7456).write(in);
    // 7456 s (2 GB) in pieces of 74.56 s.
    const pid_t pid = start({kCli, "split", in, "-o", out.path(), "--every", "74.56", "--seconds", "-q", "--jobs", "2"},
                            logs.path());
    bool staged = false;
    for (int i = 0; i < 120000 && !staged; ++i) {
        for (const auto& name : testing::fileNames(out.path())) staged = staged || name[0] == '.';
        if (!staged) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(staged) << text(logs / "err");
    ::kill(pid, SIGINT);
    EXPECT_EQ(finish(pid), 130) << text(logs / "err");
    EXPECT_EQ(testing::fileNames(out.path()), std::vector<std::string>{}) << text(logs / "err");
    EXPECT_NE(text(logs / "err").find("none of this run's 100 copies was kept"), std::string::npos) << text(logs / "err");
}

}  // namespace
}  // namespace keeptime::external
