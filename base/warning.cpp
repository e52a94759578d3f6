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
}

void SetWarningHandler(TWarningHandler handler)
{
    std::lock_guard guard(HandlerLock());
    Handler() = std::move(handler);
}

void ShowWarning(const std::string& text)
{
    TWarningHandler handler;
    {
        std::lock_guard guard(HandlerLock());
        handler = Handler();
    }
    if (handler) // called outside the lock: a handler may show a modal box or install another
        handler(text);
}
