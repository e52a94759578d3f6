#pragma once
#include <cstdint>
#include <string>

struct TImportContext;
struct TImportStats;
struct TDecodedPicture;

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

// Decodes the picture, draws it scaled to its thumbnail size with nearest-pixel sampling and
// saves a quality-90 JPEG under thumbnailFile, creating missing folders. False, with nothing
// written, when the picture cannot be decoded or has no pixels. Opening the picture or
// creating the file may fail with the stream errors. Times go to stats when given. With
// decoded, the picture decoded ahead is used instead (its error raised here).
bool WriteThumbnailFile(const std::string& imagePath, const std::string& thumbnailFile, TImportStats* stats = nullptr,
    TDecodedPicture* decoded = nullptr);

// The thumbnail of one imported picture: the file in the thumbnails folder and its
// thumbnails row, committed with every images row before it.
void MakeThumbnail(TImportContext& pass, const std::string& path, std::int32_t pictureId);
