#pragma once
#include "db/fberrors.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Client library types as this layer stores them; db/fbclientlib.cpp checks each one against
// the library's own header, so callers need not include it.
using TIscStatus = std::intptr_t;  // ISC_STATUS
using TFbHandle = unsigned int;    // FB_API_HANDLE (database, transaction, statement, blob)
inline constexpr int StatusVectorLength = 20; // ISC_STATUS_LENGTH

// The statement type of DSQLPrepare is the library's isc_info_sql_stmt_* value minus 1; a
// stored procedure's execution (isc_info_sql_stmt_exec_procedure) returns its row at once.
inline constexpr int StatementTypeExecProcedure = 7;
// Options of DSQLFreeStatement: close the cursor (DSQL_close), drop the statement (DSQL_drop).
inline constexpr int DsqlClose = 1;
inline constexpr int DsqlDrop = 2;

// A blob or array id (ISC_QUAD).
struct TIscQuad {
    std::int32_t High = 0;
    std::uint32_t Low = 0;
};

// A timestamp in the library's encoding: days since 17 November 1858 and 1/10000 seconds.
struct TIscTimestamp {
    std::int32_t Date = 0;
    std::uint32_t Time = 0;
};

class TSQLDA;
class TSQLResult;

// One extended SQL descriptor area (XSQLDA, version 1) with typed access to its entries.
class TSqlDescriptor {
public:
    explicit TSqlDescriptor(int count = 0);
    ~TSqlDescriptor();
    TSqlDescriptor(const TSqlDescriptor&) = delete;
    TSqlDescriptor& operator=(const TSqlDescriptor&) = delete;

    int Count() const noexcept;                    // sqln
    int Described() const noexcept;                // sqld, set by the library at describe time
    void Resize(int count);                        // sqln = sqld = count; entries zeroed
    void* Area() noexcept { return FArea.get(); }  // the XSQLDA itself

    short SqlType(int index) const;
    void SetSqlType(int index, short value);
    short SqlScale(int index) const;
    void SetSqlScale(int index, short value);
    short SqlSubType(int index) const;
    void SetSqlSubType(int index, short value);
    short SqlLen(int index) const;
    void SetSqlLen(int index, short value);
    char* SqlData(int index) const;
    void SetSqlData(int index, char* data);
    short* SqlInd(int index) const;
    void SetSqlInd(int index, short* indicator);
    std::string SqlName(int index) const;
    std::string RelName(int index) const;
    std::string OwnName(int index) const;
    std::string AliasName(int index) const;

private:
    std::unique_ptr<std::max_align_t[]> FArea;
    int FCount = 0;
};

// Sizes of the library's array descriptor and what describe needs of it.
std::size_t ArrayDescriptorSize();
struct TArrayShape {
    std::size_t ElementSize = 0; // element length, + 2 for the varying kinds
    std::size_t ElementCount = 0;
};
TArrayShape ArrayShapeOf(const std::vector<unsigned char>& descriptor);

// A module handle of dlopen, closed when it goes.
struct TModuleCloser {
    void operator()(void* module) const noexcept;
};
using TModuleHandle = std::unique_ptr<void, TModuleCloser>;

// Owns the loaded client library and its entry points; every call runs under one recursive lock.
class TFbBaseLibrary {
public:
    TFbBaseLibrary();
    virtual ~TFbBaseLibrary();
    TFbBaseLibrary(const TFbBaseLibrary&) = delete;
    TFbBaseLibrary& operator=(const TFbBaseLibrary&) = delete;

    virtual bool IsLoaded();
    virtual bool Unload();
    // Loads the library by file name and resolves every entry point; raises on failure.
    virtual bool Load(const std::string& name);

    // The names resolved by Load, in slot order.
    static const std::vector<const char*>& EntryPointNames();

protected:
    struct TEntryPoints;
    std::recursive_mutex FLock;
    TModuleHandle FModule;
    std::unique_ptr<TEntryPoints> FEntries;
};

// The wrapper every component calls: status vector first, then the one check step.
class TFbLibrary : public TFbBaseLibrary {
public:
    TFbLibrary();
    ~TFbLibrary() override;

    // Called with this object when a call reports a lost connection or a network error.
    std::function<void(TFbLibrary&)> OnConnectionLost;
    // Called with a user-exception number; may replace the error class.
    std::function<void(int number, TFbErrorClass& errorClass)> OnGetDBExceptionClass;

    bool RaiseErrors() const noexcept { return FRaiseErrors; }
    void SetRaiseErrors(bool value) noexcept { FRaiseErrors = value; }
    std::uint16_t SegmentSize() const noexcept { return FSegmentSize; }
    void SetSegmentSize(std::uint16_t value);
    std::recursive_mutex& Lock() noexcept { return FLock; }

    // The status vector every call fills; tests may write it directly.
    TIscStatus* StatusVector() noexcept { return FStatus; }
    // Raises the error of a failing status value (see the check step); returns otherwise.
    void CheckFbApiCall(TIscStatus status);
    // Builds the message from the status vector and raises an error of the given class.
    [[noreturn]] void RaiseError(TFbErrorClass errorClass, TIscStatus status);

    void AttachDatabase(const std::string& fileName, TFbHandle& dbHandle, const std::string& params,
        char separator);
    // The same with a database parameter block given as its bytes.
    void AttachDatabaseDPB(const std::string& fileName, TFbHandle& dbHandle, const std::string& dpb);
    void DetachDatabase(TFbHandle& dbHandle);
    void TransactionStart(TFbHandle& trHandle, TFbHandle& dbHandle, const std::string& tpb);
    struct TTransactionTarget {
        TFbHandle* DbHandle;
        const std::string* Tpb;
    };
    void TransactionStartMultiple(TFbHandle& trHandle, const std::vector<TTransactionTarget>& targets);
    void TransactionCommit(TFbHandle& trHandle);
    void TransactionRollback(TFbHandle& trHandle);
    void TransactionCommitRetaining(TFbHandle& trHandle);
    void TransactionRollbackRetaining(TFbHandle& trHandle);
    // With a null database handle and a CREATE DATABASE text this creates and attaches.
    void DSQLExecuteImmediate(TFbHandle& dbHandle, TFbHandle& trHandle, const std::string& statement,
        int dialect, TSQLDA* params = nullptr);
    void DSQLAllocateStatement(TFbHandle& dbHandle, TFbHandle& stHandle);
    int DSQLPrepare(TFbHandle& dbHandle, TFbHandle& trHandle, TFbHandle& stHandle,
        const std::string& statement, int dialect, TSQLResult* result = nullptr);
    void DSQLDescribe(TFbHandle& dbHandle, TFbHandle& trHandle, TSQLResult& result, int dialect,
        TFbHandle& stHandle);
    void DSQLExecute(TFbHandle& trHandle, TFbHandle& stHandle, int dialect, TSQLDA* params);
    void DSQLExecute2(TFbHandle& trHandle, TFbHandle& stHandle, int dialect, TSQLDA* params,
        TSQLResult* result);
    void DSQLFreeStatement(TFbHandle& stHandle, int option);
    void DSQLSetCursorName(TFbHandle& stHandle, const std::string& name);
    // Rows the last execution of a prepared statement inserted, updated and deleted.
    std::int64_t DSQLRowsAffected(TFbHandle& stHandle);
    // Whether the database writes its pages synchronously (forced writes).
    bool DatabaseForcedWrites(TFbHandle& dbHandle);
    bool DSQLFetch(TFbHandle& dbHandle, TFbHandle& trHandle, TFbHandle& stHandle, int dialect,
        TSQLResult* result);
    bool DSQLFetchWithBlobs(TFbHandle& dbHandle, TFbHandle& trHandle, TFbHandle& stHandle,
        int dialect, TSQLResult* result);
    void BlobOpen(TFbHandle& dbHandle, TFbHandle& trHandle, TFbHandle& blobHandle,
        const TIscQuad& blobId, const std::string& bpbText = {});
    bool BlobGetSegment(TFbHandle& blobHandle, unsigned& length, unsigned bufferLength, char* buffer);
    void BlobReadBuffer(TFbHandle& blobHandle, std::vector<char>& buffer);
    void BlobClose(TFbHandle& blobHandle);
    int SQLCode();
    std::string SQLInterprete(int sqlCode);

private:
    TIscStatus FStatus[StatusVectorLength] = {};
    bool FRaiseErrors = true;
    std::uint16_t FSegmentSize = 16384;

    std::unique_ptr<EFbError> MakeError(TFbErrorClass errorClass, TIscStatus status);
    bool Fetch(TFbHandle& dbHandle, TFbHandle& trHandle, TFbHandle& stHandle, int dialect,
        TSQLResult* result, bool withBlobs);
};

// Ends the work of the client library of that file name, if this process has loaded it
// (fb_shutdown: attachments detached, the library's threads stopped). Called before the process
// leaves, so that no thread of the library still runs while the exit handlers do.
void ShutdownClientLibrary(const std::string& name);

// Database parameter block from name=value lines (lines split at the separator).
std::string BuildDPB(const std::string& params, char separator);
// Blob parameter block from name=value pairs separated by ";".
std::string BuildBPB(const std::string& text);

// Firebird day numbers count from 17 November 1858; the layer's date-time is days since
// 30 December 1899 with the time of day as fraction.
inline constexpr int DateOffset = 15018;
inline constexpr double TimeUnitsPerDay = 864000000.0;
double TimestampToDateTime(const TIscTimestamp& value);
TIscTimestamp DateTimeToTimestamp(double value);
