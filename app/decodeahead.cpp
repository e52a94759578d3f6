#include "app/decodeahead.h"

#include "app/stopsignals.h"
#include "base/warning.h"

#include <algorithm>

TDecodeAhead::TDecodeAhead(std::vector<std::string> paths, TQualifies qualifies, TDecoder decoder, std::size_t window,
    std::size_t workers)
    : FPaths(std::move(paths)), FQualifies(std::move(qualifies)), FDecoder(std::move(decoder)),
      FWindow(std::max<std::size_t>(1, window))
{
    workers = std::clamp<std::size_t>(workers, 1, FWindow);
    FWorking = workers;
    // The workers never take a stop signal, whoever starts them: a thread inherits the mask.
    const TStopSignalsBlocked blocked;
    try {
        for (std::size_t i = 0; i < workers; ++i)
            FWorkers.emplace_back([this] { Work(); });
    } catch (...) {
        Stop();
        throw;
    }
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
    for (std::thread& worker : FWorkers)
        if (worker.joinable())
            worker.join();
}

std::size_t TDecodeAhead::Waiting()
{
    const std::lock_guard lock(FLock);
    return FReady.size();
}

void TDecodeAhead::Work()
{
    std::unique_lock lock(FLock);
    while (!FStopping) {
        // The next entry nobody has taken, from where the pass is.
        FNextClaim = std::max(FNextClaim, FPassIndex);
        while (FNextClaim < FPaths.size() && !FQualifies(FPaths[FNextClaim]))
            ++FNextClaim;
        if (FNextClaim >= FPaths.size())
            break;
        if (FInFlight >= FWindow) { // room for one more picture first
            FChanged.wait(lock);
            continue;
        }
        const std::size_t index = FNextClaim++;
        ++FInFlight;
        FDecoding.insert(index);
        lock.unlock();
        TDecodedPicture picture;
        {
            TThreadWarnings warnings;
            try {
                picture.Loaded = FDecoder(FPaths[index], *picture.Bitmap);
            } catch (...) {
                picture.Error = std::current_exception();
            }
            picture.Warnings = warnings.Take();
        }
        lock.lock();
        FDecoding.erase(index);
        if (!FStopping && FPassIndex <= index)
            FReady.emplace(index, std::move(picture));
        else
            --FInFlight; // the pass has gone beyond it
        FChanged.notify_all();
    }
    --FWorking;
    FChanged.notify_all();
}

std::optional<TDecodedPicture> TDecodeAhead::Take(std::size_t index)
{
    std::unique_lock lock(FLock);
    FPassIndex = std::max(FPassIndex, index);
    while (!FReady.empty() && FReady.begin()->first < index) {
        FReady.erase(FReady.begin());
        --FInFlight;
    }
    FChanged.notify_all();
    if (FStopping || index >= FPaths.size() || !FQualifies(FPaths[index]))
        return std::nullopt;
    // Until the entry is ready, or no worker has it and none ever will.
    FChanged.wait(lock, [&] {
        return FStopping || FReady.count(index) != 0
            || (FDecoding.count(index) == 0 && (FNextClaim > index || FWorking == 0));
    });
    const auto ready = FReady.find(index);
    if (FStopping || ready == FReady.end())
        return std::nullopt;
    TDecodedPicture picture = std::move(ready->second);
    FReady.erase(ready);
    --FInFlight;
    FChanged.notify_all();
    return picture;
}
