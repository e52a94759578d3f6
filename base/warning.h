#pragma once
#include <functional>
#include <string>
#include <vector>

// Warnings a library shows to the user (captioned "Warning"). The application installs the
// handler: the dialog shows a message box, the command line prints to standard error.
// Without a handler warnings are dropped.
using TWarningHandler = std::function<void(const std::string& text)>;

void SetWarningHandler(TWarningHandler handler);
void ShowWarning(const std::string& text);

inline constexpr const char* SWarningCaption = "Warning";

// While one lives on a thread, warnings shown on that thread are kept in it instead of reaching
// the handler: a worker decoding ahead keeps them for the pass, which shows them in entry order
// from its own thread.
class TThreadWarnings {
public:
    TThreadWarnings();
    ~TThreadWarnings();
    TThreadWarnings(const TThreadWarnings&) = delete;
    TThreadWarnings& operator=(const TThreadWarnings&) = delete;

    // The texts kept so far, in the order shown; the list starts afresh.
    std::vector<std::string> Take();

private:
    friend void ShowWarning(const std::string& text);
    std::vector<std::string> FTexts;
    TThreadWarnings* FOuter;
};
