// keeptime-cli end to end: exit statuses, messages, output streams, Ctrl-C, and
// the three ways of naming the same point.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/TempDir.hpp"
#include "tests/WavWriter.hpp"
#include "tests/external/External.hpp"

namespace keeptime::external {
namespace {

using testing::TempDir;
using testing::WavWriter;

// 3 s of 48 kHz stereo 24-bit that starts at 10:00:00.
void writeRecording(const fs::path& file) {
    WavWriter().bext(1728000000).fmt(2, 48000, 24).data(testing::audioPattern(48000 * 6 * 3)).write(file);
}

// The header and the first audio (the whole file is too big to compare).
std::string head(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes(1 << 16, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// "{in}", "{out}" and "{dir}/..." stand for in.wav, out.wav and the folder that holds them.
std::vector<std::string> commandLine(const std::vector<std::string>& args, const fs::path& folder) {
    std::vector<std::string> argv = {cli()};
    for (std::string a : args) {
        if (a == "{in}") a = (folder / "in.wav").string();
        if (a == "{out}") a = (folder / "out.wav").string();
        if (a.rfind("{dir}", 0) == 0) a.replace(0, 5, folder.string());
        argv.push_back(a);
    }
    return argv;
}

class ExternalCli : public ::testing::Test {
protected:
    void SetUp() override { writeRecording(in); }
    std::vector<std::string> expand(const std::vector<std::string>& args) const {
        return commandLine(args, dir.path());
    }
    TempDir dir;
    const fs::path in = dir / "in.wav";
    const fs::path out = dir / "out.wav";
};

struct Refusal {
    std::string name;
    std::function<void(const fs::path& folder)> setUp;
    std::vector<std::string> args;
    std::string what;  // what the message names first
    int status = 2;
};

TEST(ExternalCliRefusals, OneLineNamingTheCauseAndEverythingLeftAsItWas) {
    auto none = [](const fs::path&) {};
    auto text = [](const fs::path& d) { testing::writeFile(d / "notes.txt", Bytes(400, 'x')); };
    auto folder = [](const fs::path& d) { fs::create_directory(d / "folder"); };
    auto existing = [](const fs::path& d) { testing::writeFile(d / "out.wav", Bytes(3, 'x')); };
    auto symlink = [](const fs::path& d) { fs::create_symlink(d / "in.wav", d / "out.wav"); };
    auto hardlink = [](const fs::path& d) { fs::create_hard_link(d / "in.wav", d / "out.wav"); };
    const std::vector<Refusal> cases = {
        {"info, missing file", none, {"info", "{dir}/missing.wav"}, "{dir}/missing.wav"},
        {"info, folder", folder, {"info", "{dir}/folder"}, "{dir}/folder"},
        {"info --json, not a WAV file", text, {"info", "--json", "{dir}/notes.txt"}, "{dir}/notes.txt"},
        {"trim, missing file", none, {"trim", "{dir}/missing.wav", "-o", "{out}"}, "{dir}/missing.wav"},
        {"trim, folder", folder, {"trim", "{dir}/folder", "-o", "{out}"}, "{dir}/folder"},
        {"trim, not a WAV file", text, {"trim", "{dir}/notes.txt", "-o", "{out}"}, "{dir}/notes.txt"},
        {"existing output", existing, {"trim", "{in}", "-o", "{out}"}, "{out}"},
        {"output is the input", none, {"trim", "{in}", "-o", "{in}", "--force"}, "{in}"},
        {"output is a symlink to the input", symlink, {"trim", "{in}", "-o", "{out}", "--force"}, "{out}"},
        {"output is a hard link to the input", hardlink, {"trim", "{in}", "-o", "{out}", "--force"}, "{out}"},
        {"in point after out point", none, {"trim", "{in}", "-o", "{out}", "--start", "2", "--end", "1", "--json"}, "{in}"},
        {"in point after the end", none, {"trim", "{in}", "-o", "{out}", "--start-tc", "10:00:09"}, "{in}"},
        {"unreadable time", none, {"trim", "{in}", "-o", "{out}", "--start", "1.5"}, "--start"},
        {"unreadable time of day", none, {"trim", "{in}", "-o", "{out}", "--end-tc", "10:00:0x"}, "--end-tc"},
        // A copy that cannot begin: a failed copy (1) or a refusal (2), never success.
        {"missing output folder", none, {"trim", "{in}", "-o", "{dir}/nowhere/out.wav"}, "{dir}/nowhere/out.wav", 1},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir scratch;  // a fresh folder per case, so that nothing left behind goes unseen
        const fs::path input = scratch / "in.wav", output = scratch / "out.wav";
        writeRecording(input);
        c.setUp(scratch.path());
        const Bytes original = testing::readFile(input);
        const Bytes outputBefore = fs::is_regular_file(fs::symlink_status(output)) ? testing::readFile(output) : Bytes();
        const auto filesBefore = listFolder(scratch.path());

        const Result r = run(commandLine(c.args, scratch.path()));
        if (c.status == 1) {
            EXPECT_TRUE(r.status == 1 || r.status == 2) << r.status;
        } else {
            EXPECT_EQ(r.status, c.status);
        }
        auto errLines = lines(r.err);  // with --json the parser's "Done" lines come here too
        errLines.erase(std::remove(errLines.begin(), errLines.end(), "Done"), errLines.end());
        ASSERT_EQ(errLines.size(), 1u) << r.err;
        const std::string prefix = "keeptime-cli: " + commandLine({c.what}, scratch.path())[1] + ": ";
        EXPECT_EQ(errLines[0].rfind(prefix, 0), 0u) << errLines[0];
        EXPECT_GT(errLines[0].size(), prefix.size() + 5) << "no reason given";
        if (std::find(c.args.begin(), c.args.end(), "--json") != c.args.end()) {
            EXPECT_EQ(r.out, "") << "standard output must hold JSON or nothing";
        }
        EXPECT_EQ(listFolder(scratch.path()), filesBefore) << "a file was added or removed";
        EXPECT_TRUE(testing::readFile(input) == original) << "the input changed";
        EXPECT_TRUE(testing::readFile(output) == outputBefore || outputBefore.empty()) << "the old output changed";
    }
}

TEST_F(ExternalCli, ForceReplacesAnExistingOutput) {
    testing::writeFile(out, Bytes(3, 'x'));
    const Result r = run(expand({"trim", "{in}", "-o", "{out}", "--force", "--start", "1"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::file_size(out), fs::file_size(in) - 48000 * 6);
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"in.wav", "out.wav"}));
}

TEST_F(ExternalCli, SystemLinesGoToStandardOutputUnlessItCarriesJson) {
    const std::string copied = std::to_string(48000 * 6 * 2);
    const std::vector<std::string> plainLines = {"Done", "Done", copied + " == " + copied + " == " + copied};

    Result r = run(expand({"trim", "{in}", "-o", "{out}", "--start", "1"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out), plainLines);
    EXPECT_EQ(r.err, "");

    r = run(expand({"trim", "{in}", "-o", "{out}", "--start", "1", "--force", "--json"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const json copy = json::parse(r.out);  // throws on anything beside the one object
    EXPECT_TRUE(copy.is_object());
    EXPECT_EQ(copy["audioBytes"], 48000 * 6 * 2);
    EXPECT_EQ(copy["timeReferenceBefore"], 1728000000);
    EXPECT_EQ(copy["timeReferenceAfter"], 1728048000);
    EXPECT_EQ(lines(r.err), plainLines);

    r = run(expand({"info", "--json", "{in}"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(json::parse(r.out).is_object());
    EXPECT_EQ(lines(r.err), std::vector<std::string>{"Done"});

    r = run(expand({"info", "{in}"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out).at(0), "Done");
    EXPECT_NE(r.out.find("10:00:03"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST_F(ExternalCli, HelpAndVersion) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"--version"}, {"trim", "--help"}}) {
        const Result r = run(expand(args));
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_NE(r.out.find("keeptime-cli"), std::string::npos) << r.out;
    }
    EXPECT_NE(run(expand({"--version"})).out.find(KEEPTIME_VERSION), std::string::npos);
}

// Every notation names the same frames: 10:00:00 is the file's start, 3 s its length.
TEST_F(ExternalCli, TheThreeNotationsChooseTheSameCopy) {
    const std::vector<std::vector<std::vector<std::string>>> groups = {
        {{"--start", "2"}, {"--start", "0:02"}, {"--start-tc", "10:00:02"}, {"--start-from-end", "1"}},
        {{"--end", "1"}, {"--end", "00:00:01"}, {"--end-tc", "10:00:01"}, {"--end-from-end", "0:02"}},
        // Points beyond the file are brought back to its edges.
        {{}, {"--start-tc", "9:00:00"}, {"--start-from-end", "1:00"}, {"--end", "1:00:00"}, {"--end-from-end", "-5"}},
    };
    for (const auto& group : groups) {
        std::optional<Bytes> first;
        for (const auto& notation : group) {
            std::vector<std::string> args = {"trim", "{in}", "-o", "{out}", "--force"};
            args.insert(args.end(), notation.begin(), notation.end());
            SCOPED_TRACE(notation.empty() ? "no point given" : notation[0] + " " + notation[1]);
            const Result r = run(expand(args));
            ASSERT_EQ(r.status, 0) << r.err;
            const Bytes copy = testing::readFile(out);
            if (!first) first = copy;
            EXPECT_TRUE(copy == *first) << "differs from the copy made with the group's first notation";
        }
    }
}

TEST_F(ExternalCli, CtrlCRemovesTheUnfinishedCopyAndKeepsAnOldOne) {
    // 3 GiB of sparse audio: the copy takes seconds, the input costs no disk.
    const fs::path big = dir / "big.wav";
    WavWriter().rf64().ds64().bext(1728000000).fmt(2, 48000, 24).sparseData(std::int64_t{3} << 30).write(big);
    fs::remove(in);
    const auto sizeBefore = fs::file_size(big);
    const auto timeBefore = fs::last_write_time(big);
    const std::string headBefore = head(big);
    TempDir logs;  // outside the folder that must stay clean

    for (const bool oldCopy : {false, true}) {
        SCOPED_TRACE(oldCopy ? "replacing an earlier copy (--force)" : "new copy");
        if (oldCopy) testing::writeFile(out, Bytes(5, 'x'));
        const auto filesBefore = listFolder(dir.path());
        const pid_t pid = start({cli(), "trim", big.string(), "-o", out.string(), "--quiet", "--force"},
                                logs / "stdout", logs / "stderr");
        // Wait until the copy is being written (its temporary file is in the folder), then interrupt.
        bool copying = false;
        for (int i = 0; i < 60000 && !copying; ++i) {
            for (const auto& name : listFolder(dir.path()))
                copying = copying || (name.find("out.wav") != std::string::npos && name != "out.wav");
            if (!copying) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!copying) {
            ::kill(pid, SIGKILL);
            finish(pid);
        }
        ASSERT_TRUE(copying) << "no copy appeared";
        ::kill(pid, SIGINT);
        const int status = finish(pid);
        const Bytes errBytes = testing::readFile(logs / "stderr");
        const std::string err(errBytes.begin(), errBytes.end());
        ASSERT_NE(status, 0) << "the copy finished before it could be interrupted";
        EXPECT_EQ(status, 130) << err;
        const auto errLines = lines(err);
        ASSERT_EQ(errLines.size(), 1u) << err;
        EXPECT_EQ(errLines[0].rfind("keeptime-cli: " + out.string() + ": ", 0), 0u) << err;
        EXPECT_EQ(listFolder(dir.path()), filesBefore) << "an unfinished copy was left";
        if (oldCopy) {
            EXPECT_TRUE(testing::readFile(out) == Bytes(5, 'x')) << "the earlier copy was not kept";
        }
        EXPECT_EQ(fs::file_size(big), sizeBefore);
        EXPECT_EQ(fs::last_write_time(big), timeBefore);
        EXPECT_EQ(head(big), headBefore);
    }
}

}  // namespace
}  // namespace keeptime::external

namespace keeptime::external {
namespace {

// A point names a whole number of seconds; the frame it lands on is exact, not one early
// through the float error of the seconds it was turned into.
TEST(ExternalCliFrames, PointsLandOnTheExactFrame) {
    struct Case {
        std::int64_t rate, frames, timeReference;
        std::vector<std::string> args;
        std::int64_t startFrame, copiedFrames, timeReferenceAfter;
    };
    const Case cases[] = {
        {48000, 242636, 2077149277, {"--start-tc", "12:01:14"}, 2723, 242636 - 2723, 43274LL * 48000},
        {48000, 242636, 2077149277, {"--start-from-end", "1"}, 194636, 48000, 2077149277 + 194636},
        {48000, 242636, 2077149277, {"--end-from-end", "1"}, 0, 194636, 2077149277},
        // 10:50:04 at 32.032 kHz is sample 39004 × 32032 = 1249376128.
        {32000, 100000, 1249345870, {"--start-tc", "10:50:04", "--weird-tc"}, 30227, 100000 - 30227, 1249376128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        testing::TempDir dir;
        testing::WavWriter().bext(c.timeReference).fmt(2, static_cast<int>(c.rate), 16)
            .data(keeptime::Bytes(static_cast<std::size_t>(c.frames) * 4)).write(dir / "in.wav");
        std::vector<std::string> argv = {cli(), "trim", (dir / "in.wav").string(), "-o", (dir / "out.wav").string(), "--json"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const Result r = run(argv);
        ASSERT_EQ(r.status, 0) << r.err;
        const json copy = json::parse(r.out);
        EXPECT_EQ(copy["startFrame"], c.startFrame);
        EXPECT_EQ(copy["frames"], c.copiedFrames);
        EXPECT_EQ(copy["timeReferenceAfter"], c.timeReferenceAfter);
    }
}

}  // namespace
}  // namespace keeptime::external
