#pragma once
#include <string>

// Exit codes of the commands.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

// The text of images-by-id --help: every command with its options.
std::string UsageText();

inline constexpr const char* SNoDisplay =
    "images-by-id: no display to open the dialog on; use \"images-by-id import ...\" (see --help)";

// Whether the dialog has somewhere to open, from the values of DISPLAY, WAYLAND_DISPLAY and
// QT_QPA_PLATFORM (null when unset): a display named, or a platform plugin list
// ("offscreen", "wayland;xcb", "vnc:size=800x600") with one that needs no display (anything
// but xcb and the wayland family).
bool DialogCanOpen(const char* display, const char* waylandDisplay, const char* platform);
