#pragma once
#include "importtestsupport.h"

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace importtest {

// The images-by-id built beside the tests.
inline std::string ProgramPath() { return IBI_BINARY_DIR "/images-by-id"; }

// A program run as a child process (args[0] is its file) with the test's environment changed
// ("NAME=value" sets, "NAME" removes), no input, its output and errors kept in files. Killed
// and reaped if the test leaves before it ended.
class TChildProcess {
public:
    explicit TChildProcess(const std::vector<std::string>& args, const std::vector<std::string>& environment = {});
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    pid_t Pid() const { return FPid; }
    void Signal(int signal) const;
    // Waits for the end at most timeout (a watchdog, not a measurement); true once it ended.
    bool Wait(std::chrono::milliseconds timeout);
    // How it ended: "exit 0", "signal 9"; "running" before.
    std::string Ending() const;
    std::string Out() const { return ReadBytes(FFiles / "out"); }
    std::string Err() const { return ReadBytes(FFiles / "err"); }

private:
    TTempFolder FFiles;
    pid_t FPid = -1;
    bool FEnded = false;
    int FStatus = 0;
};

inline std::string ExitEnding(int exitCode) { return "exit " + std::to_string(exitCode); }

} // namespace importtest
