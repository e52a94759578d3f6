#pragma once
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace importtest {

// The images-by-id built beside the tests.
std::string ProgramPath();

// A program run as a child process, its standard output and error kept in files, its input
// empty. The child is killed and reaped if the test leaves before it ended.
class TChildProcess {
public:
    // args[0] is the program file. environment changes the test's own: "NAME=value" sets,
    // "NAME" removes.
    explicit TChildProcess(const std::vector<std::string>& args, const std::vector<std::string>& environment = {});
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    pid_t Pid() const { return FPid; }
    void Signal(int signal) const;
    // Waits for the end at most timeout (a watchdog, not a measurement); true once it ended.
    bool Wait(std::chrono::milliseconds timeout);
    // How it ended: "exit 0", "exit 130", "signal 11"; "running" before.
    std::string Ending() const;
    std::string Out() const;
    std::string Err() const;

private:
    pid_t FPid = -1;
    bool FEnded = false;
    int FStatus = 0;
    std::string FOutPath, FErrPath;
};

// "exit N" for the exit status N.
std::string ExitEnding(int exitCode);

} // namespace importtest
