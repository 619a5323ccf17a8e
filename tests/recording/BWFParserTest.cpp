#include <gtest/gtest.h>

#include <sstream>

#include "base/BWFError.hpp"
#include "recording/BWFParser.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

class BWFParserTest : public ::testing::Test {
protected:
    BWFParser parse(const WavWriter& wav) {
        wav.write(dir / "in.wav");
        return BWFParser(dir / "in.wav", &done);
    }
    TempDir dir;
    std::ostringstream done;
};

const Bytes audio = audioPattern(60);
using W = WavWriter;
using Source = TimeReferenceSource;
constexpr auto Lo = Source::TimestampSamplesSinceMidnightLo, Low = Source::BWFTimeReferenceLow;

TEST_F(BWFParserTest, ReadsTheFieldsAndSaysDoneOnlyWhenAsked) {
    const WavWriter wav = std::move(W().fmt(2, 48000, 16).chunk("JUNK", Bytes(1920, 0x5A))
                                        .ixml(ixmlText("1728000000", {})).data(audioPattern(192000)));
    auto parser = parse(wav);
    EXPECT_EQ(std::tuple(parser.rf64(), parser.audioDataLength(), parser.bytesPerFrame(), parser.samplesPerSecond(),
                         parser.samplesSinceMidnight()), std::tuple(false, 192000, 4, 48000, 1728000000));
    const Bytes file = readFile(dir / "in.wav");
    EXPECT_EQ(parser.preData(), Bytes(file.begin(), file.begin() + std::ptrdiff_t(wav.dataOffset())));
    EXPECT_EQ(done.str(), "Done\n");
    BWFParser quiet(dir / "in.wav");
    EXPECT_EQ(done.str(), "Done\n") << "the core prints nothing of its own";
}

TEST_F(BWFParserTest, AudioLengthFromEachKindOfSizeField) {
    const std::tuple<const char*, WavWriter, bool, std::int64_t> cases[] = {
        {"rf64: from ds64", W().rf64().ds64().fmt().data(audio).ds64Sizes(0, 30, 0), true, 30},
        {"rf64: not the data chunk's", W().rf64().ds64().fmt().data(audio).dataSize(12), true, 60},
        {"0xFFFFFFFF: to the end of the file", W().fmt().data(audio).dataSize(0xFFFFFFFFu), false, 60},
        {"any other file id is RIFF", W().fileId("ABCD").fmt().data(audio), false, 60},
    };
    for (const auto& [name, wav, rf64, length] : cases) {
        auto parser = parse(wav);
        EXPECT_EQ(std::pair(parser.rf64(), parser.audioDataLength()), std::pair(rf64, length)) << name;
    }
}

// Files that say one thing in one place and another elsewhere are read as their chunks and length confirm,
// with a notice where something is left out or overruled.
TEST_F(BWFParserTest, ContradictionsAreSettledByWhatTheFileConfirms) {
    const std::string text = "<BWFXML><NOTE>the data is good</NOTE></BWFXML>";
    const struct { const char* name; WavWriter wav; std::string chunks, notice; std::int64_t audio; } cases[] = {
        {"\"data\" in a text after a header size that does not add up",
         std::move(W().chunk("fmt ", fmtBody(2, 48000, 24), 99).ixml(text).data(audio)), "", "", 60},
        {"a second data chunk", std::move(W().fmt().data(audio).chunk("data", Bytes(900)).chunk("LIST", "INFO")),
         "fmt  data LIST ", "a second \"data\" chunk (900 bytes at offset 104) follows the audio; copies leave it out", 60},
        {"RF64: a real 32-bit size that the chunks after it confirm",
         std::move(W().rf64().ds64().fmt().data(audio).dataSize(60).chunk("LIST", "INFOabcd").ds64Sizes(0, 30, 5)),
         "ds64 fmt  data LIST ", "the \"ds64\" chunk gives 30 audio bytes and the \"data\" chunk 60; using 60, which the "
         "file's length confirms", 60},
    };
    for (const auto& c : cases) {
        const BWFParser parser = parse(c.wav);
        std::string names;
        for (const Chunk& chunk : parser.chunks()) names += std::string(chunk.name()) + " ";
        if (!c.chunks.empty()) {
            EXPECT_EQ(names, c.chunks) << c.name;
        }
        EXPECT_EQ(std::tuple(parser.notice().value_or(""), parser.audioDataLength(), parser.audioOffset()),
                  std::tuple(c.notice, c.audio, std::int64_t(c.wav.dataOffset() + 8))) << c.name;
    }
    // A block align past 32767 is read as the number it is, for a format whose frames Keeptime does not decode.
    Bytes odd = fmtBody(2, 48000, 16, 0x55);
    writeLE<std::uint16_t>(odd, 12, 40000);
    EXPECT_EQ(parse(W().chunk("fmt ", odd).data(Bytes(80000))).bytesPerFrame(), 40000);
}

TEST_F(BWFParserTest, TheStampFromEveryFieldWhereverItStands) {
    constexpr auto Bext = TimeReferenceSource::Bext, None = TimeReferenceSource::None;
    const std::string hiLo = "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>1</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>"
                             "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>705032704</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>";
    const std::string lowHigh = "<BWF_TIME_REFERENCE_LOW>-1944591466</BWF_TIME_REFERENCE_LOW>"
                                "<BWF_TIME_REFERENCE_HIGH>0</BWF_TIME_REFERENCE_HIGH>";
    const std::string endFirst = "<NOTE>see </TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO></NOTE>" + ixmlText("48000", {});
    const std::tuple<const char*, WavWriter, std::int64_t, TimeReferenceSource> cases[] = {
        {"first pair wins", W().bext(7).ixml(ixmlText("2764800000", "0")).fmt().data(audio), 2764800000, Lo},
        {"second pair when the first is no number", W().bext(7).ixml(ixmlText("12:00", "2764800000")).fmt().data(audio),
         2764800000, Low},
        {"bext when no pair gives a value", W().bext(3917280000).ixml(ixmlText({}, "")).fmt().data(audio), 3917280000,
         Bext},
        {"HI x 2^32 + LO", W().ixml(hiLo).fmt().data(audio), 5000000000, Lo},
        {"LO printed signed", W().ixml(lowHigh).fmt().data(audio), 2350375830, Low},
        {"the whole count in LO", W().ixml(ixmlText("5000000000", {})).fmt().data(audio), 5000000000, Lo},
        {"the end tag after the start tag", W().ixml(endFirst).fmt().data(audio), 48000, Lo},
        {"blanks around the number, as XML has them", W().ixml(ixmlText(" 48000\n", {})).fmt().data(audio), 48000, Lo},
        {"a CDATA section's number", W().ixml(ixmlText("<![CDATA[96000]]>", {})).fmt().data(audio), 96000, Lo},
        {"a tag in a comment is no tag", W().ixml("<!-- " + ixmlText("5", {}) + " -->" + ixmlText({}, "7")).fmt().data(audio),
         7, Low},
        {"below -2^31 is no 32-bit field", W().ixml(ixmlText("-2147483649", {})).fmt().data(audio), 0, None},
        {"iXML after the audio", W().bext(1).fmt().data(audio).ixml(ixmlText({}, "172800000")), 172800000, Low},
        {"iXML after a million bytes of audio", W().bext(9).fmt().data(audioPattern(1000002)).ixml(ixmlText("5", "5")),
         5, Lo},
        {"bext after the audio", W().fmt().data(audio).bext(5), 5, Bext},
        {"tags in another chunk are no stamp", W().chunk("axml", ixmlText("5", {})).fmt().data(audio), 0, None},
        {"bext too short to hold one", W().chunk("bext", Bytes(96, 1)).chunk("JUNK", Bytes(300, 2)).fmt().data(audio),
         0, None},
    };
    for (const auto& [name, wav, value, source] : cases) {
        auto parser = parse(wav);
        EXPECT_EQ(std::pair(parser.samplesSinceMidnight(), parser.timeReferenceSource()), std::pair(value, source))
            << name;
    }
}

// The list in file order; after the audio only whole chunks count, and nothing is guessed.
TEST_F(BWFParserTest, ChunksBeforeAndAfterTheAudio) {
    auto names = [](const BWFParser& parser) {
        std::string list;
        for (const Chunk& chunk : parser.chunks())
            list += std::string(chunk.name()) + (chunk.where == Where::After ? "+" : "") + (chunk.whole ? " " : "? ");
        return list + (parser.notCarried() ? *parser.notCarried() : "");
    };
    const Bytes odd = audioPattern(61);
    const std::pair<WavWriter, const char*> cases[] = {
        {W().bext(1).fmt().data(odd).chunk("cue ", Bytes(28)).chunk("LIST", "adtl"), "bext fmt  data cue + LIST+ "},
        {W().fmt().data(audio).chunk("smpl", Bytes(36)).cutAt(12 + 24 + 68 + 20),
         "fmt  data smpl+? the file ends inside the \"smpl\" chunk at offset 104: it declares 36 bytes, 12 are there"},
        {W().fmt().data(audio).chunk("ID3 ", "x").chunk("\1\2\3\4", Bytes(4)),
         "fmt  data ID3 + 12 bytes at offset 114 are not a chunk"},
        {W().fmt().data(audio).dataSize(0xFFFFFFFFu).chunk("iXML", "x"), "fmt  data "},
        {W().fmt().data(audio).dataSize(8).chunk("iXML", "x"), "fmt  data 62 bytes at offset 52 are not a chunk"},
        {W().chunk("odd ", "abc").fmt().data(odd).chunk("LIST", "INFO"), "odd  fmt  data LIST+ "},
    };
    for (const auto& [wav, expected] : cases) EXPECT_EQ(names(parse(wav)), expected);

    // A writer that left out the pad byte after odd audio: its next chunk is still found.
    Bytes file = W().fmt().data(odd).chunk("iXML", ixmlText("7", {})).build();
    file.erase(file.begin() + 12 + 24 + 8 + 61);
    writeFile(dir / "unpadded.wav", file);
    EXPECT_EQ(names(BWFParser(dir / "unpadded.wav")), "fmt  data iXML+ ");
    EXPECT_EQ(BWFParser(dir / "unpadded.wav").samplesSinceMidnight(), 7);
}

TEST_F(BWFParserTest, RefusesFilesItCannotUse) {
    const char* notWav = "not a WAV file: it begins with neither \"RIFF\" nor \"RF64\"";
    Bytes threeBytesAFrame = fmtBody(2, 48000, 16);
    writeLE<std::uint16_t>(threeBytesAFrame, 12, 3);
    const std::pair<WavWriter, const char*> cases[] = {
        {W().cutAt(3), notWav},
        {W().fileId("# Re").chunk("adme", "the data chunk and the fmt chunk are described here"), notWav},
        {W().fmt().chunk("junk", Bytes(40)), "no \"data\" chunk in the first 1000000 bytes"},
        {W().data(audio), "no \"fmt \" chunk"},
        {W().rf64().fmt().data(audio), "RF64 file without a \"ds64\" chunk before its audio"},
        {W().chunk("fmt ", fmtBody(0, 48000, 24)).data(audio),
         "the \"fmt \" chunk gives 0 bytes per frame (block align); it must be more than 0"},
        {W().chunk("fmt ", fmtBody(2, -48000, 24)).data(audio),
         "the \"fmt \" chunk gives a sample rate of -48000; it must be more than 0"},
        {W().rf64().ds64().fmt().data(audio).ds64Sizes(0, -1, 0),
         "the \"ds64\" chunk gives a negative audio size"},
        {W().fmt().data(audio).cutAt(12 + 24 + 6), "the \"data\" chunk header is cut short"},
        {W().rf64().chunk("ds64", Bytes(4)).fmt().data(Bytes(6)), "the \"ds64\" chunk is cut short"},
        {W().chunk("fmt ", threeBytesAFrame).data(audio),
         "the \"fmt \" chunk gives 3 bytes per frame (block align), but its 2 channels of 16-bit samples take 4"},
        {W().fileId("RIFF").chunk("fmt ", fmtBody(2, 48000, 24), 99).ixml("<NOTE>data says</NOTE>").data(audio).dataSize(99999),
         "the chunk sizes do not lead to the audio, and no \"data\" chunk after the \"fmt \" chunk in the first 1000000 "
         "bytes has a size that fits the file"},
    };
    for (const auto& [wav, reason] : cases) {
        wav.write(dir / "in.wav");
        try {
            BWFParser parser(dir / "in.wav", &done);
            ADD_FAILURE() << "accepted; expected: " << reason;
        } catch (const BWFError& error) {
            EXPECT_EQ(error.reason(), reason);
            EXPECT_EQ(error.path(), dir / "in.wav");
        }
    }
    Bytes avi = W().fmt().data(audio).build();
    std::copy_n("AVI ", 4, avi.begin() + 8);
    writeFile(dir / "in.wav", avi);
    try {
        BWFParser parser(dir / "in.wav");
        ADD_FAILURE() << "an AVI file accepted";
    } catch (const BWFError& error) {
        EXPECT_EQ(error.reason(), "a RIFF file of form \"AVI \", not \"WAVE\": not a WAV file");
    }
    for (const auto& path : {dir / "missing.wav", dir.path()}) EXPECT_THROW(BWFParser(path, &done), BWFError) << path;
    EXPECT_EQ(done.str(), "") << "a refused file prints no Done";
}

}  // namespace
