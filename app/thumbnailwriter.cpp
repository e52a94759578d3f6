#include "app/thumbnailwriter.h"

#include "app/decodeahead.h"
#include "app/imagefileload.h"
#include "app/importpass.h"
#include "app/paths.h"
#include "base/fmt.h"
#include "base/text.h"
#include "base/warning.h"
#include "db/fbcomponents.h"
#include "raster/bitmap.h"
#include "raster/canvas.h"
#include "raster/jpegimage.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

constexpr const char* SInsertThumbnail = "INSERT INTO thumbnails (%s) VALUES(%s)";
constexpr const char* SThumbnailColumns = "\"pixref\", \"imgformat\", \"imgpath\"";

// floor(box × ((small × 100) / large / 100)), each step rounded to extended precision.
int ScaledSide(int box, std::int64_t small, std::int64_t large)
{
    const long double ratio = static_cast<long double>(small * 100) / static_cast<long double>(large);
    const long double fraction = ratio / 100.0L;
    const long double side = static_cast<long double>(box) * fraction;
    return std::max(1, static_cast<int>(std::floor(side)));
}

std::chrono::nanoseconds* Total(TImportStats* stats, std::chrono::nanoseconds TImportStats::*total)
{
    return stats ? &(stats->*total) : nullptr;
}

} // namespace

TThumbnailSize ThumbnailSize(int width, int height)
{
    if (height < width)
        return { ThumbnailBoxWidth, ScaledSide(ThumbnailBoxWidth, height, width) };
    return { ScaledSide(ThumbnailBoxHeight, width, height), ThumbnailBoxHeight };
}

bool WriteThumbnailFile(const std::string& imagePath, const std::string& thumbnailFile, TImportStats* stats,
    TDecodedPicture* decoded)
{
    TBitmap ownSource;
    const TBitmap* picture = &ownSource;
    {
        const TStopwatch watch(Total(stats, &TImportStats::DecodeTime));
        if (decoded) {
            for (const std::string& text : decoded->Warnings) // as decoding here would have shown them
                ShowWarning(text);
            if (decoded->Error)
                std::rethrow_exception(decoded->Error);
            if (!decoded->Loaded)
                return false;
            picture = decoded->Bitmap.get();
        } else if (!LoadImageFileTimed(imagePath, ownSource, Total(stats, &TImportStats::ReadTime))) {
            return false;
        }
    }
    const TBitmap& source = *picture;
    // A picture without pixels (a zero-byte .bmp) has no thumbnail.
    if (source.Width() <= 0 || source.Height() <= 0)
        return false;

    TJPEGImage jpeg;
    {
        const TStopwatch watch(Total(stats, &TImportStats::DrawTime));
        const TThumbnailSize size = ThumbnailSize(source.Width(), source.Height());
        TBitmap thumbnail;
        thumbnail.ResizeTo(size.Width, size.Height);
        thumbnail.Canvas().DrawStretched(TRect { 0, 0, size.Width, size.Height }, &source);
        jpeg.CopyContentFrom(thumbnail); // shares the pixels; the thumbnail bitmap may go
    }
    const std::string folder = PathFolder(thumbnailFile);
    if (!folder.empty() && !PathFolderExists(folder))
        PathForceFolders(folder); // a folder that cannot be made shows as the create error below
    const TStopwatch watch(Total(stats, &TImportStats::EncodeTime));
    jpeg.SaveFile(thumbnailFile);
    return true;
}

void MakeThumbnail(TImportContext& pass, const std::string& path, std::int32_t pictureId)
{
    if (!PathFileExists(path))
        return;
    // The folder is read afresh for every thumbnail; emptied during the pass, the one the
    // pass started with stays in use rather than the root folder.
    std::string folder = pass.FrontEnd.ThumbsFolderText();
    if (folder.empty())
        folder = pass.ThumbsFolder;
    if (folder.empty())
        return;
    if (folder.back() != '/')
        folder += '/';
    const std::string name = PathFileName(path);
    std::optional<TDecodedPicture> ahead;
    if (pass.DecodeAhead) {
        const TStopwatch watch(&pass.Stats.DecodeTime);
        ahead = pass.DecodeAhead->Take(pass.EntryIndex);
    }
    if (!WriteThumbnailFile(path, folder + PathChangeExtension(name, ".jpg"), &pass.Stats, ahead ? &*ahead : nullptr))
        return;
    ++pass.Stats.Thumbnails;

    const TStopwatch watch(&pass.Stats.DatabaseTime);
    pass.Transaction.StartTransaction();
    const std::string values = Fmt("'%d', '.jpg', '%s'", pictureId, TextReplaceAll(name, "'", "''"));
    pass.Query.SetSQL("");
    pass.Query.SetSQL(Fmt(SInsertThumbnail, SThumbnailColumns, values));
    try {
        pass.Query.Execute();
    } catch (const std::exception&) {
        // The server has undone the failed insert (duplicate key, missing table); the images
        // rows before it stay in the transaction, which the next thumbnail or the end of the
        // walk commits.
        return;
    }
    // A failing commit is rolled back by the transaction and its error ends the pass.
    pass.Transaction.Commit();
}
