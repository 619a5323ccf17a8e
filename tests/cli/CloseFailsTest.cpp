// Once a copy is in place, keeptime-cli reports what is true: a close() that
// fails after the copy was flushed and renamed over the old file is no failure.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/WavWriter.hpp"

namespace {

TEST(CloseFails, ACopyInPlaceIsReportedDone) {
    keeptime::testing::TempDir dir;
    keeptime::testing::WavWriter().bext(0).fmt(1, 48000, 16).data(keeptime::testing::audioPattern(96000)).write(dir / "in.wav");
    keeptime::testing::writeFile(dir / "out.wav", keeptime::Bytes(3, 'x'));
    const std::string out = std::filesystem::canonical(dir / "out.wav").string();
    const std::string command = "LD_PRELOAD='" KEEPTIME_CLOSE_FAILS "' KEEPTIME_FAIL_CLOSE='" + out + "' '" KEEPTIME_CLI_PATH
                                "' trim '" + (dir / "in.wav").string() + "' -o '" + out + "' --force --quiet --start 0.5 > /dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const keeptime::Bytes copy = keeptime::testing::readFile(out);
    EXPECT_EQ(std::string(copy.begin(), copy.begin() + 4), "RIFF");
    EXPECT_EQ(copy.size(), keeptime::testing::readFile(dir / "in.wav").size() - 48000);
}

}  // namespace
