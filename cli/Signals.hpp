// The signals that end a command line's work: Ctrl-C (SIGINT), closing the
// terminal (SIGHUP), SIGTERM, and a SIGPIPE sent to the process.
#pragma once

namespace keeptime {
class BWFReconstructor;
class TakeSave;
}  // namespace keeptime

namespace keeptime::cli {

// Called first in main. Handles each of those signals that is not ignored: one
// that was ignored when the program started (nohup ignores SIGHUP, a script's
// background job SIGINT) stays ignored, as in the shell's own tools. A write to
// a closed pipe fails with EPIPE instead of ending the program.
void handleStopSignals();

// From its start to its end a stop signal is only recorded, and cancels the
// copy or save named, so that its unfinished files are removed; at any other
// time it ends the program as the signal's default action does, since there is
// nothing of ours to remove then.
class StopScope {
public:
    StopScope();
    ~StopScope();
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;
    // The copy or save to cancel; cancelled at once if a signal came already.
    void cancels(BWFReconstructor& job);
    void cancels(TakeSave& save);
};

// The signal that stopped the run, or 0.
int stopSignal();

}  // namespace keeptime::cli
