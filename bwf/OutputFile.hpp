// The copy's file. It is written under a temporary name in the output's folder
// and renamed over the output only once complete and flushed, so that a copy cut
// short never looks finished and an existing output survives until then. Where
// the folder does not allow a second file, the output is written directly and
// removed again on failure.
#pragma once

#include <cstdint>
#include <filesystem>

#include "bwf/Bytes.hpp"
#include "bwf/File.hpp"

namespace keeptime {

class OutputFile {
public:
    explicit OutputFile(std::filesystem::path destination);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // an uncommitted file is removed

    int fd() const { return file_.fd(); }
    const std::filesystem::path& destination() const { return destination_; }
    // Where the bytes go now (the temporary file, or the destination itself).
    const std::filesystem::path& writingTo() const { return file_.path(); }

    // Writes bytes at offset; the block copier writes the audio between.
    void writeAt(std::int64_t offset, ByteView bytes);
    // Flushes to disk and puts the file in place under its name.
    void commit();
    // Removes what was written; the destination is untouched unless written directly.
    void discard() noexcept;

private:
    std::filesystem::path destination_;
    FileHandle file_;
    bool direct_ = false;
    bool done_ = false;
};

}  // namespace keeptime
