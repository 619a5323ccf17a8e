// How keeptime-cli speaks: one error line per failure, the system's own lines
// on standard output unless standard output carries JSON.
#pragma once

#include <filesystem>
#include <iostream>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "base/BWFError.hpp"

namespace keeptime::cli {

// Exit statuses.
inline constexpr int kOk = 0;
inline constexpr int kCopyFailed = 1;
inline constexpr int kRefused = 2;  // unusable input, or a usage error
inline constexpr int kInterrupted = 130;

// A name as `ls` writes it: as it is, unless it holds control characters; then
// quoted for the shell ('a'$'\n''b.wav'), so that a newline cannot split a line.
std::string quotedName(const std::string& name);
// Text for one line: control characters written as C escapes ("\n", "\033").
std::string oneLine(const std::string& text);

// "keeptime-cli: WHAT: REASON" on standard error.
inline void complain(const std::string& what, const std::string& reason) {
    std::cerr << "keeptime-cli: " << quotedName(what) << ": " << oneLine(reason) << std::endl;
}
// An error whose text already names its file ("PATH: REASON").
inline void complain(const std::string& message) { std::cerr << "keeptime-cli: " << oneLine(message) << std::endl; }
inline void complain(const BWFError& error) {
    if (error.path().empty()) complain(error.reason());
    else complain(error.path().string(), error.reason());
}

// Where "Done" and the completion line go: standard output, unless it holds JSON.
inline std::ostream& systemLines(bool json) { return json ? std::cerr : std::cout; }

// JSON text, indented. Names and a file's texts may hold any bytes: those that
// are not UTF-8 are written as U+FFFD instead of failing the command.
std::string jsonText(const nlohmann::ordered_json& value);
// object[key] = name; and, when the name is not UTF-8, object[key + "Bytes"] =
// its bytes in hex, so that a script can still find the file.
void putName(nlohmann::ordered_json& object, const std::string& key, const std::string& name);

}  // namespace keeptime::cli
