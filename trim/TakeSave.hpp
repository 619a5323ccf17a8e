// Saving a take (or any batch of files) as one: each file's copy is a
// BWFReconstructor job, several run at once, and the copies are put in place
// only once every one is written. When one fails or the save is cancelled,
// none is kept: a save is whole or not at all.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <vector>

#include "bwf/BWFReconstructor.hpp"
#include "trim/TrimRange.hpp"

namespace keeptime {

// The copies of members that hold the times of day of lead's frames [first,
// last): each member's frames come from its own stamp, so that every copy starts
// at the same sample of the day. An edge at the lead's edge (first 0, last its
// length) is each member's own edge. A member, or a lead, without a time
// reference takes the same offsets from its start. Each copy goes into folder
// under the member's name. Throws BWFError when a member cannot be read or holds
// none of the range.
std::vector<CopyRequest> alignedRequests(const std::filesystem::path& lead, std::int64_t first, std::int64_t last,
                                         const std::vector<std::filesystem::path>& members,
                                         const std::filesystem::path& folder, bool weirdTC = false);

struct SaveOutcome {
    CopyOutcome::Status status = CopyOutcome::Status::Failed;
    std::vector<CopyOutcome> copies;  // one per request, in order
    std::optional<BWFError> error;    // the first failure, or a copy that could not be removed again

    bool completed() const { return status == CopyOutcome::Status::Completed; }
    std::string message() const { return error ? error->what() : std::string(); }
};

class TakeSave {
public:
    // Copies at once by default: the machine's cores, at most 4.
    static unsigned defaultParallel();

    // Plans every copy, writing nothing. Throws BWFError when a copy cannot be
    // planned (an existing output without replace among them), when two copies
    // would have one name, or when a copy would go into an input's own folder
    // under that input's name.
    explicit TakeSave(const std::vector<CopyRequest>& requests);
    // The naming refusals alone (one name twice, an input's own folder), without
    // planning: for callers that check outputs of their own before planning.
    static void checkNames(const std::vector<CopyRequest>& requests);
    ~TakeSave();
    TakeSave(const TakeSave&) = delete;
    TakeSave& operator=(const TakeSave&) = delete;

    std::size_t size() const { return jobs_.size(); }
    const BWFReconstructor& job(std::size_t i) const { return *jobs_[i]; }
    std::int64_t audioBytes() const;  // of all copies
    void setHooks(std::size_t i, CopyHooks hooks) { jobs_[i]->setHooks(std::move(hooks)); }

    // Stops the save from any thread, also from a signal handler (it only sets
    // atomic flags). Copies already in place are removed when run() ends. False
    // when it is too late: every copy is in place, and the save is complete.
    bool cancel();

    // Runs the save on the calling thread, parallel copies at a time, and reports
    // whole percents of all the audio through progress (from the copies'
    // threads, one call at a time): then 100 on completion, or 0. Each copy's
    // "Done" and completion lines go to log, in the requests' order, at the end.
    SaveOutcome run(unsigned parallel, const std::function<void(std::int64_t)>& progress = {},
                    std::ostream* log = nullptr);

private:
    void stopAll();

    std::vector<std::unique_ptr<std::ostringstream>> logs_;
    std::vector<std::unique_ptr<BWFReconstructor>> jobs_;
    std::atomic<bool> stop_{false};
};

}  // namespace keeptime
