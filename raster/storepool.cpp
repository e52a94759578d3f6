#include "raster/storepool.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <vector>

namespace storepool {
namespace {

// Each block starts with this header; the store follows at HeaderBytes.
struct THeader {
    std::size_t Capacity; // bytes mapped, header included
    bool Untouched;       // freshly mapped: every byte still zero
};
constexpr std::size_t HeaderBytes = 64;
constexpr std::size_t Granule = std::size_t(1) << 16; // sizes rounded up, so near sizes share blocks

struct TPool {
    std::mutex Lock;
    std::vector<THeader*> Free; // sorted by capacity, smallest first
    std::size_t Mapped = 0;
};

TPool& Pool()
{
    static TPool* pool = new TPool; // never destroyed: stores may outlive static destruction
    return *pool;
}

void Unmap(THeader* header) noexcept { munmap(header, header->Capacity); }

std::atomic<int> Poison { StorePoisonOff };

} // namespace

void* Allocate(std::size_t bytes)
{
    if (bytes > (std::size_t(1) << 40))
        throw std::bad_alloc();
    const std::size_t capacity = (bytes + HeaderBytes + Granule - 1) / Granule * Granule;
    TPool& pool = Pool();
    {
        const std::lock_guard lock(pool.Lock);
        const auto fit = std::find_if(pool.Free.begin(), pool.Free.end(),
            [&](const THeader* header) { return header->Capacity >= capacity; });
        if (fit != pool.Free.end()) {
            THeader* header = *fit;
            pool.Free.erase(fit);
            return reinterpret_cast<char*>(header) + HeaderBytes;
        }
        ++pool.Mapped;
    }
    void* place = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (place == MAP_FAILED)
        throw std::bad_alloc();
    auto* header = static_cast<THeader*>(place);
    header->Capacity = capacity;
    header->Untouched = true;
    return static_cast<char*>(place) + HeaderBytes;
}

void Release(void* block, std::size_t) noexcept
{
    if (!block)
        return;
    auto* header = reinterpret_cast<THeader*>(static_cast<char*>(block) - HeaderBytes);
    TPool& pool = Pool();
    THeader* dropped = header;
    header->Untouched = false;
    {
        const std::lock_guard lock(pool.Lock);
        if (pool.Free.size() < KeptBlocks || pool.Free.front()->Capacity < header->Capacity) {
            dropped = pool.Free.size() < KeptBlocks ? nullptr : pool.Free.front();
            if (dropped)
                pool.Free.erase(pool.Free.begin());
            pool.Free.insert(std::upper_bound(pool.Free.begin(), pool.Free.end(), header,
                                 [](const THeader* a, const THeader* b) { return a->Capacity < b->Capacity; }),
                header);
        }
    }
    if (dropped)
        Unmap(dropped);
}

bool KnownZero(const void* block) noexcept
{
    if (!block || StorePoison() != StorePoisonOff)
        return false;
    return reinterpret_cast<const THeader*>(static_cast<const char*>(block) - HeaderBytes)->Untouched;
}

void SetStorePoison(int pattern) { Poison.store(pattern, std::memory_order_relaxed); }

int StorePoison() { return Poison.load(std::memory_order_relaxed); }

std::size_t KeptCount()
{
    const std::lock_guard lock(Pool().Lock);
    return Pool().Free.size();
}

std::size_t MappedCount()
{
    const std::lock_guard lock(Pool().Lock);
    return Pool().Mapped;
}

} // namespace storepool
