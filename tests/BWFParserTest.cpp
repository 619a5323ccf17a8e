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
    std::string refusal(const WavWriter& wav) {
        wav.write(dir / "in.wav");
        try {
            BWFParser parser(dir / "in.wav", done);
        } catch (const BWFError& error) {
            EXPECT_EQ(error.path(), dir / "in.wav");
            return error.reason();
        }
        return "accepted";
    }

    TempDir dir;
    std::ostringstream done;
};

TEST_F(BWFParserTest, ReadsCanonicalRIFF) {
    auto parser = parse(WavWriter().fmt(2, 48000, 16).ixml(ixmlText("1728000000", {})).data(audioPattern(192000)));
    EXPECT_FALSE(parser.rf64());
    EXPECT_EQ(parser.audioDataLength(), 192000);
    EXPECT_EQ(parser.bytesPerFrame(), 4);
    EXPECT_EQ(parser.samplesPerSecond(), 48000);
    EXPECT_EQ(parser.samplesSinceMidnight(), 1728000000);
    EXPECT_EQ(parser.timeReferenceSource(), TimeReferenceSource::TimestampSamplesSinceMidnightLo);
    EXPECT_EQ(done.str(), "Done\n");
}

TEST_F(BWFParserTest, PreDataIsEverythingBeforeTheDataChunk) {
    WavWriter wav;
    wav.fmt().chunk("JUNK", Bytes(2000 - 12 - 24 - 8, 0x5A)).data(audioPattern(600));
    auto parser = parse(wav);
    ASSERT_EQ(wav.dataOffset(), 2000u);
    const Bytes file = readFile(dir / "in.wav");
    EXPECT_EQ(parser.preData(), Bytes(file.begin(), file.begin() + 2000));
    EXPECT_EQ(parser.preDataRange(), std::make_pair(std::int64_t{0}, std::int64_t{2000}));
}

TEST_F(BWFParserTest, AudioLengthFromEachKindOfSizeField) {
    struct Case {
        const char* name;
        WavWriter wav;
        bool rf64;
        std::int64_t audioDataLength;
    };
    const Case cases[] = {
        {"rf64 sizes from ds64",
         WavWriter().rf64().ds64().fmt().data(audioPattern(600)).ds64Sizes(0, 5000000000, 0), true,
         5000000000},
        {"rf64 reads ds64 even where data size is set",
         WavWriter().rf64().ds64().fmt().data(audioPattern(600)).dataSize(12), true, 600},
        {"0x80000000 is a size", WavWriter().fmt().data(audioPattern(60)).dataSize(0x80000000u),
         false, 2147483648},
        {"0xFFFFFFFE is a size", WavWriter().fmt().data(audioPattern(60)).dataSize(0xFFFFFFFEu),
         false, 4294967294},
        // Audio runs from D + 8 to the end of the file: all 60 bytes.
        {"0xFFFFFFFF: to the end of the file",
         WavWriter().fmt().data(audioPattern(60)).dataSize(0xFFFFFFFFu), false, 60},
        {"any other file id is RIFF", WavWriter().fileId("ABCD").fmt().data(audioPattern(60)),
         false, 60},
        {"RF64 id alone decides", WavWriter().fileId("RF64").ds64().fmt().data(audioPattern(60)),
         true, 60},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto parser = parse(c.wav);
        EXPECT_EQ(parser.rf64(), c.rf64);
        EXPECT_EQ(parser.audioDataLength(), c.audioDataLength);
    }
}

TEST_F(BWFParserTest, TimeReferenceTagText) {
    struct Case {
        std::string text;
        std::optional<std::int64_t> value;
    };
    const Case cases[] = {
        {"48000", 48000},   {"+48000", 48000},  {"-5", -5},        {"0", 0},
        {"", {}},           {" 48000", {}},     {"48000 ", {}},    {"48\n000", {}},
        {"12:00", {}},      {"9223372036854775807", 9223372036854775807},
        {"9223372036854775808", {}}, {"\xff\xfe", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto parser = parse(WavWriter().ixml(ixmlText(c.text, {})).fmt().data(audioPattern(60)));
        EXPECT_EQ(parser.samplesSinceMidnight(), c.value.value_or(0));
        EXPECT_EQ(parser.timeReferenceSource(),
                  c.value ? TimeReferenceSource::TimestampSamplesSinceMidnightLo
                          : TimeReferenceSource::None);
    }
}

TEST_F(BWFParserTest, TimeReferenceSourcesInOrder) {
    struct Case {
        const char* name;
        WavWriter wav;
        std::int64_t value;
        TimeReferenceSource source;
    };
    const Case cases[] = {
        {"first pair wins over second and bext",
         WavWriter().bext(7).ixml(ixmlText("2764800000", "0")).fmt().data(audioPattern(60)),
         2764800000, TimeReferenceSource::TimestampSamplesSinceMidnightLo},
        {"second pair when the first is not a number",
         WavWriter().bext(7).ixml(ixmlText("12:00", "2764800000")).fmt().data(audioPattern(60)),
         2764800000, TimeReferenceSource::BWFTimeReferenceLow},
        {"bext when neither pair gives a value",
         WavWriter().bext(3917280000).ixml(ixmlText({}, "")).fmt().data(audioPattern(60)),
         3917280000, TimeReferenceSource::Bext},
        {"tags after the audio, inside the head",
         WavWriter().bext(1).fmt().data(audioPattern(60)).ixml(ixmlText({}, "172800000")),
         172800000, TimeReferenceSource::BWFTimeReferenceLow},
        {"bext after the audio is not read",
         WavWriter().fmt().data(audioPattern(60)).bext(5), 0, TimeReferenceSource::None},
        {"nothing at all", WavWriter().fmt().data(audioPattern(60)), 0, TimeReferenceSource::None},
        {"tags beyond the first million bytes are not seen",
         WavWriter().bext(9).fmt().data(audioPattern(1000000)).ixml(ixmlText("5", "5")), 9,
         TimeReferenceSource::Bext},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto parser = parse(c.wav);
        EXPECT_EQ(parser.samplesSinceMidnight(), c.value);
        EXPECT_EQ(parser.timeReferenceSource(), c.source);
    }
}

// Text such as "metadata" or "fmt" inside an earlier chunk must not be taken for
// a landmark while the chunk sizes add up.
TEST_F(BWFParserTest, LandmarksComeFromChunkHeadersNotText) {
    const std::string decoy = "metadata fmt \x01\x02\x03\x04 ds64 bext data";
    struct Case {
        const char* name;
        WavWriter wav;
    };
    const Case cases[] = {
        {"bext description", WavWriter().bext(1728000000, decoy).fmt(1, 96000, 24).data(audioPattern(300))},
        {"iXML note", WavWriter().ixml(ixmlText("1728000000", {}, decoy)).fmt(1, 96000, 24).data(audioPattern(300))},
        {"odd chunk with pad byte", WavWriter().chunk("note", decoy + "!").fmt(1, 96000, 24).data(audioPattern(300))},
        {"rf64", WavWriter().rf64().ds64().bext(0, decoy).fmt(1, 96000, 24).data(audioPattern(300))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto parser = parse(c.wav);
        EXPECT_TRUE(parser.landmarks().walked);
        EXPECT_EQ(parser.preData().size(), c.wav.dataOffset());
        EXPECT_EQ(parser.samplesPerSecond(), 96000);
        EXPECT_EQ(parser.bytesPerFrame(), 3);
        EXPECT_EQ(parser.audioDataLength(), 300);
    }
}

TEST_F(BWFParserTest, FallsBackToByteSearchWhenSizesDoNotAddUp) {
    // The iXML size is 100 bytes too large: the walk runs off, the search still works.
    const std::string xml = ixmlText("1728000000", {});
    auto parser = parse(WavWriter().chunk("iXML", Bytes(xml.begin(), xml.end()), static_cast<std::uint32_t>(xml.size() + 100))
                            .fmt().data(audioPattern(600)));
    EXPECT_FALSE(parser.landmarks().walked);
    EXPECT_EQ(parser.audioDataLength(), 600);
    EXPECT_EQ(parser.bytesPerFrame(), 6);
    EXPECT_EQ(parser.samplesSinceMidnight(), 1728000000);
}

TEST_F(BWFParserTest, RefusesFilesItCannotUse) {
    struct Case {
        const char* name;
        WavWriter wav;
        const char* reason;
    };
    const Case cases[] = {
        {"3 bytes", WavWriter().cutAt(3), "no \"data\" chunk in the first 1000000 bytes"},
        {"no data", WavWriter().fmt().chunk("junk", Bytes(40)),
         "no \"data\" chunk in the first 1000000 bytes"},
        {"data beyond the head", WavWriter().fmt().chunk("JUNK", Bytes(1000000)).data(Bytes(6)),
         "no \"data\" chunk in the first 1000000 bytes"},
        {"no fmt", WavWriter().data(Bytes(60)), "no \"fmt \" chunk in the first 1000000 bytes"},
        {"rf64 without ds64", WavWriter().rf64().fmt().data(Bytes(60)),
         "RF64 file without a \"ds64\" chunk before its audio"},
        {"block align 0", WavWriter().chunk("fmt ", fmtBody(0, 48000, 24)).data(Bytes(60)),
         "the \"fmt \" chunk gives 0 bytes per frame (block align); it must be more than 0"},
        {"negative sample rate", WavWriter().chunk("fmt ", fmtBody(2, -48000, 24)).data(Bytes(60)),
         "the \"fmt \" chunk gives a sample rate of -48000; it must be more than 0"},
        {"negative ds64 size", WavWriter().rf64().ds64().fmt().data(Bytes(60)).ds64Sizes(0, -1, 0),
         "the \"ds64\" chunk gives a negative audio size"},
        {"data header cut", WavWriter().fmt().data(Bytes(60)).cutAt(12 + 24 + 6),
         "the \"data\" chunk header is cut short"},
        {"fmt at the end", WavWriter().data(Bytes(6)).chunk("fmt ", Bytes(4)),
         "the \"fmt \" chunk is cut short"},
        {"ds64 cut by data", WavWriter().rf64().chunk("ds64", Bytes(4)).fmt().data(Bytes(6)),
         "the \"ds64\" chunk is cut short"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(refusal(c.wav), c.reason);
    }
    EXPECT_EQ(done.str(), "") << "a refused file must not print Done";
}

TEST_F(BWFParserTest, RefusesWhatCannotBeOpened) {
    for (const auto& path : {dir / "missing.wav", dir.path()}) {
        try {
            BWFParser parser(path, done);
            ADD_FAILURE() << path << " accepted";
        } catch (const BWFError& error) {
            EXPECT_EQ(error.kind(), BWFError::Kind::Unreadable);
            EXPECT_EQ(error.path(), path);
            EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos);
        }
    }
}

}  // namespace
