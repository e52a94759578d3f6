#include "db/fbpoolstream.h"

#include "db/fberrors.h"

#include <algorithm>
#include <cstring>
#include <limits>

TPoolStream::TPoolStream(std::size_t itemsPerPage, std::size_t itemSize)
    : FItemsPerPage(itemsPerPage), FItemSize(itemSize)
{
    if (itemsPerPage == 0 || itemSize == 0
        || itemsPerPage > std::numeric_limits<std::size_t>::max() / 2 / itemSize)
        IBI_FB_ASSERTION_FAILED(SAssertionFailure);
    FPageSize = itemsPerPage * itemSize;
    FPageAllocSize = (FPageSize + 3) / 4 * 4;
}

void TPoolStream::SetSize(std::int64_t size)
{
    const auto newSize = static_cast<std::size_t>(std::max<std::int64_t>(size, 0));
    const std::size_t pages = newSize / FPageSize + (newSize % FPageSize != 0 ? 1 : 0);
    while (FPages.size() > pages)
        FPages.pop_back();
    while (FPages.size() < pages)
        FPages.push_back(std::make_unique<std::uint8_t[]>(FPageAllocSize)); // zeroed
    FSize = newSize;
    FItemCount = newSize / FItemSize;
    if (FPosition > FSize)
        FPosition = FSize;
}

std::size_t TPoolStream::Write(const void* buffer, std::size_t count)
{
    if (count == 0)
        return 0;
    if (count > std::numeric_limits<std::size_t>::max() / 2 - FPosition)
        return 0;
    if (FPosition + count > FSize)
        SetSize(static_cast<std::int64_t>(FPosition + count));
    const auto* source = static_cast<const std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t page = FPosition / FPageSize, offset = FPosition % FPageSize;
        const std::size_t piece = std::min(count - done, FPageSize - offset);
        std::memcpy(FPages[page].get() + offset, source + done, piece);
        done += piece;
        FPosition += piece;
    }
    return done;
}

std::size_t TPoolStream::Read(void* buffer, std::size_t count)
{
    if (FPosition >= FSize)
        return 0;
    count = std::min(count, FSize - FPosition);
    auto* target = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t page = FPosition / FPageSize, offset = FPosition % FPageSize;
        const std::size_t piece = std::min(count - done, FPageSize - offset);
        std::memcpy(target + done, FPages[page].get() + offset, piece);
        done += piece;
        FPosition += piece;
    }
    return done;
}

std::int64_t TPoolStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    std::int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent)
        base = static_cast<std::int64_t>(FPosition);
    else if (origin == TSeekOrigin::soEnd)
        base = static_cast<std::int64_t>(FSize);
    const std::int64_t position = base + offset;
    if (position >= 0)
        FPosition = static_cast<std::size_t>(position);
    return static_cast<std::int64_t>(FPosition);
}

void* TPoolStream::Add()
{
    SetSize(static_cast<std::int64_t>((FItemCount + 1) * FItemSize));
    return Items(FItemCount - 1);
}

void* TPoolStream::Items(std::size_t index)
{
    if (index >= FItemCount)
        IBI_FB_ASSERTION_FAILED(SAssertionFailure);
    return FPages[index / FItemsPerPage].get() + index % FItemsPerPage * FItemSize;
}
