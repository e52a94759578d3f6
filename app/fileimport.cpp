#include "app/fileimport.h"

#include "app/entryname.h"
#include "app/importpass.h"
#include "app/thumbnailwriter.h"
#include "app/paths.h"
#include "base/fmt.h"
#include "base/text.h"
#include "db/fbcomponents.h"

#include <algorithm>
#include <limits>

namespace {

constexpr const char* SSelectRecord = "SELECT FIRST 1 \"mid\" FROM MOVIES WHERE \"num\" = %d";
constexpr const char* SNextPictureId = "SELECT gen_id(gen_pixref, 1) from rdb$database";
constexpr const char* SInsertImage =
    "INSERT INTO images (\"pixref\", \"mid\", \"imgtype\", \"imgformat\", \"imgpath\") VALUES(%s)";

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

} // namespace

bool QualifiesForImport(const std::string& path)
{
    const std::string extension = AsciiLowerCase(PathExtension(path));
    const std::string name = PathFileName(path);
    if (name.empty() || ParseEntryName(name).Number < 0 || !IsAcceptedExtension(extension))
        return false;
    // The statement text is UTF-8 and split into lines at line breaks: a name that is not
    // UTF-8 or holds a line break cannot be stored as it is.
    return IsValidUtf8(name) && name.find_first_of("\r\n") == std::string::npos;
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

    if (!QualifiesForImport(path))
        return;
    const std::string extension = AsciiLowerCase(PathExtension(path));
    const std::string name = PathFileName(path);
    const TEntryName entry = ParseEntryName(name);

    pass.CurrentPath = path;
    std::int32_t pictureId;
    int typeValue;
    {
        const TStopwatch watch(&pass.Stats.DatabaseTime);
        // The record key is read as a 32-bit integer (its low 32 bits).
        const auto recordKey = static_cast<std::int32_t>(FirstInteger(pass.Query, Fmt(SSelectRecord, entry.Number)));
        if (recordKey < 0)
            return;
        const std::int64_t nextId = FirstInteger(pass.Query, SNextPictureId);
        if (nextId < 0)
            return;
        // The generator counts in 64 bits, the picture id columns hold 32.
        if (nextId > std::numeric_limits<std::int32_t>::max())
            throw Exception(Fmt(SPictureIdOverflow, std::to_string(nextId)));
        pictureId = static_cast<std::int32_t>(nextId);
        typeValue = PictureTypeValue(std::clamp(pass.FrontEnd.KindIndex(), 0, KindCount - 1), entry.SuffixType);
        const std::string values = Fmt("'%d', '%d', '%d', '%s', '%s'", pictureId, recordKey, typeValue, extension,
            TextReplaceAll(name, "'", "''"));
        pass.Query.SetSQL(Fmt(SInsertImage, values));
        pass.Query.Execute();
    }
    ++pass.PendingImages;
    if (typeValue >= 2)
        MakeThumbnail(pass, path, pictureId);
}
