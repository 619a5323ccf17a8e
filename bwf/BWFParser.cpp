#include "bwf/BWFParser.hpp"

#include "bwf/BWFError.hpp"
#include "bwf/File.hpp"

namespace keeptime {

BWFParser::BWFParser(std::filesystem::path url, std::ostream& out) : url_(std::move(url)) {
    const FileHandle file = FileHandle::openForReading(url_);
    const Bytes head = file.readAt(0, static_cast<std::size_t>(MAXSEARCH));
    try {
        info_ = scanHead(head, [&] { return file.size(); });
    } catch (const BWFError& error) {
        if (!error.path().empty()) throw;
        throw error.withPath(url_);
    }
    preData_.assign(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(info_.at.data));
    out << "Done" << std::endl;
}

}  // namespace keeptime
