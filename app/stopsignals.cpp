#include "app/stopsignals.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

std::atomic<int> FirstSignal { 0 };
// The self-pipe: the watching thread writes a byte, an event loop watches the reading end.
int PipeRead = -1, PipeWrite = -1;

sigset_t StopSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaddset(&set, signal);
    return set;
}

void TakeStopSignals(sigset_t set)
{
    for (;;) {
        int signal = 0;
        if (::sigwait(&set, &signal) != 0)
            continue;
        int expected = 0;
        if (!FirstSignal.compare_exchange_strong(expected, signal))
            ::_exit(SignalExitCode(signal)); // the second one: at once, nothing more runs
        const char byte = 1;
        if (PipeWrite >= 0)
            [[maybe_unused]] const ssize_t written = ::write(PipeWrite, &byte, 1);
    }
}

} // namespace

void WatchStopSignals()
{
    static bool watching = false;
    if (watching)
        return;
    watching = true;
    const sigset_t set = StopSignalSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        PipeRead = ends[0];
        PipeWrite = ends[1];
    }
    // Lives until the process ends; it only ever waits, sets the flag and writes the pipe.
    std::thread(TakeStopSignals, set).detach();
}

int StopSignal() { return FirstSignal.load(); }

int SignalExitCode(int signal) { return 128 + signal; }

int StopSignalDescriptor() { return PipeRead; }

TStopSignalsBlocked::TStopSignalsBlocked()
{
    const sigset_t set = StopSignalSet();
    ::pthread_sigmask(SIG_BLOCK, &set, &FPrevious);
}

TStopSignalsBlocked::~TStopSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &FPrevious, nullptr); }
