#pragma once
#include "db/fbclientlib.h"
#include "db/fbsqlda.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// How a statement or transaction ends.
enum class TEndTransMode : std::uint8_t {
    etmDefault, etmStayIn, etmCommit, etmCommitRetaining, etmRollback, etmRollbackRetaining
};
using enum TEndTransMode;

// Character sets by position; the name is what "lc_ctype" holds.
enum class TCharacterSet : std::uint8_t {
    csNONE, csASCII, csBIG_5, csCYRL, csDOS437, csDOS850, csDOS852, csDOS857, csDOS860, csDOS861,
    csDOS863, csDOS865, csEUCJ_0208, csGB_2312, csISO8859_1, csISO8859_2, csKSC_5601, csNEXT,
    csOCTETS, csSJIS_0208, csUNICODE_FSS, csWIN1250, csWIN1251, csWIN1252, csWIN1253, csWIN1254
};
using enum TCharacterSet;
const char* CharacterSetName(TCharacterSet characterSet);

enum class TShutdownOption : std::uint8_t { sdCache, sdAttachment, sdTransaction, sdForce };
using enum TShutdownOption;
using TShutdownOptions = std::uint8_t; // bit n = option n

// The first byte of a transaction parameter block (isc_tpb_version3).
inline constexpr char TpbVersion3 = 3;
// The code of a lock time-out in seconds (isc_tpb_lock_timeout), followed by the value's length
// and the value, least significant byte first.
inline constexpr char TpbLockTimeout = 21;

// Transaction options by position; the parameter block code is the position + 1.
enum class TTransParam : std::uint8_t {
    tpConsistency, tpConcurrency, tpShared, tpProtected, tpExclusive, tpWait, tpNowait, tpRead,
    tpWrite, tpLockRead, tpLockWrite, tpVerbTime, tpCommitTime, tpIgnoreLimbo, tpReadCommitted,
    tpAutoCommit, tpRecVersion, tpNoRecVersion, tpRestartRequests, tpNoAutoUndo
};
using enum TTransParam;

// A set of transaction options held in 32 bits.
class TTransParams {
public:
    constexpr TTransParams() = default;
    constexpr TTransParams(std::initializer_list<TTransParam> params)
    {
        for (const TTransParam param : params)
            FBits |= Bit(param);
    }
    static constexpr TTransParams FromBits(std::uint32_t bits) { TTransParams p; p.FBits = bits; return p; }
    constexpr std::uint32_t Bits() const noexcept { return FBits; }
    constexpr bool Contains(TTransParam param) const noexcept { return (FBits & Bit(param)) != 0; }
    constexpr void Include(TTransParam param) noexcept { FBits |= Bit(param); }
    constexpr void Exclude(TTransParam param) noexcept { FBits &= ~Bit(param); }
    constexpr bool operator==(const TTransParams&) const = default;

private:
    static constexpr std::uint32_t Bit(TTransParam param) { return 1u << static_cast<unsigned>(param); }
    std::uint32_t FBits = 0;
};
inline constexpr TTransParams DefaultTransParams { tpConcurrency, tpWait, tpWrite }; // 0x122

enum class TStatementState : std::uint8_t {
    ssNone, ssTransaction, ssExecutedImmediate, ssAllocated, ssPrepared, ssExecuted
};
using enum TStatementState;

class TFbDataBase;
class TFbTransaction;
class TFbStatement;

// Base of the components: one recursive lock, and notification of components that refer
// to this one when it is destroyed.
class TFbComponent {
public:
    TFbComponent() = default;
    virtual ~TFbComponent();
    TFbComponent(const TFbComponent&) = delete;
    TFbComponent& operator=(const TFbComponent&) = delete;

    virtual void Lock();
    virtual void Unlock();
    // Asks that component be told (Notification) when this one is destroyed, and the reverse.
    void FreeNotification(TFbComponent* component);
    void RemoveFreeNotification(TFbComponent* component);

protected:
    virtual void Notification(TFbComponent* /*removed*/) {}
    std::recursive_mutex FSection;

private:
    std::vector<TFbComponent*> FFreeNotifies;
};

// Holds a component's Lock for a scope.
class TComponentLock {
public:
    explicit TComponentLock(TFbComponent& component) : FComponent(component) { FComponent.Lock(); }
    ~TComponentLock() { FComponent.Unlock(); }
    TComponentLock(const TComponentLock&) = delete;
    TComponentLock& operator=(const TComponentLock&) = delete;

private:
    TFbComponent& FComponent;
};

// Which metadata a metadata reader would load; settings only.
struct TMetaDataOptions {
    std::uint16_t Objects = 0x1FF;
    std::uint16_t Tables = 0x1FF;
    std::uint8_t Views = 0x0F;
    std::uint8_t Procedures = 0x07;
    std::uint8_t UDFs = 0x01;
    std::uint8_t Roles = 0x01;
    bool SysInfos = false;
};

// Counts of one table for the information events.
struct TTableOperation {
    std::string TableName;
    int TableId = 0;
    int Count = 0;
};

// The connection: one client library, parameter lines name=value, attach and detach.
class TFbDataBase : public TFbComponent {
public:
    TFbDataBase();
    ~TFbDataBase() override;

    const std::vector<std::string>& Params() const noexcept { return FParams; }
    void SetParams(const std::vector<std::string>& lines);
    std::string ParamsText(); // the lines joined by CR LF
    std::string ReadParamString(const std::string& name, const std::string& defaultValue);
    void WriteParamString(const std::string& name, const std::string& value);
    int ReadParamInteger(const std::string& name, int defaultValue);
    void WriteParamInteger(const std::string& name, int value);

    const std::string& DatabaseName() const noexcept { return FDatabaseName; }
    void SetDatabaseName(const std::string& name);
    int SQLDialect();
    void SetSQLDialect(int dialect);
    TCharacterSet CharacterSet();
    void SetCharacterSet(TCharacterSet characterSet);
    std::string UserName() { return ReadParamString("user_name", ""); }
    void SetUserName(const std::string& value) { WriteParamString("user_name", value); }
    std::string PassWord() { return ReadParamString("password", ""); }
    void SetPassWord(const std::string& value) { WriteParamString("password", value); }
    std::string Role() { return ReadParamString("sql_role_name", ""); }
    void SetRole(const std::string& value) { WriteParamString("sql_role_name", value); }
    const std::string& LibraryName() const noexcept { return FLibraryName; }
    void SetLibraryName(const std::string& name);
    std::uint16_t SegmentSize() const noexcept { return FLibrary->SegmentSize(); }
    void SetSegmentSize(std::uint16_t size) { FLibrary->SetSegmentSize(size); }
    TShutdownOptions Shutdown();
    void SetShutdown(TShutdownOptions options) { WriteParamInteger("shutdown", options); }
    TMetaDataOptions& MetaDataOptions() noexcept { return FMetaDataOptions; }

    bool Connected();
    void SetConnected(bool value);
    // Whether the attached database writes its pages synchronously (forced writes).
    bool ForcedWrites();
    // Uses a handle attached elsewhere: connecting does not attach, disconnecting only forgets it.
    void SetSharedHandle(TFbHandle handle);

    std::function<void(TFbDataBase&)> BeforeConnect, AfterConnect, BeforeDisconnect,
        AfterDisconnect, OnConnectionLost;
    std::function<void(TFbDataBase&, const TTableOperation&)> OnInfoReadSeqCount,
        OnInfoReadIdxCount, OnInfoUpdateCount, OnInfoInsertCount, OnInfoDeleteCount,
        OnInfoBackoutCount, OnInfoPurgeCount, OnInfoExpungeCount;
    std::function<void(TFbDataBase&, int)> OnInfoActiveTransactions, OnInfoLimbo;
    std::function<void(TFbDataBase&, const std::string&)> OnInfoUserNames;

    TFbLibrary& Library() noexcept { return *FLibrary; }
    TFbHandle& DbHandle() noexcept { return FDbHandle; }

    // Transactions that use this connection.
    void AddTransaction(TFbTransaction* transaction);
    void RemoveTransaction(TFbTransaction* transaction);
    void CloseTransactions();
    void ClearTransactions();
    int TransactionCount() const noexcept { return static_cast<int>(FTransactions.size()); }

    // A user-defined exception number raised as the given class instead of EFbException.
    void RegisterException(TFbErrorClass errorClass, int number);
    void UnregisterException(int number);

private:
    std::unique_ptr<TFbLibrary> FLibrary;
    std::string FLibraryName;
    TFbHandle FDbHandle = 0;
    bool FHandleShared = false;
    std::vector<std::string> FParams;
    std::string FDatabaseName;
    std::vector<TFbTransaction*> FTransactions;
    struct TExceptionRegistration {
        TFbErrorClass ErrorClass;
        int Number;
    };
    std::vector<TExceptionRegistration> FExceptions;
    TMetaDataOptions FMetaDataOptions;

    int FindParam(const std::string& name) const;
    void Connect();
    void Disconnect();
    void ConnectionLost();
    TFbErrorClass ExceptionClass(int number) const;
};

// A transaction over one or more connections.
class TFbTransaction : public TFbComponent {
public:
    TFbTransaction();
    ~TFbTransaction() override;

    void Lock() override;
    void Unlock() override;

    TFbDataBase* DataBase() const noexcept { return FDataBase; }
    virtual void SetDataBase(TFbDataBase* dataBase);
    void AddDataBase(TFbDataBase* dataBase);
    void RemoveDatabase(TFbDataBase* dataBase);
    const std::vector<TFbDataBase*>& DataBases() const noexcept { return FDataBases; }

    TTransParams Options();
    void SetOptions(TTransParams options);
    std::string LockRead();
    void SetLockRead(const std::string& tables);
    std::string LockWrite();
    void SetLockWrite(const std::string& tables);
    // How long a statement in wait mode waits for a row another transaction holds before it
    // fails with a lock time-out; 0 (the default) waits as long as that transaction lasts.
    int LockTimeout() const noexcept { return FLockTimeout; }
    void SetLockTimeout(int seconds) noexcept { FLockTimeout = seconds; }
    bool AutoRetain();
    void SetAutoRetain(bool value);
    bool AutoStart() const noexcept { return FAutoStart; }
    void SetAutoStart(bool value) noexcept { FAutoStart = value; }
    bool AutoStop() const noexcept { return FAutoStop; }
    void SetAutoStop(bool value) noexcept { FAutoStop = value; }
    TEndTransMode DefaultAction() const noexcept { return FDefaultAction; }
    void SetDefaultAction(TEndTransMode mode);

    std::function<void(TFbTransaction&)> OnStartTransaction;
    std::function<void(TFbTransaction&, TEndTransMode&)> OnEndTransaction;

    // Does nothing when the transaction is already active.
    void StartTransaction() { BeginTransaction(false); }
    // Each returns true when the server transaction ended; false when none was active.
    bool Commit() { return EndTransaction(etmCommit, nullptr, false); }
    bool Rollback() { return EndTransaction(etmRollback, nullptr, false); }
    bool CommitRetaining() { return EndTransaction(etmCommitRetaining, nullptr, false); }
    bool RollbackRetaining() { return EndTransaction(etmRollbackRetaining, nullptr, false); }
    bool Close(TEndTransMode mode, bool automatic);
    bool InTransaction();

    void BeginTransaction(bool automatic);
    bool EndTransaction(TEndTransMode mode, TFbStatement* caller, bool automatic);

    // The transaction parameter block of the current options (empty for the default set).
    std::string BuildTPB();
    TFbHandle& TrHandle() noexcept { return FTrHandle; }
    int SQLDialect() const noexcept { return FSQLDialect; }
    int OpenStatementCount() const noexcept { return FOpenStatements; }
    void AddOpenStatement(int delta) noexcept { FOpenStatements += delta; }

    void AddSQLComponent(TFbStatement* statement);
    void RemoveSQLComponent(TFbStatement* statement);
    void ClearSQLComponents();
    int SQLComponentCount() const noexcept { return static_cast<int>(FStatements.size()); }

protected:
    void Notification(TFbComponent* removed) override;

private:
    TFbDataBase* FDataBase = nullptr;
    std::vector<TFbDataBase*> FDataBases;
    TFbHandle FTrHandle = 0;
    std::vector<TFbStatement*> FStatements;
    int FOpenStatements = 0;
    TTransParams FOptions = DefaultTransParams;
    std::string FLockRead, FLockWrite;
    int FLockTimeout = 0;
    int FSQLDialect = 3;
    bool FAutoRetain = false, FAutoStart = true, FAutoStop = true;
    TEndTransMode FDefaultAction = etmCommit;
    std::vector<std::vector<TFbDataBase*>> FLockedDataBases; // what each Lock took, innermost last
};

// A statement: starts its transaction on demand, runs everything that returns no rows as one
// execute-immediate call, and allocates, prepares and fetches for result sets.
class TFbStatement : public TFbComponent {
public:
    explicit TFbStatement(TFbTransaction* owner = nullptr);
    ~TFbStatement() override;

    void Lock() override;
    void Unlock() override;

    std::string SQL() const; // the lines joined by CR LF
    const std::vector<std::string>& SQLLines() const noexcept { return FSQL; }
    void SetSQL(const std::string& text); // split into lines at CR LF, LF or CR
    void SetSQLLines(const std::vector<std::string>& lines);

    TFbTransaction* Transaction() const noexcept { return FTransaction; }
    virtual void SetTransaction(TFbTransaction* transaction);
    TFbDataBase* DataBase() const noexcept { return FDataBase; }
    void SetDataBase(TFbDataBase* dataBase);
    TEndTransMode OnError() const noexcept { return FOnError; }
    void SetOnError(TEndTransMode mode) noexcept { FOnError = mode; }
    bool CachedFetch() const noexcept { return FCachedFetch; }
    void SetCachedFetch(bool value) noexcept { FCachedFetch = value; }
    bool FetchBlobs() const noexcept { return FFetchBlobs; }
    void SetFetchBlobs(bool value) noexcept { FFetchBlobs = value; }
    unsigned BufferChunks() const noexcept { return FBufferChunks; }
    void SetBufferChunks(unsigned value) noexcept { FBufferChunks = value; }
    bool ParseParams() const noexcept { return FParseParams; }
    void SetParseParams(bool value) noexcept { FParseParams = value; }
    std::function<void(TFbStatement&)> OnClose;

    TSQLParams& Params() noexcept { return *FParams; }
    const std::string& ParsedSQL() const noexcept { return FParsedSQL; }
    TStatementState State() const noexcept { return FState; }
    int StatementType() const noexcept { return FStatementType; }
    const std::string& CursorName() const noexcept { return FCursorName; }
    TFbHandle& StHandle() noexcept { return FStHandle; }
    TFbDataBase& CurrentDataBase(); // DataBase, else the transaction's primary connection

    // Allocates and prepares the server statement now: Execute then runs it prepared rather
    // than as execute-immediate, so that RowsAffected can answer.
    void Prepare();
    void Execute();
    // Rows that the last prepared execution inserted, updated or deleted.
    std::int64_t RowsAffected();
    void Open(bool fetchFirst = true);
    void Next();
    void Prior();
    bool Eof() const;
    TSQLResult& Fields();
    void Close(TEndTransMode mode = etmStayIn) { InternalClose(mode, false); }
    void CloseCursor();

protected:
    virtual void BeginTransaction();
    virtual void BeginStatement();
    virtual void BeginPrepare();
    virtual void BeginExecute();
    virtual void BeginExecImme();
    virtual void EndTransaction(TEndTransMode mode, bool automatic);
    virtual void EndStatement(TEndTransMode mode, bool automatic);
    virtual void EndPrepare(TEndTransMode mode, bool automatic);
    virtual void EndExecute(TEndTransMode mode, bool automatic);
    virtual void EndExecImme(TEndTransMode mode, bool automatic);
    virtual void InternalClose(TEndTransMode mode, bool automatic);
    virtual std::unique_ptr<TSQLParams> MakeParams() { return std::make_unique<TSQLParams>(); }
    virtual std::unique_ptr<TSQLResult> MakeResult();
    void Notification(TFbComponent* removed) override;
    void SQLChange();

    bool FQuickScript = false;

private:
    friend class TFbTransaction; // closes its statements with etmStayIn
    TStatementState FState = ssNone;
    TFbTransaction* FTransaction = nullptr;
    TFbDataBase* FDataBase = nullptr;
    TFbHandle FStHandle = 0;
    TEndTransMode FOnError = etmRollback;
    std::string FCursorName;
    std::unique_ptr<TSQLResult> FResult;
    bool FCachedFetch = true, FFetchBlobs = false;
    unsigned FBufferChunks = 1000;
    std::vector<std::string> FSQL;
    std::string FParsedSQL;
    std::unique_ptr<TSQLParams> FParams;
    bool FParseParams = true;
    int FStatementType = 0;
    bool FUseCursorName = true;
    bool FProcedureRowDelivered = false;
    std::vector<TFbTransaction*> FLockedTransactions; // what each Lock took, innermost last
};

// The statement with QuickScript: each SQL line runs as a statement of its own.
class TFbQuery : public TFbStatement {
public:
    using TFbStatement::TFbStatement;
    bool QuickScript() const noexcept { return FQuickScript; }
    void SetQuickScript(bool value) noexcept { FQuickScript = value; }
};
