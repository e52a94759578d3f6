#pragma once
#include <csignal>

// SIGINT, SIGTERM and SIGHUP stop the program politely: the first one asks the running pass to
// stop before its next entry (everything done is committed, the summary printed); a second one
// ends the process at once with the same kind of exit status.
//
// The database client library sets handlers of its own for SIGINT and SIGTERM when it first
// attaches, whatever was set before, and its handler shuts every connection down under the
// running pass. So the signals are blocked in every thread (a thread inherits the mask of the
// one that starts it) and taken by one thread of ours with sigwait: no handler ever runs.

// Blocks the stop signals and starts the thread that takes them. Call once, on the main thread,
// before any other thread starts and before the client library is loaded.
void WatchStopSignals();
// The first stop signal received, 0 while none came.
int StopSignal();
// The exit status of a program ended by the signal: 128 + its number (130, 143, 129).
int SignalExitCode(int signal);
// A descriptor that becomes readable when a stop signal comes, for an event loop to watch;
// -1 before WatchStopSignals.
int StopSignalDescriptor();

// Blocks the stop signals in the calling thread while it lives, so that threads started
// meanwhile inherit the block.
class TStopSignalsBlocked {
public:
    TStopSignalsBlocked();
    ~TStopSignalsBlocked();
    TStopSignalsBlocked(const TStopSignalsBlocked&) = delete;
    TStopSignalsBlocked& operator=(const TStopSignalsBlocked&) = delete;

private:
    sigset_t FPrevious;
};
