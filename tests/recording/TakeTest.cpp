// Takes written as several files: which files make a take, copies that start on one sample of the day,
// and a save kept whole or not at all.
#include <gtest/gtest.h>

#include <map>

#include "recording/Take.hpp"
#include "tests/WavWriter.hpp"
#include "trim/TakeSave.hpp"

namespace keeptime {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WavWriter;

constexpr std::int64_t kTen = 36000LL * 48000;  // 10:00:00 at 48 kHz

void writeMember(const fs::path& path, const std::string& uid, const std::string& total, const std::string& index,
                 std::int64_t stamp = kTen, std::size_t junk = 0, std::uint32_t seed = 1) {
    WavWriter file;
    if (junk) file.chunk("JUNK", Bytes(junk));
    file.ixml(testing::takeIXML(uid, total, index, stamp)).fmt().data(testing::audioPattern(96000 * 6, seed)).write(path);
}

std::vector<std::string> names(const std::vector<fs::path>& paths) {
    std::vector<std::string> found;
    for (const auto& path : paths) found.push_back(path.stem().string());
    return found;
}

TEST(Take, MembersShareFamilyAndCountOneFilePerIndexInIndexOrder) {
    TempDir dir;
    writeMember(dir / "a_1.wav", "T1", "3", "1");
    writeMember(dir / "a_A.wav", "T1", "3", "A", kTen, 100'000);  // its iXML lies past the first read
    writeMember(dir / "a_B.wav", "T1", "3", "B");
    writeMember(dir / "zz_copy.wav", "T1", "3", "A");
    writeMember(dir / "b_10.wav", "T2", "12", "10");
    writeMember(dir / "b_2.wav", "T2", "12", "2");
    writeMember(dir / "poly.wav", "T3", "1", "1");  // the poly file and its split monos: two sets
    writeMember(dir / "mono_1.wav", "T3", "2", "1");
    writeMember(dir / "mono_2.wav", "T3", "2", "2");
    for (int i = 1; i <= 5; ++i) {  // a take whose recorder writes the iXML once the audio is done
        WavWriter late;
        if (i == 4) late.rf64().ds64();
        late.fmt().data(testing::audioPattern(i == 5 ? 6001 : 6000)).ixml(testing::takeIXML("M", "5", std::to_string(i), kTen));
        late.write(dir / ("late_" + std::to_string(i) + ".wav"));
    }
    Bytes unpadded = testing::readFile(dir / "late_5.wav");  // odd-sized audio whose pad byte was left out
    unpadded.erase(unpadded.begin() + 12 + 24 + 8 + 6001);
    writeLE<std::uint32_t>(unpadded, 4, std::uint32_t(unpadded.size() - 8));
    testing::writeFile(dir / "late_5.wav", unpadded);
    WavWriter().bext(kTen).fmt().data(Bytes(600)).write(dir / "plain.wav");
    testing::writeFile(dir / "notes.txt", Bytes(100, 'x'));
    const struct { const char* file; std::vector<std::string> members; const char* notice; } cases[] = {
        {"a_B.wav", {"a_1", "a_A", "a_B"}, ""},
        {"zz_copy.wav", {"a_1", "zz_copy", "a_B"}, ""},  // the file asked about keeps its index
        {"b_10.wav", {"b_2", "b_10"}, "10 of the take's 12 files are missing"},
        {"poly.wav", {"poly"}, ""},
        {"mono_2.wav", {"mono_1", "mono_2"}, ""},
        {"plain.wav", {"plain"}, ""},
        {"late_2.wav", {"late_1", "late_2", "late_3", "late_4", "late_5"}, ""},
        {"late_5.wav", {"late_1", "late_2", "late_3", "late_4", "late_5"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const Take take = findTake(dir / c.file);
        EXPECT_EQ(names(take.members), c.members);
        EXPECT_EQ(take.notice.value_or("").find(c.notice), 0u) << take.notice.value_or("");
    }
    EXPECT_THROW(findTake(dir / "absent.wav"), BWFError);
}

TEST(Take, AFrameOfOneFileIsTheSameSampleOfTheDayInAnother) {
    constexpr std::int64_t day = 86400LL * 48000;
    const auto times = [](std::int64_t stamp, std::int32_t rate = 48000, const char* tc = "") {
        return Clock{96000, rate, stamp, {rate, 1}, parseRateOption(tc)};
    };
    // 23:59:59:00 at 23.976, a label day of 86486.4 s: the stamp passes 86400 s.
    const std::int64_t lastSecond = (24LL * 86400 - 24) * 2002;
    const struct { Clock from, to; std::int64_t frame, expected; } cases[] = {
        {times(kTen), times(kTen), 500, 500},
        {times(kTen), times(kTen + 3), 500, 497},
        {times(kTen), times(kTen + 48000), 10, 10 - 48000},  // before the other file's start, not a day later
        {times(day - 2), times(1), 10, 7},  // the take crosses midnight between its files' first samples
        {times(1), times(day - 2), 10, 13},
        {times(lastSecond, 48000, "23.976"), times(0, 48000, "23.976"), 48048, 0},  // midnight of the labels
        {times(kTen), times(kTen * 2, 96000), 48000, 96000},
    };
    for (const auto& c : cases) EXPECT_EQ(c.from.frameAtSameTime(c.frame, c.to), c.expected) << c.to.stamp;
}

struct TakeSaveTest : ::testing::Test {
    void SetUp() override {
        fs::create_directories(in), fs::create_directories(out);
        // Stamps a few samples apart, as recorders that start their files one by one write them.
        for (int i = 0; i < 3; ++i)
            writeMember(in / members[i], "S", "3", std::to_string(i + 1), kTen + deltas[i], 0, i + 1);
    }
    std::vector<fs::path> paths() const { return {in / members[0], in / members[1], in / members[2]}; }
    TempDir dir;
    const fs::path in = dir / "in", out = dir / "out";
    const char* members[3] = {"Tr1.wav", "Tr2.wav", "Tr3.wav"};
    const std::int64_t deltas[3] = {0, 3, -2};
};

TEST_F(TakeSaveTest, CopiesByTimeOfDayStartOnOneSampleOfTheDay) {
    const struct { std::int64_t first, last; std::vector<std::int64_t> starts; std::int64_t frames; } cases[] = {
        {48000, 72000, {48000, 47997, 48002}, 24000},
        {0, 96000, {0, 0, 0}, 96000},  // the lead's edges are each file's own
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        fs::remove_all(out), fs::create_directories(out);
        TakeSave save(alignedRequests(in / members[0], c.first, c.last, paths(), out));
        ASSERT_TRUE(save.run(2).completed());
        for (int i = 0; i < 3; ++i) {
            const BWFParser copy(out / members[i]);
            EXPECT_EQ(copy.frames(), c.frames);
            EXPECT_EQ(copy.samplesSinceMidnight(), kTen + deltas[i] + c.starts[i]);
            const Bytes input = testing::readFile(in / members[i]), bytes = testing::readFile(out / members[i]);
            const auto from = input.begin() + BWFParser(in / members[i]).audioOffset() + c.starts[i] * 6;
            EXPECT_TRUE(std::equal(from, from + c.frames * 6, bytes.begin() + copy.audioOffset()));
        }
    }
}

// A save into a folder holding earlier copies of two members, replacing them (or, without replace, an empty
// folder): a fault while a copy is written or while the copies are put in place (a failing member, a cancel, a folder or a file where a copy goes) leaves
// every file the folder held as it was, and nothing else; no copy shows under its name before all are written.
TEST_F(TakeSaveTest, AFaultAtAnyPointLeavesEveryFileAsItWas) {
    enum Fault { None, Throw, Cancel, Folder, Appear };
    using S = CopyOutcome::Status;
    const struct { std::size_t member; bool placing; Fault fault; bool replace; S status; } cases[] = {
        {0, false, None, true, S::Completed},
        {0, false, Throw, true, S::Failed},      {2, false, Cancel, true, S::Cancelled},
        {0, true, Throw, true, S::Failed},       {1, true, Throw, true, S::Failed},
        {2, true, Throw, true, S::Failed},       {2, true, Cancel, true, S::Cancelled},
        {2, true, Folder, true, S::Failed},      // a real failure after two copies replaced files
        {1, true, Appear, false, S::Failed},     // without replace, a file that appears is kept
    };
    const std::map<std::string, std::string> old = {{"Tr1.wav", "old 1"}, {"Tr3.wav", "old 3"}};
    auto listing = [&](bool hidden) {
        std::map<std::string, std::string> files;
        for (const auto& name : testing::fileNames(out)) {
            const Bytes bytes = fs::is_regular_file(out / name) ? testing::readFile(out / name) : Bytes();
            if (hidden || name[0] != '.') files[name] = std::string(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 5));
        }
        return files;
    };
    for (unsigned parallel : {1u, 3u}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.member) + (c.placing ? " placing" : " writing") + " fault " +
                         std::to_string(c.fault) + " parallel " + std::to_string(parallel));
            fs::remove_all(out), fs::create_directories(out);
            const auto had = c.replace ? old : std::map<std::string, std::string>{};
            for (const auto& [name, text] : had) testing::writeFile(out / name, Bytes(text.begin(), text.end()));
            auto requests = alignedRequests(in / members[0], 1000, 90000, paths(), out);
            for (auto& request : requests) request.replace = c.replace;
            TakeSave save(requests);
            const fs::path target = out / members[c.member];
            bool shownEarly = false;
            const std::function<void()> fault = [&, c] {
                if (c.fault == Throw) throw BWFError(BWFError::Kind::Output, target, "disk full");
                if (c.fault == Cancel) { EXPECT_TRUE(save.cancel()); }
                if (c.fault == Folder) fs::remove(target), fs::create_directories(target / "in the way");
                if (c.fault == Appear) testing::writeFile(target, Bytes(3, 'x'));
            };
            for (std::size_t i = 0; i < 3; ++i) {
                CopyHooks hooks;
                hooks.afterBlock = [&, i, c](std::int64_t) {
                    shownEarly |= listing(false) != had;
                    if (i == c.member && !c.placing) fault();
                };
                if (i == c.member && c.placing) hooks.beforePlace = fault;
                save.setHooks(i, hooks);
            }
            const SaveOutcome outcome = save.run(parallel);
            EXPECT_EQ(outcome.status, c.status) << outcome.message();
            EXPECT_TRUE(c.status != S::Failed || outcome.message().starts_with(target.string())) << outcome.message();
            EXPECT_FALSE(shownEarly) << "a copy was in place before every copy was written";
            auto expected = had;
            if (c.fault == Folder) expected.erase(members[c.member]), expected[members[c.member]] = "";
            if (c.fault == Appear) expected[members[c.member]] = "xxx";
            if (c.fault == None) expected = {{"Tr1.wav", "RIFF"}, {"Tr2.wav", "RIFF"}, {"Tr3.wav", "RIFF"}};
            auto left = listing(true);
            for (auto& [name, text] : left) text.resize(c.fault == None ? 4 : text.size());
            EXPECT_EQ(left, expected);
            EXPECT_EQ(save.cancel(), c.fault != None) << "a save in place stays";
        }
    }
}

TEST_F(TakeSaveTest, RefusesAFolderHoldingAnInputAndTwoCopiesOfOneName) {
    auto requests = alignedRequests(in / members[0], 0, 96000, paths(), in);
    EXPECT_THROW(TakeSave{requests}, BWFError) << "the input's own folder";
    requests = alignedRequests(in / members[0], 0, 96000, paths(), out);
    requests[1].output = requests[0].output;
    EXPECT_THROW(TakeSave{requests}, BWFError) << "one name twice";
    // A link in the output folder naming another input of the save: that input is never replaced.
    fs::create_symlink(in / members[1], out / members[0]);
    requests = alignedRequests(in / members[0], 0, 96000, paths(), out);
    for (auto& request : requests) request.replace = true;
    const Bytes second = testing::readFile(in / members[1]);
    try {
        TakeSave save(requests);
        ADD_FAILURE() << "a copy over another input was planned";
    } catch (const BWFError& error) {
        EXPECT_EQ(error.what(), (out / members[0]).string() + ": is " + (in / members[1]).string() +
                                    ", an input of this save; it is never replaced");
    }
    EXPECT_TRUE(testing::readFile(in / members[1]) == second);
}

}  // namespace
}  // namespace keeptime
