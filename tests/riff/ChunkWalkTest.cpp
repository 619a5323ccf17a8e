// The one chunk walk and its pad rule, over bytes laid out by hand.
#include <gtest/gtest.h>

#include "riff/BWFFormat.hpp"
#include "riff/ChunkWalk.hpp"

using namespace keeptime;

namespace {

Bytes chunk(std::string_view id, std::size_t size, bool pad = true) {
    Bytes bytes(id.begin(), id.end());
    bytes.resize(8 + size + (pad ? size & 1 : 0), 'x');
    writeLE<std::uint32_t>(bytes, 4, static_cast<std::uint32_t>(size));
    return bytes;
}

Bytes file(std::initializer_list<Bytes> chunks) {
    Bytes bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    for (const Bytes& c : chunks) bytes.insert(bytes.end(), c.begin(), c.end());
    return bytes;
}

std::string summary(const ChunkWalk& walk) {
    std::string text;
    for (const Chunk& c : walk.chunks)
        text += std::string(c.name()) + "@" + std::to_string(c.offset) + "+" + std::to_string(int(c.paddingSize)) +
                (c.whole ? "" : "(cut)") + " ";
    if (walk.data) text += "data@" + std::to_string(*walk.data);
    if (walk.reachedEnd) text += "end";
    if (walk.fault) text += "fault@" + std::to_string(walk.faultOffset);
    return text;
}

TEST(ChunkWalk, OnePadRuleWhereverTheWalkGoes) {
    const struct { const char* name; Bytes bytes; std::string head; } cases[] = {
        {"padded", file({chunk("fmt ", 16), chunk("odd ", 3), chunk("data", 4)}), "fmt @12+0 odd @36+1 data@48"},
        {"a writer left the pad out", file({chunk("odd ", 3, false), chunk("data", 4)}), "odd @12+0 data@23"},
        {"the last chunk lacks its pad", file({chunk("fmt ", 16), chunk("odd ", 3, false)}), "fmt @12+0 odd @36+0 end"},
        {"a chunk the bytes end inside", file({chunk("fmt ", 16), Bytes{'L', 'I', 'S', 'T', 99, 0, 0, 0, 1}}),
         "fmt @12+0 LIST@36+1(cut) fault@36"},
        {"bytes that are no chunk", file({chunk("fmt ", 16), Bytes(9, 0)}), "fmt @12+0 fault@36"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(summary(walkChunks(c.bytes)), c.head);
        // The same bytes through reads, as a header longer than the head is walked.
        const ReadAt none = [](std::uint64_t, std::size_t) { return Bytes(); };
        EXPECT_EQ(summary(walkToAudio(c.bytes, none, c.bytes.size())), c.head);
    }
}

TEST(ChunkWalk, AfterOddAudioTheChunksStandWhereTheyAreSound) {
    const Bytes audio = chunk("data", 5, false);
    for (const bool padded : {true, false}) {
        SCOPED_TRACE(padded ? "padded" : "pad left out");
        Bytes bytes = file({audio});
        if (padded) bytes.push_back(0);
        const Bytes tail = chunk("iXML", 4);
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        Chunk data;
        data.offset = 12;
        data.size = 5;
        const ReadAt read = [&](std::uint64_t offset, std::size_t length) {
            return Bytes(bytes.begin() + std::ptrdiff_t(offset), bytes.begin() + std::ptrdiff_t(std::min(bytes.size(), offset + length)));
        };
        const ChunkWalk after = walkAfterAudio(read, data, bytes.size());
        EXPECT_EQ(after.from - data.bodyEnd(), padded ? 1u : 0u);
        EXPECT_EQ(summary(after), "iXML@" + std::to_string(padded ? 26 : 25) + "+0 end");
    }
}

TEST(ChunkWalk, AHeaderLongerThanItsLimitIsNoRecording) {
    Bytes bytes = file({chunk("JUNK", std::size_t(kMaxHeader)), chunk("data", 4)});
    const ReadAt none = [](std::uint64_t, std::size_t) { return Bytes(); };
    const ChunkWalk walk = walkToAudio(bytes, none, bytes.size());
    EXPECT_TRUE(walk.pastLimit);
    EXPECT_FALSE(walk.data);
}

}  // namespace
