#include "recording/Take.hpp"

#include <algorithm>
#include <tuple>

#include "base/BWFError.hpp"
#include "riff/BWFFormat.hpp"
#include "recording/BWFParser.hpp"
#include "riff/ChunkWalk.hpp"
#include "io/File.hpp"
#include "riff/HeadScan.hpp"
#include "meta/TimeReference.hpp"
#include "timecode/Decimal.hpp"

namespace keeptime {

namespace {

std::string_view idAt(ByteView bytes, std::size_t offset) {
    return {reinterpret_cast<const char*>(bytes.data()) + offset, layout::kChunkIdSize};
}

// The iXML after the audio, where some recorders write it once the take is done:
// the head is scanned as the parser scans it, and only the chunk headers after
// the audio are read, 8 bytes each.
std::optional<FileSet> setAfterAudio(const FileHandle& file, ByteView head) {
    try {
        const HeadInfo info = scanHead(head, [&] { return file.size(); });
        if (!info.at.walked || info.audioToEnd) return std::nullopt;
        Chunk data;
        data.offset = info.at.data;
        data.size = static_cast<std::uint64_t>(info.audioDataLength);
        const ReadAt read = fileReader(file);
        const ChunkWalk after = walkAfterAudio(read, data, static_cast<std::uint64_t>(file.size()));
        if (const Chunk* ixml = after.find(layout::kIXMLId))
            return readFileSet(read(ixml->bodyOffset(), std::min<std::uint64_t>(ixml->size, kMaxIXMLSearch)));
    } catch (const BWFError&) {
        // A head the parser would refuse names no take.
    }
    return std::nullopt;
}

std::optional<FileSet> setOfOpen(const FileHandle& file) {
    Bytes head = file.readAt(0, kTakeHeadRead);
    if (head.size() < layout::kFileHeaderSize) return std::nullopt;
    const std::string_view id = idAt(head, layout::kFileIdOffset);
    if ((id != layout::kRIFFId && id != layout::kRF64Id) || idAt(head, layout::kFormTypeOffset) != layout::kWaveId)
        return std::nullopt;
    const ChunkWalk walk = walkChunks(head);
    if (const Chunk* ixml = walk.find(layout::kIXMLId)) return readFileSet(ByteView(head).subspan(ixml->bodyOffset(), ixml->size));
    std::optional<std::uint64_t> data = walk.data;
    if (!data) {
        // Chunks that run past the first read (a long iXML, padding): follow their headers.
        const ChunkWalk far = walkToAudio(head, fileReader(file), static_cast<std::uint64_t>(file.size()));
        if (const Chunk* ixml = far.find(layout::kIXMLId))
            return readFileSet(file.readAt(static_cast<std::int64_t>(ixml->bodyOffset()),
                                           std::min<std::uint64_t>(ixml->size, kMaxIXMLSearch)));
        data = far.data;
        // Sizes that do not add up: the tags are searched for in the head's bytes, as the parser does.
        if (!data) return readFileSet(head);
    }
    // None before the audio: the head as far as the data chunk's header, then what follows the audio.
    if (*data + layout::kAudioOffset > head.size()) head = file.readAt(0, static_cast<std::size_t>(*data + layout::kAudioOffset));
    return setAfterAudio(file, head);
}

}  // namespace

std::optional<FileSet> readFileSet(ByteView ixml) {
    const std::optional<std::string> set = ixmlValue(ixml, "FILE_SET");
    const ByteView scope = set ? asBytes(*set) : ixml;
    auto plain = [&](std::string_view name) { return ixmlPlain(ixmlValue(scope, name).value_or("")); };
    FileSet found{plain("FAMILY_UID"), plain("TOTAL_FILES"), plain("FILE_SET_INDEX")};
    if (found.familyUid.empty()) return std::nullopt;
    return found;
}

std::optional<FileSet> fileSetOf(const std::filesystem::path& file) {
    try {
        return setOfOpen(FileHandle::openForReading(file));
    } catch (const BWFError&) {
        return std::nullopt;
    }
}

bool fileSetIndexBefore(const std::string& a, const std::string& b) {
    auto key = [](const std::string& index) {
        // Leading zeros aside, a longer number is larger; "AA" follows "Z" as a recorder counts on.
        const bool number = allDigits(index);
        const std::string digits = number ? index.substr(std::min(index.find_first_not_of('0'), index.size())) : index;
        return std::tuple(!number, digits.size(), digits);
    };
    return key(a) < key(b);
}

Take findTake(const std::filesystem::path& file) { return findTake(FileHandle::openForReading(file)); }

Take findTake(const FileHandle& opened) {
    const std::filesystem::path& file = opened.path();
    Take take;
    take.set = setOfOpen(opened);
    take.members.push_back(file);
    if (!take.set) return take;

    const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
    std::error_code error;
    std::vector<std::filesystem::path> names;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file(error) && !sameFile(it->path(), file)) names.push_back(it->path());
    if (error) throw BWFError(BWFError::Kind::Unreadable, folder, "cannot list the folder: " + error.message());
    std::sort(names.begin(), names.end());

    std::vector<std::pair<std::string, std::filesystem::path>> found{{take.set->index, file}};
    for (const auto& name : names) {
        const auto set = fileSetOf(name);
        if (!set || set->familyUid != take.set->familyUid || set->totalFiles != take.set->totalFiles) continue;
        if (std::any_of(found.begin(), found.end(), [&](const auto& member) { return member.first == set->index; })) continue;
        found.emplace_back(set->index, name);
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return fileSetIndexBefore(a.first, b.first); });
    take.members.clear();
    for (auto& member : found) take.members.push_back(std::move(member.second));

    const auto total = parseInt64(take.set->totalFiles);
    if (total && *total > std::ssize(found)) {
        const auto missing = *total - std::ssize(found);
        take.notice = std::to_string(missing) + " of the take's " + std::to_string(*total) + " files " +
                      (missing == 1 ? "is" : "are") + " missing from " + folder.string() + " (TOTAL_FILES " +
                      take.set->totalFiles + ")";
    }
    return take;
}

}  // namespace keeptime
