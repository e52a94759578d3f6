// Writes the TIFF fuzz target's seed corpus: small files across byte orders, depths,
// photometrics and compressions, strips and tiles, each one the reader takes in full. Run from the test build after changing a plan:
//   build/test/tests/tiffseeds tests/fuzz/corpus/tiff
#include "tests/support/files.h"
#include "tests/support/tiffreference.h"

#include <tiffio.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

using namespace tifftest;

namespace {

std::vector<std::pair<std::string, TTiffPlan>> SeedPlans()
{
    std::vector<std::pair<std::string, TTiffPlan>> plans;
    auto add = [&](std::string name, TTiffPlan plan) {
        plan.Samples = Pattern(plan, std::uint32_t(plans.size() + 1));
        plans.emplace_back(std::move(name), std::move(plan));
    };
    TTiffPlan base;
    base.Width = 13;
    base.Height = 7;
    base.RowsPerStrip = 3;
    for (int bits : { 1, 2, 4, 8, 16 }) {
        TTiffPlan gray = base;
        gray.BitsPerSample = std::uint16_t(bits);
        gray.Photometric = bits == 1 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
        gray.BigEndian = bits == 16;
        add("gray" + std::to_string(bits) + ".tif", gray);
    }
    for (int bits : { 2, 4, 8 }) {
        TTiffPlan palette = base;
        palette.BitsPerSample = std::uint16_t(bits);
        palette.Photometric = PHOTOMETRIC_PALETTE;
        palette.Compression = COMPRESSION_PACKBITS;
        for (int i = 0; i < 3 << bits; ++i)
            palette.ColorMap.push_back(std::uint16_t(i * 4099));
        add("palette" + std::to_string(bits) + ".tif", palette);
    }
    const std::pair<const char*, std::uint16_t> compressions[] = { { "none", COMPRESSION_NONE },
        { "lzw", COMPRESSION_LZW }, { "deflate", COMPRESSION_ADOBE_DEFLATE }, { "packbits", COMPRESSION_PACKBITS } };
    for (const auto& [name, compression] : compressions) {
        TTiffPlan rgb = base;
        rgb.SamplesPerPixel = 3;
        rgb.Photometric = PHOTOMETRIC_RGB;
        rgb.Compression = compression;
        rgb.Predictor = compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE ? 2 : 0;
        rgb.BigEndian = compression == COMPRESSION_LZW;
        add(std::string("rgb-") + name + ".tif", rgb);
    }
    TTiffPlan rgba = base;
    rgba.SamplesPerPixel = 4;
    rgba.Photometric = PHOTOMETRIC_RGB;
    rgba.ExtraSamples = { EXTRASAMPLE_ASSOCALPHA };
    rgba.BitsPerSample = 16;
    rgba.Compression = COMPRESSION_LZW;
    rgba.Predictor = 2;
    add("rgba16-lzw.tif", rgba);
    TTiffPlan grayAlpha = base;
    grayAlpha.SamplesPerPixel = 2;
    grayAlpha.ExtraSamples = { EXTRASAMPLE_UNASSALPHA };
    add("gray-alpha.tif", grayAlpha);
    TTiffPlan cmyk = base;
    cmyk.SamplesPerPixel = 4;
    cmyk.Photometric = PHOTOMETRIC_SEPARATED;
    add("cmyk.tif", cmyk);
    TTiffPlan lab = base;
    lab.SamplesPerPixel = 3;
    lab.Photometric = PHOTOMETRIC_CIELAB;
    add("lab.tif", lab);
    TTiffPlan ycbcr = base;
    ycbcr.SamplesPerPixel = 3;
    ycbcr.Photometric = PHOTOMETRIC_YCBCR;
    ycbcr.SubsamplingH = ycbcr.SubsamplingV = 1;
    ycbcr.BigEndian = true;
    add("ycbcr.tif", ycbcr);
    ycbcr.SubsamplingH = ycbcr.SubsamplingV = 2; // one strip of blocks (and some spare bytes)
    ycbcr.RowsPerStrip = 0;
    ycbcr.Compression = COMPRESSION_LZW;
    add("ycbcr-blocks.tif", ycbcr);
    TTiffPlan jpeg = base;
    jpeg.Width = 24;
    jpeg.Height = 16;
    jpeg.RowsPerStrip = 16;
    jpeg.SamplesPerPixel = 3;
    jpeg.Photometric = PHOTOMETRIC_YCBCR;
    jpeg.Compression = COMPRESSION_JPEG;
    jpeg.SubsamplingH = jpeg.SubsamplingV = 2;
    add("ycbcr-jpeg.tif", jpeg);
    const std::pair<const char*, std::uint16_t> faxes[] = { { "g3", COMPRESSION_CCITTFAX3 },
        { "mh", COMPRESSION_CCITTRLE }, { "rlew", COMPRESSION_CCITTRLEW } };
    for (const auto& [name, compression] : faxes) {
        TTiffPlan fax = base;
        fax.Width = 40;
        fax.BitsPerSample = 1;
        fax.Photometric = PHOTOMETRIC_MINISWHITE;
        fax.Compression = compression;
        fax.FillOrder = compression == COMPRESSION_CCITTFAX3 ? FILLORDER_LSB2MSB : 0;
        add(std::string("fax-") + name + ".tif", fax);
    }
    TTiffPlan tiled = base;
    tiled.TileWidth = tiled.TileLength = 16;
    add("tiled.tif", tiled);
    // Depths and kinds the reader brings to 8 bits, and a palette beyond 8 bits.
    TTiffPlan rgb12 = base; // last, so that the earlier seeds keep their patterns
    rgb12.SamplesPerPixel = 3;
    rgb12.BitsPerSample = 12;
    rgb12.Photometric = PHOTOMETRIC_RGB;
    add("rgb12.tif", rgb12);
    TTiffPlan float32 = base;
    float32.BitsPerSample = 32;
    float32.SampleFormat = SAMPLEFORMAT_IEEEFP;
    float32.Compression = COMPRESSION_ADOBE_DEFLATE;
    float32.Predictor = PREDICTOR_FLOATINGPOINT;
    add("gray-float32.tif", float32);
    TTiffPlan signed16 = base;
    signed16.BitsPerSample = 16;
    signed16.SampleFormat = SAMPLEFORMAT_INT;
    signed16.Compression = COMPRESSION_LZW;
    signed16.Predictor = 2;
    signed16.BigEndian = true;
    add("gray-int16.tif", signed16);
    TTiffPlan palette10 = base;
    palette10.BitsPerSample = 10;
    palette10.Photometric = PHOTOMETRIC_PALETTE;
    for (int i = 0; i < 3 << 10; ++i)
        palette10.ColorMap.push_back(std::uint16_t(i * 97));
    add("palette10.tif", palette10);
    // Tiles: edge tiles on both sides, separate planes, and JPEG tiles.
    TTiffPlan tiledPlanar = base;
    tiledPlanar.Width = 37;
    tiledPlanar.Height = 23;
    tiledPlanar.TileWidth = tiledPlanar.TileLength = 16;
    tiledPlanar.SamplesPerPixel = 3;
    tiledPlanar.Photometric = PHOTOMETRIC_RGB;
    tiledPlanar.PlanarConfig = PLANARCONFIG_SEPARATE;
    tiledPlanar.Compression = COMPRESSION_LZW;
    tiledPlanar.Predictor = 2;
    add("tiled-rgb-planar-lzw.tif", tiledPlanar);
    TTiffPlan tiledBilevel = tiledPlanar;
    tiledBilevel.SamplesPerPixel = 1;
    tiledBilevel.BitsPerSample = 1;
    tiledBilevel.Photometric = PHOTOMETRIC_MINISWHITE;
    tiledBilevel.PlanarConfig = PLANARCONFIG_CONTIG;
    tiledBilevel.Compression = COMPRESSION_PACKBITS;
    tiledBilevel.Predictor = 0;
    tiledBilevel.TileWidth = 32;
    add("tiled-bilevel-packbits.tif", tiledBilevel);
    TTiffPlan tiledJpeg = tiledPlanar;
    tiledJpeg.Photometric = PHOTOMETRIC_YCBCR;
    tiledJpeg.PlanarConfig = PLANARCONFIG_CONTIG;
    tiledJpeg.Compression = COMPRESSION_JPEG;
    tiledJpeg.Predictor = 0;
    tiledJpeg.SubsamplingH = tiledJpeg.SubsamplingV = 2;
    add("tiled-ycbcr-jpeg.tif", tiledJpeg);
    return plans;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    for (const auto& [name, plan] : SeedPlans()) {
        const TBytes bytes = WriteTiff(plan);
        if (bytes.empty()) {
            std::fprintf(stderr, "libtiff cannot write %s\n", name.c_str());
            return 1;
        }
        testsupport::WriteFile(std::string(argv[1]) + "/" + name, bytes);
    }
    return 0;
}
