#include "app/importpass.h"

#include "app/connectionname.h"
#include "app/declaredsize.h"
#include "app/decodeahead.h"
#include "app/enginesetup.h"
#include "app/fileimport.h"
#include "app/importedpictures.h"
#include "app/folderlisting.h"
#include "app/paths.h"
#include "app/thumbnailwriter.h"
#include "base/filestream.h"
#include "base/fmt.h"
#include "base/text.h"
#include "base/warning.h"
#include "db/fbcomponents.h"
#include "raster/graphic.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr const char* SResetFolders = "UPDATE options SET \"doimgfolders\" = 0 WHERE \"oid\" = 1";
constexpr const char* SDeleteImages = "DELETE FROM images WHERE 1 = 1";
constexpr const char* SDeleteOrphanThumbnails =
    "DELETE FROM thumbnails WHERE NOT EXISTS (SELECT 1 FROM images WHERE images.\"pixref\" = thumbnails.\"pixref\")";
// The SQL code of a name the database does not know (a catalogue without thumbnails table).
constexpr int SqlCodeUnknownName = -204;
constexpr const char* SSetFolder = "UPDATE options SET \"%s_rel\" = '%s', \"%s_full\" = '%s' WHERE \"oid\" = '1'";
constexpr const char* SSelectOptionsRow = "SELECT FIRST 1 1 FROM options WHERE \"oid\" = '1'";
constexpr const char* SSetThumbsFolder =
    "UPDATE options SET \"thumbsfolder_rel\" = '%s', \"thumbsfolder_full\" = '%s' WHERE \"oid\" = '1'";

std::string WithSlash(const std::string& folder)
{
    return !folder.empty() && folder.back() == '/' ? folder : folder + '/';
}

std::string WithSlashUnlessEmpty(const std::string& folder)
{
    return folder.empty() ? folder : WithSlash(folder);
}

std::string Quoted(const std::string& text) { return TextReplaceAll(text, "'", "''"); }

// Runs work inside the transaction and commits whatever happens; a failure of the work
// travels on after the commit, a failing commit replaces it.
template <typename TWork>
void CommittedBlock(TFbTransaction& transaction, TWork&& work)
{
    transaction.StartTransaction();
    try {
        work();
    } catch (...) {
        transaction.Commit();
        throw;
    }
    transaction.Commit();
}

void Execute(TFbQuery& query, const std::string& statement)
{
    query.SetSQL(statement);
    query.Execute();
}

// A settings statement that meets the options row held by another connection's transaction
// waits for it (the transaction's wait mode). When that transaction commits, the engine reports
// an update conflict: the statement runs again and now changes the committed row. Once
// SettingsLockTimeout has passed, a conflict ends the pass, saying which statement and why
// before the server's own message.
template <typename TWork>
auto SettingsStatement(const std::string& statement, TWork&& work)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(SettingsLockTimeout);
    for (;;) {
        try {
            return work();
        } catch (const EFbError& error) {
            const bool conflict = error.HasGdsCode(GdsUpdateConflict) || error.HasGdsCode(GdsDeadlock)
                || error.HasGdsCode(GdsLockConflict) || error.HasGdsCode(GdsLockTimeout);
            if (!conflict)
                throw;
            if (std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            EFbError named(Fmt(SSettingsRowHeld, statement, SettingsLockTimeout) + '\n' + error.what(),
                error.ErrorCode(), error.SQLCode());
            named.SetGdsCodes(error.GdsCodes());
            throw named;
        }
    }
}

void ExecuteSetting(TFbQuery& query, const std::string& statement)
{
    SettingsStatement(statement, [&] { Execute(query, statement); });
}

// Attaches; a server that refuses the log-in lets the front end ask for a user name and
// password, as often as the user gives them. An embedded catalogue that another program holds
// open is named as such.
void Attach(TFbDataBase& database, TImportFrontEnd& frontEnd, bool onServer)
{
    for (;;) {
        try {
            database.SetConnected(true);
            return;
        } catch (const EFbError& error) {
            if (onServer && error.HasGdsCode(GdsLogin)) {
                // The name tried: given, or the client library's default.
                const char* defaultUser = std::getenv("ISC_USER");
                std::string userName = database.UserName(), password;
                if (userName.empty() && defaultUser)
                    userName = defaultUser;
                if (!frontEnd.AskLogIn(userName, password))
                    throw;
                database.SetUserName(userName);
                database.SetPassWord(password);
                continue;
            }
            if (!onServer
                && (error.HasGdsCode(GdsAlreadyOpened) || error.HasGdsCode(GdsLockTimeout)
                    || error.HasGdsCode(GdsLockConflict))) {
                EFbError inUse(std::string(SCatalogueInUse) + '\n' + error.what(), error.ErrorCode(), error.SQLCode());
                inUse.SetGdsCodes(error.GdsCodes());
                throw inUse;
            }
            throw;
        }
    }
}

// "Remove existing images": the images rows and the thumbnails rows left without one, in one
// transaction that is undone as a whole when any part fails. Thumbnail files stay.
void RemoveExistingRows(TFbTransaction& transaction, TFbQuery& query)
{
    transaction.StartTransaction();
    try {
        Execute(query, SDeleteImages);
        try {
            Execute(query, SDeleteOrphanThumbnails);
        } catch (const EFbError& error) {
            if (error.SQLCode() != SqlCodeUnknownName)
                throw;
            // No thumbnails table: no row of it can be left without its picture.
        }
    } catch (...) {
        try {
            transaction.Rollback();
        } catch (...) { // the first error is the one to report
        }
        throw;
    }
    transaction.Commit();
}

// Statement 3 runs prepared, so that its row count tells whether the options row is there.
bool StoreImageFolder(TFbQuery& query, const std::string& statement)
{
    return SettingsStatement(statement, [&] {
        query.SetSQL(statement);
        query.Prepare();
        query.Execute();
        return query.RowsAffected() > 0;
    });
}

// The button shows the busy state for the lifetime of this object.
class TBusyState {
public:
    explicit TBusyState(TImportFrontEnd& frontEnd) : FFrontEnd(frontEnd)
    {
        FFrontEnd.SetGoEnabled(false);
        FFrontEnd.SetGoCaption(SWorking);
    }
    TBusyState(const TBusyState&) = delete;
    TBusyState& operator=(const TBusyState&) = delete;
    ~TBusyState()
    {
        try {
            FFrontEnd.SetGoEnabled(true);
            FFrontEnd.SetGoCaption(SProcessImages);
        } catch (...) { // a front end that cannot restore its button has nothing better to do
        }
    }

private:
    TImportFrontEnd& FFrontEnd;
};

struct TPassFolders {
    std::string Images, ImagesRel, Thumbs, ThumbsRel;
    bool OnServer = false; // the catalogue is on a server, not a local file
};

// Thumbnails made ahead wait as their bytes alone, so the workers may run this far ahead and
// ride out the pass's waits for the disk; the pictures being decoded stay within the budget.
constexpr std::size_t ThumbnailsAhead = 8;

bool DecodesAhead(const TImportRequest& request, int kindIndex)
{
    return request.Threads != 1 && !request.DryRun && kindIndex > 1 && std::thread::hardware_concurrency() > 1;
}

// The folder's entries in listing order, listed before the walk so that its length is known.
std::vector<std::string> ListFolder(const std::string& folder, TImportContext& pass)
{
    std::vector<std::string> paths;
    TFolderEntry entry;
    if (FolderFindFirst(folder + "*", entry) == 0) {
        pass.Stats.FolderFound = true;
        do
            paths.push_back(folder + entry.Name);
        while (FolderFindNext(entry) == 0);
    }
    FolderFindClose(entry);
    return paths;
}

// Hands every entry to the per-file step. With decodeAhead, workers make the thumbnails of the
// next qualifying entries meanwhile (decoding, drawing, encoding): two of them, so that this,
// most of the pass's work, runs on both cores while the pass does the rest. The workers stop
// when the walk ends, however it ends. Pictures the pass will skip are left to the pass.
void Walk(const TPassFolders& folders, TImportContext& pass, bool decodeAhead)
{
    const std::vector<std::string> paths = ListFolder(folders.Images, pass);
    pass.FrontEnd.WalkStarted(paths.size());
    std::optional<TDecodeAhead> ahead;
    if (decodeAhead) {
        const std::size_t workers = std::min<std::size_t>(std::thread::hardware_concurrency(), TDecodeAhead::DefaultWindow);
        TDecodeAhead::TQualifies qualifies = QualifiesForImport;
        if (const TImportedPictures* known = pass.Known)
            qualifies = [known](const std::string& path) {
                return QualifiesForImport(path) && !known->HasName(PathFileName(path));
            };
        try {
            // The workers make the whole thumbnail; the pass writes it, in folder order.
            const TThumbnailSampling sampling = pass.Sampling;
            TDecodeAhead::TJob job = [sampling](const std::string& path, TDecodedPicture& picture) {
                EncodeThumbnailAhead(path, picture, sampling);
            };
            ahead.emplace(paths, std::move(qualifies), std::move(job), ThumbnailsAhead, workers,
                TDecodeAhead::DefaultBudget, DeclaredPictureBytes);
        } catch (const std::system_error&) {
            // No thread to be had (too little memory left): the pass decodes every picture itself.
        }
    }
    pass.DecodeAhead = ahead ? &*ahead : nullptr;
    try {
        for (std::size_t i = 0; i < paths.size() && !pass.Stopped; ++i) {
            pass.EntryIndex = i;
            ProcessImageFile(pass, paths[i]);
        }
    } catch (...) {
        pass.DecodeAhead = nullptr;
        throw;
    }
    pass.DecodeAhead = nullptr;
}

// The settings statements: folders reset, rows removed and folders stored as asked.
void StoreSettings(const TImportRequest& request, const TPassFolders& folders, int kindIndex, TImportContext& pass)
{
    TFbTransaction& transaction = pass.Transaction;
    TFbQuery& query = pass.Query;
    CommittedBlock(transaction, [&] { ExecuteSetting(query, SResetFolders); });
    if (request.RemoveExisting)
        RemoveExistingRows(transaction, query);
    if (request.SetFolder)
        CommittedBlock(transaction, [&] {
            const char* prefix = FolderColumnPrefixes[kindIndex];
            pass.Stats.FoldersNotStored = !StoreImageFolder(
                query, Fmt(SSetFolder, prefix, Quoted(folders.ImagesRel), prefix, Quoted(folders.Images)));
            if (kindIndex > 1)
                ExecuteSetting(query, Fmt(SSetThumbsFolder, Quoted(folders.ThumbsRel), Quoted(folders.Thumbs)));
        });
}

// Whether "Set folder" would find the options row (a dry run's look instead of the update).
bool HasOptionsRow(TFbTransaction& transaction, TFbQuery& query)
{
    transaction.StartTransaction();
    query.SetSQL(SSelectOptionsRow);
    query.Open(true);
    const bool found = !query.Eof();
    query.Close(etmStayIn);
    transaction.Rollback();
    return found;
}

void RunPass(const TImportRequest& request, const TPassFolders& folders, int kindIndex, TImportContext& pass,
    TFbDataBase& database)
{
    TFbTransaction& transaction = pass.Transaction;
    TFbQuery& query = pass.Query;
    try {
        Attach(database, pass.FrontEnd, folders.OnServer);
        pass.ForcedWrites = kindIndex > 1 && database.ForcedWrites();
        if (request.DryRun)
            pass.Stats.FoldersNotStored = request.SetFolder && !HasOptionsRow(transaction, query);
        else
            StoreSettings(request, folders, kindIndex, pass);
        // Like CommittedBlock, counting what the commit makes permanent.
        transaction.StartTransaction();
        try {
            TImportedPictures known;
            if (request.SkipExisting && !request.RemoveExisting) {
                const TStopwatch watch(&pass.Stats.DatabaseTime);
                known.Load(query);
                pass.Known = &known;
            }
            Walk(folders, pass, DecodesAhead(request, kindIndex));
            pass.Known = nullptr;
        } catch (...) {
            pass.Known = nullptr;
            pass.Commit();
            throw;
        }
        pass.Commit();
    } catch (...) {
        try {
            database.SetConnected(false);
        } catch (...) { // the first error is the one to report
        }
        throw;
    }
    database.SetConnected(false);
}

// Whether the image folder can be listed; otherwise the message that says why.
std::optional<std::string> UnlistableFolder(const std::string& imageFolder, const std::string& shownName)
{
    TFolderEntry entry;
    const int result = FolderFindFirst(imageFolder + "*", entry);
    FolderFindClose(entry);
    if (result == 0 || result == ErrorNoMoreFiles)
        return std::nullopt;
    return Fmt(SImageFolderUnreadable, shownName, SysErrorMessage(result));
}

// What the pass could not do although it went on, as the messages to show captioned "Error".
std::vector<std::string> FailedParts(const TImportStats& stats)
{
    std::vector<std::string> texts;
    if (stats.RowsNotStored == 1)
        texts.push_back(Fmt(SRowNotStored, stats.FirstRowError));
    else if (stats.RowsNotStored > 1)
        texts.push_back(Fmt(SRowsNotStored, stats.RowsNotStored, stats.FirstRowError));
    if (stats.NotLoaded == 1)
        texts.push_back(stats.FirstNotLoaded);
    else if (stats.NotLoaded > 1)
        texts.push_back(Fmt(SPicturesNotLoaded, stats.NotLoaded, stats.FirstNotLoaded));
    return texts;
}

TImportResult Refused(TImportFrontEnd& frontEnd, std::string message)
{
    TImportResult result;
    result.Outcome = TImportOutcome::ioFailed;
    result.Message = std::move(message);
    frontEnd.ShowMessage(result.Message);
    return result;
}

} // namespace

std::string SummaryLine(const TImportStats& stats)
{
    std::string line = Fmt("%u entries seen, %u pictures imported, %u thumbnails written, %u entries passed over",
        stats.Entries, stats.Imported, stats.Thumbnails, stats.PassedOver());
    std::string counts;
    auto add = [&counts](unsigned count, const std::string& what) {
        if (count > 0)
            counts += (counts.empty() ? "" : ", ") + std::to_string(count) + ' ' + what;
    };
    add(stats.Skipped, ResultText(TEntryResult::erSkipped));
    add(stats.ThumbnailsRemade, "thumbnails made again");
    for (std::size_t reason = 1; reason < EntryReasonCount; ++reason)
        if (static_cast<TEntryReason>(reason) != TEntryReason::rsFailure)
            add(stats.Reasons[reason], ReasonLabel(static_cast<TEntryReason>(reason)));
    return counts.empty() ? line : line + " (" + counts + ')';
}

void TImportFrontEnd::ShowWarningMessage(const std::string& text) { ShowWarning(text); }

bool TImportFrontEnd::AskLogIn(std::string& /*userName*/, std::string& /*password*/) { return false; }

void TImportContext::Commit()
{
    // A failing commit rolls back: the rows inserted since the last commit are gone. A dry
    // run inserted nothing; it undoes its look-ups and counts what the commit would have kept.
    const unsigned pending = std::exchange(PendingImages, 0);
    if (DryRun)
        Transaction.Rollback();
    else
        Transaction.Commit();
    Stats.Imported += pending;
}

TImportResult RunImportPass(const TImportRequest& request, TImportFrontEnd& frontEnd)
{
    TImportResult result;
    const TConnectionName catalogue = ClassifyConnectionName(request.DatabaseFile);
    // The existence of a file on a server is for the server to tell.
    if (!catalogue.OnServer() && !PathFileExists(catalogue.Name)) {
        result.Outcome = TImportOutcome::ioNoDatabase;
        return result;
    }
    if (request.ImageFolder.empty()) {
        result.Outcome = TImportOutcome::ioNoImageFolder;
        return result;
    }
    const int kindIndex = std::clamp(request.KindIndex, 0, KindCount - 1);
    TPassFolders folders;
    folders.OnServer = catalogue.OnServer();
    // Relative to the catalogue's folder only for a local file: the server's file system is
    // not this machine's, so a server catalogue gets the full path in both columns.
    const auto relative = [&](const std::string& folder) {
        return folders.OnServer ? folder : WithSlashUnlessEmpty(PathRelativeTo(catalogue.Name, folder));
    };
    folders.Images = WithSlash(request.ImageFolder);
    folders.ImagesRel = relative(folders.Images);
    if (kindIndex > 1) {
        if (request.ThumbsFolder.empty()) {
            result.Outcome = TImportOutcome::ioNoThumbsFolder;
            result.Message = SThumbsFolderMustBeSet;
            frontEnd.ShowMessage(result.Message);
            return result;
        }
        folders.Thumbs = WithSlash(request.ThumbsFolder);
        folders.ThumbsRel = relative(folders.Thumbs);
        // Thumbnails written there would replace the pictures they are made from.
        if (PathSameEntry(folders.Images, folders.Thumbs))
            return Refused(frontEnd, SThumbsFolderIsImageFolder);
    }
    // Nothing is deleted unless there is a folder to import from.
    if (request.RemoveExisting)
        if (std::optional<std::string> message = UnlistableFolder(folders.Images, request.ImageFolder))
            return Refused(frontEnd, std::move(*message));

    const TBusyState busy(frontEnd);
    // Freed in the order connection, query, transaction: the reverse of declaration.
    TFbTransaction transaction;
    TFbQuery query;
    TFbDataBase database;
    database.SetSQLDialect(3);
    database.SetCharacterSet(csUNICODE_FSS);
    database.SetLibraryName(request.LibraryName);
    transaction.SetDataBase(&database);
    query.SetDataBase(&database);
    query.SetTransaction(&transaction);
    query.SetFetchBlobs(true);
    query.SetOnError(etmStayIn);
    // Read committed, so that the options row changed by another pass since this transaction
    // began can be changed again; waiting for a held row no longer than SettingsLockTimeout.
    transaction.SetOptions({ tpReadCommitted, tpRecVersion, tpWait, tpWrite });
    transaction.SetLockTimeout(SettingsLockTimeout);
    database.SetDatabaseName(catalogue.Name);
    // A local file without a user named: full rights on a catalogue file this user may read
    // and write, whoever made it.
    const std::string userName =
        !request.UserName.empty() || catalogue.OnServer() ? request.UserName : EmbeddedUserName();
    if (!userName.empty())
        database.SetUserName(userName);
    if (catalogue.OnServer() && !request.Password.empty())
        database.SetPassWord(request.Password);

    TImportContext pass(frontEnd, query, transaction, folders.Thumbs);
    pass.ImageFolder = folders.Images;
    pass.DryRun = request.DryRun;
    pass.Sampling = request.SmoothThumbnails ? TThumbnailSampling::tsSmooth : TThumbnailSampling::tsNearest;
    try {
        RunPass(request, folders, kindIndex, pass, database);
        result.Outcome = pass.Stopped ? TImportOutcome::ioStopped : TImportOutcome::ioCompleted;
    } catch (const std::exception& error) {
        result.Outcome = TImportOutcome::ioFailed;
        result.Message = FailureMessage(error, pass.CurrentPath);
    }
    result.Stats = pass.Stats;
    if (result.Outcome == TImportOutcome::ioFailed)
        frontEnd.ShowMessage(result.Message);
    for (const std::string& text : FailedParts(pass.Stats)) {
        frontEnd.ShowMessage(text);
        result.Shortfalls.push_back(text);
    }
    if (pass.Stats.FoldersNotStored) {
        frontEnd.ShowWarningMessage(SNoOptionsRow);
        result.Shortfalls.push_back(SNoOptionsRow);
    }
    return result;
}
