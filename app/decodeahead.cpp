#include "app/decodeahead.h"

#include "base/warning.h"

#include <algorithm>

TDecodeAhead::TDecodeAhead(std::vector<std::string> paths, TQualifies qualifies, TDecoder decoder, std::size_t window)
    : FPaths(std::move(paths)), FQualifies(std::move(qualifies)), FDecoder(std::move(decoder)),
      FWindow(std::max<std::size_t>(1, window)), FWorker([this] { Work(); })
{
}

TDecodeAhead::~TDecodeAhead() { Stop(); }

void TDecodeAhead::Stop()
{
    {
        const std::lock_guard lock(FLock);
        FStopping = true;
        FReady.clear();
    }
    FChanged.notify_all();
    if (FWorker.joinable())
        FWorker.join();
}

std::size_t TDecodeAhead::Waiting()
{
    const std::lock_guard lock(FLock);
    return FReady.size();
}

void TDecodeAhead::Work()
{
    std::unique_lock lock(FLock);
    std::size_t index = 0;
    while (!FStopping) {
        index = std::max(index, FPassIndex);
        if (index >= FPaths.size())
            break;
        const std::string& path = FPaths[index];
        if (!FQualifies(path)) {
            FWorkerNext = ++index;
            FChanged.notify_all();
            continue;
        }
        // Room for one more picture, unless the pass has gone beyond this entry.
        FChanged.wait(lock, [&] { return FStopping || FReady.size() < FWindow || FPassIndex > index; });
        if (FStopping)
            break;
        if (FPassIndex > index)
            continue;
        lock.unlock();
        TDecodedPicture picture;
        {
            TThreadWarnings warnings;
            try {
                picture.Loaded = FDecoder(path, *picture.Bitmap);
            } catch (...) {
                picture.Error = std::current_exception();
            }
            picture.Warnings = warnings.Take();
        }
        lock.lock();
        if (!FStopping && FPassIndex <= index)
            FReady.push_back({ index, std::move(picture) });
        FWorkerNext = ++index;
        FChanged.notify_all();
    }
    FWorkerNext = FPaths.size();
    FChanged.notify_all();
}

std::optional<TDecodedPicture> TDecodeAhead::Take(std::size_t index)
{
    std::unique_lock lock(FLock);
    FPassIndex = std::max(FPassIndex, index);
    while (!FReady.empty() && FReady.front().Index < index)
        FReady.pop_front();
    FChanged.notify_all();
    if (FStopping || index >= FPaths.size() || !FQualifies(FPaths[index]))
        return std::nullopt;
    FChanged.wait(lock, [&] {
        return FStopping || (!FReady.empty() && FReady.front().Index == index) || FWorkerNext > index;
    });
    if (FStopping || FReady.empty() || FReady.front().Index != index)
        return std::nullopt;
    TDecodedPicture picture = std::move(FReady.front().Picture);
    FReady.pop_front();
    FChanged.notify_all();
    return picture;
}
