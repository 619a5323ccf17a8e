#include "trim/TakeSave.hpp"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "io/OutputFile.hpp"

namespace keeptime {

namespace {

bool sameFolder(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    return std::filesystem::equivalent(folderOf(a), folderOf(b), error);
}

}  // namespace

std::vector<CopyRequest> alignedRequests(const std::filesystem::path& lead, std::int64_t first, std::int64_t last,
                                         const std::vector<std::filesystem::path>& members,
                                         const std::filesystem::path& folder, const ClockChoice& times) {
    const BWFParser leadParser(lead);
    const Clock from = leadParser.clock(times);
    const bool leadStamped = leadParser.timeReferenceSource() != TimeReferenceSource::None;
    std::vector<CopyRequest> requests;
    for (const auto& member : members) {
        const BWFParser parser(member);
        const Clock to = parser.clock(times);
        const bool byTime = leadStamped && parser.timeReferenceSource() != TimeReferenceSource::None;
        auto align = [&](std::int64_t frame) {
            return std::clamp<std::int64_t>(byTime ? from.frameAtSameTime(frame, to) : frame, 0, to.frames);
        };
        const std::int64_t start = first <= 0 ? 0 : align(first);
        const std::int64_t end = last >= from.frames ? to.frames : align(last);
        if (start > end || (start == end && first < last))
            throw BWFError(BWFError::Kind::BadRange, member,
                           "holds none of the range " + from.text(Notation::TimeOfDay, first) + " to " +
                               from.text(Notation::TimeOfDay, last) + " of " + lead.filename().string());
        requests.push_back({member, folder / member.filename(), start, end, times});
    }
    return requests;
}

unsigned TakeSave::defaultParallel() { return std::clamp(std::thread::hardware_concurrency(), 1u, 4u); }

void TakeSave::checkNames(const std::vector<CopyRequest>& requests) {
    std::set<std::filesystem::path> outputs;
    std::multimap<std::filesystem::path, const CopyRequest*> inputs;  // by file name
    std::map<FileId, std::filesystem::path> inputFiles;  // by identity: a link in the output folder may name one
    for (const auto& request : requests) {
        inputs.emplace(request.input.filename(), &request);
        if (const auto id = fileId(request.input)) inputFiles.emplace(*id, request.input);
    }
    for (const auto& request : requests) {
        const std::filesystem::path& output = request.output;
        if (!outputs.insert(output.lexically_normal()).second)
            throw BWFError(BWFError::Kind::Output, output, "two copies of this save would have this name");
        const auto [from, to] = inputs.equal_range(output.filename());
        for (auto input = from; input != to; ++input)
            if (sameFolder(output, input->second->input))
                throw BWFError(BWFError::Kind::Output, folderOf(output),
                               "holds " + input->first.string() + ", a file of this save; choose another folder");
        if (const auto id = fileId(output); id && inputFiles.count(*id))
            throw BWFError(BWFError::Kind::Output, output,
                           "is " + inputFiles.at(*id).string() + ", an input of this save; it is never replaced");
    }
}

TakeSave::TakeSave(std::vector<CopyRequest> requests) : requests_(std::move(requests)), hooks_(requests_.size()) {
    checkNames(requests_);
    plans_.reserve(requests_.size());
    for (const auto& request : requests_) plans_.push_back(BWFReconstructor(request).plan());
}

TakeSave::~TakeSave() = default;

std::int64_t TakeSave::audioBytes() const {
    std::int64_t total = 0;
    for (const auto& plan : plans_) total += plan.audioBytes;
    return total;
}

bool TakeSave::stop() {
    int expected = kRunning;
    const bool stopped = state_.compare_exchange_strong(expected, kStopped) || expected == kStopped;
    if (stopped) stopped_ = true;
    return stopped;
}

bool TakeSave::cancel() { return stop(); }

SaveOutcome TakeSave::run(unsigned parallel, const std::function<void(std::int64_t)>& progress, std::ostream* log) {
    const std::size_t count = size();
    SaveOutcome outcome;
    outcome.copies.assign(count, CopyOutcome{CopyOutcome::Status::Cancelled, {}});
    std::vector<std::filesystem::path> staged(count), destinations(count);
    std::vector<std::ostringstream> logs(count);
    std::mutex mutex;
    std::vector<std::int64_t> percents(count, 0);
    const std::int64_t total = audioBytes();
    std::int64_t reported = -1;
    auto report = [&](std::size_t i, std::int64_t percent) {  // under the mutex
        percents[i] = percent;
        std::int64_t done = 0;
        for (std::size_t j = 0; j < count; ++j) done += total ? plans_[j].audioBytes * percents[j] : percents[j];
        const std::int64_t whole = done / (total ? total : std::int64_t(count));
        if (progress && whole > reported && whole < 100) progress(reported = whole);
    };

    // Each thread takes the next copy: a few inputs are open at a time, however many the save has.
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < count && state_ == kRunning; i = next++) {
            CopyOutcome copy;
            try {
                BWFReconstructor job(requests_[i], &logs[i]);
                job.setHooks(hooks_[i]);
                job.stageOnly();
                job.stopWith(stopped_);
                {
                    std::lock_guard lock(mutex);
                    plans_[i] = job.plan();
                }
                destinations[i] = job.destination();
                copy = job.process([&, i](std::int64_t percent) {
                    std::lock_guard lock(mutex);
                    report(i, percent);
                });
                if (copy.completed()) staged[i] = job.staged();
            } catch (const BWFError& error) {
                copy.status = CopyOutcome::Status::Failed, copy.error = error;
            } catch (const std::exception& error) {
                copy.status = CopyOutcome::Status::Failed;
                copy.error = BWFError(BWFError::Kind::Output, requests_[i].output, error.what());
            }
            if (!copy.completed()) stop();
            std::lock_guard lock(mutex);
            outcome.copies[i] = std::move(copy);
        }
    };
    std::vector<std::thread> threads;
    const std::size_t pool = std::clamp<std::size_t>(parallel, 1, std::max<std::size_t>(count, 1));
    for (std::size_t t = 1; t < pool; ++t) threads.emplace_back(work);
    work();
    for (auto& thread : threads) thread.join();

    // Every copy written: all are put in place, or none is.
    std::optional<BWFError> leftover;
    {
        Placement placement;
        std::size_t i = 0;
        try {
            for (; i < count && state_ == kRunning; ++i) {
                if (hooks_[i].beforePlace) hooks_[i].beforePlace();
                if (state_ != kRunning) break;
                placement.place(staged[i], destinations[i], requests_[i].replace);
                staged[i].clear();
            }
        } catch (const BWFError& error) {
            outcome.copies[i].status = CopyOutcome::Status::Failed, outcome.copies[i].error = error;
            stop();
        }
        int expected = kRunning;
        if (i == count && state_.compare_exchange_strong(expected, kPlaced)) placement.finish();
        else leftover = placement.undo();
    }
    for (const auto& name : staged) {
        std::error_code error;
        if (!name.empty() && !std::filesystem::remove(name, error) && error && !leftover)
            leftover = BWFError(BWFError::Kind::Output, name, "the finished copy could not be removed: " + error.message());
    }

    const bool whole = state_ == kPlaced;
    const auto failed = std::find_if(outcome.copies.begin(), outcome.copies.end(), [](const CopyOutcome& copy) {
        return copy.status == CopyOutcome::Status::Failed;
    });
    outcome.status = whole ? CopyOutcome::Status::Completed
                     : failed != outcome.copies.end() || leftover ? CopyOutcome::Status::Failed
                                                                   : CopyOutcome::Status::Cancelled;
    // A file that could not be put back or removed says so first: the user must know where it is.
    outcome.error = leftover ? leftover : failed != outcome.copies.end() ? failed->error : std::nullopt;
    if (!whole)
        for (auto& copy : outcome.copies)
            if (copy.completed()) copy.status = CopyOutcome::Status::Cancelled;  // written, then taken back
    if (log)
        for (const auto& lines : logs) *log << lines.str();
    if (progress) progress(whole ? 100 : 0);
    return outcome;
}

}  // namespace keeptime
