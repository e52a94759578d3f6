#include "childprocess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace importtest {

TChildProcess::TChildProcess(const std::vector<std::string>& args, const std::vector<std::string>& environment)
{
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable)
        variables.emplace_back(*variable);
    for (const std::string& change : environment) {
        const std::string name = change.substr(0, change.find('=')) + '=';
        std::erase_if(variables, [&](const std::string& variable) { return variable.starts_with(name); });
        if (change.size() >= name.size())
            variables.push_back(change);
    }
    std::vector<char*> argv, envp;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    for (const std::string& variable : variables)
        envp.push_back(const_cast<char*>(variable.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const std::string out = FFiles / "out", err = FFiles / "err";
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The child starts with no signal blocked and the stop signals at their default.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int signal : { SIGINT, SIGTERM, SIGHUP, SIGIO })
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int failed = posix_spawn(&FPid, argv[0], &files, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    if (failed != 0)
        throw std::runtime_error("cannot start " + args[0]);
}

TChildProcess::~TChildProcess()
{
    if (!FEnded) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, &FStatus, 0);
    }
}

void TChildProcess::Signal(int signal) const
{
    if (!FEnded)
        ::kill(FPid, signal);
}

bool TChildProcess::Wait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (!FEnded)
            FEnded = ::waitpid(FPid, &FStatus, WNOHANG) == FPid;
        if (FEnded || std::chrono::steady_clock::now() >= deadline)
            return FEnded;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string TChildProcess::Ending() const
{
    if (!FEnded)
        return "running";
    return WIFSIGNALED(FStatus) ? "signal " + std::to_string(WTERMSIG(FStatus)) : ExitEnding(WEXITSTATUS(FStatus));
}

} // namespace importtest
