#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

// Output memory for the reference side of a benchmark: grows when asked for more, is never
// cleared and keeps its capacity, as our side's stores come back from the store pool. Fresh
// memory every round would cost a page fault per 4 KiB that our side does not pay.
class TKeptBuffer {
public:
    std::uint8_t* Reserve(std::size_t bytes)
    {
        if (bytes > FCapacity) {
            FData.reset(new std::uint8_t[bytes]);
            FCapacity = bytes;
        }
        FSize = bytes;
        return FData.get();
    }
    std::uint8_t* Data() { return FData.get(); }
    const std::uint8_t* Data() const { return FData.get(); }
    std::size_t Size() const { return FSize; }

private:
    std::unique_ptr<std::uint8_t[]> FData;
    std::size_t FSize = 0, FCapacity = 0;
};
