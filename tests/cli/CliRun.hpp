// Running keeptime-cli and other programs from the tests as a user would, and reading a file with readers that share
// no code with ours (ffprobe, riffcheck.py, npm wavefile).
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/WavWriter.hpp"

namespace keeptime::external {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::TempDir;

inline std::string setting(const char* name, const char* unset) { return std::getenv(name) ? std::getenv(name) : unset; }
inline const std::string kCli = setting("KEEPTIME_CLI", KEEPTIME_CLI_PATH);  // KEEPTIME_CLI: an installed one, say

// Starts a program found on PATH, output to LOGS/out and LOGS/err, SIGINT at its default (a background runner
// ignores it); finish() gives its exit status, or 128 + the signal.
inline pid_t start(const std::vector<std::string>& argv, const fs::path& logs) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    if (const pid_t pid = ::fork(); pid != 0) return pid;
    std::signal(SIGINT, SIG_DFL);
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    for (int fd : {1, 2}) ::dup2(::open((logs / (fd == 1 ? "out" : "err")).c_str(), O_WRONLY | O_CREAT, 0644), fd);
    ::execvp(args[0], (args.push_back(nullptr), args.data()));
    ::_exit(127);
}
inline int finish(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
// A folder on a file system that shares blocks (./test mounts one and names it in KEEPTIME_REFLINK_DIR), when this
// build shares them: the portable build never does, and SharedBlocks.TheCopyIsRightHoweverItsBlocksWereMade checks
// its copies there.
inline const char* sharingFolder() {
#ifdef KEEPTIME_PORTABLE
    return nullptr;
#else
    return std::getenv("KEEPTIME_REFLINK_DIR");
#endif
}

inline std::string text(const fs::path& file) { return (std::stringstream() << std::ifstream(file).rdbuf()).str(); }

struct Result { int status; std::string out, err; };
inline Result run(const std::vector<std::string>& argv) {  // "env", "NAME=value", ... sets a variable
    TempDir logs;
    const int status = finish(start(argv, logs.path()));
    return {status, text(logs / "out"), text(logs / "err")};
}
inline bool onPath(const std::string& tool) { return run({"sh", "-c", "command -v " + tool}).status == 0; }
inline std::vector<std::string> split(const std::string& text, char separator = '\n') {  // the non-empty parts
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);) part.empty() ? void() : parts.push_back(part);
    return parts;
}
inline Result keeptime(std::vector<std::string> args, const std::string& more = "") {  // keeptime-cli ARGS, then MORE's words
    args.insert(args.begin(), kCli);
    for (const auto& word : split(more, ' ')) args.push_back(word);
    return run(args);
}
inline std::string nodeModules() {  // a node_modules holding npm wavefile, or "" when it or node is missing
    const std::string modules = setting("KEEPTIME_NODE_PATH", KEEPTIME_NODE_MODULES);
    return onPath("node") && fs::exists(modules + "/wavefile/package.json") ? modules : "";
}

inline json reading(const std::string& reader, const fs::path& file) {  // ffprobe, riffcheck.py or npm wavefile
    const std::string dir = KEEPTIME_EXTERNAL_DIR "/", probed = "stream=sample_rate,channels,bits_per_sample:format";
    const Result r = reader == "ffprobe"
        ? run({"ffprobe", "-v", "error", "-of", "json", "-show_entries", probed + "=duration:format_tags", file})
        : reader == "wavefile" ? run({"env", "NODE_PATH=" + nodeModules(), "node", dir + "wavefile-check.js", file})
        : run({fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3", dir + "riffcheck.py", file});
    const json got = json::parse(r.out, nullptr, false);
    if (got.is_discarded()) throw std::runtime_error(reader + " printed no JSON: " + r.out + r.err);
    return got;
}

}  // namespace keeptime::external
