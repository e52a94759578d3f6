#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "app/entryoutcome.h"
#include "raster/thumbnaildrawing.h"

struct TImportContext;
struct TImportStats;
struct TDecodedPicture;
class TMemoryStream;

// Thumbnails are 318 pixels wide (landscape pictures) or 238 pixels high (the others).
inline constexpr int ThumbnailBoxWidth = 318;
inline constexpr int ThumbnailBoxHeight = 238;

struct TThumbnailSize {
    int Width = 0;
    int Height = 0;
    bool operator==(const TThumbnailSize&) const = default;
};

// The thumbnail size of a picture of width × height (both above 0). The ratio is taken in
// percent and scaled in 80-bit extended precision, so 300 × 100 gives 318 × 105 and 3 × 17
// gives 41 × 238. The smaller side is at least 1.
TThumbnailSize ThumbnailSize(int width, int height);

// Decodes the picture, draws it scaled to its thumbnail size with nearest-pixel sampling (or
// area averaging: tsSmooth, a JPEG picture decoded reduced) and encodes it as a quality-90 JPEG
// into jpeg. False, with nothing encoded, when the picture
// cannot be decoded or has no pixels. Opening the picture may fail with the stream errors, a
// picture too large for the memory left with ENotEnoughMemory. Times go to stats when given.
// With decoded, what was made ahead is used instead: its warnings shown and its error raised
// here, then its thumbnail bytes or else its picture.
bool EncodeThumbnail(const std::string& imagePath, TMemoryStream& jpeg, TImportStats* stats = nullptr,
    TDecodedPicture* decoded = nullptr, TThumbnailSampling sampling = TThumbnailSampling::tsNearest);

enum class TThumbnailEncoding : std::uint8_t { teEncoded, teNotDecodable, teEmpty };
// EncodeThumbnail telling why nothing was encoded: the picture cannot be decoded, or has no pixels.
TThumbnailEncoding EncodeThumbnailFor(const std::string& imagePath, TMemoryStream& jpeg, TImportStats* stats = nullptr,
    TDecodedPicture* decoded = nullptr, TThumbnailSampling sampling = TThumbnailSampling::tsNearest);

// The work of a worker ahead of the pass: EncodeThumbnailFor of the file, its answer and bytes
// kept in picture (Encoded); errors travel to the caller.
void EncodeThumbnailAhead(const std::string& imagePath, TDecodedPicture& picture,
    TThumbnailSampling sampling = TThumbnailSampling::tsNearest);

// Whether WriteThumbnailBytes waits until the file is on the disk.
enum class TThumbnailFlush : std::uint8_t { tfNone, tfToDisk };

// Writes the bytes under thumbnailFile, creating missing folders, so that the file is always
// either its old self or complete: they go to a temporary file in the same folder, renamed
// over the target once whole. With tfToDisk the data and then the rename are flushed to the
// disk before it returns. A failure removes the temporary file and raises EFCreateError
// "Cannot create file "%s". %s" with the target and the system's reason.
void WriteThumbnailBytes(const std::string& thumbnailFile, std::span<const std::uint8_t> bytes,
    TThumbnailFlush flush = TThumbnailFlush::tfNone);

// EncodeThumbnail, then WriteThumbnailBytes; false when nothing was encoded (nothing written).
bool WriteThumbnailFile(const std::string& imagePath, const std::string& thumbnailFile, TImportStats* stats = nullptr,
    TDecodedPicture* decoded = nullptr);

// The thumbnail file of the picture at path: the thumbnails folder as the front end gives it now
// (or as the pass started) with the picture's name ending in ".jpg"; "" without a folder.
std::string ThumbnailTarget(TImportContext& pass, const std::string& path);

// The thumbnail of one imported picture: the file in the thumbnails folder and, with
// insertRow, its thumbnails row, committed with every images row before it. True once the
// file is written (its path in outcome); why there is none, or why its row is missing, goes to
// outcome's reason. A row that cannot be stored and a picture that does not fit in memory are
// counted in the pass's stats; a thumbnail that would land in the image folder or on the
// picture itself ends the pass.
bool MakeThumbnail(TImportContext& pass, const std::string& path, std::int32_t pictureId, TEntryOutcome& outcome,
    bool insertRow = true);
