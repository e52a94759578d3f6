#include "app/importpass.h"

#include "app/decodeahead.h"
#include "app/enginesetup.h"
#include "app/fileimport.h"
#include "app/imagefileload.h"
#include "app/folderlisting.h"
#include "app/paths.h"
#include "base/fmt.h"
#include "base/text.h"
#include "db/fbcomponents.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace {

constexpr const char* SResetFolders = "UPDATE options SET \"doimgfolders\" = 0 WHERE \"oid\" = 1";
constexpr const char* SDeleteImages = "DELETE FROM images WHERE 1 = 1";
constexpr const char* SSetFolder = "UPDATE options SET \"%s_rel\" = '%s', \"%s_full\" = '%s' WHERE \"oid\" = '1'";
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
};

bool DecodesAhead(const TImportRequest& request, int kindIndex)
{
    return request.Threads != 1 && kindIndex > 1 && std::thread::hardware_concurrency() > 1;
}

void Walk(const TPassFolders& folders, TImportContext& pass)
{
    TFolderEntry entry;
    if (FolderFindFirst(folders.Images + "*", entry) == 0) {
        pass.Stats.FolderFound = true;
        do
            ProcessImageFile(pass, folders.Images + entry.Name);
        while (!pass.Stopped && FolderFindNext(entry) == 0);
    }
    FolderFindClose(entry);
}

// The same walk over the folder listed first, with workers decoding the pictures of the next
// qualifying entries meanwhile: two of them, so that decoding, most of the pass's work, runs
// on both cores while the pass does the rest. The workers stop when the walk ends, however
// it ends.
void WalkWithDecodeAhead(const TPassFolders& folders, TImportContext& pass)
{
    std::vector<std::string> paths;
    TFolderEntry entry;
    if (FolderFindFirst(folders.Images + "*", entry) == 0) {
        pass.Stats.FolderFound = true;
        do
            paths.push_back(folders.Images + entry.Name);
        while (FolderFindNext(entry) == 0);
    }
    FolderFindClose(entry);
    const std::size_t workers = std::min<std::size_t>(std::thread::hardware_concurrency(), TDecodeAhead::DefaultWindow);
    TDecodeAhead ahead(paths, QualifiesForImport, LoadImageFile, TDecodeAhead::DefaultWindow, workers);
    pass.DecodeAhead = &ahead;
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

void RunPass(const TImportRequest& request, const TPassFolders& folders, int kindIndex, TImportContext& pass,
    TFbDataBase& database)
{
    TFbTransaction& transaction = pass.Transaction;
    TFbQuery& query = pass.Query;
    database.SetConnected(true);
    try {
        CommittedBlock(transaction, [&] { Execute(query, SResetFolders); });
        if (request.RemoveExisting)
            CommittedBlock(transaction, [&] { Execute(query, SDeleteImages); });
        if (request.SetFolder)
            CommittedBlock(transaction, [&] {
                const char* prefix = FolderColumnPrefixes[kindIndex];
                Execute(query, Fmt(SSetFolder, prefix, Quoted(folders.ImagesRel), prefix, Quoted(folders.Images)));
                if (kindIndex > 1)
                    Execute(query, Fmt(SSetThumbsFolder, Quoted(folders.ThumbsRel), Quoted(folders.Thumbs)));
            });
        CommittedBlock(transaction, [&] {
            if (DecodesAhead(request, kindIndex))
                WalkWithDecodeAhead(folders, pass);
            else
                Walk(folders, pass);
        });
    } catch (...) {
        try {
            database.SetConnected(false);
        } catch (...) { // the first error is the one to report
        }
        throw;
    }
    database.SetConnected(false);
}

} // namespace

TImportResult RunImportPass(const TImportRequest& request, TImportFrontEnd& frontEnd)
{
    TImportResult result;
    if (!PathFileExists(request.DatabaseFile)) {
        result.Outcome = TImportOutcome::ioNoDatabase;
        return result;
    }
    if (request.ImageFolder.empty()) {
        result.Outcome = TImportOutcome::ioNoImageFolder;
        return result;
    }
    const int kindIndex = std::clamp(request.KindIndex, 0, KindCount - 1);
    TPassFolders folders;
    folders.Images = WithSlash(request.ImageFolder);
    folders.ImagesRel = WithSlashUnlessEmpty(PathRelativeTo(request.DatabaseFile, folders.Images));
    if (kindIndex > 1) {
        if (request.ThumbsFolder.empty()) {
            result.Outcome = TImportOutcome::ioNoThumbsFolder;
            result.Message = SThumbsFolderMustBeSet;
            frontEnd.ShowMessage(result.Message);
            return result;
        }
        folders.Thumbs = WithSlash(request.ThumbsFolder);
        folders.ThumbsRel = WithSlashUnlessEmpty(PathRelativeTo(request.DatabaseFile, folders.Thumbs));
    }

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
    database.SetDatabaseName(request.DatabaseFile);
    // Full rights on a catalogue file this user may read and write, whoever made it.
    if (const std::string user = EmbeddedUserName(); !user.empty())
        database.SetUserName(user);

    TImportContext pass(frontEnd, query, transaction, folders.Thumbs);
    try {
        RunPass(request, folders, kindIndex, pass, database);
        result.Outcome = pass.Stopped ? TImportOutcome::ioStopped : TImportOutcome::ioCompleted;
    } catch (const std::exception& error) {
        result.Outcome = TImportOutcome::ioFailed;
        result.Message = error.what();
    }
    result.Stats = pass.Stats;
    if (result.Outcome == TImportOutcome::ioFailed)
        frontEnd.ShowMessage(result.Message);
    return result;
}
