#include "importtestsupport.h"

#include "app/importcommand.h"
#include "db/fbcomponents.h"
#include "tests/support/catalogue.h"
#include "tests/support/gifreference.h"
#include "tests/support/jpegreference.h"
#include "tests/support/pngreference.h"
#include "tests/support/tiffreference.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
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

} // namespace

void WritePng(const std::string& path, int width, int height, const TPixelFunction& pixel)
{
    const std::vector<std::uint8_t> rgb = RgbRows(width, height, pixel);
    pngref::TPngImage image;
    image.Width = width;
    image.Height = height;
    for (int y = 0; y < height; ++y)
        image.Rows.emplace_back(rgb.begin() + std::ptrdiff_t(y) * width * 3, rgb.begin() + std::ptrdiff_t(y + 1) * width * 3);
    testsupport::WriteFile(path, pngref::Encode(image));
}

void WriteJpeg(const std::string& path, int width, int height, const TPixelFunction& pixel, int quality)
{
    jpegref::TMakeSettings settings;
    settings.Width = width;
    settings.Height = height;
    settings.Quality = quality;
    const std::vector<std::uint8_t> bytes = jpegref::Encode(RgbRows(width, height, pixel), settings);
    if (bytes.empty())
        throw std::runtime_error("libjpeg cannot write " + path);
    testsupport::WriteFile(path, bytes);
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
    gifref::TGifImage image;
    image.Width = width;
    image.Height = height;
    image.Version89 = false;
    image.Colors = { { 255, 0, 0 }, { 0, 255, 0 }, { 0, 0, 255 }, { 255, 255, 255 } };
    image.Rows.assign(height, std::vector<std::uint8_t>(width));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.Rows[y][x] = std::uint8_t((x / 8 + y / 8) % 4);
    testsupport::WriteFile(path, gifref::Encode(image));
}

void WriteTiff(const std::string& path, int width, int height, const TPixelFunction& pixel)
{
    testsupport::WriteFile(path, tifftest::WriteRgbTiff(width, height, RgbRows(width, height, pixel), COMPRESSION_NONE, 16));
}

void WriteDamagedJpegTiff(const std::string& path, int width, int height)
{
    std::vector<std::uint8_t> bytes = tifftest::WriteRgbTiff(width, height, RgbRows(width, height, Gradient), COMPRESSION_JPEG, height);
    std::size_t at = 0;
    {
        const tifftest::TTiffInMemory file(bytes);
        toff_t* offsets = nullptr;
        toff_t* counts = nullptr;
        if (!file.Tiff() || !TIFFGetField(file.Tiff(), TIFFTAG_STRIPOFFSETS, &offsets)
            || !TIFFGetField(file.Tiff(), TIFFTAG_STRIPBYTECOUNTS, &counts))
            throw std::runtime_error("no strip in the JPEG TIFF for " + path);
        at = static_cast<std::size_t>(offsets[0] + counts[0] / 2);
    }
    if (at + 2 > bytes.size())
        throw std::runtime_error("no strip in the JPEG TIFF for " + path);
    bytes[at] = 0xFF; // an end-of-image marker halfway
    bytes[at + 1] = 0xD9;
    testsupport::WriteFile(path, bytes);
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
    jpegref::TErrorJump errors {};
    info.err = jpeg_std_error(&errors.Pub);
    errors.Pub.error_exit = jpegref::ErrorExit;
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

bool CreateCatalogue(const std::string& path, const std::vector<TMovie>& movies, std::string& reason,
    bool withThumbnailsTable, std::int64_t pixrefStart)
{
    if (testsupport::IsqlProgram().empty()) {
        reason = "no isql program";
        return false;
    }
    if (void* library = ::dlopen("libfbclient.so.2", RTLD_NOW | RTLD_LOCAL))
        ::dlclose(library);
    else {
        reason = "no libfbclient.so.2";
        return false;
    }
    std::string script = testsupport::CreateCatalogueScript(path);
    if (!withThumbnailsTable)
        script += "DROP TABLE thumbnails;\n";
    // A record without a key needs a key column that allows null.
    if (std::any_of(movies.begin(), movies.end(), [](const TMovie& movie) { return !movie.Mid; }))
        script += "ALTER TABLE MOVIES DROP CONSTRAINT MOVIES_KEY;\nALTER TABLE MOVIES ALTER \"mid\" DROP NOT NULL;\n";
    script += "SET GENERATOR gen_pixref TO " + std::to_string(pixrefStart) + ";\n";
    for (const TMovie& movie : movies)
        script += "INSERT INTO MOVIES (\"mid\", \"num\") VALUES (" + (movie.Mid ? std::to_string(*movie.Mid) : "NULL")
            + ", " + std::to_string(movie.Num) + ");\n";
    script += "COMMIT;\n";
    std::string output;
    if (testsupport::RunIsqlScript(script, output) != 0) {
        reason = "isql failed: " + output;
        return false;
    }
    return true;
}

void RunIsql(const std::string& database, const std::string& script)
{
    std::string output;
    if (testsupport::RunIsqlScript("CONNECT " + testsupport::SqlQuoted(database) + ";\n" + script + "\nCOMMIT;\n", output) != 0)
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

TCommandRun Import(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int exitCode = RunImportCommand(args, out, err, false);
    return { exitCode, out.str(), err.str() };
}

std::vector<TMovie> NumberedMovies(int count)
{
    std::vector<TMovie> movies;
    for (int number = 1; number <= count; ++number)
        movies.push_back({ number, number });
    return movies;
}

} // namespace importtest
