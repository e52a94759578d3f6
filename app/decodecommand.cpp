#include "app/decodecommand.h"

#include "app/commandline.h"
#include "app/imagefileload.h"
#include "base/filestream.h"
#include "base/fmt.h"
#include "raster/bitmap.h"
#include "raster/orientation.h"

#include <exception>
#include <iostream>
#include <vector>

namespace {

constexpr const char* SDecodeUsage = "usage: images-by-id decode [--oriented] IMAGE OUT.ppm";
constexpr const char* SCannotDecode = "Cannot decode \"%s\": not a picture of a known type, or damaged.";

} // namespace

void WriteBitmapPpm(const TBitmap& bitmap, TStream& stream)
{
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    const std::string header = Fmt("P6\n%d %d\n255\n", width, height);
    stream.WriteBuffer(header.data(), header.size());
    if (width <= 0 || height <= 0)
        return;
    const TPixelLayout layout = bitmap.PixelLayout();
    const TColorTable table = bitmap.ColorTable();
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = bitmap.RowAddress(y);
        std::uint8_t* target = out.data();
        switch (layout) {
        case TPixelLayout::pl24Bit:
        case TPixelLayout::pl32Bit: {
            const int step = layout == TPixelLayout::pl24Bit ? 3 : 4;
            for (int x = 0; x < width; ++x, row += step, target += 3) {
                target[0] = row[2];
                target[1] = row[1];
                target[2] = row[0];
            }
            break;
        }
        case TPixelLayout::pl8Bit:
            for (int x = 0; x < width; ++x, target += 3) {
                // An index past the table is black, as everywhere else.
                const TRGBQuad entry = row[x] < table.size() ? table[row[x]] : TRGBQuad {};
                target[0] = entry.Red;
                target[1] = entry.Green;
                target[2] = entry.Blue;
            }
            break;
        default:
            for (int x = 0; x < width; ++x, target += 3) {
                const TRGBQuad pixel = bitmap.Pixel(x, y);
                target[0] = pixel.Red;
                target[1] = pixel.Green;
                target[2] = pixel.Blue;
            }
            break;
        }
        stream.WriteBuffer(out.data(), out.size());
    }
}

int RunDecodeCommand(const std::vector<std::string>& arguments)
{
    std::vector<std::string> args = arguments;
    const bool oriented = !args.empty() && args[0] == "--oriented";
    if (oriented)
        args.erase(args.begin());
    if (args.size() != 2 || args[0].empty() || args[1].empty()) {
        std::cerr << SDecodeUsage << '\n';
        return ExitUsage;
    }
    const std::string& image = args[0];
    const std::string& output = args[1];
    try {
        TBitmap bitmap;
        if (!LoadImageFile(image, bitmap)) {
            std::cerr << Fmt(SCannotDecode, image) << '\n';
            return ExitFailed;
        }
        TBitmap shown;
        if (oriented)
            OrientedCopy(bitmap, shown);
        TFileStream stream(output, fmCreate);
        WriteBitmapPpm(oriented ? shown : bitmap, stream);
    } catch (const std::exception& error) { // open, read and write failures with their texts
        std::cerr << error.what() << '\n';
        return ExitFailed;
    }
    return ExitOk;
}
