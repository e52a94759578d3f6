#include "imaging/gifgraphic.h"

#include "base/bytereader.h"
#include "base/stream.h"
#include "imaging/codecs/giflzw.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::uint8_t ExtensionIntroducer = 0x21;
constexpr std::uint8_t ImageSeparator = 0x2C;
constexpr std::uint8_t Trailer = 0x3B;
constexpr std::uint8_t PlainTextLabel = 0x01;
constexpr std::uint8_t GraphicControlLabel = 0xF9;
constexpr std::uint8_t CommentLabel = 0xFE;
constexpr std::uint8_t ApplicationLabel = 0xFF;
constexpr std::uint8_t ColorTableFlag = 0x80; // screen and image descriptor flags
constexpr std::uint8_t InterlaceFlag = 0x40;  // image descriptor flags
constexpr std::size_t HeaderSize = 6, ScreenSize = 7, DescriptorSize = 9;

bool IsGIFSignature(std::span<const std::uint8_t> header)
{
    return std::toupper(header[0]) == 'G' && std::toupper(header[1]) == 'I' && std::toupper(header[2]) == 'F';
}

std::uint16_t LittleEndian16(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8); }

void SkipSubBlocks(TByteReader& reader)
{
    for (std::uint8_t size = reader.ReadU8(); size != 0; size = reader.ReadU8())
        reader.Skip(size);
}

// Reads byte by byte up to an image separator or the trailer, skipping the extensions met on
// the way, and returns that byte. The transparent index of the last graphic control block
// met goes to *transparentIndex when given (-1: none).
std::uint8_t SkipExtensions(TByteReader& reader, int* transparentIndex = nullptr)
{
    for (;;) {
        const std::uint8_t byte = reader.ReadU8();
        if (byte == ImageSeparator || byte == Trailer)
            return byte;
        if (byte != ExtensionIntroducer)
            continue;
        switch (reader.ReadU8()) {
        case PlainTextLabel:
            reader.Skip(reader.ReadU8());
            SkipSubBlocks(reader);
            break;
        case GraphicControlLabel: {
            const auto block = reader.Take(reader.ReadU8());
            reader.Skip(1); // the terminator
            if (transparentIndex)
                *transparentIndex = block.size() >= 4 && (block[0] & 1) ? block[3] : -1;
            break;
        }
        case CommentLabel:
        case ApplicationLabel:
            SkipSubBlocks(reader);
            break;
        default: // scanning goes on with the next byte
            break;
        }
    }
}

std::size_t TableEntries(std::uint8_t flags) { return std::size_t(2) << (flags & 0x07); }

// The file's colour table entries from entry 0; the table then holds exactly those.
void ReadColorTable(TByteReader& reader, TColorTable& table, std::size_t entries)
{
    const auto bytes = reader.Take(entries * 3);
    table.resize(entries);
    for (std::size_t i = 0; i < entries; ++i)
        table[i] = TRGBQuad { bytes[i * 3 + 2], bytes[i * 3 + 1], bytes[i * 3], 0 };
}

// Fills the properties from the headers; false when the signature is not "GIF".
bool ReadInfo(TByteReader& reader, TImageProperties& p)
{
    const auto header = reader.Take(HeaderSize);
    if (!IsGIFSignature(header))
        return false;
    if (!std::isdigit(header[3]) || !std::isdigit(header[4]))
        throw EInvalidGraphic(Fmt(SGIFInvalidVersion, std::string(header.begin() + 3, header.begin() + 5)));
    p.Version = static_cast<std::uint32_t>((header[3] - '0') * 10 + (header[4] - '0'));
    p.ColorScheme = schIndexed;
    p.SamplesPerPixel = 1;
    p.BitsPerSample = 8;
    p.Compression = cmpLZW;
    const auto screen = reader.Take(ScreenSize);
    if (screen[4] & ColorTableFlag) {
        p.BitsPerSample = static_cast<std::uint8_t>((screen[4] & 0x07) + 1);
        reader.Skip(TableEntries(screen[4]) * 3);
    }
    if (SkipExtensions(reader) == ImageSeparator) {
        const auto descriptor = reader.Take(DescriptorSize);
        const std::uint16_t width = LittleEndian16(descriptor.data() + 4);
        const std::uint16_t height = LittleEndian16(descriptor.data() + 6);
        p.Width = width != 0 ? width : LittleEndian16(screen.data());
        p.Height = height != 0 ? height : LittleEndian16(screen.data() + 2);
        p.LocalColorTable = (descriptor[8] & ColorTableFlag) != 0;
        if (p.LocalColorTable)
            p.BitsPerSample = static_cast<std::uint8_t>((descriptor[8] & 0x07) + 1);
        p.Interlaced = (descriptor[8] & InterlaceFlag) != 0;
    }
    p.BitsPerPixel = static_cast<std::uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    return true;
}

struct TInterlacePass {
    std::uint32_t Start, Step;
};
constexpr std::array<TInterlacePass, 4> InterlacePasses = { { { 0, 8 }, { 4, 8 }, { 2, 4 }, { 1, 2 } } };

// The data sub-blocks of an image back to back, the reader left behind them; a stream that
// ends inside them gives what it has.
std::vector<std::uint8_t> GatherSubBlocks(TByteReader& reader)
{
    const std::size_t blocksStart = reader.Position();
    std::size_t total = 0;
    while (!reader.AtEnd()) {
        const std::uint8_t blockSize = reader.ReadU8();
        const std::size_t size = std::min<std::size_t>(blockSize, reader.Remaining());
        if (size == 0)
            break;
        total += size;
        reader.Skip(size);
    }
    const std::size_t blocksEnd = reader.Position();
    std::vector<std::uint8_t> compressed;
    compressed.reserve(total);
    reader.Seek(blocksStart);
    while (compressed.size() < total) {
        const std::uint8_t blockSize = reader.ReadU8();
        const auto block = reader.Take(std::min<std::size_t>(blockSize, reader.Remaining()));
        compressed.insert(compressed.end(), block.begin(), block.end());
    }
    reader.Seek(blocksEnd);
    return compressed;
}

// The colour indices of the image, row after row. Zero-filled with one spare row: pixels
// the data never reach stay index 0, and the decoder may finish a string past the last pixel.
std::vector<std::uint8_t> DecodeIndices(std::vector<std::uint8_t>& compressed, std::uint8_t minimumCodeSize,
    std::uint32_t width, std::uint32_t height)
{
    const std::size_t pixels = std::size_t(width) * height;
    std::vector<std::uint8_t> decoded(pixels + width);
    if (pixels != 0) {
        TGIFLZWDecoder decoder(minimumCodeSize);
        std::uint8_t* source = compressed.data();
        std::uint8_t* dest = decoded.data();
        decoder.DecodeData(source, dest, compressed.size(), pixels);
    }
    return decoded;
}

} // namespace

bool TGIFGraphic::CanReadStream(TStream& stream)
{
    const std::int64_t position = stream.Position();
    bool result = false;
    if (stream.Size() - position > 22) {
        std::array<std::uint8_t, HeaderSize> header {};
        result = stream.Read(header.data(), header.size()) == header.size() && IsGIFSignature(header);
    }
    stream.SetPosition(position);
    return result;
}

bool TGIFGraphic::ReadImageInfo(TStream& stream, std::uint32_t imageIndex)
{
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    FSourceStream = &stream;
    const std::int64_t start = stream.Position();
    std::vector<std::uint8_t> buffer;
    TByteReader reader(StreamBytes(stream, start, buffer));
    const bool result = ReadInfo(reader, Properties());
    stream.SetPosition(start + static_cast<std::int64_t>(reader.Position()));
    return result;
}

void TGIFGraphic::LoadStream(TStream& stream)
{
    Transparent = false; // a transparent index in the file has no effect here
    TransparentColor = clDefault;
    StartLoading(stream, SGIFFormatName);
    std::vector<std::uint8_t> buffer;
    TByteReader reader(StreamBytes(stream, BasePosition(), buffer));
    reader.Skip(HeaderSize);
    SetPixelLayout(TPixelLayout::pl8Bit);
    TColorTable table = ColorTable(); // the layout's own table until the file gives one
    const auto screen = reader.Take(ScreenSize);
    if (screen[4] & ColorTableFlag) {
        ReadColorTable(reader, table, TableEntries(screen[4]));
        SetColorTable(table);
    }
    int transparentIndex = -1;
    const std::uint8_t separator = SkipExtensions(reader, &transparentIndex);
    ProgressEnd();
    if (separator != ImageSeparator) { // the trailer: no image, no pixels
        stream.SetPosition(BasePosition() + static_cast<std::int64_t>(reader.Position()));
        return;
    }

    ProgressStart(SLoadingData);
    const auto descriptor = reader.Take(DescriptorSize);
    const std::uint32_t width = Properties().Width, height = Properties().Height;
    if (height != 0 && width > MaxImagePixels / height)
        RaiseGraphicError(SInvalidImageFormat, SGIFFormatName);
    if (descriptor[8] & ColorTableFlag)
        ReadColorTable(reader, table, TableEntries(descriptor[8]));
    const std::uint8_t minimumCodeSize = reader.ReadU8();
    // Indices are bytes: a code size above 8 cannot describe them, and 0 none at all.
    if (minimumCodeSize < 1 || minimumCodeSize > 8)
        RaiseGraphicError(SInvalidImageFormat, SGIFFormatName);

    std::vector<std::uint8_t> compressed = GatherSubBlocks(reader);
    const std::vector<std::uint8_t> decoded = DecodeIndices(compressed, minimumCodeSize, width, height);
    ProgressEnd();
    ProgressStart(STransfering);

    TBitmapHeader header;
    header.Width = static_cast<std::int32_t>(width);
    header.Height = static_cast<std::int32_t>(height);
    header.BitsPerPixel = 8;
    NewImage(header, table);
    if (width != 0 && height != 0)
        StoreRows(decoded.data());
    if (transparentIndex >= 0) { // seen by the thumbnails only
        std::vector<std::uint8_t> alpha(std::size_t(transparentIndex) + 1, 255);
        alpha.back() = 0;
        SetAlpha(TAlphaForm::afIndexed, std::move(alpha));
    }
    ProgressEnd();
    stream.SetPosition(BasePosition() + static_cast<std::int64_t>(reader.Position()));
}

// Rows in the order of the data, or in the four passes of an interlaced image.
void TGIFGraphic::StoreRows(const std::uint8_t* source)
{
    const std::uint32_t width = Properties().Width, height = Properties().Height;
    std::uint8_t* row0 = RowAddress(0);
    const std::ptrdiff_t rowStep = height > 1 ? RowAddress(1) - row0 : 0;
    const auto copyRow = [&](std::uint32_t row) {
        std::memcpy(row0 + static_cast<std::ptrdiff_t>(row) * rowStep, source, width);
        source += width;
    };
    if (!Properties().Interlaced) {
        for (std::uint32_t row = 0; row < height; ++row) {
            copyRow(row);
            ProgressRow(row, height);
        }
        return;
    }
    for (std::size_t pass = 0; pass < InterlacePasses.size(); ++pass)
        for (std::uint32_t row = InterlacePasses[pass].Start; row < height; row += InterlacePasses[pass].Step) {
            copyRow(row);
            if (pass == InterlacePasses.size() - 1) // the next row of the last pass
                ProgressRow(std::min(row + 2, height), height);
        }
}
