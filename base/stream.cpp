#include "base/stream.h"

#include "base/exception.h"

#include <algorithm>
#include <cstring>
#include <limits>

std::int64_t TStream::Size()
{
    const std::int64_t position = Seek(0, TSeekOrigin::soCurrent);
    const std::int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(position, TSeekOrigin::soBeginning);
    return size;
}

void TStream::SetSize(std::int64_t)
{
    throw EStreamError("Stream size cannot be changed");
}

void TStream::ReadBuffer(void* buffer, std::size_t count)
{
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError(SReadError);
}

void TStream::WriteBuffer(const void* buffer, std::size_t count)
{
    if (count != 0 && Write(buffer, count) != count)
        throw EWriteError(SWriteError);
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    constexpr std::size_t ChunkSize = 61440;
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::int64_t>(count, ChunkSize)));
    std::int64_t copied = 0;
    while (copied < count) {
        const auto part = static_cast<std::size_t>(std::min<std::int64_t>(count - copied, ChunkSize));
        source.ReadBuffer(chunk.data(), part);
        WriteBuffer(chunk.data(), part);
        copied += static_cast<std::int64_t>(part);
    }
    return copied;
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count)
{
    if (FPosition >= FSize)
        return 0;
    const std::size_t available = std::min(count, FSize - FPosition);
    std::memcpy(buffer, FData.data() + FPosition, available);
    FPosition += available;
    return available;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count)
{
    if (count == 0)
        return 0;
    if (count > std::numeric_limits<std::size_t>::max() - FPosition)
        throw EWriteError(SWriteError);
    const std::size_t end = FPosition + count;
    if (end > FData.size()) {
        // Grow geometrically so that many small writes stay linear.
        FData.resize(std::max(end, FData.size() + FData.size() / 2));
    }
    if (FPosition > FSize)
        std::memset(FData.data() + FSize, 0, FPosition - FSize);
    std::memcpy(FData.data() + FPosition, buffer, count);
    FPosition = end;
    FSize = std::max(FSize, end);
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    std::int64_t base = 0;
    switch (origin) {
    case TSeekOrigin::soBeginning: base = 0; break;
    case TSeekOrigin::soCurrent: base = static_cast<std::int64_t>(FPosition); break;
    case TSeekOrigin::soEnd: base = static_cast<std::int64_t>(FSize); break;
    }
    const std::int64_t target = base + offset;
    FPosition = target < 0 ? 0 : static_cast<std::size_t>(target);
    return static_cast<std::int64_t>(FPosition);
}

void TMemoryStream::SetSize(std::int64_t size)
{
    if (size < 0)
        size = 0;
    const auto newSize = static_cast<std::size_t>(size);
    if (newSize > FData.size())
        FData.resize(newSize);
    else if (newSize > FSize)
        std::memset(FData.data() + FSize, 0, newSize - FSize);
    FSize = newSize;
    FPosition = std::min(FPosition, FSize);
}

void TMemoryStream::LoadFromStream(TStream& source)
{
    const std::int64_t remaining = source.Size() - source.Position();
    Clear();
    if (remaining <= 0)
        return;
    SetSize(remaining);
    source.ReadBuffer(FData.data(), static_cast<std::size_t>(remaining));
}

void TMemoryStream::SaveToStream(TStream& target) const
{
    target.WriteBuffer(FData.data(), FSize);
}

std::span<const std::uint8_t> StreamBytes(TStream& stream, std::int64_t from, std::vector<std::uint8_t>& buffer)
{
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
        const auto bytes = memory->Bytes();
        if (from < 0 || static_cast<std::uint64_t>(from) > bytes.size())
            throw EReadError(SReadError);
        return bytes.subspan(static_cast<std::size_t>(from));
    }
    const std::int64_t size = stream.Size();
    if (from < 0 || size < from)
        throw EReadError(SReadError);
    buffer.resize(static_cast<std::size_t>(size - from));
    stream.SetPosition(from);
    stream.ReadBuffer(buffer.data(), buffer.size());
    return buffer;
}
