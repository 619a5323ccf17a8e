#include "trim/TakeSave.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <semaphore>
#include <thread>

namespace keeptime {

namespace {

std::filesystem::path folderOf(const std::filesystem::path& file) {
    return file.parent_path().empty() ? "." : file.parent_path();
}

bool sameFolder(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    return std::filesystem::equivalent(folderOf(a), folderOf(b), error);
}

}  // namespace

std::vector<CopyRequest> alignedRequests(const std::filesystem::path& lead, std::int64_t first, std::int64_t last,
                                         const std::vector<std::filesystem::path>& members,
                                         const std::filesystem::path& folder, bool weirdTC) {
    const BWFParser leadParser(lead);
    const FileTimes from = fileTimes(leadParser, weirdTC);
    const bool leadStamped = leadParser.timeReferenceSource() != TimeReferenceSource::None;
    std::vector<CopyRequest> requests;
    for (const auto& member : members) {
        const BWFParser parser(member);
        const FileTimes to = fileTimes(parser, weirdTC);
        const bool byTime = leadStamped && parser.timeReferenceSource() != TimeReferenceSource::None;
        auto align = [&](std::int64_t frame) { return byTime ? frameAtSameTime(frame, from, to) : frame; };
        const std::int64_t start = first <= 0 ? 0 : clampEnd(clampStart(align(first), to), to);
        const std::int64_t end = last >= from.frames ? to.frames : clampEnd(clampStart(align(last), to), to);
        if (start > end || (start == end && first < last))
            throw BWFError(BWFError::Kind::BadRange, member,
                           "holds none of the range " + pointText(Notation::TimeOfDay, first, from) + " to " +
                               pointText(Notation::TimeOfDay, last, from) + " of " + lead.filename().string());
        requests.push_back({member, folder / member.filename(), start, end, weirdTC});
    }
    return requests;
}

unsigned TakeSave::defaultParallel() { return std::clamp(std::thread::hardware_concurrency(), 1u, 4u); }

void TakeSave::checkNames(const std::vector<CopyRequest>& requests) {
    for (std::size_t i = 0; i < requests.size(); ++i) {
        for (std::size_t j = 0; j < requests.size(); ++j) {
            const auto& [input, output] = std::pair(requests[j].input, requests[i].output);
            if (j < i && output.lexically_normal() == requests[j].output.lexically_normal())
                throw BWFError(BWFError::Kind::Output, output, "two copies of this save would have this name");
            if (output.filename() == input.filename() && sameFolder(output, input))
                throw BWFError(BWFError::Kind::Output, folderOf(output),
                               "holds " + input.filename().string() + ", a file of this save; choose another folder");
        }
    }
}

TakeSave::TakeSave(const std::vector<CopyRequest>& requests) {
    checkNames(requests);
    for (const auto& request : requests) {
        logs_.push_back(std::make_unique<std::ostringstream>());
        jobs_.push_back(std::make_unique<BWFReconstructor>(request, logs_.back().get()));
    }
}

TakeSave::~TakeSave() = default;

std::int64_t TakeSave::audioBytes() const {
    std::int64_t total = 0;
    for (const auto& job : jobs_) total += job->plan().audioBytes;
    return total;
}

void TakeSave::stopAll() {
    stop_ = true;
    for (const auto& job : jobs_) job->cancel();
}

bool TakeSave::cancel() {
    stop_ = true;
    bool stopped = false;
    for (const auto& job : jobs_) stopped = job->cancel() || stopped;  // each job, also after one stopped
    return stopped;
}

SaveOutcome TakeSave::run(unsigned parallel, const std::function<void(std::int64_t)>& progress, std::ostream* log) {
    const std::size_t count = jobs_.size();
    SaveOutcome outcome;
    outcome.copies.resize(count);
    // Copying takes one of the slots; a copy waiting to be put in place gives its slot back.
    std::counting_semaphore<> slots(std::clamp<std::ptrdiff_t>(parallel, 1, std::max<std::ptrdiff_t>(std::ssize(jobs_), 1)));
    std::mutex mutex;
    std::condition_variable written;
    std::size_t ready = 0;
    std::vector<char> gave(count, 0);
    std::vector<std::int64_t> percents(count, 0);
    const std::int64_t total = audioBytes();
    std::int64_t reported = -1;
    auto report = [&](std::size_t i, std::int64_t percent) {  // under the mutex
        percents[i] = percent;
        std::int64_t done = 0;
        for (std::size_t j = 0; j < count; ++j)
            done += total ? jobs_[j]->plan().audioBytes * percents[j] : percents[j];
        const std::int64_t whole = done / (total ? total : std::int64_t(count)) ;
        if (progress && whole > reported && whole < 100) progress(reported = whole);
    };

    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < count; ++i) {
        jobs_[i]->setPlaceGate([&, i] {
            std::unique_lock lock(mutex);
            gave[i] = 1;
            slots.release();
            if (++ready == count) written.notify_all();
            // A cancel from a signal handler only sets the flag: look at it now and then.
            while (ready < count && !stop_) written.wait_for(lock, std::chrono::milliseconds(20));
        });
        threads.emplace_back([&, i] {
            slots.acquire();
            outcome.copies[i] = jobs_[i]->process([&](std::int64_t percent) {
                std::lock_guard lock(mutex);
                report(i, percent);
            });
            std::lock_guard lock(mutex);
            if (!gave[i]) slots.release();
            if (!outcome.copies[i].completed()) {
                stopAll();
                written.notify_all();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& job : jobs_) job->setPlaceGate({});

    const auto failed = std::find_if(outcome.copies.begin(), outcome.copies.end(), [](const CopyOutcome& copy) {
        return copy.status == CopyOutcome::Status::Failed;
    });
    const bool whole = std::all_of(outcome.copies.begin(), outcome.copies.end(), [](const CopyOutcome& c) { return c.completed(); });
    outcome.status = whole ? CopyOutcome::Status::Completed
                     : failed != outcome.copies.end() ? CopyOutcome::Status::Failed
                                                      : CopyOutcome::Status::Cancelled;
    if (failed != outcome.copies.end()) outcome.error = failed->error;
    if (!whole) {
        // Copies put in place before the save stopped are taken back.
        for (std::size_t i = 0; i < count; ++i) {
            if (!outcome.copies[i].completed()) continue;
            std::error_code error;
            if (!std::filesystem::remove(jobs_[i]->destination(), error) && error) {
                outcome.status = CopyOutcome::Status::Failed;
                outcome.error = BWFError(BWFError::Kind::Output, jobs_[i]->destination(),
                                         "could not be removed after the save stopped: " + error.message());
            }
        }
    }
    if (log)
        for (const auto& lines : logs_) *log << lines->str();
    if (progress) progress(whole ? 100 : 0);
    return outcome;
}

}  // namespace keeptime
