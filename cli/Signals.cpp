#include "cli/Signals.hpp"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iterator>

#include "copy/BWFReconstructor.hpp"
#include "trim/TakeSave.hpp"

namespace keeptime::cli {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// What the handler may touch: lock-free atomics only.
std::atomic<int> stoppedBy{0};
std::atomic<bool> inScope{false};
std::atomic<BWFReconstructor*> runningJob{nullptr};
std::atomic<TakeSave*> runningSave{nullptr};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free &&
              std::atomic<BWFReconstructor*>::is_always_lock_free);

extern "C" void onStopSignal(int signal, siginfo_t* info, void*) {
    // A write to a closed pipe sends SIGPIPE from this very process: that write
    // then fails with EPIPE and is reported where it was made.
    if (signal == SIGPIPE && info && info->si_code == SI_USER && info->si_pid == ::getpid()) return;
    if (!inScope.load()) {  // nothing to remove: end as the signal's default would
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        sigaction(signal, &fallback, nullptr);
        ::raise(signal);  // delivered as this handler returns
        return;
    }
    stoppedBy = signal;
    if (BWFReconstructor* job = runningJob.load()) job->cancel();
    if (TakeSave* save = runningSave.load()) save->cancel();
}

}  // namespace

void handleStopSignals() {
    struct sigaction action {};
    action.sa_sigaction = onStopSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;  // a stop is seen between blocks, not as a failed read or write
    sigemptyset(&action.sa_mask);
    for (int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
    for (int signal : kStopSignals) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
    }
}

StopScope::StopScope() { inScope = true; }

StopScope::~StopScope() {
    inScope = false;
    runningJob = nullptr;
    runningSave = nullptr;
}

void StopScope::cancels(BWFReconstructor& job) {
    runningJob = &job;
    if (stoppedBy.load()) job.cancel();
}

void StopScope::cancels(TakeSave& save) {
    runningSave = &save;
    if (stoppedBy.load()) save.cancel();
}

int stopSignal() { return stoppedBy.load(); }

}  // namespace keeptime::cli
