// Running a save of several copies from the command line, the same way for
// every command that writes more than one file (trim of several inputs or a
// take, split): names checked, the copies planned, then written through a
// TakeSave with a stop signal cancelling it, one progress meter, the exit
// status, and --json's array of one object per copy.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <vector>

#include "copy/BWFReconstructor.hpp"

namespace keeptime::cli {

struct SaveRunOptions {
    std::filesystem::path folder;  // where the copies go; named when the run is refused, stopped or failed
    bool quiet = false;            // no progress meter
    bool json = false;             // print the copies as a JSON array on standard output
    unsigned jobs = 0;             // copies written at once; 0: TakeSave::defaultParallel()
    // Adds fields to copy i's JSON object ("notice", "segment", ...), after the usual ones.
    std::function<void(std::size_t i, nlohmann::ordered_json& copy)> annotate;
    // With json: the array goes here instead of standard output, for a command that prints it inside its own object.
    nlohmann::ordered_json* jsonInto = nullptr;
};

// Writes every request, all or none, and returns the exit status: kOk; kRefused
// (having said why, nothing written) when two copies share a name, a copy would
// overwrite its input, an output exists without request.replace, or a copy
// cannot be planned; kCopyFailed when a copy fails; 128 + the signal when a stop
// signal cancels it. After a failure or a signal none of the copies is left and
// every file replaced is as it was.
int runSave(std::vector<CopyRequest> requests, const SaveRunOptions& options);

// What a copy holds, for --json: one object per copy. file: the input's times,
// as the copy was planned with them.
nlohmann::ordered_json copyJson(const std::filesystem::path& input, const std::filesystem::path& output,
                                const CopyPlan& plan, const CopyOutcome& outcome, const Clock& file);

// Names what a run stopped by SIGKILL or a power loss left in folder, so that a
// person finds it (the man page's AFTER A CRASH says what to do).
void sayLeftovers(const std::filesystem::path& folder);

// Whether folder is one the copies can go into; otherwise says why (it does not
// exist, or it is no folder) and what -o names (`names`), and gives false.
bool usableFolder(const std::filesystem::path& folder, const std::string& names);

}  // namespace keeptime::cli
