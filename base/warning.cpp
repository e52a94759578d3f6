#include "base/warning.h"

#include <mutex>
#include <utility>

namespace {
std::mutex& HandlerLock()
{
    static std::mutex lock;
    return lock;
}
TWarningHandler& Handler()
{
    static TWarningHandler handler;
    return handler;
}
thread_local TThreadWarnings* Collector = nullptr;
}

TThreadWarnings::TThreadWarnings() : FOuter(Collector) { Collector = this; }

TThreadWarnings::~TThreadWarnings() { Collector = FOuter; }

std::vector<std::string> TThreadWarnings::Take() { return std::exchange(FTexts, {}); }

void SetWarningHandler(TWarningHandler handler)
{
    std::lock_guard guard(HandlerLock());
    Handler() = std::move(handler);
}

void ShowWarning(const std::string& text)
{
    if (Collector) {
        Collector->FTexts.push_back(text);
        return;
    }
    TWarningHandler handler;
    {
        std::lock_guard guard(HandlerLock());
        handler = Handler();
    }
    if (handler) // called outside the lock: a handler may show a modal box or install another
        handler(text);
}
