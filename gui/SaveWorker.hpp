// A save of many copies run on a thread of its own, so that the window stays
// live: its progress and its end are handed back to the window's thread.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "trim/TakeSave.hpp"

namespace keeptime {

class SaveWorker {
public:
    SaveWorker() = default;
    SaveWorker(const SaveWorker&) = delete;
    SaveWorker& operator=(const SaveWorker&) = delete;
    ~SaveWorker() { stop(); }

    bool saving() const { return thread_.joinable() && !finished_; }

    // Runs save; progress (whole percents) and ended are called on receiver's thread.
    void start(std::unique_ptr<TakeSave> save, QObject* receiver, std::function<void(int)> progress,
               std::function<void(const SaveOutcome&)> ended) {
        stop();
        save_ = std::move(save);
        finished_ = false;
        thread_ = std::thread([this, receiver, progress = std::move(progress), ended = std::move(ended)] {
            const SaveOutcome outcome = save_->run(TakeSave::defaultParallel(), [&](std::int64_t percent) {
                QMetaObject::invokeMethod(receiver, [progress, percent] { progress(int(percent)); }, Qt::QueuedConnection);
            });
            finished_ = true;
            QMetaObject::invokeMethod(receiver, [ended, outcome] { ended(outcome); }, Qt::QueuedConnection);
        });
    }

    // Cancels a save still running (none of its copies is kept) and waits for its thread.
    void stop() {
        if (!thread_.joinable()) return;
        if (save_ && !finished_) save_->cancel();
        thread_.join();
    }

private:
    std::unique_ptr<TakeSave> save_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
};

}  // namespace keeptime
