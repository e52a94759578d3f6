#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// What the pass did with one folder entry.
enum class TEntryResult : std::uint8_t {
    erImported,              // images row inserted, no thumbnail made
    erImportedWithThumbnail, // images row inserted and its thumbnail file written
    erPassedOver,            // not imported: see the reason
    erSkipped,               // already in the catalogue with this name and type
    erThumbnailRemade,       // already in the catalogue; its missing thumbnail was made again
    erFailed,                // an error ended the pass at this entry
};

// Why an entry was not imported, or imported without its thumbnail.
enum class TEntryReason : std::uint8_t {
    rsNone,
    rsNotPictureExtension,
    rsNotCatalogueNumber,
    rsNoRecord,
    rsNotUtf8,
    rsLineBreak,
    rsNoPictureId,
    rsNotAFile,
    rsEmptyPicture,
    rsNotDecodable,
    rsTooLarge,
    rsRowNotStored,
    rsFailure,
};
inline constexpr std::size_t EntryReasonCount = 13;

// The outcome of one entry, as the pass hands it to its front end.
struct TEntryOutcome {
    std::string Name; // the entry's file name as listed (bytes)
    TEntryResult Result = TEntryResult::erPassedOver;
    TEntryReason Reason = TEntryReason::rsNone;
    std::string Detail;          // the reason's own text when it says more than its kind
    std::int64_t RecordKey = -1; // -1: no record
    std::int64_t PictureId = -1; // -1: no picture id (none taken, or a dry run)
    std::string ThumbnailFile;   // the thumbnail's full path, when one is or would be written
};

// "imported", "imported, thumbnail written", ...
const char* ResultText(TEntryResult result);
// The kind of a reason, as the summary line counts it ("" for rsNone).
const char* ReasonLabel(TEntryReason reason);
// The reason as the report states it: the detail, or the kind's label.
std::string ReasonText(const TEntryOutcome& outcome);

using TReasonCounts = std::array<unsigned, EntryReasonCount>;

// One report line: file name, outcome, reason, record key, picture id, thumbnail file; fields
// quoted when they hold a comma, a quote or a line break, quotes doubled. A name that is not
// UTF-8 shows its stray bytes as \xNN. No line end.
std::string ReportLine(const TEntryOutcome& outcome);
inline constexpr const char* SReportHeader = "file,outcome,reason,record key,picture id,thumbnail file";
// A field as it stands in a CSV line.
std::string CsvField(const std::string& text);
// The text with every byte that is not part of well-formed UTF-8 written as \xNN.
std::string Utf8Shown(const std::string& text);
