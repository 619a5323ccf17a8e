#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <fcntl.h>
#include <unistd.h>

#include <sstream>

#include "bwf/BWFReconstructor.hpp"
#include "tests/TempDir.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

using Reports = std::vector<std::int64_t>;

class CopyJobTest : public ::testing::Test {
protected:
    // A 48 kHz stereo 16-bit file with audioBytes of audio.
    void makeInput(std::size_t audioBytes) {
        WavWriter().bext(1728000000).fmt(2, 48000, 16).data(audioPattern(audioBytes)).write(dir / "in.wav");
        input = readFile(dir / "in.wav");
    }
    std::unique_ptr<BWFReconstructor> job(const std::filesystem::path& out) {
        return std::make_unique<BWFReconstructor>(dir / "in.wav", out, 0, 1e6, log);
    }
    // Nothing but the input (and what the test put there) may remain in the folder.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            if (entry.path().filename() != "in.wav") names.push_back(entry.path().filename());
        return names;
    }

    TempDir dir;
    std::ostringstream log;
    Bytes input;
};

TEST_F(CopyJobTest, ReportsWholePercentsAtBlockBoundaries) {
    struct Case {
        std::size_t audioBytes;
        Reports expected;
    };
    const Case cases[] = {
        {10485760, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}},
        {2621440, {0, 40, 80, 100}},
        {4000, {0, 100}},
        {0, {100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.audioBytes);
        makeInput(c.audioBytes);
        log.str("");
        Reports reports;
        auto outcome = job(dir / "out.wav")->process([&](std::int64_t p) { reports.push_back(p); });
        EXPECT_TRUE(outcome.completed()) << outcome.message;
        EXPECT_EQ(reports, c.expected);
        const std::string n = std::to_string(c.audioBytes);
        EXPECT_EQ(log.str(), "Done\n" + n + " == " + n + " == " + n + "\n");
        const Bytes out = readFile(dir / "out.wav");
        ASSERT_EQ(out.size(), input.size());
        EXPECT_TRUE(std::equal(out.begin() + 12 + 610 + 24, out.end(), input.begin() + 12 + 610 + 24));
    }
}

TEST_F(CopyJobTest, CancelAfterAnyBlockRemovesTheCopy) {
    makeInput(10485760);
    writeFile(dir / "out.wav", Bytes{'o', 'l', 'd'});
    // Halt is asked while the block after this report is being copied.
    for (std::int64_t haltAt : {0, 50, 90}) {
        SCOPED_TRACE(haltAt);
        log.str("");
        auto reconstructor = job(dir / "out.wav");
        Reports reports;
        auto outcome = reconstructor->process([&](std::int64_t p) {
            reports.push_back(p);
            if (p == haltAt) reconstructor->halt = true;
        });
        EXPECT_EQ(outcome.status, CopyOutcome::Status::Cancelled);
        EXPECT_EQ(reports.back(), 0);
        EXPECT_EQ(reports.size(), static_cast<std::size_t>(haltAt / 10 + 2));
        EXPECT_FALSE(reconstructor->processing);
        EXPECT_EQ(log.str(), "Done\n") << "a cancelled copy prints no completion line";
        EXPECT_EQ(readFile(dir / "out.wav"), (Bytes{'o', 'l', 'd'})) << "the old output is kept";
        EXPECT_EQ(leftovers(), std::vector<std::string>{"out.wav"});
    }
    EXPECT_EQ(readFile(dir / "in.wav"), input);
}

TEST_F(CopyJobTest, FailedJobsLeaveNothingBehind) {
    makeInput(3 * 1048576);
    // An input shorter than its header says.
    std::filesystem::resize_file(dir / "in.wav", input.size() - 1048576 - 7);
    auto outcome = job(dir / "out.wav")->process();
    EXPECT_EQ(outcome.status, CopyOutcome::Status::Failed);
    EXPECT_EQ(outcome.message, (dir / "in.wav").string() +
                                   ": the file ends before its audio does (2097145 of 3145728 "
                                   "audio bytes copied)");
    EXPECT_TRUE(leftovers().empty());

    makeInput(4000);
    outcome = job(dir / "missing" / "out.wav")->process();
    EXPECT_EQ(outcome.status, CopyOutcome::Status::Failed);
    EXPECT_EQ(outcome.message,
              (dir / "missing" / "out.wav").string() + ": cannot create the copy: No such file or directory");
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(CopyJobTest, AFullDiskFailsTheJob) {
    makeInput(3 * 1048576);
    const auto small = dir / "small";
    std::filesystem::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root: " << std::strerror(errno);
    struct Unmount {
        std::filesystem::path at;
        ~Unmount() { ::umount(at.c_str()); }
    } unmount{small};
    writeFile(small / "out.wav", Bytes{'o', 'l', 'd'});
    Reports reports;
    auto outcome = job(small / "out.wav")->process([&](std::int64_t p) { reports.push_back(p); });
    EXPECT_EQ(outcome.status, CopyOutcome::Status::Failed);
    EXPECT_EQ(outcome.message, (small / "out.wav").string() + ": cannot write the copy: No space left on device");
    EXPECT_EQ(reports.back(), 0);
    EXPECT_EQ(readFile(small / "out.wav"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(small), {}), 1);
    EXPECT_EQ(readFile(dir / "in.wav"), input);
}

// A folder that takes no new file (here an immutable one) still lets the copy
// replace an existing output in place.
TEST_F(CopyJobTest, WritesDirectlyWhereNoTemporaryFileCanBeMade) {
    makeInput(4000);
    const auto locked = dir / "locked";
    std::filesystem::create_directory(locked);
    writeFile(locked / "out.wav", Bytes(10, 'x'));
    int fd = ::open(locked.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0 ||
        (flags |= FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0)) {
        ::close(fd);
        GTEST_SKIP() << "cannot make a folder immutable here: " << std::strerror(errno);
    }
    auto outcome = job(locked / "out.wav")->process();
    flags &= ~FS_IMMUTABLE_FL;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);
    EXPECT_TRUE(outcome.completed()) << outcome.message;
    EXPECT_EQ(readFile(locked / "out.wav"), input);
}

}  // namespace
