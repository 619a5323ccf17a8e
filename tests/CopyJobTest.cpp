#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstring>
#include <sstream>

#include "bwf/BWFReconstructor.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

using Reports = std::vector<std::int64_t>;

class CopyJobTest : public ::testing::Test {
protected:
    void makeInput(std::size_t audioBytes) {
        WavWriter().fmt(2, 48000, 16).data(audioPattern(audioBytes)).write(dir / "in.wav");
        input = readFile(dir / "in.wav");
    }
    // Runs a whole-file copy to out; onReport may cancel the job.
    CopyOutcome copy(const std::filesystem::path& out, std::function<void(BWFReconstructor&, std::int64_t)> onReport = {}) {
        BWFReconstructor job(CopyRequest{dir / "in.wav", out, 0, static_cast<std::int64_t>(input.size() - 44) / 4}, &log);
        reports.clear();
        return job.process([&](std::int64_t percent) {
            reports.push_back(percent);
            if (onReport) onReport(job, percent);
        });
    }
    std::vector<std::string> files(const std::filesystem::path& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    std::ostringstream log;
    Bytes input;
    Reports reports;
};

TEST_F(CopyJobTest, ReportsWholePercentsAtBlockBoundaries) {
    const std::pair<std::size_t, Reports> cases[] = {
        {10485760, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}}, {2621440, {0, 40, 80, 100}}, {4000, {0, 100}}, {0, {100}},
    };
    for (const auto& [bytes, expected] : cases) {
        makeInput(bytes);
        log.str("");
        EXPECT_TRUE(copy(dir / "out.wav").completed());
        EXPECT_EQ(reports, expected) << bytes;
        const std::string n = std::to_string(bytes);
        EXPECT_EQ(log.str(), "Done\n" + n + " == " + n + " == " + n + "\n");
        EXPECT_EQ(readFile(dir / "out.wav"), input);
    }
}

TEST_F(CopyJobTest, ACancelAfterAnyBlockRemovesTheCopyAndKeepsTheOldOutput) {
    makeInput(10485760);
    writeFile(dir / "out.wav", Bytes{'o', 'l', 'd'});
    for (std::int64_t haltAt : {0, 50, 90}) {  // cancel asked during the first, a middle and the last block
        log.str("");
        auto outcome = copy(dir / "out.wav", [&](BWFReconstructor& job, std::int64_t p) { if (p == haltAt) job.cancel(); });
        EXPECT_EQ(outcome.status, CopyOutcome::Status::Cancelled);
        EXPECT_EQ(reports.size(), static_cast<std::size_t>(haltAt / 10 + 2)) << haltAt;
        EXPECT_EQ(reports.back(), 0);
        EXPECT_EQ(log.str(), "Done\n") << "no completion line";
        EXPECT_EQ(readFile(dir / "out.wav"), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(files(dir.path()), (std::vector<std::string>{"in.wav", "out.wav"}));
    }
    EXPECT_EQ(readFile(dir / "in.wav"), input);
}

TEST_F(CopyJobTest, FailedJobsSayWhyAndLeaveNothing) {
    makeInput(3 * 1048576);
    std::filesystem::resize_file(dir / "in.wav", input.size() - 1048576 - 7);  // shorter than its header says
    auto outcome = copy(dir / "out.wav");
    EXPECT_EQ(outcome.message(), (dir / "in.wav").string() + ": the file ends before its audio does (2097145 of 3145728 audio bytes copied)");
    EXPECT_EQ(reports.back(), 0);
    outcome = copy(dir / "missing" / "out.wav");
    EXPECT_EQ(outcome.message(), (dir / "missing" / "out.wav").string() + ": cannot create the copy: No such file or directory");
    EXPECT_EQ(files(dir.path()), std::vector<std::string>{"in.wav"});
}

TEST_F(CopyJobTest, AFullDiskFailsTheJob) {
    makeInput(3 * 1048576);
    const auto small = dir / "small";
    std::filesystem::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root: " << std::strerror(errno);
    writeFile(small / "out.wav", Bytes{'o', 'l', 'd'});
    auto outcome = copy(small / "out.wav");
    const auto left = files(small);
    const Bytes old = readFile(small / "out.wav");
    ::umount(small.c_str());
    EXPECT_EQ(outcome.message(), (small / "out.wav").string() + ": cannot write the copy: No space left on device");
    EXPECT_EQ(left, std::vector<std::string>{"out.wav"});
    EXPECT_EQ(old, (Bytes{'o', 'l', 'd'}));
}

}  // namespace
