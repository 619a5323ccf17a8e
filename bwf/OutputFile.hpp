// The copy's file. It is written as an unnamed file in the output's folder
// (O_TMPFILE) where the filesystem allows, else under a hidden temporary name,
// and put in place only once complete and flushed: linked under its name, so
// that an output that appeared meanwhile is never replaced, or, when replacing
// was asked for, renamed over the old file in one step. The output itself is
// never opened for writing: a copy cut short never looks finished, and a file
// the user had is kept whole until the new copy replaces it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "bwf/BWFError.hpp"
#include "bwf/Bytes.hpp"
#include "bwf/File.hpp"

namespace keeptime {

// What a copy may put at destination. Follows a symbolic link to the file it
// names. Throws BWFError (Output) for a folder, device, FIFO or socket there, or
// for an existing file when replace is false. Returns the path to write.
std::filesystem::path checkOutput(const std::filesystem::path& destination, bool replace);

class OutputFile {
public:
    // Whether to try an unnamed file first (on by default). Off, every copy takes
    // the hidden-name path that filesystems without O_TMPFILE and macOS take.
    static void preferUnnamed(bool on);

    // Creates the unfinished copy beside destination (a path checkOutput gave).
    // Throws BWFError (Output) with the system's reason when it cannot.
    OutputFile(std::filesystem::path destination, bool replace);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // an unfinished copy is removed

    int fd() const { return file_.fd(); }
    const FileHandle& handle() const { return file_; }
    const std::filesystem::path& destination() const { return destination_; }

    // Writes bytes at offset; the block copier writes the audio between.
    void writeAt(std::int64_t offset, ByteView bytes);
    // Flushes to disk, asks place() whether the copy is still wanted, and puts it
    // in place. Returns false, with nothing put in place, when it is not wanted.
    bool commit(const std::function<bool()>& place);
    // Removes what was written; an error names a leftover it could not remove.
    std::optional<BWFError> discard() noexcept;

private:
    std::filesystem::path destination_;
    bool replace_;
    FileHandle file_;
    std::filesystem::path named_;  // the hidden name, when the file has one
    bool done_ = false;
};

}  // namespace keeptime
