#pragma once
// Helpers of the import tool's tests: temporary folders, picture files written with the
// reference libraries, and sample catalogue databases made with the embedded engine.
#include "tests/support/files.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace importtest {

using testsupport::TTempFolder;

struct TRgb {
    std::uint8_t Red = 0, Green = 0, Blue = 0;
};
using TPixelFunction = std::function<TRgb(int x, int y)>;

// A colour gradient that differs in every pixel.
TRgb Gradient(int x, int y);

void MakeFolder(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
bool FileExists(const std::string& path);
void WritePng(const std::string& path, int width, int height, const TPixelFunction& pixel = Gradient);
void WriteJpeg(const std::string& path, int width, int height, const TPixelFunction& pixel = Gradient, int quality = 85);
void WriteBmp(const std::string& path, int width, int height, const TPixelFunction& pixel = Gradient);
void WriteGif(const std::string& path, int width, int height);
void WriteTiff(const std::string& path, int width, int height, const TPixelFunction& pixel = Gradient);
// A JPEG-compressed TIFF whose one strip has an end-of-image marker halfway: it decodes, with a
// "Corrupt JPEG data" warning.
void WriteDamagedJpegTiff(const std::string& path, int width, int height);
// A local socket: it exists and is no folder, yet cannot be opened for reading.
void MakeSocket(const std::string& path);

// What libjpeg reads from a JPEG file.
struct TJpegFacts {
    int Width = 0, Height = 0, Components = 0;
    bool Progressive = false;
    int LuminanceDcQuant = 0; // 3 at quality 90 with the standard tables
    std::vector<std::uint8_t> Rgb; // decoded pixels, 3 bytes each, rows top-down
    TRgb Pixel(int x, int y) const;
};
std::optional<TJpegFacts> ReadJpeg(const std::string& path);

// A catalogue record.
struct TMovie {
    std::optional<std::int32_t> Mid;
    std::int32_t Num;
};
// Records 1 to count, each with its number as its key.
std::vector<TMovie> NumberedMovies(int count);

// Creates a catalogue database from scripts/catalogue.sql (MOVIES, images, thumbnails,
// options with row 1, gen_pixref) with the records given and gen_pixref at pixrefStart;
// without the thumbnails table if asked, and with a key column that allows null when a
// record has no key. False (with a reason) when the engine is missing.
bool CreateCatalogue(const std::string& path, const std::vector<TMovie>& movies, std::string& reason,
    bool withThumbnailsTable = true, std::int64_t pixrefStart = 5000);
// Runs statements through isql.
void RunIsql(const std::string& database, const std::string& script);
// Every row of a select, every value as text ("<null>" for null).
using TRows = std::vector<std::vector<std::string>>;
TRows Query(const std::string& database, const std::string& select);

// Runs body in a child process and gives its exit status (-1 when it did not exit). Forking
// needs a process of one thread, which a test run alone (as ctest runs each) is: nullopt when
// other threads run.
std::optional<int> RunInChild(const std::function<int()>& body);

// What `images-by-id import ARGS` printed and returned, run in this process.
struct TCommandRun {
    int ExitCode;
    std::string Out, Err;
};
TCommandRun Import(const std::vector<std::string>& args);

} // namespace importtest
