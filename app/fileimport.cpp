#include "app/fileimport.h"

#include "app/entryname.h"
#include "app/imagefileload.h"
#include "app/importedpictures.h"
#include "app/importpass.h"
#include "app/thumbnailwriter.h"
#include "app/paths.h"
#include "base/fmt.h"
#include "base/text.h"
#include "db/fbcomponents.h"
#include "raster/graphic.h"

#include <algorithm>
#include <limits>
#include <new>

namespace {

constexpr const char* SSelectRecord = "SELECT FIRST 1 \"mid\" FROM MOVIES WHERE \"num\" = %d";
constexpr const char* SNextPictureId = "SELECT gen_id(gen_pixref, 1) from rdb$database";
constexpr const char* SInsertImage =
    "INSERT INTO images (\"pixref\", \"mid\", \"imgtype\", \"imgformat\", \"imgpath\") VALUES(%s)";
constexpr const char* SNoRecordWithNumber = "no record with number %d";

// The first column of the first row, -1 without a row.
std::int64_t FirstInteger(TFbQuery& query, const std::string& statement)
{
    query.SetSQL(statement);
    query.Open(true);
    const std::int64_t value = query.Eof() ? -1 : query.Fields().AsInt64(0);
    query.Close(etmStayIn);
    return value;
}

void ShowProgress(TImportContext& pass)
{
    // Eight bits: a dot every 50 entries, back to the bare caption at 255.
    if (++pass.FileCounter == 255) {
        pass.FileCounter = 0;
        pass.Caption = SWorking;
    } else if (pass.FileCounter % 50 == 0) {
        pass.Caption += '.';
    } else {
        return;
    }
    pass.FrontEnd.SetGoCaption(pass.Caption);
}

// What a dry run can tell of a thumbnail without decoding: one is written when the picture is
// a file and a thumbnails folder is set.
void PredictThumbnail(TImportContext& pass, const std::string& path, TEntryOutcome& outcome, TEntryResult written)
{
    outcome.ThumbnailFile = ThumbnailTarget(pass, path);
    if (outcome.ThumbnailFile.empty())
        return;
    if (PathFileExists(path)) {
        outcome.Result = written;
        ++pass.Stats.Thumbnails;
        if (written == TEntryResult::erThumbnailRemade)
            ++pass.Stats.ThumbnailsRemade;
    } else {
        outcome.Reason = TEntryReason::rsNotAFile;
    }
}

// An entry already imported: passed over, its thumbnail (file, and row if it has none) made
// again under the existing picture id when the pass makes thumbnails and either is missing.
void SkipImported(TImportContext& pass, const std::string& path, const TKnownPicture& known, int typeValue,
    TEntryOutcome& outcome)
{
    outcome.Result = TEntryResult::erSkipped;
    outcome.PictureId = known.PictureId;
    ++pass.Stats.Skipped;
    if (typeValue < 2)
        return;
    const std::string target = ThumbnailTarget(pass, path);
    if (target.empty() || (known.HasThumbnailRow && PathFileExists(target)))
        return;
    if (pass.DryRun) {
        PredictThumbnail(pass, path, outcome, TEntryResult::erThumbnailRemade);
    } else if (MakeThumbnail(pass, path, known.PictureId, outcome, !known.HasThumbnailRow)) {
        outcome.Result = TEntryResult::erThumbnailRemade;
        ++pass.Stats.ThumbnailsRemade;
    }
}

void ImportEntry(TImportContext& pass, const std::string& path, TEntryOutcome& outcome)
{
    outcome.Reason = NameRejection(path);
    if (outcome.Reason != TEntryReason::rsNone)
        return;
    const std::string extension = AsciiLowerCase(PathExtension(path));
    const std::string& name = outcome.Name;
    const TEntryName entry = ParseEntryName(name);

    pass.CurrentPath = path;
    std::int32_t pictureId;
    int typeValue;
    {
        const TStopwatch watch(&pass.Stats.DatabaseTime);
        // The record key is read as a 32-bit integer (its low 32 bits).
        const auto recordKey = static_cast<std::int32_t>(FirstInteger(pass.Query, Fmt(SSelectRecord, entry.Number)));
        if (recordKey < 0) {
            outcome.Reason = TEntryReason::rsNoRecord;
            outcome.Detail = Fmt(SNoRecordWithNumber, entry.Number);
            return;
        }
        outcome.RecordKey = recordKey;
        typeValue = PictureTypeValue(std::clamp(pass.FrontEnd.KindIndex(), 0, KindCount - 1), entry.SuffixType);
        if (pass.Known)
            if (const TKnownPicture* known = pass.Known->Find(recordKey, name, typeValue)) {
                SkipImported(pass, path, *known, typeValue, outcome);
                return;
            }
        if (pass.DryRun) {
            // Counted as the commit would count it; no id is taken.
            ++pass.PendingImages;
            outcome.Result = TEntryResult::erImported;
            if (typeValue >= 2)
                PredictThumbnail(pass, path, outcome, TEntryResult::erImportedWithThumbnail);
            return;
        }
        const std::int64_t nextId = FirstInteger(pass.Query, SNextPictureId);
        if (nextId < 0) {
            outcome.Reason = TEntryReason::rsNoPictureId;
            return;
        }
        // The generator counts in 64 bits, the picture id columns hold 32.
        if (nextId > std::numeric_limits<std::int32_t>::max())
            throw Exception(Fmt(SPictureIdOverflow, std::to_string(nextId)));
        pictureId = static_cast<std::int32_t>(nextId);
        const std::string values = Fmt("'%d', '%d', '%d', '%s', '%s'", pictureId, recordKey, typeValue, extension,
            TextReplaceAll(name, "'", "''"));
        pass.Query.SetSQL(Fmt(SInsertImage, values));
        pass.Query.Execute();
    }
    ++pass.PendingImages;
    outcome.Result = TEntryResult::erImported;
    outcome.PictureId = pictureId;
    if (typeValue >= 2 && MakeThumbnail(pass, path, pictureId, outcome))
        outcome.Result = TEntryResult::erImportedWithThumbnail;
}

void EntryDone(TImportContext& pass, const TEntryOutcome& outcome)
{
    if (outcome.Reason != TEntryReason::rsNone)
        ++pass.Stats.Reasons[static_cast<std::size_t>(outcome.Reason)];
    pass.FrontEnd.EntryDone(outcome, pass.Stats);
}

} // namespace

TEntryReason NameRejection(const std::string& path)
{
    const std::string name = PathFileName(path);
    // The statement text is UTF-8 and split into lines at line breaks: a name that is not
    // UTF-8 or holds a line break cannot be stored as it is.
    if (!IsValidUtf8(name))
        return TEntryReason::rsNotUtf8;
    if (!IsAcceptedExtension(AsciiLowerCase(PathExtension(path))))
        return TEntryReason::rsNotPictureExtension;
    if (name.empty() || ParseEntryName(name).Number < 0)
        return TEntryReason::rsNotCatalogueNumber;
    if (name.find_first_of("\r\n") != std::string::npos)
        return TEntryReason::rsLineBreak;
    return TEntryReason::rsNone;
}

bool QualifiesForImport(const std::string& path) { return NameRejection(path) == TEntryReason::rsNone; }

std::string FailureMessage(const std::exception& error, const std::string& path)
{
    // Memory running out anywhere else than in decoding ends the pass, saying so plainly.
    const bool outOfMemory = dynamic_cast<const std::bad_alloc*>(&error) || dynamic_cast<const EOutOfResources*>(&error);
    if (!outOfMemory)
        return error.what();
    return path.empty() ? std::string(SNotEnoughMemory) : Fmt(SNotEnoughMemoryToLoad, path);
}

void ProcessImageFile(TImportContext& pass, const std::string& path)
{
    ShowProgress(pass);
    pass.FrontEnd.ProcessEvents();
    if (pass.FrontEnd.StopRequested()) {
        pass.Stopped = true;
        return;
    }
    ++pass.Stats.Entries;

    TEntryOutcome outcome;
    outcome.Name = PathFileName(path);
    try {
        ImportEntry(pass, path, outcome);
    } catch (const std::exception& error) {
        outcome.Result = TEntryResult::erFailed;
        outcome.Reason = TEntryReason::rsFailure;
        outcome.Detail = FailureMessage(error, pass.CurrentPath);
        EntryDone(pass, outcome);
        throw;
    }
    EntryDone(pass, outcome);
}
