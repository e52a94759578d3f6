#pragma once
#include <cstddef>

// Large pixel stores come from blocks mapped for them and kept between pictures: a folder of
// covers then reuses the same few blocks instead of touching fresh pages for every picture,
// and the heap is not cut into holes of picture size that later pictures cannot use. Blocks
// smaller than LargeStoreBytes come from the heap as usual.
namespace storepool {

inline constexpr std::size_t LargeStoreBytes = std::size_t(1) << 20;
// Free blocks kept at most (the largest are kept); the rest go back to the system.
inline constexpr std::size_t KeptBlocks = 4;

// At least bytes, 64-byte aligned; throws std::bad_alloc when the system has no memory left.
void* Allocate(std::size_t bytes);
// Gives back a block of Allocate, with the size asked for then.
void Release(void* block, std::size_t bytes) noexcept;

// Whether a block of Allocate is still all zeros: freshly mapped, and not poisoned. Zeroing
// such a block would only make its untouched pages resident.
bool KnownZero(const void* block) noexcept;

// For tests and fuzz targets: every new pixel store (large or small) is filled with the
// pattern byte before use, so that a pixel no decoder writes shows as a difference between two
// runs with different patterns. StorePoisonOff (the default) leaves new stores as they come.
inline constexpr int StorePoisonOff = -1;
void SetStorePoison(int pattern);
int StorePoison();

// For tests: free blocks kept now, and blocks mapped since the start.
std::size_t KeptCount();
std::size_t MappedCount();

// Whether pixel stores use the pool; not under AddressSanitizer, whose checks of every
// store's bounds matter more there.
constexpr bool Enabled()
{
#if defined(__SANITIZE_ADDRESS__)
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return false;
#else
    return true;
#endif
#else
    return true;
#endif
}

} // namespace storepool
