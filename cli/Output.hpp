// How keeptime-cli speaks: one error line per failure, the system's own lines
// on standard output unless standard output carries JSON.
#pragma once

#include <filesystem>
#include <iostream>
#include <string>

namespace keeptime::cli {

// Exit statuses.
inline constexpr int kOk = 0;
inline constexpr int kCopyFailed = 1;
inline constexpr int kRefused = 2;  // unusable input, or a usage error
inline constexpr int kInterrupted = 130;

// "keeptime-cli: WHAT: REASON" on standard error.
inline void complain(const std::string& what, const std::string& reason) {
    std::cerr << "keeptime-cli: " << what << ": " << reason << std::endl;
}
// An error whose text already names its file ("PATH: REASON").
inline void complain(const std::string& message) {
    std::cerr << "keeptime-cli: " << message << std::endl;
}

// Where "Done" and the completion line go: standard output, unless it holds JSON.
inline std::ostream& systemLines(bool json) { return json ? std::cerr : std::cout; }

}  // namespace keeptime::cli
