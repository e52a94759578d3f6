#pragma once
#include "imaging/codecs/decoder.h"

#include <memory>
#include <vector>

// What the JPEG-in-TIFF codec needs to know of the image (taken from the reader's properties
// record; kept here so the codecs do not depend on the reader library).
struct TTIFFJPEGSettings {
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::uint32_t RowsPerStrip = 0;   // the first RowsPerStrip value
    std::uint32_t BytesPerLine = 0;   // bytes of one decoded row in the caller's buffer
    std::uint8_t SamplesPerPixel = 0;
    std::uint8_t BitsPerSample = 0;
    std::uint32_t PlanarConfig = 0;   // TIFF PlanarConfiguration, 0 when absent
    bool YCbCr = false;               // the colour scheme is YCbCr
    std::uint8_t HorizontalSampling = 1; // YCbCrSubsampling, 1 and 1 when empty
    std::uint8_t VerticalSampling = 1;
    std::vector<std::uint8_t> JPEGTables; // the abbreviated table stream, empty when absent
};

// New-style JPEG in TIFF over libjpeg. Every DecodeData call decodes one strip, in order:
// the codec counts strips and rows itself (SetStripPosition overrides the count). Three
// components are delivered as blue, green, red.
class TTIFFJPEGDecoder : public TDecoder {
public:
    explicit TTIFFJPEGDecoder(TTIFFJPEGSettings settings);
    ~TTIFFJPEGDecoder() override;

    void BeginDecoding() override;
    void DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize,
        std::size_t unpackedSize) override;
    void EndDecoding() override;
    // One strip in parts: StartStrip reads and checks its header for unpackedSize bytes of
    // rows, DecodeRows delivers the next rows (size bytes, whole rows) in order. DecodeData is
    // the two at once.
    void StartStrip(const std::uint8_t* source, std::size_t packedSize, std::size_t unpackedSize);
    void DecodeRows(std::uint8_t* dest, std::size_t size);
    const TTIFFJPEGSettings& Settings() const { return FSettings; }

    // The next DecodeData call decodes strip currentStrip of stripCount, starting at image
    // row currentRow.
    void SetStripPosition(std::uint32_t currentRow, std::uint32_t currentStrip, std::uint32_t stripCount);

    struct TState; // libjpeg objects, kept out of this header
private:
    TTIFFJPEGSettings FSettings;
    std::unique_ptr<TState> FState;
    std::uint32_t FCurrentRow = 0;
    std::uint32_t FCurrentStrip = 0;
    std::uint32_t FStripCount = 0;
};
