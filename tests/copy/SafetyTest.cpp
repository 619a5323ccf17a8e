// The copy under faults and races, and recordings that need rescuing. Each case is
// a way a file the user had was lost, a half copy left, or a wrong copy claimed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/BWFError.hpp"
#include "copy/BWFReconstructor.hpp"
#include "io/OutputFile.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

std::string contents(const std::filesystem::path& path) {
    const Bytes bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string hiddenFiles(const std::filesystem::path& folder) {
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().front() == '.') names += entry.path().filename().string() + " ";
    return names;
}

TEST(Safety, TheOutputIsKeptWholeOrReplacedWhole) {
    enum Fault { Appears, CancelWhileFlushing, CancelBetweenBlocks, FifoInItsPlace, InputRewritten };
    const std::tuple<const char*, Fault, bool, CopyOutcome::Status, const char*> cases[] = {
        {"a file appears at the output", Appears, false, CopyOutcome::Status::Failed, "appeared"},
        {"a file appears, --force", Appears, true, CopyOutcome::Status::Completed, "copy"},
        {"cancel during the final flush", CancelWhileFlushing, true, CopyOutcome::Status::Cancelled, "old"},
        {"cancel between blocks", CancelBetweenBlocks, true, CopyOutcome::Status::Cancelled, "old"},
        {"a FIFO takes the output's place, --force", FifoInItsPlace, true, CopyOutcome::Status::Failed, "fifo"},
        {"the input rewritten in place at its length", InputRewritten, true, CopyOutcome::Status::Failed, "old"},
    };
    for (bool unnamed : {true, false}) {
        OutputFile::preferUnnamed(unnamed);
        for (const auto& [name, fault, replace, status, left] : cases) {
            SCOPED_TRACE(std::string(name) + (unnamed ? "" : ", under a hidden name"));
            TempDir dir;
            WavWriter().fmt(1, 48000, 16).data(audioPattern(3 << 20)).write(dir / "in.wav");
            if (fault != Appears) writeFile(dir / "out.wav", bytes("old"));
            BWFReconstructor job(CopyRequest{dir / "in.wav", dir / "out.wav", 0, 3 << 19, {}, replace});
            job.setHooks({[&](std::int64_t written) {
                              if (fault == CancelBetweenBlocks) job.cancel();
                              if (fault == InputRewritten && written == 1 << 20) writeFile(dir / "in.wav", readFile(dir / "in.wav"));
                          },
                          [&] {
                              if (fault == Appears) writeFile(dir / "out.wav", bytes("appeared"));
                              if (fault == CancelWhileFlushing) job.cancel();
                              if (fault == FifoInItsPlace) std::filesystem::remove(dir / "out.wav"), ::mkfifo((dir / "out.wav").c_str(), 0600);
                          }, {}});
            const CopyOutcome outcome = job.process();
            EXPECT_EQ(outcome.status, status) << outcome.message();
            struct stat there {};
            if (fault == FifoInItsPlace) {
                EXPECT_TRUE(::lstat((dir / "out.wav").c_str(), &there) == 0 && S_ISFIFO(there.st_mode));
                EXPECT_EQ(hiddenFiles(dir.path()), "");
                continue;
            }
            EXPECT_TRUE(fault != InputRewritten || outcome.message() == (dir / "in.wav").string() + ": the input changed while copying")
                << outcome.message();
            const std::string out = contents(dir / "out.wav");
            const bool copied = std::string(left) == "copy";
            EXPECT_EQ(copied ? out.substr(0, 4) : out, copied ? "RIFF" : left);
            EXPECT_EQ(hiddenFiles(dir.path()), "");
            const std::string said = ": appeared while copying; nothing was replaced";
            EXPECT_TRUE(fault != Appears || replace || outcome.message() == (dir / "out.wav").string() + said)
                << outcome.message();
            EXPECT_FALSE(job.cancel() && status == CopyOutcome::Status::Completed) << "a copy in place stays";
        }
    }
    OutputFile::preferUnnamed(true);
}

// What a killed run leaves is found by its names alone: its copies and the files it replaced, nothing else.
TEST(Safety, WhatAStoppedRunLeftIsFound) {
    TempDir dir;
    for (const char* name : {".a.wav.keeptime-ab12cd", ".b.wav.keeptime-original-xyz789", ".hidden", "c.wav.keeptime-ab12cd",
                             ".d.wav.keeptime-abc", ".e.wav.keeptime-ab12c!"})
        writeFile(dir / name, bytes("x"));
    EXPECT_EQ(leftovers(dir.path()),
              (std::vector<std::filesystem::path>{dir / ".a.wav.keeptime-ab12cd", dir / ".b.wav.keeptime-original-xyz789"}));
}

TEST(Safety, HiddenNamesFitAndAreRemovedOrNamed) {
    OutputFile::preferUnnamed(false);
    TempDir dir;
    WavWriter().fmt(1, 48000, 16).data(audioPattern(3 << 20)).write(dir / "in.wav");
    std::string longName;
    while (longName.size() < 240) longName += "\xe6\x99\x82";  // 80 Japanese characters: 244 bytes with ".wav"
    longName += ".wav";
    EXPECT_TRUE(BWFReconstructor(CopyRequest{dir / "in.wav", dir / longName, 0, 100}).process().completed());
    EXPECT_EQ(hiddenFiles(dir.path()), "");

    // A temporary file that cannot be removed is a failed job that names it.
    BWFReconstructor job(CopyRequest{dir / "in.wav", dir / "out.wav", 0, 3 << 19});
    std::filesystem::path hidden;
    job.setHooks({[&](std::int64_t) {
        if (!hidden.empty()) return;
        const std::string name = hiddenFiles(dir.path());
        std::filesystem::rename(hidden = dir / name.substr(0, name.size() - 1), dir / "moved");
        std::filesystem::create_directories(hidden / "in the way");
        job.cancel();
    }, {}, {}});
    const CopyOutcome outcome = job.process();
    EXPECT_EQ(outcome.status, CopyOutcome::Status::Failed);
    EXPECT_EQ(outcome.message().rfind(hidden.string() + ": the unfinished copy could not be removed: ", 0), 0u)
        << outcome.message();
    OutputFile::preferUnnamed(true);
}

TEST(Safety, OnlyFilesAreReplacedAndAReplacedFileKeepsItsMode) {
    TempDir dir;
    WavWriter().fmt(1, 48000, 16).data(audioPattern(600)).write(dir / "in.wav");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    const auto request = [&](const char* out) { return CopyRequest{dir / "in.wav", dir / out, 0, 10, {}, true}; };
    for (const char* output : {"fifo", "/dev/null"})  // a folder: BWFReconstructorTest.RefusesWhatItCannotCopy
        EXPECT_THROW(BWFReconstructor{request(output)}, BWFError) << output;
    EXPECT_THROW(BWFParser(dir / "fifo"), BWFError) << "a FIFO is not read, nor waited on";
    writeFile(dir / "private.wav", Bytes(3));
    ::chmod((dir / "private.wav").c_str(), 0640);
    std::filesystem::create_symlink("private.wav", dir / "link.wav");
    EXPECT_TRUE(BWFReconstructor(request("link.wav")).process().completed());
    struct stat info {};
    ::stat((dir / "private.wav").c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.wav")) << "the link stays; the file it names is replaced";
    EXPECT_EQ(readFile(dir / "private.wav").size(), 44u + 20);
}

// Recordings a user needs rescued, and decoys that must not make a copy wrong: "data" or "fmt" in a text
// is no landmark while the sizes add up, and where they do not, a byte search still finds the real chunks.
TEST(Safety, DamagedRecordingsAreReadForWhatTheyHold) {
    const Bytes second = audioPattern(96000);
    const std::string xml = ixmlText("1728000000", {});
    Bytes bigJunk(1'200'000, 'x');
    std::copy_n("metadata fmt data", 17, bigJunk.begin());
    const std::tuple<const char*, WavWriter, std::int64_t, const char*> cases[] = {
        {"never closed", WavWriter().fmt(1, 48000, 16).data(second).dataSize(0), 48000,
         "unfinished recording: the header gives no audio length; using the file's length"},
        {"empty, with a chunk after", WavWriter().fmt(1, 48000, 16).data({}).chunk("LIST", "INFO"), 0, ""},
        {"cut short", WavWriter().fmt(1, 48000, 16).data(second).dataSize(10 * 96000), 48000,
         "cut short: 0:01 of 0:10 present"},
        {"ds64 near 2^63", WavWriter().rf64().ds64().fmt(1, 48000, 16).data(second).ds64Sizes(0, INT64_MAX - 3, 0),
         48000, "cut short: 0:01 of "},
        {"fmt after the audio", WavWriter().bext(1, "fmt \x10 data").data(second).fmt(1, 48000, 16), 48000, ""},
        {"decoys in a sound header", WavWriter().bext(1, "metadata fmt \x01\x02\x03\x04 ds64 data").fmt(1, 48000, 16)
                                         .data(second), 48000, ""},
        {"sizes that do not add up", WavWriter().chunk("iXML", Bytes(xml.begin(), xml.end()), xml.size() + 100)
                                         .fmt(1, 48000, 16).data(second), 48000, ""},
        {"audio after the first million bytes", WavWriter().bext(1, "metadata").chunk("JUNK", bigJunk).fmt(1, 48000, 16)
                                                  .data(second), 48000, ""},
    };
    for (const auto& [name, wav, frames, notice] : cases) {
        SCOPED_TRACE(name);
        TempDir dir;
        wav.write(dir / "in.wav");
        const BWFParser parser(dir / "in.wav");
        EXPECT_EQ(std::tuple(parser.frames(), parser.samplesPerSecond()), std::tuple(frames, 48000));
        EXPECT_EQ(parser.notice().value_or("").substr(0, std::string(notice).size()), notice);
        ASSERT_TRUE(BWFReconstructor(CopyRequest{dir / "in.wav", dir / "out.wav", 0, frames}).process().completed());
        const BWFParser copy(dir / "out.wav");
        EXPECT_EQ(std::tuple(copy.frames(), copy.notice().has_value()), std::tuple(frames, false));
    }
    TempDir dir;
    WavWriter().fmt().chunk("JUNK", Bytes(17 << 20)).data(second).write(dir / "in.wav");
    EXPECT_THROW(BWFParser(dir / "in.wav"), BWFError) << "a header past 16 MiB";
}

}  // namespace
