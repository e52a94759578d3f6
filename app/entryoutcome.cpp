#include "app/entryoutcome.h"

#include "app/entryname.h"

namespace {

constexpr const char* Hex = "0123456789ABCDEF";

constexpr const char* ReasonLabels[EntryReasonCount] = {
    "",
    "not a picture extension",
    "name is not a catalogue number",
    "no record with that number",
    "name is not UTF-8",
    "name holds a line break",
    "no picture id from gen_pixref",
    "no thumbnail: not a file",
    "no thumbnail: empty picture",
    "no thumbnail: picture cannot be decoded",
    "no thumbnail: not enough memory",
    "thumbnail row not stored",
    "failed",
};

} // namespace

const char* ResultText(TEntryResult result)
{
    switch (result) {
    case TEntryResult::erImported:
        return "imported";
    case TEntryResult::erImportedWithThumbnail:
        return "imported, thumbnail written";
    case TEntryResult::erPassedOver:
        return "passed over";
    case TEntryResult::erSkipped:
        return "skipped (already imported)";
    case TEntryResult::erThumbnailRemade:
        return "thumbnail made again";
    case TEntryResult::erFailed:
        return "failed";
    }
    return "";
}

const char* ReasonLabel(TEntryReason reason) { return ReasonLabels[static_cast<std::size_t>(reason)]; }

std::string ReasonText(const TEntryOutcome& outcome)
{
    return outcome.Detail.empty() ? ReasonLabel(outcome.Reason) : outcome.Detail;
}

std::string Utf8Shown(const std::string& text)
{
    if (IsValidUtf8(text))
        return text;
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80)
            shown += c;
        else
            shown += std::string("\\x") + Hex[byte >> 4] + Hex[byte & 15];
    }
    return shown;
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string field = "\"";
    for (const char c : text) {
        if (c == '"')
            field += '"';
        field += c;
    }
    return field + '"';
}

std::string ReportLine(const TEntryOutcome& outcome)
{
    auto number = [](std::int64_t value) { return value < 0 ? std::string() : std::to_string(value); };
    return CsvField(Utf8Shown(outcome.Name)) + ',' + CsvField(ResultText(outcome.Result)) + ','
        + CsvField(Utf8Shown(ReasonText(outcome))) + ',' + number(outcome.RecordKey) + ','
        + number(outcome.PictureId) + ',' + CsvField(Utf8Shown(outcome.ThumbnailFile));
}
