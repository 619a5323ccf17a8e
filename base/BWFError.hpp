// The one error type of the core: what went wrong, in words a user understands,
// and the file it concerns.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace keeptime {

class BWFError : public std::runtime_error {
public:
    enum class Kind {
        Unreadable,   // the file cannot be opened or read
        Malformed,    // the file's content is not a usable Broadcast-WAV file
        BadRange,     // the requested trim range cannot be copied
        Output,       // the output cannot be written
    };

    BWFError(Kind kind, std::string reason)
        : std::runtime_error(reason), kind_(kind), reason_(std::move(reason)) {}
    BWFError(Kind kind, std::filesystem::path path, std::string reason)
        : std::runtime_error(path.string() + ": " + reason),
          kind_(kind),
          path_(std::move(path)),
          reason_(std::move(reason)) {}

    // The same error, now naming the file it concerns.
    BWFError withPath(const std::filesystem::path& path) const {
        return BWFError(kind_, path, reason_);
    }

    Kind kind() const { return kind_; }
    const std::filesystem::path& path() const { return path_; }
    const std::string& reason() const { return reason_; }

private:
    Kind kind_;
    std::filesystem::path path_;
    std::string reason_;
};

}  // namespace keeptime
