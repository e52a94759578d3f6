#pragma once
#include <string>

// Exit codes of the commands.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

// The text of images-by-id --help: every command with its options.
std::string UsageText();
