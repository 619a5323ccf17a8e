// A take written as several files (one per track, a mix, safety copies, the
// parts of a split poly file) is tied together by its iXML FILE_SET: the same
// FAMILY_UID and TOTAL_FILES in every member, and a FILE_SET_INDEX per file.
// Discovery reads the head of each file in the folder, and the chunk headers
// after the audio of a file whose iXML is not in front of it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.hpp"
#include "io/File.hpp"

namespace keeptime {

// A file's place in its take, as its iXML gives it (texts as a person reads them).
struct FileSet {
    std::string familyUid;
    std::string totalFiles;
    std::string index;
};

// The FILE_SET in an iXML text, when it names a FAMILY_UID.
std::optional<FileSet> readFileSet(ByteView ixml);

// The FILE_SET of a file, read from its head: one read of kTakeHeadRead bytes,
// more only when the chunks before its iXML run past them. A file with no iXML
// before its audio has the chunk headers after the audio read, 8 bytes each,
// and the iXML found there (as some recorders write it). Nothing for a file
// that is not a WAV file, cannot be read, or names no FAMILY_UID.
std::optional<FileSet> fileSetOf(const std::filesystem::path& file);
inline constexpr std::size_t kTakeHeadRead = 65536;

struct Take {
    std::optional<FileSet> set;                 // none: the file names no take, and is a take of one
    std::vector<std::filesystem::path> members;  // ordered by FILE_SET_INDEX: numbers (by value), then letters
    std::optional<std::string> notice;           // "2 of 9 files are missing ..." when TOTAL_FILES says more

    bool missing() const { return notice.has_value(); }
};

// The take that file belongs to, from the files in its folder: those with its
// FAMILY_UID and TOTAL_FILES, one per FILE_SET_INDEX (file itself first, then
// by name). Files that are not WAV files are passed over. Throws BWFError when
// file cannot be read or its folder cannot be listed.
Take findTake(const std::filesystem::path& file);
// The same for a file already open: its own head is read through file.
Take findTake(const FileHandle& file);

// Whether index a comes before index b: numbers before letters, numbers by value.
bool fileSetIndexBefore(const std::string& a, const std::string& b);

}  // namespace keeptime
