#include "tests/external/External.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace keeptime::external {

namespace {

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

pid_t spawn(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err,
            const std::vector<std::string>& extraEnv) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // A test runner started in the background may ignore SIGINT; the program under test must not inherit that.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> env(extraEnv);
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, args[0], &files, &attributes, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

fs::path scratchFile() {
    std::string pattern = (fs::temp_directory_path() / "keeptime-run-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    ::close(fd);
    return pattern;
}

json parsed(const Result& r, const std::string& what) {
    try {
        return json::parse(r.out);
    } catch (const json::exception&) {
        throw std::runtime_error(what + " printed no JSON (status " + std::to_string(r.status) + "): " + r.out +
                                 r.err);
    }
}

}  // namespace

pid_t start(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err) {
    return spawn(argv, out, err, {});
}

int finish(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Result run(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
    const fs::path out = scratchFile(), err = scratchFile();
    Result r;
    r.status = finish(spawn(argv, out, err, extraEnv));
    r.out = slurp(out);
    r.err = slurp(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

bool onPath(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (!folder.empty() && ::access((fs::path(folder) / tool).c_str(), X_OK) == 0) return true;
    return false;
}

std::string cli() {
    const char* chosen = std::getenv("KEEPTIME_CLI");  // to check an installed build instead
    return chosen && *chosen ? chosen : KEEPTIME_CLI_PATH;
}
fs::path samplesDir() { return KEEPTIME_SAMPLES_DIR; }
fs::path script(const std::string& name) { return fs::path(KEEPTIME_EXTERNAL_DIR) / name; }

std::optional<fs::path> nodeModules() {
    const char* chosen = std::getenv("KEEPTIME_NODE_PATH");
    const fs::path modules = chosen && *chosen ? chosen : KEEPTIME_NODE_MODULES;
    if (!onPath("node") || !fs::exists(modules / "wavefile" / "package.json")) return std::nullopt;
    return modules;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) result.push_back(line);
    return result;
}

std::vector<unsigned char> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> listFolder(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string python() {
    // The system's own interpreter when there is one: version-manager shims cost a second per start.
    if (::access("/usr/bin/python3", X_OK) == 0) return "/usr/bin/python3";
    return onPath("python3") ? "python3" : "";
}

json riffcheck(const fs::path& file, int* status) {
    const Result r = run({python(), script("riffcheck.py").string(), file.string()});
    if (status) *status = r.status;
    return parsed(r, "riffcheck.py");
}

json ffprobe(const fs::path& file) {
    return parsed(run({"ffprobe", "-v", "error", "-show_entries",
                       "stream=sample_rate,channels,bits_per_sample:format=duration:format_tags=time_reference",
                       "-of", "json", file.string()}),
                  "ffprobe");
}

json wavefile(const fs::path& file) {
    const auto modules = nodeModules();
    if (!modules) throw std::logic_error("wavefile is not installed");
    return parsed(run({"node", script("wavefile-check.js").string(), file.string()},
                      {"NODE_PATH=" + modules->string()}),
                  "wavefile-check.js");
}

SndfileReading sndfileInfo(const fs::path& file) {
    SndfileReading reading;
    for (const auto& line : lines(run({"sndfile-info", file.string()}).out)) {
        if (line.find("should be") != std::string::npos || line.find("Error") != std::string::npos ||
            (line.rfind("*** ", 0) == 0 && line.find("(unknown marker)") == std::string::npos))
            reading.complaints.push_back(line);
        if (line.rfind("Frames ", 0) == 0) reading.frames = std::stoll(line.substr(line.find(':') + 1));
    }
    return reading;
}

}  // namespace keeptime::external
