// The program as a user starts it.
#include "app/commandline.h"

#include "childprocess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

using namespace importtest;

namespace {

struct TDisplayCase {
    const char *Display, *Wayland, *Platform;
    bool CanOpen;
};

TEST(DialogCanOpen, NeedsADisplayOrAPlatformThatNeedsNone)
{
    for (const TDisplayCase& test : {
             TDisplayCase { nullptr, nullptr, nullptr, false },
             TDisplayCase { "", "", "", false },
             TDisplayCase { ":0", nullptr, nullptr, true },
             TDisplayCase { nullptr, "wayland-0", nullptr, true },
             TDisplayCase { nullptr, nullptr, "xcb", false },
             TDisplayCase { nullptr, nullptr, "wayland;xcb", false },
             TDisplayCase { nullptr, nullptr, "wayland-egl", false },
             TDisplayCase { nullptr, nullptr, "offscreen", true },
             TDisplayCase { nullptr, nullptr, "vnc:size=800x600", true },
             TDisplayCase { nullptr, nullptr, "xcb;offscreen", true },
             TDisplayCase { nullptr, nullptr, ";", false },
         }) {
        EXPECT_EQ(DialogCanOpen(test.Display, test.Wayland, test.Platform), test.CanOpen)
            << (test.Display ? test.Display : "-") << ' ' << (test.Wayland ? test.Wayland : "-") << ' '
            << (test.Platform ? test.Platform : "-");
    }
}

TEST(Program, WithoutDisplaySaysHowToImportInsteadOfAborting)
{
    TChildProcess program({ ProgramPath() }, { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" });
    ASSERT_TRUE(program.Wait(std::chrono::minutes(1)));
    EXPECT_EQ(program.Ending(), ExitEnding(ExitUsage));
    EXPECT_EQ(program.Err(), std::string(SNoDisplay) + "\n");
}

// The stop signals are taken once the main thread blocks them; its mask is in /proc.
bool StopSignalsBlocked(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("SigBlk:"))
            return (std::stoull(line.substr(7), nullptr, 16) & 0x4003) == 0x4003; // HUP, INT, TERM
    return false;
}

TEST(Program, SigtermClosesTheDialog)
{
    TChildProcess program({ ProgramPath() }, { "QT_QPA_PLATFORM=offscreen" });
    while (!StopSignalsBlocked(program.Pid()) && !program.Wait(std::chrono::milliseconds(10))) {
    }
    program.Signal(SIGTERM);
    ASSERT_TRUE(program.Wait(std::chrono::minutes(1))) << "the dialog stays open";
    EXPECT_EQ(program.Ending(), ExitEnding(128 + SIGTERM));
}

} // namespace
