#pragma once
#include "base/stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// A stream over fixed-size pages holding equal-sized items: the row cache of a result area.
// Growing adds pages, so caching a long result never moves the rows already stored.
class TPoolStream : public TStream {
public:
    TPoolStream(std::size_t itemsPerPage, std::size_t itemSize);

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(FSize); }
    void SetSize(std::int64_t size) override;

    // Grows the stream by one item and returns its address.
    void* Add();
    void* Items(std::size_t index);
    std::size_t ItemCount() const noexcept { return FItemCount; }
    std::size_t ItemSize() const noexcept { return FItemSize; }
    std::size_t ItemsPerPage() const noexcept { return FItemsPerPage; }
    std::size_t PageSize() const noexcept { return FPageSize; }
    std::size_t PageCount() const noexcept { return FPages.size(); }

private:
    std::size_t FItemsPerPage, FItemSize, FPageSize, FPageAllocSize;
    std::size_t FItemCount = 0, FSize = 0, FPosition = 0;
    std::vector<std::unique_ptr<std::uint8_t[]>> FPages;
};
