#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

class TFbQuery;

// A picture the catalogue already holds.
struct TKnownPicture {
    std::int32_t PictureId = 0;
    bool HasThumbnailRow = false;
};

// Every images row of the catalogue by record key, file name and type value, read in one query
// at the start of a pass that skips what is already imported.
class TImportedPictures {
public:
    // Reads the rows through query, in its transaction as it stands. A catalogue without
    // thumbnails table counts every picture as having its row (none can be added there).
    void Load(TFbQuery& query);
    const TKnownPicture* Find(std::int32_t recordKey, const std::string& name, int typeValue) const;
    // Whether some row has this file name (for whatever record and type).
    bool HasName(const std::string& name) const { return FNames.contains(name); }
    std::size_t Size() const { return FPictures.size(); }

private:
    static std::string Key(std::int32_t recordKey, const std::string& name, int typeValue);
    std::unordered_map<std::string, TKnownPicture> FPictures;
    std::unordered_set<std::string> FNames;
};
