// Running keeptime-cli and the independent readers (ffprobe, the Python chunk
// checker, npm wavefile, sndfile-info) as separate programs, as a user would.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace keeptime::external {

namespace fs = std::filesystem;
using nlohmann::json;

struct Result {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

// Runs a program (looked up on PATH) to the end, capturing both streams.
Result run(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {});
// Starts a program with its streams sent to files; see finish().
pid_t start(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err);
int finish(pid_t pid);  // exit status, or 128 + signal

bool onPath(const std::string& tool);
std::string cli();        // the keeptime-cli under test (KEEPTIME_CLI overrides the build's)
fs::path samplesDir();    // ../shared/samples beside the checkout
fs::path script(const std::string& name);  // a script in tests/external
// node_modules holding "wavefile", or nothing (KEEPTIME_NODE_PATH overrides the build's).
std::optional<fs::path> nodeModules();

std::string python();      // a python3 to run the chunk checker with, or "" when there is none

std::vector<std::string> lines(const std::string& text);  // non-empty lines
std::vector<unsigned char> readBytes(const fs::path& path);
std::vector<std::string> listFolder(const fs::path& folder);  // sorted names

// The independent readings, each as JSON.
json riffcheck(const fs::path& file, int* status = nullptr);
json ffprobe(const fs::path& file);
json wavefile(const fs::path& file);
// What libsndfile says: its complaint lines (a size that "should be" another,
// "Error", "*** " faults; not its notes on chunks it does not know) and the frames.
struct SndfileReading {
    std::vector<std::string> complaints;
    std::int64_t frames = -1;
};
SndfileReading sndfileInfo(const fs::path& file);

}  // namespace keeptime::external
