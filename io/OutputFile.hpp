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
#include <vector>

#include "base/BWFError.hpp"
#include "base/Bytes.hpp"
#include "io/File.hpp"

namespace keeptime {

// What a copy may put at destination. Follows a symbolic link to the file it
// names. Throws BWFError (Output) for a folder, device, FIFO or socket there, or
// for an existing file when replace is false. Returns the path to write.
std::filesystem::path checkOutput(const std::filesystem::path& destination, bool replace);

// What a run stopped by SIGKILL or a power loss left in folder: finished copies
// not yet put in place (".NAME.keeptime-XXXXXX") and files a save replaced,
// kept until it was whole (".NAME.keeptime-original-XXXXXX"). Sorted by name.
std::vector<std::filesystem::path> leftovers(const std::filesystem::path& folder);

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
    // For a copy that is put in place with others (Placement): flushes it to disk
    // and leaves it under a hidden name beside its destination
    // (".NAME.keeptime-XXXXXX"), holding no descriptor. Returns that name; the
    // caller then owns the file.
    std::filesystem::path stage();
    // Removes what was written; an error names a leftover it could not remove.
    std::optional<BWFError> discard() noexcept;

private:
    std::filesystem::path destination_;
    bool replace_;
    FileHandle file_;
    std::filesystem::path named_;  // the hidden name, when the file has one
    bool done_ = false;
};

// Puts the finished copies of one save in place together, whole or not at all.
// Each file a copy replaces is first kept under a hidden name beside it
// (".NAME.keeptime-original-XXXXXX": a second name for it, or the file itself
// moved there where the file system has no hard links) and removed only by
// finish(), once every copy is in place; undo() puts every one back. A process
// killed meanwhile leaves the replaced files under those names, for a person
// to rename back.
class Placement {
public:
    Placement() = default;
    Placement(const Placement&) = delete;
    Placement& operator=(const Placement&) = delete;
    ~Placement();  // undo(), unless finish() ran

    // Renames the copy at staged (a name OutputFile::stage gave) to destination.
    // Without replace, a file there fails it. Throws BWFError (Output); the copy
    // is then still at staged and nothing else has changed.
    void place(const std::filesystem::path& staged, const std::filesystem::path& destination, bool replace);
    // Every copy is in place: the kept files go, and the new names are flushed.
    void finish() noexcept;
    // Puts back each replaced file and removes each copy placed, the last first.
    // An error names a file it could not put back, and where that is kept.
    std::optional<BWFError> undo() noexcept;

private:
    struct Placed {
        std::filesystem::path destination, kept;  // kept: empty when nothing was replaced
        std::uint64_t device, inode;              // of the copy, so that undo() removes only it
    };
    std::vector<Placed> placed_;
    bool finished_ = false;
};

}  // namespace keeptime
