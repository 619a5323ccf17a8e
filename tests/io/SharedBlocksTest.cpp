// Copies on a file system that shares blocks between files (XFS with reflink, Btrfs), which ./test mounts as root
// and names in KEEPTIME_REFLINK_DIR. Elsewhere the other tests' exact bytes show that nothing changes.
#include <gtest/gtest.h>

#include <cerrno>

#include "copy/BWFReconstructor.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

#ifdef KEEPTIME_PORTABLE
constexpr bool kShares = false;  // the portable build takes the paths of systems that share no stretch of a file
#else
constexpr bool kShares = true;
#endif

TEST(SharedBlocks, TheCopyIsRightHoweverItsBlocksWereMade) {
    const char* folder = std::getenv("KEEPTIME_REFLINK_DIR");
    if (!folder) GTEST_SKIP() << "KEEPTIME_REFLINK_DIR is unset: no file system that shares blocks (./test mounts one)";
    const std::int64_t piece = BWFReconstructor::sharePieceSize, big = piece + (3 << 20), whole = -1;
    struct Case {
        const char* name;
        WavWriter wav;
        std::int64_t first, end;
        const char *ids, *failing;  // failing: the calls that fail from the second piece on
        std::int64_t shared;
    };
    const Bytes six = audioPattern(6 << 20);
    std::string grows = "<BWFXML>";  // each stamp text gains a digit: the copy's header ends past the stretch's start
    for (int i = 0; i < 4096; ++i) grows += "<BWF_TIME_REFERENCE_LOW>9</BWF_TIME_REFERENCE_LOW>";
    grows += "</BWFXML>";
    const Case cases[] = {
        {"a JUNK chunk lines the audio up", WavWriter().bext(7).fmt().data(six), 1001, 1000000, "bext,fmt ,JUNK,data",
         "", whole},
        {"a filler before the data is resized", WavWriter().fmt().chunk("FLLR", Bytes(3000, 'f')).data(six), 5, 1000000,
         "fmt ,FLLR,data", "", whole},
        {"RF64", WavWriter().rf64().ds64().fmt().data(six), 3, 1048576, "ds64,fmt ,JUNK,data", "", whole},
        {"a header that grew by a block less 2 bytes", WavWriter().fmt(1, 48000, 16).ixml(grows).data(six), 1, 1000000,
         "fmt ,iXML,JUNK,data", "", whole},
        {"an odd stretch never agrees", WavWriter().fmt(1, 48000, 8).data(six), 1, 6000001, "fmt ,data", "", 0},
        {"clones fail part-way", WavWriter().fmt(1, 48000, 16).data(audioPattern(big)), 10, big / 2 - 1,
         "fmt ,JUNK,data", "FICLONERANGE", piece},
        {"all sharing fails part-way", WavWriter().fmt(1, 48000, 16).data(audioPattern(big)), 10, big / 2 - 1,
         "fmt ,JUNK,data", "FICLONERANGE copy_file_range", piece},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir(folder);
        c.wav.write(dir / "in.wav");
        BWFReconstructor job(CopyRequest{dir / "in.wav", dir / "out.wav", c.first, c.end});
        job.setHooks({{}, {}, [&](std::string_view call, std::int64_t written) {
            return written >= piece && std::string_view(c.failing).find(call) != std::string_view::npos ? EXDEV : 0;
        }});
        const CopyOutcome outcome = job.process();
        ASSERT_TRUE(outcome.completed()) << outcome.message();
        const BWFParser in(dir / "in.wav"), out(dir / "out.wav");
        std::string ids;
        for (const Chunk& chunk : out.chunks()) ids += (ids.empty() ? "" : ",") + std::string(chunk.name());
        std::string expectedIds = c.ids;
        if (!kShares && expectedIds.find(",JUNK") != std::string::npos) expectedIds.erase(expectedIds.find(",JUNK"), 5);
        EXPECT_EQ(std::pair(ids, out.frames()), std::pair(expectedIds, c.end - c.first));
        const std::int64_t from = in.audioOffset() + c.first * in.bytesPerFrame(), b = job.plan().shareBlock;
        const Bytes input = readFile(dir / "in.wav"), copy = readFile(dir / "out.wav");
        EXPECT_TRUE(Bytes(copy.begin() + out.audioOffset(), copy.end()) ==
                    Bytes(input.begin() + from, input.begin() + from + (c.end - c.first) * in.bytesPerFrame()));
        const std::int64_t middle = b ? (from + job.plan().audioBytes) / b * b - (from + b - 1) / b * b : 0;
        EXPECT_EQ(outcome.sharedBytes, !kShares ? 0 : c.shared == whole ? middle : c.shared);
        if (kShares) {
            EXPECT_EQ(b ? (out.audioOffset() - from) % b : 0, 0) << "the audio agrees with the input's within blocks";
        }
    }
}

}  // namespace
