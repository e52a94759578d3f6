// The program as a user starts it.
#include "app/commandline.h"

#include "childprocess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

using namespace importtest;

namespace {

TEST(DialogCanOpen, NeedsADisplayOrAPlatformThatNeedsNone)
{
    EXPECT_FALSE(DialogCanOpen(nullptr, nullptr, nullptr));
    EXPECT_FALSE(DialogCanOpen("", "", ""));
    EXPECT_TRUE(DialogCanOpen(":0", nullptr, nullptr));
    EXPECT_TRUE(DialogCanOpen(nullptr, "wayland-0", nullptr));
    EXPECT_FALSE(DialogCanOpen(nullptr, nullptr, "wayland-egl;xcb"));
    EXPECT_TRUE(DialogCanOpen(nullptr, nullptr, "xcb;vnc:size=800x600"));
}

TEST(Program, WithoutDisplaySaysHowToImportInsteadOfAborting)
{
    TChildProcess program({ ProgramPath() }, { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" });
    ASSERT_TRUE(program.Wait(std::chrono::minutes(1)));
    EXPECT_EQ(program.Ending(), ExitEnding(ExitUsage));
    EXPECT_EQ(program.Err(), std::string(SNoDisplay) + "\n");
}

TEST(Program, SigtermClosesTheDialog)
{
    TChildProcess program({ ProgramPath() }, { "QT_QPA_PLATFORM=offscreen" });
    // Sent once the main thread blocks the stop signals (HUP, INT, TERM in its mask).
    for (std::string line; line.empty() && !program.Wait(std::chrono::milliseconds(10));) {
        std::ifstream status("/proc/" + std::to_string(program.Pid()) + "/status");
        while (std::getline(status, line) && !line.starts_with("SigBlk:")) {
        }
        if (line.size() < 8 || (std::stoull(line.substr(7), nullptr, 16) & 0x4003) != 0x4003)
            line.clear();
    }
    program.Signal(SIGTERM);
    ASSERT_TRUE(program.Wait(std::chrono::minutes(1))) << "the dialog stays open";
    EXPECT_EQ(program.Ending(), ExitEnding(128 + SIGTERM));
}

} // namespace
