#include "childprocess.h"

#include "importtestsupport.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace importtest {

std::string ProgramPath() { return IBI_BINARY_DIR "/images-by-id"; }

TChildProcess::TChildProcess(const std::vector<std::string>& args, const std::vector<std::string>& environment)
{
    char pattern[] = "/tmp/ibi-child-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    FOutPath = std::string(pattern) + "/out";
    FErrPath = std::string(pattern) + "/err";
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable)
        variables.emplace_back(*variable);
    for (const std::string& change : environment) {
        const std::string name = change.substr(0, change.find('='));
        std::erase_if(variables, [&](const std::string& variable) { return variable.starts_with(name + "="); });
        if (change.size() > name.size())
            variables.push_back(change);
    }
    // Everything the child needs is made before the fork: between fork and exec a process
    // with threads may only make async-signal-safe calls.
    std::vector<char*> argv, envp;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    for (const std::string& variable : variables)
        envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = ::open(FOutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open(FErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0 || err < 0)
        throw std::runtime_error("cannot open the child's files");
    FPid = ::fork();
    if (FPid == 0) {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const int signal : { SIGINT, SIGTERM, SIGHUP, SIGIO })
            ::signal(signal, SIG_DFL);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in);
    ::close(out);
    ::close(err);
    if (FPid < 0)
        throw std::runtime_error("fork failed");
}

TChildProcess::~TChildProcess()
{
    if (!FEnded) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, &FStatus, 0);
    }
    ::unlink(FOutPath.c_str());
    ::unlink(FErrPath.c_str());
    ::rmdir(FOutPath.substr(0, FOutPath.size() - 4).c_str());
}

void TChildProcess::Signal(int signal) const
{
    if (!FEnded)
        ::kill(FPid, signal);
}

bool TChildProcess::Wait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!FEnded) {
        const pid_t ended = ::waitpid(FPid, &FStatus, WNOHANG);
        if (ended == FPid)
            FEnded = true;
        else if (ended < 0 || std::chrono::steady_clock::now() >= deadline)
            return FEnded;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string TChildProcess::Ending() const
{
    if (!FEnded)
        return "running";
    if (WIFSIGNALED(FStatus))
        return "signal " + std::to_string(WTERMSIG(FStatus));
    return ExitEnding(WEXITSTATUS(FStatus));
}

std::string TChildProcess::Out() const { return ReadBytes(FOutPath); }

std::string TChildProcess::Err() const { return ReadBytes(FErrPath); }

std::string ExitEnding(int exitCode) { return "exit " + std::to_string(exitCode); }

} // namespace importtest
