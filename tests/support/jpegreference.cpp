#include "tests/support/jpegreference.h"

#include "tests/support/files.h"

#include <jerror.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace jpegref {

void ErrorExit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<TErrorJump*>(info->err)->Jump, 1);
}

namespace {

void Silent(j_common_ptr, int) {}

} // namespace

TDecoded Decode(std::span<const std::uint8_t> bytes, const TDecodeSettings& settings)
{
    TDecoded result;
    jpeg_decompress_struct info {};
    TErrorJump error;
    info.err = jpeg_std_error(&error.Pub);
    error.Pub.error_exit = ErrorExit;
    error.Pub.emit_message = Silent;
    JSAMPROW row = nullptr;
    if (setjmp(error.Jump) != 0) {
        result.Ok = false;
        result.Code = error.Pub.msg_code;
        jpeg_destroy_decompress(&info);
        return result;
    }
    jpeg_create_decompress(&info);
    if (bytes.empty())
        ERREXIT(&info, JERR_INPUT_EMPTY); // jpeg_mem_src refuses nothing at all the same way
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    result.Cmyk = info.out_color_space == JCS_CMYK && info.num_components == 4;
    info.scale_num = 1;
    info.scale_denom = settings.ScaleDenom;
    info.do_block_smoothing = settings.BlockSmoothing;
    if (settings.ForceGray)
        info.out_color_space = JCS_GRAYSCALE;
    if (settings.Quantize236 || info.out_color_space == JCS_GRAYSCALE) {
        info.quantize_colors = TRUE;
        info.desired_number_of_colors = 236;
    }
    if (settings.Fast) {
        info.dct_method = JDCT_IFAST;
        info.two_pass_quantize = FALSE;
        info.do_fancy_upsampling = FALSE;
        info.dither_mode = JDITHER_ORDERED;
    }
    jpeg_start_decompress(&info);
    result.Width = static_cast<int>(info.output_width);
    result.Height = static_cast<int>(info.output_height);
    result.Components = info.quantize_colors ? 1 : info.output_components;
    result.Pixels.resize(std::size_t(result.Width) * result.Height * result.Components);
    while (info.output_scanline < info.output_height) {
        row = result.Pixels.data() + std::size_t(info.output_scanline) * result.Width * result.Components;
        jpeg_read_scanlines(&info, &row, 1);
    }
    if (info.quantize_colors)
        for (int i = 0; i < info.actual_number_of_colors; ++i) {
            std::vector<std::uint8_t> entry;
            for (int c = 0; c < info.out_color_components; ++c)
                entry.push_back(info.colormap[c][i]);
            result.ColorMap.push_back(entry);
        }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    result.Ok = true;
    return result;
}

std::vector<std::uint8_t> TestPixels(int width, int height, int components, unsigned seed)
{
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * components);
    unsigned state = seed * 2654435761u + 12345u;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c) {
                state = state * 1103515245u + 12345u;
                const int base = (x * (c + 1) * 255 / std::max(1, width) + y * (3 - c % 3) * 255 / std::max(1, height)) / 2;
                pixels[(std::size_t(y) * width + x) * components + c] =
                    static_cast<std::uint8_t>((base + static_cast<int>(state >> 27)) & 0xFF);
            }
    return pixels;
}

std::vector<std::uint8_t> EncodeRows(const std::uint8_t* firstRow, std::ptrdiff_t step, const TMakeSettings& settings,
    J_COLOR_SPACE inSpace)
{
    jpeg_compress_struct info {};
    TErrorJump error;
    info.err = jpeg_std_error(&error.Pub);
    error.Pub.error_exit = ErrorExit;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(error.Jump) != 0) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return {};
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(settings.Width);
    info.image_height = static_cast<JDIMENSION>(settings.Height);
    info.input_components = settings.Components;
    info.in_color_space = inSpace != JCS_UNKNOWN ? inSpace
        : settings.Components == 1 ? JCS_GRAYSCALE
        : settings.Components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, settings.Quality, TRUE);
    if (settings.Components == 3 && !settings.Subsample)
        info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = 1;
    if (settings.Progressive)
        jpeg_simple_progression(&info);
    info.restart_in_rows = static_cast<int>(settings.RestartRows);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(firstRow + step * info.next_scanline);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

std::vector<std::uint8_t> Encode(const std::vector<std::uint8_t>& pixels, const TMakeSettings& settings,
    J_COLOR_SPACE inSpace)
{
    return EncodeRows(pixels.data(), std::ptrdiff_t(settings.Width) * settings.Components, settings, inSpace);
}

std::vector<std::uint8_t> Make(const TMakeSettings& settings)
{
    return Encode(TestPixels(settings.Width, settings.Height, settings.Components, settings.Seed), settings);
}

std::optional<TPnm> ParsePnm(const std::vector<std::uint8_t>& bytes)
{
    std::size_t pos = 0;
    const auto token = [&]() -> std::string {
        while (pos < bytes.size() && (std::isspace(bytes[pos]) || bytes[pos] == '#')) {
            if (bytes[pos] == '#')
                while (pos < bytes.size() && bytes[pos] != '\n')
                    ++pos;
            else
                ++pos;
        }
        std::string text;
        while (pos < bytes.size() && !std::isspace(bytes[pos]))
            text += static_cast<char>(bytes[pos++]);
        return text;
    };
    const std::string magic = token();
    if (magic != "P5" && magic != "P6")
        return std::nullopt;
    TPnm pnm;
    pnm.Channels = magic == "P6" ? 3 : 1;
    pnm.Width = std::stoi(token());
    pnm.Height = std::stoi(token());
    if (token() != "255")
        return std::nullopt;
    ++pos; // the single white-space byte before the samples
    const std::size_t size = std::size_t(pnm.Width) * pnm.Height * pnm.Channels;
    if (bytes.size() - pos < size)
        return std::nullopt;
    pnm.Pixels.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos), bytes.begin() + static_cast<std::ptrdiff_t>(pos + size));
    return pnm;
}

std::optional<TPnm> Djpeg(const std::filesystem::path& input, const std::string& switches,
    const std::filesystem::path& folder)
{
    const std::filesystem::path output = folder / "djpeg.pnm";
    std::filesystem::remove(output);
    const std::string command = "djpeg " + switches + " -pnm -outfile '" + output.string() + "' '" + input.string()
        + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    (void)status; // warnings give exit status 2 with a complete picture
    if (!std::filesystem::exists(output))
        return std::nullopt;
    return ParsePnm(testsupport::ReadFile(output));
}

bool HaveDjpeg()
{
    return std::system("djpeg -version >/dev/null 2>&1") == 0;
}

} // namespace jpegref
