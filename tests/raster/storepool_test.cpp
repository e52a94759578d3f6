// The pool of large pixel stores: blocks are reused whenever one is big enough, only the
// largest few are kept, and the bytes handed out are the caller's to use in full.
#include "raster/storepool.h"

#include "raster/bitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t MB = std::size_t(1) << 20;

// Takes the free blocks earlier tests left, and never gives them back, so that each test
// starts from an empty pool.
void Drain()
{
    while (storepool::KeptCount() > 0)
        static_cast<void>(storepool::Allocate(MB));
}

TEST(StorePool, ReleasedBlocksServeLaterStoresOfTheSameOrSmallerSize)
{
    Drain();
    const std::size_t mapped = storepool::MappedCount();
    void* first = storepool::Allocate(5 * MB);
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(first) % 64, 0u);
    std::memset(first, 0xAB, 5 * MB); // every byte asked for is usable
    storepool::Release(first, 5 * MB);
    EXPECT_EQ(storepool::KeptCount(), 1u);
    void* second = storepool::Allocate(5 * MB);
    EXPECT_EQ(second, first);
    storepool::Release(second, 5 * MB);
    void* smaller = storepool::Allocate(3 * MB + 17); // a smaller picture takes the same block
    EXPECT_EQ(smaller, first);
    void* larger = storepool::Allocate(6 * MB); // nothing kept is big enough: a new block
    EXPECT_NE(larger, first);
    EXPECT_EQ(storepool::MappedCount(), mapped + 2);
    storepool::Release(smaller, 3 * MB + 17);
    storepool::Release(larger, 6 * MB);
    EXPECT_EQ(storepool::KeptCount(), 2u);
}

TEST(StorePool, OnlyFreshlyMappedBlocksAreKnownToBeZero)
{
    Drain();
    void* fresh = storepool::Allocate(2 * MB);
    EXPECT_TRUE(storepool::KnownZero(fresh));
    std::memset(fresh, 0xCD, 2 * MB);
    storepool::Release(fresh, 2 * MB);
    void* reused = storepool::Allocate(2 * MB);
    ASSERT_EQ(reused, fresh);
    EXPECT_FALSE(storepool::KnownZero(reused)); // holds the last picture's bytes
    storepool::SetStorePoison(0x5A);
    void* poisoned = storepool::Allocate(3 * MB);
    EXPECT_FALSE(storepool::KnownZero(poisoned));
    storepool::SetStorePoison(storepool::StorePoisonOff);
    storepool::Release(poisoned, 3 * MB);
    storepool::Release(reused, 2 * MB);
}

TEST(StorePool, KeepsOnlyTheLargestFreeBlocks)
{
    Drain();
    std::vector<void*> blocks;
    for (std::size_t size = 1; size <= storepool::KeptBlocks + 2; ++size)
        blocks.push_back(storepool::Allocate(size * MB));
    for (std::size_t i = 0; i < blocks.size(); ++i)
        storepool::Release(blocks[i], (i + 1) * MB);
    EXPECT_EQ(storepool::KeptCount(), storepool::KeptBlocks);
    // The largest are still there: taking them all maps nothing new, and a store of the
    // smallest size is served by one of them.
    const std::size_t mapped = storepool::MappedCount();
    std::vector<void*> taken;
    for (std::size_t size = 3; size <= storepool::KeptBlocks + 2; ++size)
        taken.push_back(storepool::Allocate(size * MB));
    EXPECT_EQ(storepool::MappedCount(), mapped);
    EXPECT_EQ(storepool::KeptCount(), 0u);
    for (std::size_t i = 0; i < taken.size(); ++i)
        storepool::Release(taken[i], (i + 3) * MB);
    void* small = storepool::Allocate(MB);
    EXPECT_EQ(storepool::MappedCount(), mapped);
    storepool::Release(small, MB);
}

TEST(StorePool, ThreadsTakeAndGiveBackBlocksSafely)
{
    Drain();
    const auto work = [](unsigned seed) {
        for (int round = 0; round < 200; ++round) {
            const std::size_t bytes = MB + ((seed * 7919u + static_cast<unsigned>(round) * 104729u) % (4 * MB));
            auto* block = static_cast<std::uint8_t*>(storepool::Allocate(bytes));
            block[0] = static_cast<std::uint8_t>(seed);
            block[bytes - 1] = static_cast<std::uint8_t>(round);
            EXPECT_EQ(block[0], static_cast<std::uint8_t>(seed));
            storepool::Release(block, bytes);
        }
    };
    std::thread other(work, 2u);
    work(1u);
    other.join();
    EXPECT_LE(storepool::KeptCount(), storepool::KeptBlocks);
}

// Under poison every store a decoder would leave unset shows the pattern, small or large, a
// reused block included; a zeroed store stays zero.
TEST(StorePool, PoisonFillsEveryNewStoreThatIsNotZeroed)
{
    for (const int width : { 16, 2048 }) {
        TBitmapHeader header;
        header.Width = width;
        header.Height = 1024;
        header.BitsPerPixel = 24;
        for (const int pattern : { 0xA5, 0x5A }) {
            storepool::SetStorePoison(pattern);
            TBitmap unset, zeroed;
            unset.NewImage(header, {}, TStoreFill::sfUnset);
            zeroed.NewImage(header, {});
            storepool::SetStorePoison(storepool::StorePoisonOff);
            for (const int row : { 0, 511, 1023 }) {
                EXPECT_EQ(unset.RowAddress(row)[3 * width - 1], pattern) << width;
                EXPECT_EQ(zeroed.RowAddress(row)[3 * width - 1], 0) << width;
            }
        }
    }
}

} // namespace
