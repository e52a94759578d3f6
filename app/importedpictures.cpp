#include "app/importedpictures.h"

#include "db/fbcomponents.h"

namespace {

constexpr const char* SSelectPictures =
    "SELECT i.\"mid\", i.\"imgtype\", i.\"imgpath\", i.\"pixref\", "
    "(SELECT COUNT(*) FROM thumbnails t WHERE t.\"pixref\" = i.\"pixref\") FROM images i";
constexpr const char* SSelectPicturesOnly =
    "SELECT i.\"mid\", i.\"imgtype\", i.\"imgpath\", i.\"pixref\", 1 FROM images i";
// The SQL code of a name the database does not know (a catalogue without thumbnails table).
constexpr int SqlCodeUnknownName = -204;

} // namespace

std::string TImportedPictures::Key(std::int32_t recordKey, const std::string& name, int typeValue)
{
    return std::to_string(recordKey) + '/' + std::to_string(typeValue) + '/' + name;
}

void TImportedPictures::Load(TFbQuery& query)
{
    query.SetSQL(SSelectPictures);
    try {
        query.Open(true);
    } catch (const EFbError& error) {
        if (error.SQLCode() != SqlCodeUnknownName)
            throw;
        query.SetSQL(SSelectPicturesOnly);
        query.Open(true);
    }
    while (!query.Eof()) {
        TSQLResult& row = query.Fields();
        if (!row.IsNull(1) && !row.IsNull(2) && !row.IsNull(3)) {
            const std::string name = row.AsString(2);
            // A null key reads as 0, as the pass reads the records' keys.
            const TKnownPicture picture { row.AsInteger(3), row.AsInt64(4) > 0 };
            FPictures.insert_or_assign(Key(row.IsNull(0) ? 0 : row.AsInteger(0), name, row.AsInteger(1)), picture);
            FNames.insert(name);
        }
        query.Next();
    }
    query.Close(etmStayIn);
}

const TKnownPicture* TImportedPictures::Find(std::int32_t recordKey, const std::string& name, int typeValue) const
{
    const auto found = FPictures.find(Key(recordKey, name, typeValue));
    return found == FPictures.end() ? nullptr : &found->second;
}
