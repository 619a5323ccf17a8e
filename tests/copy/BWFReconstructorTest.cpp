#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstring>
#include <sstream>

#include "base/BWFError.hpp"
#include "copy/BWFReconstructor.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

std::string text(const Bytes& bytes, std::size_t from, std::size_t length) {
    return {bytes.begin() + std::ptrdiff_t(from), bytes.begin() + std::ptrdiff_t(from + length)};
}
using Reports = std::vector<std::int64_t>;

class BWFReconstructorTest : public ::testing::Test {
protected:
    CopyOutcome run(const CopyRequest& request, std::function<void(BWFReconstructor&, std::int64_t)> onReport = {}) {
        BWFReconstructor job(request, &log);
        reports.clear(), plan = job.plan();
        return job.process([&](std::int64_t p) { reports.push_back(p), onReport ? onReport(job, p) : void(); });
    }
    Bytes trim(const WavWriter& wav, std::int64_t first, std::int64_t end, bool weirdTC = false) {
        wav.write(dir / "in.wav");
        const auto outcome = run({dir / "in.wav", dir / "out.wav", first, end, {weirdTC}, true});
        EXPECT_TRUE(outcome.completed()) << outcome.message();
        return readFile(dir / "out.wav");
    }
    // A 16-bit stereo in.wav with `bytes` of audio, and a request to copy all of it.
    CopyRequest whole(std::size_t bytes, const std::filesystem::path& out) {
        WavWriter().fmt(2, 48000, 16).data(audioPattern(bytes)).write(dir / "in.wav");
        input = readFile(dir / "in.wav");
        return {dir / "in.wav", out, 0, std::int64_t(bytes / 4), {}, true};
    }
    // Each chunk of a copy with its body, found by the copy's own sizes.
    std::vector<std::pair<std::string, std::string>> chunksOf(const Bytes& file) {
        writeFile(dir / "read.wav", file);
        std::vector<std::pair<std::string, std::string>> chunks;
        const BWFParser copy(dir / "read.wav");
        for (const Chunk& c : copy.chunks()) {
            EXPECT_TRUE(c.whole && (c.size % 2 == 0 || file.at(c.bodyEnd()) == 0)) << c.name();
            chunks.emplace_back(c.name(), c.where == Where::Audio ? "" : text(file, c.bodyOffset(), c.size));
        }
        EXPECT_EQ(*readLE<std::uint32_t>(file, 4), file.size() - 8) << "RIFF size";
        return chunks;
    }
    TempDir dir;
    std::ostringstream log;
    CopyPlan plan;
    Bytes input;
    Reports reports;
};

// 10.2 s of 48 kHz stereo 24-bit audio stamped `stamp` in bext and both tags, with a note of decoys.
WavWriter take(const std::string& stamp) {
    const std::string note = "take 0 of 0, 2026-12-06, v1.0";
    return std::move(WavWriter().bext(std::stoll(stamp)).ixml(ixmlText(stamp, stamp, note)).fmt()
                         .data(audioPattern(489600 * 6)));
}

// A copy's header must be the file built with the moved stamp, with the copy's RIFF size.
std::string headerOf(const WavWriter& moved, std::size_t copyLength) {
    Bytes bytes = moved.build();
    writeLE<std::uint32_t>(bytes, 4, std::uint32_t(copyLength - 8));
    return text(bytes, 0, moved.dataOffset());
}

// Every chunk is carried in order; those holding a stamp or markers are rewritten in place, wherever they
// stand, and all others keep their bytes.
TEST_F(BWFReconstructorTest, EveryChunkIsKeptAndTheEditedOnesAreRewritten) {
    const std::string labels("adtllabl\6\0\0\0\1\0\0\0a\0labl\6\0\0\0\2\0\0\0b\0", 32);
    const std::string untouched[] = {"INFOISFT\3\0\0\0kt\0\0", "ID3 tag", "<adm/>"};
    WavWriter wav;
    wav.bext(1000).ixml(ixmlText("1000", {})).fmt(1, 48000, 8).data(audioPattern(4801))
        .chunk("cue ", cue({point(1, 100, 100), point(2, 4000, 4000)})).chunk("list", labels)
        .chunk("LIST", untouched[0]).chunk("ID3 ", untouched[1]).chunk("axml", untouched[2])
        .ixml(ixmlText({}, "999")).bext(998);
    const auto chunks = chunksOf(trim(wav, 200, 4801));
    std::string ids;
    for (const auto& chunk : chunks) ids += chunk.first + ",";
    EXPECT_EQ(ids, "bext,iXML,fmt ,data,cue ,list,LIST,ID3 ,axml,iXML,bext,");  // some writers spell it "list"
    EXPECT_EQ(*readLE<std::int64_t>(asBytes(chunks[0].second), 338), 1200);
    EXPECT_NE(chunks[1].second.find(">1200<"), std::string::npos);
    EXPECT_EQ(chunks[4].second, text(cue({point(2, 3800, 3800)}), 0, 28)) << "the point at 100 gone, 4000 at 3800";
    EXPECT_EQ(chunks[5].second, labels.substr(0, 4) + labels.substr(18)) << "with its label";
    for (int i = 0; i < 3; ++i) EXPECT_EQ(chunks[6 + i].second, untouched[i]);
    EXPECT_NE(chunks[9].second.find(">1199<"), std::string::npos);
    EXPECT_EQ(*readLE<std::int64_t>(asBytes(chunks[10].second), 338), 1198);
    EXPECT_EQ(plan.stampAfter, 1200);
}

TEST_F(BWFReconstructorTest, EachStampTextMovesInTheFormItWasWritten) {
    const std::string lo = "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO", hi = "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI";
    const std::string low = "BWF_TIME_REFERENCE_LOW", high = "BWF_TIME_REFERENCE_HIGH";
    auto tag = [](const std::string& name, const std::string& v) { return "<" + name + ">" + v + "</" + name + ">"; };
    const std::tuple<const char*, std::string, std::int64_t, std::string> cases[] = {
        {"gains a digit", tag(lo, "48000"), 432000, tag(lo, "480000")},
        {"carries into HI", tag(hi, "0") + tag(lo, "4294967000"), 1000, tag(hi, "1") + tag(lo, "704")},
        {"HI after LO", tag(lo, "4294967000") + tag(hi, "00"), 1000, tag(lo, "704") + tag(hi, "01")},
        {"keeps leading zeros", tag(lo, "0000048000"), 48000, tag(lo, "0000096000")},
        {"the whole count in LO", tag(lo, "5000000000") + tag(hi, "1"), 1, tag(lo, "5000000001") + tag(hi, "1")},
        {"signed LOW stays signed", tag(low, "-1944591466") + tag(high, "0"), 48000,
         tag(low, "-1944543466") + tag(high, "0")},
        {"not a number", tag(lo, "12:00") + tag(lo, "5 5"), 1, tag(lo, "12:00") + tag(lo, "5 5")},
        {"blanks and CDATA stay", tag(lo, " 5\n") + tag(low, "<![CDATA[5]]>"), 1, tag(lo, " 6\n") + tag(low, "<![CDATA[6]]>")},
        {"a comment is left alone", "<!--" + tag(lo, "5") + "-->" + tag(lo, "5"), 1, "<!--" + tag(lo, "5") + "-->" + tag(lo, "6")},
        {"every pair from its own value", tag(lo, "7") + tag(low, "8"), 2, tag(lo, "9") + tag(low, "10")},
    };
    for (const auto& [name, before, shift, after] : cases) {
        const Bytes moved = moveStampTags(asBytes(before), StampMove{shift});
        EXPECT_EQ(std::string(moved.begin(), moved.end()), after) << name;
    }
}

TEST_F(BWFReconstructorTest, MovesTheStampExactlyAndNothingElse) {
    // A zero stamp: a plain search would also hit the date, version and runs of zero bytes.
    const Bytes in = take("0").build();
    Bytes out = trim(take("0"), 48000, 96000);
    const std::size_t d = take("48000").dataOffset(), from = take("0").dataOffset() + 8 + 288000;
    ASSERT_EQ(out.size(), d + 8 + 288000);
    EXPECT_EQ(text(out, 0, d + 4), headerOf(take("48000"), out.size()) + "data");
    EXPECT_EQ(*readLE<std::uint32_t>(out, d + 4), 288000u);
    EXPECT_EQ(text(out, d + 8, 288000), text(in, from, 288000));
    EXPECT_EQ(std::tuple(plan.startFrame, plan.frames, plan.fileBytes, *plan.stampAfter),
              std::tuple(48000, 48000, std::int64_t(out.size()), 48000));
    // Weird TC: 0.1 % more stamp samples than frames, rounded up.
    trim(WavWriter().ixml(ixmlText("1729728000", {})).fmt().data(audioPattern(6 * 100000)), 96000, 96001, true);
    EXPECT_EQ(plan.stampAfter, 1729728000 + 96096);
    trim(WavWriter().ixml(ixmlText("100", {})).fmt().data(audioPattern(6 * 100000)), 1500, 1501, true);
    EXPECT_EQ(plan.stampAfter, 100 + 1502);
    // A copy that starts after midnight is stamped from its own midnight: 00:00:01 is 48000, in bext too.
    const Bytes late = trim(WavWriter().bext(86399LL * 48000).fmt().data(audioPattern(6 * 100000)), 96000, 96001);
    EXPECT_EQ(std::pair(*plan.stampAfter, *readLE<std::int64_t>(late, 12 + 8 + 338)), std::pair(std::int64_t{48000}, std::int64_t{48000}));
    // A tag text that runs into the next chunk is no stamp, and neither chunk is touched.
    const WavWriter split = std::move(WavWriter().ixml("<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>48000")
        .chunk("next", "</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>").fmt().data(audioPattern(6 * 100000)));
    out = trim(split, 48000, 96000);
    EXPECT_EQ(text(out, 0, split.dataOffset()), headerOf(split, out.size()));
    EXPECT_FALSE(plan.stampAfter.has_value());
}

// When the stamp gains or loses digits, chunk sizes, pad bytes and the RIFF and ds64 sizes must still add up,
// the audio must still be the input's, and an RF64 copy becomes RIFF when it fits.
TEST_F(BWFReconstructorTest, ChunkSizesAddUpWhenTheTextChangesLength) {
    const std::tuple<std::string, std::int64_t, std::string, bool> cases[] = {  // stamp, start, note (odd, even), rf64
        {"48000", 432000, "", false}, {"48000", 432000, "x", false}, {"480", 432000, "", false},
        {"4800000", 1, "x", false},   {"48000", 432000, "x", true},  {"4800000", 1, "", true},
    };
    for (const auto& [stamp, start, note, rf64] : cases) {
        SCOPED_TRACE(stamp + note + (rf64 ? " rf64" : ""));
        WavWriter wav;
        if (rf64) wav.rf64().ds64();
        wav.ixml(ixmlText(stamp, stamp, note)).chunk("LIST", std::string("INFOISFT\3\0\0\0kt\0\0", 16)).fmt()
            .data(audioPattern(48000 * 6 * 12)).ixml(ixmlText(stamp, {}, note)).chunk("JUNK", "after");
        const Bytes in = wav.build(), out = trim(wav, start, 48000 * 11);
        const auto chunks = chunksOf(out);
        const std::int64_t frames = 48000 * 11 - start, ds64[] = {std::ssize(out) - 8, frames * 6, frames};
        ASSERT_EQ(chunks.size(), rf64 ? 7u : 6u);
        EXPECT_EQ(text(out, 0, 4) + chunks.back().first + chunks.back().second, "RIFFJUNKafter");
        for (std::size_t i = 0; i < 3 && rf64; ++i) EXPECT_EQ(*readLE<std::int64_t>(out, 20 + 8 * i), ds64[i]) << i;
        const BWFParser copy(dir / "out.wav");
        EXPECT_EQ(copy.samplesSinceMidnight(), std::stoll(stamp) + start);
        const auto from = in.begin() + std::ptrdiff_t(wav.dataOffset() + 8) + start * 6;
        EXPECT_TRUE(std::equal(from, from + 48000 * 6, out.begin() + std::ptrdiff_t(copy.audioOffset())));
    }
    // Sparse input: a 5 GB copy is planned without copying.
    WavWriter().rf64().ds64().bext(0).fmt().sparseData(5'000'000'004).write(dir / "big.wav");
    BWFReconstructor job(CopyRequest{dir / "big.wav", dir / "out.wav", 0, 5'000'000'004 / 6, {}, true});
    EXPECT_EQ(job.plan().fileBytes, 12 + 36 + 610 + 24 + 8 + 5'000'000'004);
}

// A writer may leave out a pad byte: of the last chunk before the audio (the walk still reaches the audio and
// what follows it; the copy keeps the header as it was), or of the file's last chunk, which the copy pads.
TEST_F(BWFReconstructorTest, AChunkWithoutItsPadByteIsKeptAsItWas) {
    Bytes file = WavWriter().fmt().chunk("odd ", "abc").data(audioPattern(600)).chunk("smpl", Bytes(36)).build();
    file.erase(file.begin() + 12 + 24 + 11);
    writeFile(dir / "in.wav", file);
    EXPECT_TRUE(run({dir / "in.wav", dir / "out.wav", 10, 100}).completed());
    Bytes out = readFile(dir / "out.wav");
    EXPECT_EQ(text(out, 8, 43), text(file, 8, 39) + "data");
    EXPECT_EQ(text(out, out.size() - 44, 4), "smpl");

    file = WavWriter().fmt().data(audioPattern(600)).chunk("LIST", "INFOodd").build();
    file.pop_back();
    writeLE<std::uint32_t>(file, 4, std::uint32_t(file.size() - 8));
    writeFile(dir / "in.wav", file);
    const CopyOutcome last = run({dir / "in.wav", dir / "out.wav", 10, 100, {}, true});
    ASSERT_TRUE(last.completed()) << last.message();
    out = readFile(dir / "out.wav");
    EXPECT_EQ(text(out, 36, 8 + 540) + text(out, out.size() - 16, 16), text(file, 36, 4) + std::string("\x1c\2\0\0", 4) +
                                                                         text(file, 44 + 60, 540) + text(file, file.size() - 15, 15) +
                                                                         std::string(1, '\0'));
    EXPECT_EQ(*readLE<std::uint32_t>(out, 4), out.size() - 8);
}

TEST_F(BWFReconstructorTest, RefusesWhatItCannotCopy) {
    WavWriter().fmt().data(audioPattern(48000 * 6 * 2)).write(dir / "in.wav");
    WavWriter().fmt().sparseData(0xFFFFFFFEll).write(dir / "huge.wav");  // 4 GiB, sparse
    std::filesystem::create_hard_link(dir / "in.wav", dir / "hardlink.wav");
    std::filesystem::create_symlink(dir / "in.wav", dir / "symlink.wav");
    const std::string same = "is the input file; the copy needs another name";
    const std::tuple<std::string, std::int64_t, std::int64_t, std::string, std::string> cases[] = {
        {"in.wav", 2, 1, "out.wav", "frames 2 to 1 are not inside the audio's 96000 frames"},
        {"in.wav", -1, 1, "out.wav", "frames -1 to 1 are not inside the audio's 96000 frames"},
        {"in.wav", 0, 96001, "out.wav", "frames 0 to 96001 are not inside the audio's 96000 frames"},
        {"in.wav", 0, 1, "in.wav", same}, {"in.wav", 0, 1, "hardlink.wav", same}, {"in.wav", 0, 1, "symlink.wav", same},
        {"in.wav", 0, 1, ".", "is a folder; the copy needs a file name"},
        {"huge.wav", 0, 715827882, "out.wav",
         "the copy would be 4294967336 bytes, more than a RIFF file can hold (4294967295); choose a shorter range"},
    };
    const Bytes before = readFile(dir / "in.wav");
    for (const auto& [in, first, end, out, reason] : cases) {
        try {
            BWFReconstructor job(CopyRequest{dir / in, dir / out, first, end});
            ADD_FAILURE() << "accepted; expected: " << reason;
        } catch (const BWFError& error) {
            EXPECT_EQ(error.reason(), reason);
        }
    }
    EXPECT_EQ(readFile(dir / "in.wav"), before);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
}

TEST_F(BWFReconstructorTest, ReportsWholePercentsAtBlockBoundaries) {
    const std::pair<std::size_t, Reports> cases[] = {
        {10485760, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}}, {2621440, {0, 40, 80, 100}}, {4000, {0, 100}},
        {0, {100}}};
    for (const auto& [bytes, expected] : cases) {
        log.str("");
        EXPECT_TRUE(run(whole(bytes, dir / "out.wav")).completed());
        EXPECT_EQ(reports, expected) << bytes;
        const std::string n = std::to_string(bytes);
        EXPECT_EQ(log.str(), "Done\n" + n + " == " + n + " == " + n + "\n");
        EXPECT_EQ(readFile(dir / "out.wav"), input);
    }
}

TEST_F(BWFReconstructorTest, ACancelAfterAnyBlockRemovesTheCopyAndKeepsTheOldOutput) {
    const CopyRequest request = whole(10485760, dir / "out.wav");
    writeFile(dir / "out.wav", Bytes{'o', 'l', 'd'});
    for (std::int64_t haltAt : {0, 50, 90}) {  // cancel asked during the first, a middle and the last block
        log.str("");
        const auto outcome = run(request, [&](auto& job, std::int64_t p) { if (p == haltAt) job.cancel(); });
        EXPECT_EQ(outcome.status, CopyOutcome::Status::Cancelled);
        EXPECT_EQ(reports.size(), std::size_t(haltAt / 10 + 2)) << haltAt;
        EXPECT_EQ(reports.back(), 0);
        EXPECT_EQ(log.str(), "Done\n") << "no completion line";
        EXPECT_EQ(readFile(dir / "out.wav"), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(fileNames(dir.path()), (std::vector<std::string>{"in.wav", "out.wav"}));
    }
    EXPECT_EQ(readFile(dir / "in.wav"), input);
}

TEST_F(BWFReconstructorTest, FailedJobsSayWhyAndLeaveNothing) {
    CopyRequest request = whole(3 * 1048576, dir / "out.wav");
    auto shorten = [&](BWFReconstructor&, std::int64_t p) {  // the input loses its last megabyte while copied
        if (p == 0) std::filesystem::resize_file(dir / "in.wav", input.size() - 1048576 - 7);
    };
    EXPECT_EQ(run(request, shorten).message(),
              request.input.string() + ": the input changed while copying (2097145 of 3145728 audio bytes copied)");
    EXPECT_EQ(reports.back(), 0);
    request = whole(3 * 1048576, dir / "missing" / "out.wav");
    EXPECT_EQ(run(request).message(), request.output.string() + ": cannot create the copy: No such file or directory");
    EXPECT_EQ(fileNames(dir.path()), std::vector<std::string>{"in.wav"});

    const auto small = dir / "small";  // a full disk
    request = whole(3 * 1048576, small / "out.wav");
    std::filesystem::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root: " << std::strerror(errno);
    writeFile(request.output, Bytes{'o', 'l', 'd'});
    const auto outcome = run(request);
    const auto left = fileNames(small);
    const Bytes old = readFile(request.output);
    ::umount(small.c_str());
    EXPECT_EQ(outcome.message(), request.output.string() + ": cannot write the copy: No space left on device");
    EXPECT_EQ(left, std::vector<std::string>{"out.wav"});
    EXPECT_EQ(old, (Bytes{'o', 'l', 'd'}));
}

}  // namespace
