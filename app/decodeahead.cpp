#include "app/decodeahead.h"

#include "app/stopsignals.h"
#include "base/warning.h"

#include <algorithm>

std::size_t TDecodedPicture::HeldBytes() const
{
    const std::size_t pixels = Bitmap && Bitmap->Height() > 0 ? Bitmap->RowBytes() * std::size_t(Bitmap->Height()) : 0;
    return pixels + Thumbnail.size();
}

TDecodeAhead::TDecodeAhead(std::vector<std::string> paths, TQualifies qualifies, TDecoder decoder, std::size_t window,
    std::size_t workers)
    : TDecodeAhead(std::move(paths), std::move(qualifies),
          [decoder = std::move(decoder)](const std::string& path, TDecodedPicture& picture) {
              picture.Loaded = decoder(path, *picture.Bitmap);
          },
          window, workers, DefaultBudget, nullptr)
{
}

TDecodeAhead::TDecodeAhead(std::vector<std::string> paths, TQualifies qualifies, TJob job, std::size_t window,
    std::size_t workers, std::uint64_t budget, TSizer sizer)
    : FPaths(std::move(paths)), FQualifies(std::move(qualifies)), FJob(std::move(job)), FSizer(std::move(sizer)),
      FWindow(std::max<std::size_t>(1, window)), FBudget(budget)
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
        while (!FReady.empty())
            Drop(FReady.begin());
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

std::uint64_t TDecodeAhead::Held()
{
    const std::lock_guard lock(FLock);
    return FHeld;
}

bool TDecodeAhead::MayStart(std::size_t index, std::uint64_t bytes) const
{
    return *FWaitingStart.begin() == index && (FHeld == 0 || FHeld + bytes <= FBudget);
}

void TDecodeAhead::Drop(std::map<std::size_t, TReady>::iterator ready)
{
    FHeld -= ready->second.Bytes;
    FReady.erase(ready);
    --FInFlight;
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
        FWaitingStart.insert(index);
        lock.unlock();
        const std::uint64_t declared = FSizer ? FSizer(FPaths[index]) : 0;
        lock.lock();
        // In listing order, and only once the picture fits: the entries before it are taken
        // or dropped by the pass in time, so the wait always ends.
        FChanged.wait(lock, [&] { return FStopping || FPassIndex > index || MayStart(index, declared); });
        FWaitingStart.erase(index);
        const bool wanted = !FStopping && FPassIndex <= index;
        TDecodedPicture picture;
        if (wanted) {
            FHeld += declared;
            FChanged.notify_all(); // the next entry's turn to start
            lock.unlock();
            {
                TThreadWarnings warnings;
                try {
                    FJob(FPaths[index], picture);
                } catch (...) {
                    picture.Error = std::current_exception();
                }
                picture.Warnings = warnings.Take();
            }
            lock.lock();
            FHeld -= declared;
        }
        FDecoding.erase(index);
        if (wanted && !FStopping && FPassIndex <= index) {
            const std::uint64_t bytes = picture.HeldBytes();
            FHeld += bytes;
            FReady.emplace(index, TReady { std::move(picture), bytes });
        } else {
            --FInFlight; // the pass has gone beyond it
        }
        FChanged.notify_all();
    }
    --FWorking;
    FChanged.notify_all();
}

std::optional<TDecodedPicture> TDecodeAhead::Take(std::size_t index)
{
    std::unique_lock lock(FLock);
    FPassIndex = std::max(FPassIndex, index);
    while (!FReady.empty() && FReady.begin()->first < index)
        Drop(FReady.begin());
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
    TDecodedPicture picture = std::move(ready->second.Picture);
    Drop(ready);
    FChanged.notify_all();
    return picture;
}
