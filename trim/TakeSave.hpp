// Saving a take (or any batch of files) as one: each file's copy is a
// BWFReconstructor job, a few run at once, and the copies are put in place
// only once every one is written. When one fails or the save is cancelled,
// none is kept and every file replaced is put back: a save is whole or not at
// all. However many files, only a few are open at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <vector>

#include "copy/BWFReconstructor.hpp"

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
                                         const std::filesystem::path& folder, const ClockChoice& times = {});

struct SaveOutcome {
    CopyOutcome::Status status = CopyOutcome::Status::Failed;
    std::vector<CopyOutcome> copies;  // one per request, in order
    std::optional<BWFError> error;    // the first failure, or a file that could not be put back or removed

    bool completed() const { return status == CopyOutcome::Status::Completed; }
    std::string message() const { return error ? error->what() : std::string(); }
};

class TakeSave {
public:
    // Copies at once by default: the machine's cores, at most 4.
    static unsigned defaultParallel();

    // Plans every copy, one at a time, keeping only what each will hold; writes
    // nothing. Throws BWFError when a copy cannot be planned (an existing output
    // without replace among them), when two copies would have one name, or when
    // a copy would go into an input's own folder under that input's name.
    explicit TakeSave(std::vector<CopyRequest> requests);
    // The naming refusals alone (one name twice, an input's own folder), without
    // planning: for callers that check outputs of their own before planning.
    static void checkNames(const std::vector<CopyRequest>& requests);
    ~TakeSave();
    TakeSave(const TakeSave&) = delete;
    TakeSave& operator=(const TakeSave&) = delete;

    std::size_t size() const { return requests_.size(); }
    const CopyRequest& request(std::size_t i) const { return requests_[i]; }
    // What copy i holds: as planned, then as written once run() has made it.
    const CopyPlan& plan(std::size_t i) const { return plans_[i]; }
    std::int64_t audioBytes() const;  // of all copies
    // Copy i's faults; its beforePlace comes just before the save puts it in place.
    void setHooks(std::size_t i, CopyHooks hooks) { hooks_[i] = std::move(hooks); }

    // Stops the save from any thread, also from a signal handler (it only sets
    // atomic flags): every copy goes and every file replaced is put back. False
    // when it is too late: every copy is in place.
    bool cancel();

    // Runs the save: `parallel` threads each plan, open and write one copy at a
    // time, leaving it flushed under a hidden name beside its output. Once every
    // copy is written they are put in place together, each file they replace
    // kept until the last is in place (Placement); a failure or cancel before
    // then removes every copy and puts back every replaced file. Reports whole
    // percents of all the audio through progress (one call at a time), then 100
    // on completion, or 0. Each copy's "Done" and completion lines go to log, in
    // the requests' order, at the end. Runs once.
    SaveOutcome run(unsigned parallel, const std::function<void(std::int64_t)>& progress = {},
                    std::ostream* log = nullptr);

private:
    bool stop();  // from running to stopped; false once placed

    enum : int { kRunning, kStopped, kPlaced };
    std::vector<CopyRequest> requests_;
    std::vector<CopyPlan> plans_;
    std::vector<CopyHooks> hooks_;
    std::atomic<int> state_{kRunning};
    std::atomic<bool> stopped_{false};  // what the copies stop at
};

}  // namespace keeptime
