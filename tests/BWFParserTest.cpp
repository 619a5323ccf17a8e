#include <gtest/gtest.h>

#include <sstream>

#include "bwf/BWFError.hpp"
#include "bwf/BWFParser.hpp"
#include "tests/TempDir.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

class BWFParserTest : public ::testing::Test {
protected:
    BWFParser parse(const WavWriter& wav) {
        wav.write(dir / "in.wav");
        return BWFParser(dir / "in.wav", done);
    }
    TempDir dir;
    std::ostringstream done;
};

const Bytes audio = audioPattern(60);

TEST_F(BWFParserTest, ReadsTheFieldsAndSaysDone) {
    WavWriter wav;
    wav.fmt(2, 48000, 16).chunk("JUNK", Bytes(1920, 0x5A)).ixml(ixmlText("1728000000", {})).data(audioPattern(192000));
    auto parser = parse(wav);
    EXPECT_FALSE(parser.rf64());
    EXPECT_EQ(parser.audioDataLength(), 192000);
    EXPECT_EQ(parser.bytesPerFrame(), 4);
    EXPECT_EQ(parser.samplesPerSecond(), 48000);
    EXPECT_EQ(parser.samplesSinceMidnight(), 1728000000);
    const Bytes file = readFile(dir / "in.wav");
    EXPECT_EQ(parser.preData(), Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(wav.dataOffset())));
    EXPECT_EQ(parser.preDataRange().second, static_cast<std::int64_t>(wav.dataOffset()));
    EXPECT_EQ(done.str(), "Done\n");
}

TEST_F(BWFParserTest, AudioLengthFromEachKindOfSizeField) {
    const std::tuple<const char*, WavWriter, bool, std::int64_t> cases[] = {
        {"rf64: from ds64", WavWriter().rf64().ds64().fmt().data(audio).ds64Sizes(0, 5000000000, 0), true, 5000000000},
        {"rf64: not the data chunk's", WavWriter().rf64().ds64().fmt().data(audio).dataSize(12), true, 60},
        {"0x80000000 is a size", WavWriter().fmt().data(audio).dataSize(0x80000000u), false, 2147483648},
        {"0xFFFFFFFE is a size", WavWriter().fmt().data(audio).dataSize(0xFFFFFFFEu), false, 4294967294},
        {"0xFFFFFFFF: to the end of the file", WavWriter().fmt().data(audio).dataSize(0xFFFFFFFFu), false, 60},
        {"any other file id is RIFF", WavWriter().fileId("ABCD").fmt().data(audio), false, 60},
    };
    for (const auto& [name, wav, rf64, length] : cases) {
        auto parser = parse(wav);
        EXPECT_EQ(parser.rf64(), rf64) << name;
        EXPECT_EQ(parser.audioDataLength(), length) << name;
    }
}

TEST_F(BWFParserTest, TimeReferenceSourcesInOrder) {
    using enum TimeReferenceSource;
    const std::tuple<const char*, WavWriter, std::int64_t, TimeReferenceSource> cases[] = {
        {"first pair wins", WavWriter().bext(7).ixml(ixmlText("2764800000", "0")).fmt().data(audio), 2764800000,
         TimestampSamplesSinceMidnightLo},
        {"second pair when the first is no number", WavWriter().bext(7).ixml(ixmlText("12:00", "2764800000")).fmt().data(audio),
         2764800000, BWFTimeReferenceLow},
        {"bext when no pair gives a value", WavWriter().bext(3917280000).ixml(ixmlText({}, "")).fmt().data(audio),
         3917280000, Bext},
        {"tags after the audio, in the head", WavWriter().bext(1).fmt().data(audio).ixml(ixmlText({}, "172800000")),
         172800000, BWFTimeReferenceLow},
        {"a signed tag text", WavWriter().ixml(ixmlText("-5", {})).fmt().data(audio), -5, TimestampSamplesSinceMidnightLo},
        {"blanks make no number", WavWriter().ixml(ixmlText(" 48000", "48000 ")).fmt().data(audio), 0, None},
        {"beyond 64 bits is no number", WavWriter().ixml(ixmlText("9223372036854775808", {})).fmt().data(audio), 0, None},
        {"bext after the audio is not read", WavWriter().fmt().data(audio).bext(5), 0, None},
        {"bext too short to hold one", WavWriter().chunk("bext", Bytes(96, 1)).chunk("JUNK", Bytes(300, 2)).fmt().data(audio), 0, None},
        {"tags beyond the first million bytes", WavWriter().bext(9).fmt().data(audioPattern(1000000)).ixml(ixmlText("5", "5")),
         9, Bext},
    };
    for (const auto& [name, wav, value, source] : cases) {
        auto parser = parse(wav);
        EXPECT_EQ(parser.samplesSinceMidnight(), value) << name;
        EXPECT_EQ(parser.timeReferenceSource(), source) << name;
    }
}

// "metadata" or "fmt" in an earlier chunk's text is no landmark while the sizes add up;
// where they do not, a byte search still finds the real chunks.
TEST_F(BWFParserTest, LandmarksComeFromChunkHeaders) {
    const std::string decoy = "metadata fmt \x01\x02\x03\x04 ds64 bext data";
    const std::string xml = ixmlText("1728000000", {});
    const std::tuple<const char*, WavWriter, bool> cases[] = {
        {"bext description", WavWriter().bext(1, decoy).fmt(1, 96000, 24).data(audio), true},
        {"odd chunk and its pad byte", WavWriter().chunk("note", decoy + "!").fmt(1, 96000, 24).data(audio), true},
        {"rf64", WavWriter().rf64().ds64().ixml(ixmlText({}, {}, decoy)).fmt(1, 96000, 24).data(audio), true},
        {"iXML size 100 too large", WavWriter().chunk("iXML", Bytes(xml.begin(), xml.end()), xml.size() + 100)
                                        .fmt(1, 96000, 24).data(audio), false},
    };
    for (const auto& [name, wav, walked] : cases) {
        auto parser = parse(wav);
        EXPECT_EQ(parser.landmarks().walked, walked) << name;
        EXPECT_EQ(parser.preData().size(), wav.dataOffset()) << name;
        EXPECT_EQ(parser.samplesPerSecond(), 96000) << name;
        EXPECT_EQ(parser.bytesPerFrame(), 3) << name;
        EXPECT_EQ(parser.audioDataLength(), 60) << name;
    }
}

TEST_F(BWFParserTest, RefusesFilesItCannotUse) {
    const std::pair<WavWriter, const char*> cases[] = {
        {WavWriter().cutAt(3), "not a WAV file: it begins with neither \"RIFF\" nor \"RF64\""},
        {WavWriter().fileId("# Re").chunk("adme", "the data chunk and the fmt chunk are described here"),
         "not a WAV file: it begins with neither \"RIFF\" nor \"RF64\""},
        {WavWriter().fmt().chunk("junk", Bytes(40)), "no \"data\" chunk in the first 1000000 bytes"},
        {WavWriter().fmt().chunk("JUNK", Bytes(1000000)).data(Bytes(6)), "no \"data\" chunk in the first 1000000 bytes"},
        {WavWriter().data(audio), "no \"fmt \" chunk in the first 1000000 bytes"},
        {WavWriter().rf64().fmt().data(audio), "RF64 file without a \"ds64\" chunk before its audio"},
        {WavWriter().chunk("fmt ", fmtBody(0, 48000, 24)).data(audio),
         "the \"fmt \" chunk gives 0 bytes per frame (block align); it must be more than 0"},
        {WavWriter().chunk("fmt ", fmtBody(2, -48000, 24)).data(audio),
         "the \"fmt \" chunk gives a sample rate of -48000; it must be more than 0"},
        {WavWriter().rf64().ds64().fmt().data(audio).ds64Sizes(0, -1, 0), "the \"ds64\" chunk gives a negative audio size"},
        {WavWriter().fmt().data(audio).cutAt(12 + 24 + 6), "the \"data\" chunk header is cut short"},
        {WavWriter().data(Bytes(6)).chunk("fmt ", Bytes(4)), "the \"fmt \" chunk is cut short"},
        {WavWriter().rf64().chunk("ds64", Bytes(4)).fmt().data(Bytes(6)), "the \"ds64\" chunk is cut short"},
    };
    for (const auto& [wav, reason] : cases) {
        wav.write(dir / "in.wav");
        try {
            BWFParser parser(dir / "in.wav", done);
            ADD_FAILURE() << "accepted; expected: " << reason;
        } catch (const BWFError& error) {
            EXPECT_EQ(error.reason(), reason);
            EXPECT_EQ(error.path(), dir / "in.wav");
        }
    }
    for (const auto& path : {dir / "missing.wav", dir.path()})
        EXPECT_THROW(BWFParser(path, done), BWFError) << path;
    EXPECT_EQ(done.str(), "") << "a refused file prints no Done";
}

}  // namespace
