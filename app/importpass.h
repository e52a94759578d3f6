#pragma once
#include "app/entryoutcome.h"
#include "base/stopwatch.h"
#include "raster/thumbnaildrawing.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class TDecodeAhead;
class TFbQuery;
class TFbTransaction;
class TImportedPictures;
struct TImportStats;

// What an import pass needs from the window or the command line that runs it. The pass
// itself knows no user interface.
class TImportFrontEnd {
public:
    virtual ~TImportFrontEnd() = default;
    // The picture kind index (0 poster ... 4 both covers); read again for every entry.
    virtual int KindIndex() = 0;
    // The thumbnails folder as it stands now; read again for every thumbnail.
    virtual std::string ThumbsFolderText() = 0;
    virtual void SetGoEnabled(bool enabled) = 0;
    virtual void SetGoCaption(const std::string& caption) = 0;
    // Lets pending window messages run; called before every folder entry.
    virtual void ProcessEvents() = 0;
    // True once the user asked to end the program: the pass stops before the next entry.
    virtual bool StopRequested() { return false; }
    // Shows a message captioned "Error".
    virtual void ShowMessage(const std::string& text) = 0;
    // Shows a message captioned "Warning"; by default through the program's warning handler.
    virtual void ShowWarningMessage(const std::string& text);
    // The walk begins over a folder listing of this many entries.
    virtual void WalkStarted(std::size_t /*entries*/) {}
    // What became of one entry, right after the pass dealt with it (a failed entry before the
    // error is shown). Entries follow the folder order.
    virtual void EntryDone(const TEntryOutcome& /*outcome*/, const TImportStats& /*stats*/) {}
    // The server refused the log-in (no or wrong user name or password): asks for them,
    // userName holding the name tried. False when there is nobody to ask or the user cancels;
    // the pass then ends with the server's message.
    virtual bool AskLogIn(std::string& userName, std::string& password);
};

// The kinds of pictures, in the order of the dialog's radio group.
inline constexpr int KindCount = 5;
inline constexpr int KindBothCovers = 4;
// First part of the names of the two options columns that "Set folder" writes, by kind index.
inline constexpr const char* FolderColumnPrefixes[KindCount] = {
    "posterfolder", "screensfolder", "coversfolder", "coversfolder", "coversfolder" };

inline constexpr const char* FbClientLibraryName = "libfbclient.so.2";

// The inputs read once at the start of a pass.
struct TImportRequest {
    std::string DatabaseFile;  // DBEdit
    std::string ImageFolder;   // ImgEdit
    std::string ThumbsFolder;  // ThumbsEdit at the start
    int KindIndex = 0;         // TypeGroup at the start
    bool RemoveExisting = false;
    bool SetFolder = false;
    // Pass over entries whose record already has an images row of this file name and type,
    // making their missing thumbnails again. RemoveExisting wins: nothing is left to skip.
    bool SkipExisting = false;
    // Look up records only: insert, delete, number and write nothing; tell what would be done.
    bool DryRun = false;
    // Thumbnail pixels as the average of the picture pixels they cover instead of the nearest
    // one ("Smooth thumbnails", --smooth).
    bool SmoothThumbnails = false;
    // Threads of the pass: 1 decodes every picture on the calling thread; any other value
    // lets workers make the thumbnails of the next pictures ahead when thumbnails are made and
    // the machine has more than one core.
    int Threads = 0;
    std::string LibraryName = FbClientLibraryName;
    // For a catalogue on a server: the user and password to log in with. Empty ones are left
    // to the client library, which takes ISC_USER and ISC_PASSWORD from the environment. A
    // local file is opened by the embedded engine, which checks no password.
    std::string UserName;
    std::string Password;
};

// How long a settings statement waits for the options row, which every pass updates, while
// another connection's transaction holds it, before it gives up. Another pass holds that row for
// one short transaction, milliseconds even over a slow network; 10 s rides out many passes
// starting together, yet a row left held by an idle program ends the pass soon with a message
// instead of a pass that hangs without saying why.
inline constexpr int SettingsLockTimeout = 10;

enum class TImportOutcome : std::uint8_t {
    ioNoDatabase,     // no such database file: nothing done
    ioNoImageFolder,  // image folder empty: nothing done
    ioNoThumbsFolder, // cover kind without thumbnails folder: message shown
    ioCompleted,      // the walk ended normally
    ioStopped,        // the front end asked to stop; everything done so far is committed
    ioFailed,         // an error ended the pass; its message was shown
};

struct TImportStats {
    unsigned Entries = 0;     // folder entries handed to the per-file step
    unsigned Imported = 0;    // images rows committed
    unsigned Thumbnails = 0;  // thumbnail files written
    bool FolderFound = false; // the image folder could be listed
    // What could not be done without ending the pass: thumbnails rows whose insert failed,
    // pictures too large for the memory left (no thumbnail), each with the first message;
    // the folders of "Set folder" without an options row to take them.
    unsigned RowsNotStored = 0;
    std::string FirstRowError;
    unsigned NotLoaded = 0;
    std::string FirstNotLoaded;
    bool FoldersNotStored = false;
    unsigned Skipped = 0;          // entries already imported
    unsigned ThumbnailsRemade = 0; // of them, those whose thumbnail was made again
    TReasonCounts Reasons {};      // entries by the reason they were passed over or got no thumbnail
    // Where the time went. DecodeTime includes ReadTime, the reading of files into memory on
    // the pass's own thread (files decoded ahead are read by the workers).
    std::chrono::nanoseconds ReadTime {}, DecodeTime {}, DrawTime {}, EncodeTime {}, DatabaseTime {};
    unsigned PassedOver() const { return Entries - Imported; }
};

// "6 entries seen, 3 pictures imported, 3 thumbnails written, 3 entries passed over", followed
// by the counts of skipped entries, remade thumbnails and each reason in parentheses, if any.
std::string SummaryLine(const TImportStats& stats);

struct TImportResult {
    TImportOutcome Outcome = TImportOutcome::ioCompleted;
    std::string Message; // the error shown, if any
    // Shown after it: what the pass could not do although it went on (see TImportStats).
    // Any of them makes the pass unsuccessful.
    std::vector<std::string> Shortfalls;
    TImportStats Stats;
    bool Succeeded() const { return Outcome != TImportOutcome::ioFailed && Shortfalls.empty(); }
};

// Button captions of the busy and idle states.
inline constexpr const char* SWorking = "Working";
inline constexpr const char* SProcessImages = "Process images";
inline constexpr const char* SThumbsFolderMustBeSet = "Thumbnails folder must be set!";
inline constexpr const char* SErrorCaption = "Error";
inline constexpr const char* SImageFolderUnreadable = "Image folder \"%s\" cannot be read: %s";
inline constexpr const char* SThumbsFolderIsImageFolder = "The thumbnails folder must not be the image folder.";
inline constexpr const char* SRowsNotStored = "%u thumbnail rows could not be stored: %s";
inline constexpr const char* SRowNotStored = "1 thumbnail row could not be stored: %s";
inline constexpr const char* SPicturesNotLoaded = "%u pictures got no thumbnail: %s";
inline constexpr const char* SNoOptionsRow = "The catalogue has no options row; folders were not stored.";
inline constexpr const char* SNotEnoughMemory = "Not enough memory to go on with the import.";
inline constexpr const char* SCatalogueInUse =
    "The catalogue is in use by another program. Close it, or put the catalogue on a Firebird server.";
inline constexpr const char* SSettingsRowHeld =
    "The statement %s could not change the options row: another connection held it for more than %d seconds.";

// One import pass (the "Process images" button): validates the request, writes the settings
// statements, walks the image folder and imports every qualifying entry.
TImportResult RunImportPass(const TImportRequest& request, TImportFrontEnd& frontEnd);

// What the per-file step and the thumbnail writer share with the pass.
struct TImportContext {
    TImportContext(TImportFrontEnd& frontEnd, TFbQuery& query, TFbTransaction& transaction, std::string thumbsFolder)
        : FrontEnd(frontEnd), Query(query), Transaction(transaction), ThumbsFolder(std::move(thumbsFolder)) {}

    // Commits the transaction; the images rows inserted since the last commit then count.
    void Commit();

    TImportFrontEnd& FrontEnd;
    TFbQuery& Query;
    TFbTransaction& Transaction;
    std::string ThumbsFolder; // as validated at the start, ending in "/"
    std::string ImageFolder;  // ending in "/"
    // The catalogue writes synchronously: every thumbnail file is flushed to the disk before
    // the row that names it is committed.
    bool ForcedWrites = false;
    std::string CurrentPath; // the entry being imported
    unsigned PendingImages = 0; // images rows inserted, not yet committed
    std::uint8_t FileCounter = 0;
    std::string Caption = SWorking; // the button's caption during the pass
    bool Stopped = false;
    bool DryRun = false;
    TThumbnailSampling Sampling = TThumbnailSampling::tsNearest; // of every thumbnail of the pass
    // The pictures already imported, when the pass skips them.
    const TImportedPictures* Known = nullptr;
    TImportStats Stats;
    // The workers making thumbnails ahead, if any, and the index of the current entry in their
    // listing.
    TDecodeAhead* DecodeAhead = nullptr;
    std::size_t EntryIndex = 0;
};

