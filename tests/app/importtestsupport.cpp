#include "importtestsupport.h"

#include "db/fbcomponents.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

// The embedded engine loads and unloads its own modules (character sets, ICU); the
// thread-local blocks they leave behind make the leak checker's scan of thread-local storage
// fail at exit. It scans stacks, globals and registers only, and ignores what the engine, ICU,
// the dynamic loader and the Qt platform keep for the life of the process.
extern "C" const char* __lsan_default_options() { return "use_tls=0"; }
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfbclient.so\nleak:libEngine12.so\nleak:libicu\nleak:libglib-2.0.so\nleak:_dl_map_object_deps\n"
           "leak:add_to_global_resize\nleak:libfontconfig.so\nleak:libQt6Gui.so\nleak:libQt6Core.so\nleak:libdbus\n";
}

namespace importtest {

namespace {

// Keeps the client library loaded for the whole run. The connections load and unload it, and
// an unloaded engine leaves thread-local blocks behind that the leak checker trips over at exit.
class TClientLibraryPin : public testing::Environment {
public:
    void SetUp() override { ::dlopen("libfbclient.so.2", RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE); }
};
const auto* const ClientLibraryPin = testing::AddGlobalTestEnvironment(new TClientLibraryPin);

} // namespace

TTempFolder::TTempFolder()
{
    char pattern[] = "/tmp/ibi-app-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    FPath = std::string(pattern) + '/';
}

TTempFolder::~TTempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
}

TRgb Gradient(int x, int y)
{
    return { static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 5), static_cast<std::uint8_t>((x + y) * 3) };
}

void MakeFolder(const std::string& path) { std::filesystem::create_directories(path); }

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

namespace {

std::vector<std::uint8_t> RgbRows(int width, int height, const TPixelFunction& pixel)
{
    std::vector<std::uint8_t> rows(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TRgb rgb = pixel(x, y);
            std::uint8_t* p = &rows[(std::size_t(y) * width + x) * 3];
            p[0] = rgb.Red;
            p[1] = rgb.Green;
            p[2] = rgb.Blue;
        }
    return rows;
}

void PutU16(std::string& bytes, unsigned value)
{
    bytes += char(value & 0xFF);
    bytes += char(value >> 8 & 0xFF);
}

void PutU32(std::string& bytes, std::uint32_t value)
{
    PutU16(bytes, value & 0xFFFF);
    PutU16(bytes, value >> 16);
}

struct TJpegError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
};

void JpegErrorExit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<TJpegError*>(info->err)->Jump, 1);
}

} // namespace

void WritePng(const std::string& path, int width, int height, const TPixelFunction& pixel)
{
    const std::vector<std::uint8_t> rows = RgbRows(width, height, pixel);
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rows.data(), 0, nullptr))
        throw std::runtime_error("png_image_write_to_file failed: " + path);
}

void WriteJpeg(const std::string& path, int width, int height, const TPixelFunction& pixel, int quality)
{
    const std::vector<std::uint8_t> rows = RgbRows(width, height, pixel);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot create " + path);
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(&rows[std::size_t(info.next_scanline) * width * 3]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
}

void WriteBmp(const std::string& path, int width, int height, const TPixelFunction& pixel)
{
    const std::uint32_t rowBytes = (std::uint32_t(width) * 3 + 3) & ~3u;
    std::string bytes = "BM";
    PutU32(bytes, 54 + rowBytes * height);
    PutU32(bytes, 0);
    PutU32(bytes, 54);
    PutU32(bytes, 40);
    PutU32(bytes, width);
    PutU32(bytes, height); // bottom-up
    PutU16(bytes, 1);
    PutU16(bytes, 24);
    PutU32(bytes, 0);
    PutU32(bytes, rowBytes * height);
    PutU32(bytes, 2835);
    PutU32(bytes, 2835);
    PutU32(bytes, 0);
    PutU32(bytes, 0);
    for (int y = height - 1; y >= 0; --y) {
        std::string row;
        for (int x = 0; x < width; ++x) {
            const TRgb rgb = pixel(x, y);
            row += char(rgb.Blue);
            row += char(rgb.Green);
            row += char(rgb.Red);
        }
        row.resize(rowBytes, '\0');
        bytes += row;
    }
    WriteBytes(path, bytes);
}

void WriteGif(const std::string& path, int width, int height)
{
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif)
        throw std::runtime_error("EGifOpenFileName failed: " + path);
    GifColorType colors[4] = { { 255, 0, 0 }, { 0, 255, 0 }, { 0, 0, 255 }, { 255, 255, 255 } };
    ColorMapObject* map = GifMakeMapObject(4, colors);
    EGifPutScreenDesc(gif, width, height, 2, 0, map);
    EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr);
    std::vector<GifPixelType> line(width);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            line[x] = GifPixelType((x / 8 + y / 8) % 4);
        EGifPutLine(gif, line.data(), width);
    }
    GifFreeMapObject(map);
    EGifCloseFile(gif, &error);
}

namespace {

// An 8-bit RGB TIFF written with libtiff, in strips of rowsPerStrip rows.
void WriteRgbTiff(const std::string& path, int width, int height, const TPixelFunction& pixel,
    std::uint16_t compression, int rowsPerStrip)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (!tiff)
        throw std::runtime_error("TIFFOpen failed: " + path);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
    if (compression == COMPRESSION_JPEG)
        TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, 90);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    std::vector<std::uint8_t> rows = RgbRows(width, height, pixel);
    for (int y = 0; y < height; ++y)
        TIFFWriteScanline(tiff, &rows[std::size_t(y) * width * 3], y, 0);
    TIFFClose(tiff);
}

} // namespace

void WriteTiff(const std::string& path, int width, int height, const TPixelFunction& pixel)
{
    WriteRgbTiff(path, width, height, pixel, COMPRESSION_NONE, 16);
}

void WriteDamagedJpegTiff(const std::string& path, int width, int height)
{
    WriteRgbTiff(path, width, height, Gradient, COMPRESSION_JPEG, height);

    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff)
        throw std::runtime_error("TIFFOpen failed: " + path);
    toff_t* offsets = nullptr;
    toff_t* counts = nullptr;
    const bool found = TIFFGetField(tiff, TIFFTAG_STRIPOFFSETS, &offsets) && TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &counts);
    const std::size_t at = found ? static_cast<std::size_t>(offsets[0] + counts[0] / 2) : 0;
    TIFFClose(tiff);
    std::string bytes = ReadBytes(path);
    if (!found || at + 2 > bytes.size())
        throw std::runtime_error("no strip in " + path);
    bytes[at] = '\xFF';
    bytes[at + 1] = '\xD9';
    WriteBytes(path, bytes);
}

void MakeSocket(const std::string& path)
{
    const int handle = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (handle < 0 || path.size() >= sizeof address.sun_path)
        throw std::runtime_error("cannot make socket " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int bound = ::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(handle);
    if (bound != 0)
        throw std::runtime_error("cannot bind socket " + path);
}

TRgb TJpegFacts::Pixel(int x, int y) const
{
    const std::uint8_t* p = &Rgb[(std::size_t(y) * Width + x) * 3];
    return { p[0], p[1], p[2] };
}

std::optional<TJpegFacts> ReadJpeg(const std::string& path)
{
    const std::string bytes = ReadBytes(path);
    if (bytes.empty())
        return std::nullopt;
    TJpegFacts facts;
    jpeg_decompress_struct info {};
    TJpegError errors {};
    info.err = jpeg_std_error(&errors.Manager);
    errors.Manager.error_exit = JpegErrorExit;
    jpeg_create_decompress(&info);
    if (setjmp(errors.Jump) != 0) {
        jpeg_destroy_decompress(&info);
        return std::nullopt;
    }
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&info, TRUE);
    facts.Width = int(info.image_width);
    facts.Height = int(info.image_height);
    facts.Components = info.num_components;
    facts.Progressive = info.progressive_mode;
    if (info.quant_tbl_ptrs[0])
        facts.LuminanceDcQuant = info.quant_tbl_ptrs[0]->quantval[0];
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    facts.Rgb.resize(std::size_t(info.output_width) * info.output_height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &facts.Rgb[std::size_t(info.output_scanline) * info.output_width * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return facts;
}

namespace {

std::string SqlText(const std::string& text)
{
    std::string quoted;
    for (const char c : text)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted;
}

std::string IsqlProgram()
{
    for (const char* candidate : { "/usr/bin/isql-fb", "/usr/bin/isql", "/opt/firebird/bin/isql" })
        if (::access(candidate, X_OK) == 0)
            return candidate;
    return {};
}

int RunScript(const std::string& script, std::string& output)
{
    char scriptPath[] = "/tmp/ibi-app-sql-XXXXXX";
    const int handle = mkstemp(scriptPath);
    if (handle < 0)
        return -1;
    ::close(handle);
    WriteBytes(scriptPath, script);
    const std::string command = IsqlProgram() + " -q -b -i " + scriptPath + " 2>&1";
    output.clear();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        ::unlink(scriptPath);
        return -1;
    }
    char buffer[512];
    while (std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, count);
    const int status = ::pclose(pipe);
    ::unlink(scriptPath);
    return status;
}

} // namespace

bool CreateCatalogue(const std::string& path, const std::vector<TMovie>& movies, std::string& reason,
    bool withThumbnailsTable, std::int64_t pixrefStart)
{
    if (IsqlProgram().empty()) {
        reason = "no isql program";
        return false;
    }
    if (void* library = ::dlopen("libfbclient.so.2", RTLD_NOW | RTLD_LOCAL))
        ::dlclose(library);
    else {
        reason = "no libfbclient.so.2";
        return false;
    }
    std::string script = "SET SQL DIALECT 3;\nCREATE DATABASE '" + SqlText(path) + "' DEFAULT CHARACTER SET UNICODE_FSS;\n"
        "CREATE TABLE MOVIES (\"mid\" INTEGER, \"num\" INTEGER, \"title\" VARCHAR(60));\n"
        "CREATE TABLE images (\"pixref\" INTEGER NOT NULL PRIMARY KEY, \"mid\" INTEGER, \"imgtype\" INTEGER,\n"
        "  \"imgformat\" VARCHAR(10), \"imgpath\" VARCHAR(250));\n"
        "CREATE TABLE options (\"oid\" INTEGER NOT NULL PRIMARY KEY, \"doimgfolders\" INTEGER,\n"
        "  \"posterfolder_rel\" VARCHAR(250), \"posterfolder_full\" VARCHAR(250),\n"
        "  \"screensfolder_rel\" VARCHAR(250), \"screensfolder_full\" VARCHAR(250),\n"
        "  \"coversfolder_rel\" VARCHAR(250), \"coversfolder_full\" VARCHAR(250),\n"
        "  \"thumbsfolder_rel\" VARCHAR(250), \"thumbsfolder_full\" VARCHAR(250));\n"
        "CREATE GENERATOR gen_pixref;\n"
        "SET GENERATOR gen_pixref TO " + std::to_string(pixrefStart) + ";\n";
    if (withThumbnailsTable)
        script += "CREATE TABLE thumbnails (\"pixref\" INTEGER NOT NULL PRIMARY KEY, \"imgformat\" VARCHAR(10),\n"
                  "  \"imgpath\" VARCHAR(250));\n";
    script += "INSERT INTO options (\"oid\", \"doimgfolders\") VALUES (1, 1);\n";
    for (const TMovie& movie : movies)
        script += "INSERT INTO MOVIES (\"mid\", \"num\") VALUES (" + (movie.Mid ? std::to_string(*movie.Mid) : "NULL")
            + ", " + std::to_string(movie.Num) + ");\n";
    script += "COMMIT;\n";
    std::string output;
    if (RunScript(script, output) != 0) {
        reason = "isql failed: " + output;
        return false;
    }
    return true;
}

void RunIsql(const std::string& database, const std::string& script)
{
    std::string output;
    if (RunScript("CONNECT '" + SqlText(database) + "';\n" + script + "\nCOMMIT;\n", output) != 0)
        throw std::runtime_error("isql failed: " + output);
}

TRows Query(const std::string& database, const std::string& select)
{
    TRows rows;
    TFbTransaction transaction;
    TFbQuery query;
    TFbDataBase connection;
    connection.SetLibraryName("libfbclient.so.2");
    connection.SetCharacterSet(csUNICODE_FSS);
    connection.SetDatabaseName(database);
    transaction.SetDataBase(&connection);
    query.SetDataBase(&connection);
    query.SetTransaction(&transaction);
    connection.SetConnected(true);
    query.SetSQL(select);
    query.Open(true);
    while (!query.Eof()) {
        std::vector<std::string> row;
        for (int column = 0; column < query.Fields().FieldCount(); ++column)
            row.push_back(query.Fields().IsNull(column) ? "<null>" : query.Fields().AsString(column));
        rows.push_back(std::move(row));
        query.Next();
    }
    query.Close(etmStayIn);
    transaction.Commit();
    connection.SetConnected(false);
    return rows;
}

std::optional<int> RunInChild(const std::function<int()>& body)
{
    std::error_code error;
    const auto threads = std::distance(std::filesystem::directory_iterator("/proc/self/task", error), {});
    if (error || threads != 1)
        return std::nullopt;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return std::nullopt;
    if (child == 0) {
        int code = 125; // never back into the test program's own run
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace importtest
