#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

enum class TSeekOrigin : std::uint8_t { soBeginning, soCurrent, soEnd };

// A byte stream with a position. Read and Write move as far as they can and return the
// count; ReadBuffer and WriteBuffer move all or fail with EReadError / EWriteError.
class TStream {
public:
    virtual ~TStream() = default;
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
    virtual std::int64_t Size();
    virtual void SetSize(std::int64_t size);
    // All bytes of a stream held in memory, for readers that use them where they lie; empty
    // for any other stream.
    virtual std::span<std::uint8_t> MemoryBytes() { return {}; }

    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
    void ReadBuffer(void* buffer, std::size_t count);
    void WriteBuffer(const void* buffer, std::size_t count);
    // Copies count bytes from the source's position; count 0 copies the whole source from its
    // beginning. Returns the number of bytes copied.
    std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// A growable stream in memory. The buffer is kept across Clear and SetSize(0) so that
// reuse for picture after picture does not touch fresh pages.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> bytes) : FData(std::move(bytes)), FSize(FData.size()) {}
    explicit TMemoryStream(std::span<const std::uint8_t> bytes) : FData(bytes.begin(), bytes.end()), FSize(bytes.size()) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(FSize); }
    void SetSize(std::int64_t size) override;
    std::span<std::uint8_t> MemoryBytes() override { return { FData.data(), FSize }; }

    void Clear() { FSize = 0; FPosition = 0; }
    // Empties the stream and fills it with the whole rest of the source from its position.
    void LoadFromStream(TStream& source);
    void SaveToStream(TStream& target) const;
    std::uint8_t* Memory() { return FData.data(); }
    const std::uint8_t* Memory() const { return FData.data(); }
    std::span<const std::uint8_t> Bytes() const { return { FData.data(), FSize }; }

private:
    std::vector<std::uint8_t> FData; // capacity; only the first FSize bytes are content
    std::size_t FSize = 0;
    std::size_t FPosition = 0;
};

// The complete rest of a stream from position from, as bytes: a memory stream is used in
// place, any other is read once into the buffer. A position past the end is a read error.
std::span<const std::uint8_t> StreamBytes(TStream& stream, std::int64_t from, std::vector<std::uint8_t>& buffer);
