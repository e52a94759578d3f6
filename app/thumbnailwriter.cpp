#include "app/thumbnailwriter.h"

#include "app/decodeahead.h"
#include "app/imagefileload.h"
#include "app/importpass.h"
#include "app/paths.h"
#include "base/exception.h"
#include "base/filestream.h"
#include "base/fmt.h"
#include "base/text.h"
#include "base/warning.h"
#include "db/fbcomponents.h"
#include "raster/bitmap.h"
#include "raster/jpegimage.h"
#include "raster/orientation.h"
#include "raster/thumbnaildrawing.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <optional>
#include <utility>

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

bool RanOutOfMemory(const std::exception_ptr& error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const ENotEnoughMemory&) {
        return true;
    } catch (...) {
        return false;
    }
}

[[noreturn]] void RaiseCreateError(const std::string& file, int error)
{
    throw EFCreateError(Fmt(SFCreateError, ExpandFileName(file), SysErrorMessage(error)));
}

// A new file beside target under a name of its own, removed when it goes unless renamed over
// the target.
class TTemporaryFile {
public:
    explicit TTemporaryFile(const std::string& target) : FTarget(target)
    {
        static std::atomic<unsigned> counter { 0 };
        const std::string stem = PathFolder(target) + "." + PathFileName(target) + "." + std::to_string(::getpid()) + ".";
        do {
            FPath = stem + std::to_string(counter++) + ".tmp";
            FHandle = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        } while (FHandle < 0 && errno == EEXIST);
        if (FHandle < 0)
            RaiseCreateError(target, errno);
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;
    ~TTemporaryFile()
    {
        if (FHandle >= 0)
            ::close(FHandle);
        if (!FPath.empty())
            ::unlink(FPath.c_str());
    }
    int Handle() const { return FHandle; }

    void CloseAndRename()
    {
        const int handle = std::exchange(FHandle, -1);
        if (::close(handle) != 0 || ::rename(FPath.c_str(), FTarget.c_str()) != 0)
            RaiseCreateError(FTarget, errno);
        FPath.clear();
    }

private:
    std::string FTarget, FPath;
    int FHandle = -1;
};

// Makes a rename in the folder last through a power cut.
void FlushFolder(const std::string& folder, const std::string& file)
{
    const int handle = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0)
        RaiseCreateError(file, errno);
    // Some file systems cannot flush a folder (EINVAL); their renames need nothing more.
    const int error = ::fsync(handle) == 0 || errno == EINVAL ? 0 : errno;
    ::close(handle);
    if (error != 0)
        RaiseCreateError(file, error);
}

} // namespace

TThumbnailSize ThumbnailSize(int width, int height)
{
    if (height < width)
        return { ThumbnailBoxWidth, ScaledSide(ThumbnailBoxWidth, height, width) };
    return { ScaledSide(ThumbnailBoxHeight, width, height), ThumbnailBoxHeight };
}

bool EncodeThumbnail(const std::string& imagePath, TMemoryStream& jpegBytes, TImportStats* stats,
    TDecodedPicture* decoded, TThumbnailSampling sampling)
{
    return EncodeThumbnailFor(imagePath, jpegBytes, stats, decoded, sampling) == TThumbnailEncoding::teEncoded;
}

TThumbnailEncoding EncodeThumbnailFor(const std::string& imagePath, TMemoryStream& jpegBytes, TImportStats* stats,
    TDecodedPicture* decoded, TThumbnailSampling sampling)
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
            if (decoded->Encoded) {
                jpegBytes.Clear();
                jpegBytes.WriteBuffer(decoded->Thumbnail.data(), decoded->Thumbnail.size());
                return static_cast<TThumbnailEncoding>(decoded->Encoding);
            }
            if (!decoded->Loaded)
                return TThumbnailEncoding::teNotDecodable;
            picture = decoded->Bitmap.get();
        } else if (!LoadImageFileTimed(imagePath, ownSource, Total(stats, &TImportStats::ReadTime), sampling)) {
            return TThumbnailEncoding::teNotDecodable;
        }
    }
    const TBitmap& source = *picture;
    // A picture without pixels (a zero-byte .bmp) has no thumbnail.
    if (source.Width() <= 0 || source.Height() <= 0)
        return TThumbnailEncoding::teEmpty;

    TJPEGImage jpeg;
    {
        const TStopwatch watch(Total(stats, &TImportStats::DrawTime));
        // As viewers show the picture: turned by its orientation before it is sized.
        TBitmap turned;
        if (source.Orientation() != OrientationAsStored)
            OrientedCopy(source, turned);
        const TBitmap& shown = source.Orientation() != OrientationAsStored ? turned : source;
        // A picture decoded reduced gets the thumbnail size of its own size.
        const bool reduced = source.FullWidth > 0 && source.FullHeight > 0;
        const bool swapped = OrientationSwapsSides(source.Orientation());
        const TThumbnailSize size = !reduced ? ThumbnailSize(shown.Width(), shown.Height())
            : swapped                        ? ThumbnailSize(source.FullHeight, source.FullWidth)
                                             : ThumbnailSize(source.FullWidth, source.FullHeight);
        TBitmap thumbnail;
        thumbnail.ResizeTo(size.Width, size.Height);
        try {
            DrawThumbnail(shown, thumbnail, sampling);
        } catch (const std::bad_alloc&) {
            if (sampling != TThumbnailSampling::tsSmooth)
                throw;
            // the smooth drawing's row of sums, for a picture of a huge width
            throw ENotEnoughMemory(Fmt(SNotEnoughMemoryToLoad, imagePath));
        }
        jpeg.CopyContentFrom(thumbnail); // shares the pixels; the thumbnail bitmap may go
    }
    const TStopwatch watch(Total(stats, &TImportStats::EncodeTime));
    jpegBytes.Clear();
    jpeg.SaveStream(jpegBytes);
    return TThumbnailEncoding::teEncoded;
}

void EncodeThumbnailAhead(const std::string& imagePath, TDecodedPicture& picture, TThumbnailSampling sampling)
{
    TMemoryStream jpeg;
    picture.Encoding = static_cast<std::uint8_t>(EncodeThumbnailFor(imagePath, jpeg, nullptr, nullptr, sampling));
    const std::span<const std::uint8_t> bytes = jpeg.Bytes();
    picture.Thumbnail.assign(bytes.begin(), bytes.end());
    picture.Encoded = true;
}

void WriteThumbnailBytes(const std::string& thumbnailFile, std::span<const std::uint8_t> bytes, TThumbnailFlush flush)
{
    const std::string folder = PathFolder(thumbnailFile);
    if (!folder.empty() && !PathFolderExists(folder))
        PathForceFolders(folder); // a folder that cannot be made shows as the create error below
    TTemporaryFile temporary(thumbnailFile);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(temporary.Handle(), bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            RaiseCreateError(thumbnailFile, written < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(written);
    }
    if (flush == TThumbnailFlush::tfToDisk && ::fdatasync(temporary.Handle()) != 0)
        RaiseCreateError(thumbnailFile, errno);
    temporary.CloseAndRename();
    if (flush == TThumbnailFlush::tfToDisk)
        FlushFolder(folder, thumbnailFile);
}

bool WriteThumbnailFile(const std::string& imagePath, const std::string& thumbnailFile, TImportStats* stats,
    TDecodedPicture* decoded)
{
    TMemoryStream jpeg;
    if (!EncodeThumbnail(imagePath, jpeg, stats, decoded))
        return false;
    const TStopwatch watch(Total(stats, &TImportStats::EncodeTime));
    WriteThumbnailBytes(thumbnailFile, jpeg.Bytes());
    return true;
}

std::string ThumbnailTarget(TImportContext& pass, const std::string& path)
{
    // The folder is read afresh for every thumbnail; emptied during the pass, the one the
    // pass started with stays in use rather than the root folder.
    std::string folder = pass.FrontEnd.ThumbsFolderText();
    if (folder.empty())
        folder = pass.ThumbsFolder;
    if (folder.empty())
        return folder;
    if (folder.back() != '/')
        folder += '/';
    return folder + PathChangeExtension(PathFileName(path), ".jpg");
}

bool MakeThumbnail(TImportContext& pass, const std::string& path, std::int32_t pictureId, TEntryOutcome& outcome,
    bool insertRow)
{
    if (!PathFileExists(path)) {
        outcome.Reason = TEntryReason::rsNotAFile;
        return false;
    }
    const std::string target = ThumbnailTarget(pass, path);
    if (target.empty())
        return false;
    const std::string folder = PathFolder(target);
    const std::string name = PathFileName(path);
    std::optional<TDecodedPicture> ahead;
    if (pass.DecodeAhead) {
        const TStopwatch watch(&pass.Stats.DecodeTime);
        ahead = pass.DecodeAhead->Take(pass.EntryIndex);
        // A worker short of memory while others held pictures: the pass tries again on its own.
        if (ahead && RanOutOfMemory(ahead->Error))
            ahead.reset();
    }
    TMemoryStream jpeg;
    try {
        const TThumbnailEncoding encoding
            = EncodeThumbnailFor(path, jpeg, &pass.Stats, ahead ? &*ahead : nullptr, pass.Sampling);
        if (encoding != TThumbnailEncoding::teEncoded) {
            outcome.Reason = encoding == TThumbnailEncoding::teEmpty ? TEntryReason::rsEmptyPicture
                                                                      : TEntryReason::rsNotDecodable;
            return false;
        }
    } catch (const ENotEnoughMemory& error) {
        // This picture gets no thumbnail; the pass goes on and reports it at the end.
        if (pass.Stats.NotLoaded++ == 0)
            pass.Stats.FirstNotLoaded = error.what();
        outcome.Reason = TEntryReason::rsTooLarge;
        outcome.Detail = error.what();
        return false;
    }
    {
        const TStopwatch watch(&pass.Stats.EncodeTime);
        // The folder may have been changed during the pass: never over the pictures themselves.
        if (!PathFolderExists(folder))
            PathForceFolders(folder);
        if (PathSameEntry(folder, pass.ImageFolder) || PathSameEntry(target, path))
            throw Exception(SThumbsFolderIsImageFolder);
        // Flushed before its row is committed when the catalogue itself writes synchronously:
        // no committed row may name a file a power cut could lose.
        WriteThumbnailBytes(target, jpeg.Bytes(), pass.ForcedWrites ? TThumbnailFlush::tfToDisk : TThumbnailFlush::tfNone);
    }
    ++pass.Stats.Thumbnails;
    outcome.ThumbnailFile = target;
    if (!insertRow)
        return true;

    const TStopwatch watch(&pass.Stats.DatabaseTime);
    pass.Transaction.StartTransaction();
    const std::string values = Fmt("'%d', '.jpg', '%s'", pictureId, TextReplaceAll(name, "'", "''"));
    pass.Query.SetSQL("");
    pass.Query.SetSQL(Fmt(SInsertThumbnail, SThumbnailColumns, values));
    try {
        pass.Query.Execute();
    } catch (const std::exception& error) {
        // The server has undone the failed insert (duplicate key, missing table); the images
        // rows before it stay in the transaction, which the next thumbnail or the end of the
        // walk commits. The row is counted and reported when the pass ends.
        if (pass.Stats.RowsNotStored++ == 0)
            pass.Stats.FirstRowError = error.what();
        outcome.Reason = TEntryReason::rsRowNotStored;
        outcome.Detail = std::string(ReasonLabel(TEntryReason::rsRowNotStored)) + ": " + error.what();
        return true;
    }
    // A failing commit is rolled back by the transaction and its error ends the pass.
    pass.Commit();
    return true;
}
