#pragma once
#include <functional>
#include <string>

// Warnings a library shows to the user (captioned "Warning"). The application installs the
// handler: the dialog shows a message box, the command line prints to standard error.
// Without a handler warnings are dropped.
using TWarningHandler = std::function<void(const std::string& text)>;

void SetWarningHandler(TWarningHandler handler);
void ShowWarning(const std::string& text);

inline constexpr const char* SWarningCaption = "Warning";
