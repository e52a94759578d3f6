#include "db/fbcomponents.h"

#include "base/fmt.h"
#include "base/text.h"

#include <algorithm>

namespace {

constexpr const char* CharacterSetNames[] = { "NONE", "ASCII", "BIG_5", "CYRL", "DOS437", "DOS850",
    "DOS852", "DOS857", "DOS860", "DOS861", "DOS863", "DOS865", "EUCJ_0208", "GB_2312", "ISO8859_1",
    "ISO8859_2", "KSC_5601", "NEXT", "OCTETS", "SJIS_0208", "UNICODE_FSS", "WIN1250", "WIN1251",
    "WIN1252", "WIN1253", "WIN1254" };

int ParseInteger(const std::string& text)
{
    const std::string trimmed = Trim(text);
    std::size_t pos = 0;
    bool negative = false;
    if (pos < trimmed.size() && (trimmed[pos] == '-' || trimmed[pos] == '+'))
        negative = trimmed[pos++] == '-';
    long long value = 0;
    if (pos == trimmed.size())
        throw EConvertError(Fmt(SInvalidInteger, text));
    for (; pos < trimmed.size(); ++pos) {
        if (trimmed[pos] < '0' || trimmed[pos] > '9' || value > 0x80000000LL)
            throw EConvertError(Fmt(SInvalidInteger, text));
        value = value * 10 + (trimmed[pos] - '0');
    }
    value = negative ? -value : value;
    if (value < INT32_MIN || value > INT32_MAX)
        throw EConvertError(Fmt(SInvalidInteger, text));
    return static_cast<int>(value);
}

template <typename T>
void EraseValue(std::vector<T*>& list, T* value)
{
    list.erase(std::remove(list.begin(), list.end(), value), list.end());
}

template <typename T>
bool Contains(const std::vector<T*>& list, const T* value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

} // namespace

const char* CharacterSetName(TCharacterSet characterSet)
{
    const auto index = static_cast<std::size_t>(characterSet);
    return index < std::size(CharacterSetNames) ? CharacterSetNames[index] : "NONE";
}

// ---- TFbComponent ----

namespace {

// The notification lists link components that different threads may set up at once (each
// thread's transaction on one shared connection), so one guard covers every list.
std::mutex& NotifiesGuard()
{
    static std::mutex guard;
    return guard;
}

} // namespace

TFbComponent::~TFbComponent()
{
    std::vector<TFbComponent*> notifies;
    {
        std::lock_guard guard(NotifiesGuard());
        notifies = std::move(FFreeNotifies);
        for (TFbComponent* component : notifies)
            EraseValue(component->FFreeNotifies, static_cast<TFbComponent*>(this));
    }
    for (TFbComponent* component : notifies)
        component->Notification(this);
}

void TFbComponent::Lock()
{
    FSection.lock();
}

void TFbComponent::Unlock()
{
    FSection.unlock();
}

void TFbComponent::FreeNotification(TFbComponent* component)
{
    if (!component || component == this)
        return;
    std::lock_guard guard(NotifiesGuard());
    if (!Contains(FFreeNotifies, component))
        FFreeNotifies.push_back(component);
    if (!Contains(component->FFreeNotifies, static_cast<TFbComponent*>(this)))
        component->FFreeNotifies.push_back(this);
}

void TFbComponent::RemoveFreeNotification(TFbComponent* component)
{
    if (!component)
        return;
    std::lock_guard guard(NotifiesGuard());
    EraseValue(FFreeNotifies, component);
    EraseValue(component->FFreeNotifies, static_cast<TFbComponent*>(this));
}

// ---- TFbDataBase ----

TFbDataBase::TFbDataBase() : FLibrary(std::make_unique<TFbLibrary>()), FLibraryName("libfbclient.so.2")
{
    FLibrary->OnConnectionLost = [this](TFbLibrary&) { ConnectionLost(); };
    FLibrary->OnGetDBExceptionClass = [this](int number, TFbErrorClass& errorClass) {
        errorClass = ExceptionClass(number);
    };
    SetSQLDialect(3);
    SetCharacterSet(csNONE);
}

TFbDataBase::~TFbDataBase()
{
    try {
        SetConnected(false);
    } catch (...) {
        // A destructor cannot report: end what is left quietly so the attachment is released.
        FLibrary->SetRaiseErrors(false);
        try {
            if (FDbHandle != 0)
                Disconnect();
        } catch (...) {
        }
    }
    ClearTransactions();
}

int TFbDataBase::FindParam(const std::string& name) const
{
    for (std::size_t i = 0; i < FParams.size(); ++i) {
        const std::size_t equals = FParams[i].find('=');
        if (equals != std::string::npos && SameTextAscii(FParams[i].substr(0, equals), name))
            return static_cast<int>(i);
    }
    return -1;
}

void TFbDataBase::SetParams(const std::vector<std::string>& lines)
{
    TComponentLock lock(*this);
    FParams = lines;
}

std::string TFbDataBase::ParamsText()
{
    TComponentLock lock(*this);
    std::string text;
    for (const std::string& line : FParams)
        text += line + "\r\n";
    return text;
}

std::string TFbDataBase::ReadParamString(const std::string& name, const std::string& defaultValue)
{
    TComponentLock lock(*this);
    const int index = FindParam(name);
    if (index < 0)
        return defaultValue;
    const std::string& line = FParams[static_cast<std::size_t>(index)];
    return line.substr(line.find('=') + 1);
}

void TFbDataBase::WriteParamString(const std::string& name, const std::string& value)
{
    TComponentLock lock(*this);
    const int index = FindParam(name);
    if (index < 0)
        FParams.push_back(name + "=" + value);
    else
        FParams[static_cast<std::size_t>(index)] = name + "=" + value;
}

int TFbDataBase::ReadParamInteger(const std::string& name, int defaultValue)
{
    return ParseInteger(ReadParamString(name, std::to_string(defaultValue)));
}

void TFbDataBase::WriteParamInteger(const std::string& name, int value)
{
    WriteParamString(name, std::to_string(value));
}

void TFbDataBase::SetDatabaseName(const std::string& name)
{
    TComponentLock lock(*this);
    FDatabaseName = name;
}

int TFbDataBase::SQLDialect()
{
    TComponentLock lock(*this);
    try {
        return ReadParamInteger("sql_dialect", 3);
    } catch (const EConvertError&) {
        WriteParamInteger("sql_dialect", 3);
        throw;
    }
}

void TFbDataBase::SetSQLDialect(int dialect)
{
    WriteParamInteger("sql_dialect", dialect);
}

TCharacterSet TFbDataBase::CharacterSet()
{
    const std::string name = AsciiUpperCase(Trim(ReadParamString("lc_ctype", "NONE")));
    for (std::size_t i = 0; i < std::size(CharacterSetNames); ++i)
        if (name == CharacterSetNames[i])
            return static_cast<TCharacterSet>(i);
    return csNONE;
}

void TFbDataBase::SetCharacterSet(TCharacterSet characterSet)
{
    WriteParamString("lc_ctype", CharacterSetName(characterSet));
}

TShutdownOptions TFbDataBase::Shutdown()
{
    TComponentLock lock(*this);
    try {
        return static_cast<TShutdownOptions>(ReadParamInteger("shutdown", 0) & 0x0F);
    } catch (const EConvertError&) {
        WriteParamInteger("shutdown", 0);
        return 0;
    }
}

void TFbDataBase::SetLibraryName(const std::string& name)
{
    TComponentLock lock(*this);
    SetConnected(false);
    FLibrary->Unload();
    FLibraryName = name;
}

bool TFbDataBase::Connected()
{
    TComponentLock lock(*this);
    return FDbHandle != 0;
}

bool TFbDataBase::ForcedWrites()
{
    TComponentLock lock(*this);
    if (FDbHandle == 0)
        throw Exception(SDatabaseNotConnected);
    return FLibrary->DatabaseForcedWrites(FDbHandle);
}

void TFbDataBase::SetConnected(bool value)
{
    TComponentLock lock(*this);
    if (value == (FDbHandle != 0))
        return;
    if (value)
        Connect();
    else
        Disconnect();
}

void TFbDataBase::SetSharedHandle(TFbHandle handle)
{
    TComponentLock lock(*this);
    SetConnected(false);
    FDbHandle = handle;
    FHandleShared = handle != 0;
}

void TFbDataBase::Connect()
{
    if (BeforeConnect)
        BeforeConnect(*this);
    FLibrary->Load(FLibraryName);
    if (!FHandleShared)
        FLibrary->AttachDatabase(FDatabaseName, FDbHandle, ParamsText(), '\r');
    if (AfterConnect)
        AfterConnect(*this);
}

void TFbDataBase::Disconnect()
{
    if (BeforeDisconnect)
        BeforeDisconnect(*this);
    CloseTransactions();
    if (FHandleShared) {
        FDbHandle = 0;
        FHandleShared = false;
    } else {
        FLibrary->DetachDatabase(FDbHandle);
    }
    if (AfterDisconnect)
        AfterDisconnect(*this);
}

void TFbDataBase::ConnectionLost()
{
    FLibrary->SetRaiseErrors(false);
    try {
        SetConnected(false);
    } catch (...) {
        FLibrary->SetRaiseErrors(true);
        throw;
    }
    FLibrary->SetRaiseErrors(true);
    if (OnConnectionLost)
        OnConnectionLost(*this);
}

void TFbDataBase::AddTransaction(TFbTransaction* transaction)
{
    TComponentLock lock(*this);
    if (transaction && !Contains(FTransactions, transaction))
        FTransactions.push_back(transaction);
}

void TFbDataBase::RemoveTransaction(TFbTransaction* transaction)
{
    TComponentLock lock(*this);
    EraseValue(FTransactions, transaction);
}

void TFbDataBase::CloseTransactions()
{
    TComponentLock lock(*this);
    const std::vector<TFbTransaction*> transactions = FTransactions;
    for (TFbTransaction* transaction : transactions)
        transaction->Close(etmDefault, true);
}

void TFbDataBase::ClearTransactions()
{
    TComponentLock lock(*this);
    while (!FTransactions.empty()) {
        TFbTransaction* transaction = FTransactions.back();
        try {
            transaction->RemoveDatabase(this);
        } catch (...) { // its end failed; it drops this connection all the same
        }
        EraseValue(FTransactions, transaction);
    }
}

void TFbDataBase::RegisterException(TFbErrorClass errorClass, int number)
{
    TComponentLock lock(*this);
    FExceptions.push_back({ errorClass, number });
}

void TFbDataBase::UnregisterException(int number)
{
    TComponentLock lock(*this);
    std::erase_if(FExceptions, [number](const TExceptionRegistration& r) { return r.Number == number; });
}

TFbErrorClass TFbDataBase::ExceptionClass(int number) const
{
    for (const TExceptionRegistration& registration : FExceptions)
        if (registration.Number == number)
            return registration.ErrorClass;
    return MakeFbError<EFbException>;
}

// ---- TFbTransaction ----

TFbTransaction::TFbTransaction() = default;

TFbTransaction::~TFbTransaction()
{
    ClearSQLComponents();
    try {
        Close(etmDefault, true);
    } catch (...) { // a destructor cannot report; the failed end was rolled back
    }
    for (TFbDataBase* dataBase : FDataBases)
        dataBase->RemoveTransaction(this);
    FDataBases.clear();
    FDataBase = nullptr;
}

void TFbTransaction::Lock()
{
    FSection.lock();
    FLockedDataBases.push_back(FDataBases);
    for (TFbDataBase* dataBase : FLockedDataBases.back())
        dataBase->Lock();
}

void TFbTransaction::Unlock()
{
    const std::vector<TFbDataBase*> locked = std::move(FLockedDataBases.back());
    FLockedDataBases.pop_back();
    for (auto it = locked.rbegin(); it != locked.rend(); ++it)
        (*it)->Unlock();
    FSection.unlock();
}

void TFbTransaction::SetDataBase(TFbDataBase* dataBase)
{
    TComponentLock lock(*this);
    if (dataBase == FDataBase)
        return;
    RemoveDatabase(FDataBase);
    AddDataBase(dataBase);
    FDataBase = dataBase;
}

void TFbTransaction::AddDataBase(TFbDataBase* dataBase)
{
    if (!dataBase || Contains(FDataBases, dataBase))
        return;
    Close(etmDefault, true);
    TComponentLock lock(*this);
    FDataBases.push_back(dataBase);
    dataBase->AddTransaction(this);
    FreeNotification(dataBase);
    FSQLDialect = dataBase->SQLDialect();
}

void TFbTransaction::RemoveDatabase(TFbDataBase* dataBase)
{
    if (!dataBase)
        return;
    if (dataBase == FDataBase)
        FDataBase = nullptr;
    if (!Contains(FDataBases, dataBase))
        return;
    try {
        Close(etmDefault, true);
    } catch (...) {
        dataBase->RemoveTransaction(this); // the connection is dropped whatever the end did
        EraseValue(FDataBases, dataBase);
        RemoveFreeNotification(dataBase);
        throw;
    }
    TComponentLock lock(*this);
    dataBase->RemoveTransaction(this);
    EraseValue(FDataBases, dataBase);
    RemoveFreeNotification(dataBase);
}

void TFbTransaction::Notification(TFbComponent* removed)
{
    // The connection is half destroyed: forget it without calling it.
    if (removed == FDataBase)
        FDataBase = nullptr;
    EraseValue(FDataBases, static_cast<TFbDataBase*>(removed));
}

TTransParams TFbTransaction::Options()
{
    TComponentLock lock(*this);
    return FOptions;
}

void TFbTransaction::SetOptions(TTransParams options)
{
    TComponentLock lock(*this);
    FOptions = options;
}

std::string TFbTransaction::LockRead()
{
    TComponentLock lock(*this);
    return FLockRead;
}

void TFbTransaction::SetLockRead(const std::string& tables)
{
    TComponentLock lock(*this);
    FLockRead = tables;
}

std::string TFbTransaction::LockWrite()
{
    TComponentLock lock(*this);
    return FLockWrite;
}

void TFbTransaction::SetLockWrite(const std::string& tables)
{
    TComponentLock lock(*this);
    FLockWrite = tables;
}

bool TFbTransaction::AutoRetain()
{
    TComponentLock lock(*this);
    return FAutoRetain;
}

void TFbTransaction::SetAutoRetain(bool value)
{
    TComponentLock lock(*this);
    FAutoRetain = value;
}

void TFbTransaction::SetDefaultAction(TEndTransMode mode)
{
    if (mode != etmCommit && mode != etmRollback)
        IBI_FB_ASSERTION_FAILED(SCommitOrRollbackOnly);
    FDefaultAction = mode;
}

bool TFbTransaction::InTransaction()
{
    TComponentLock lock(*this);
    return FTrHandle != 0;
}

std::string TFbTransaction::BuildTPB()
{
    TComponentLock lock(*this);
    if (FOptions == DefaultTransParams && FLockTimeout <= 0)
        return {}; // the server's own default
    std::string tpb(1, TpbVersion3);
    const auto addTables = [&tpb](char code, const std::string& list) {
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = list.find(';', start);
            if (end == std::string::npos)
                end = list.size();
            const std::string name = list.substr(start, std::min<std::size_t>(end - start, 255));
            start = end + 1;
            if (name.empty())
                continue;
            tpb += code;
            tpb += static_cast<char>(name.size());
            tpb += name;
        }
    };
    for (unsigned value = 0; value <= static_cast<unsigned>(tpNoAutoUndo); ++value) {
        const auto param = static_cast<TTransParam>(value);
        if (!FOptions.Contains(param))
            continue;
        const char code = static_cast<char>(value + 1);
        if (param == tpLockRead)
            addTables(code, FLockRead);
        else if (param == tpLockWrite)
            addTables(code, FLockWrite);
        else
            tpb += code;
    }
    if (FLockTimeout > 0 && FOptions.Contains(tpWait)) {
        tpb += TpbLockTimeout;
        tpb += static_cast<char>(4);
        for (int shift = 0; shift < 32; shift += 8)
            tpb += static_cast<char>((static_cast<std::uint32_t>(FLockTimeout) >> shift) & 0xFFu);
    }
    return tpb;
}

void TFbTransaction::BeginTransaction(bool automatic)
{
    if (!FDataBase)
        throw Exception(SDatabaseNotAssigned);
    for (TFbDataBase* dataBase : std::vector<TFbDataBase*>(FDataBases))
        dataBase->SetConnected(true);
    TComponentLock lock(*this);
    if (FTrHandle != 0)
        return;
    if (automatic && !FAutoStart)
        throw EFbException(SStartTransactionExplicitly);
    const std::string tpb = BuildTPB();
    TFbLibrary& library = FDataBases.front()->Library();
    if (FDataBases.size() == 1) {
        library.TransactionStart(FTrHandle, FDataBases.front()->DbHandle(), tpb);
    } else {
        std::vector<TFbLibrary::TTransactionTarget> targets;
        for (TFbDataBase* dataBase : FDataBases)
            targets.push_back({ &dataBase->DbHandle(), &tpb });
        library.TransactionStartMultiple(FTrHandle, targets);
    }
    if (OnStartTransaction)
        OnStartTransaction(*this);
}

bool TFbTransaction::EndTransaction(TEndTransMode mode, TFbStatement* caller, bool automatic)
{
    if (mode == etmStayIn)
        return false;
    TComponentLock lock(*this);
    if (mode == etmDefault)
        mode = FDefaultAction;
    if (FTrHandle == 0 || FDataBases.empty())
        return false;
    TFbLibrary& library = FDataBases.front()->Library();
    try {
        if (OnEndTransaction)
            OnEndTransaction(*this, mode);
        if (mode == etmDefault)
            mode = FDefaultAction;
        if (mode == etmStayIn)
            return false;
        if (FOpenStatements > 0 && FAutoRetain) {
            if (mode == etmCommit)
                mode = etmCommitRetaining;
            else if (mode == etmRollback)
                mode = etmRollbackRetaining;
        } else if ((mode == etmCommit || mode == etmRollback) && FOpenStatements > 0) {
            for (TFbStatement* statement : std::vector<TFbStatement*>(FStatements))
                if (statement != caller)
                    statement->InternalClose(etmStayIn, automatic);
        }
        if (!FAutoStop && automatic)
            IBI_FB_ASSERTION_FAILED(STransactionCloseExplicitly);
        switch (mode) {
        case etmCommit:
            library.TransactionCommit(FTrHandle);
            return true;
        case etmRollback:
            library.TransactionRollback(FTrHandle);
            return true;
        case etmCommitRetaining:
            library.TransactionCommitRetaining(FTrHandle);
            return false;
        case etmRollbackRetaining:
            library.TransactionRollbackRetaining(FTrHandle);
            return false;
        default:
            return false;
        }
    } catch (...) {
        // The failed end is answered by a rollback; the first error travels on.
        try {
            if (mode == etmCommitRetaining || mode == etmRollbackRetaining)
                library.TransactionRollbackRetaining(FTrHandle);
            else
                library.TransactionRollback(FTrHandle);
        } catch (...) {
        }
        throw;
    }
}

bool TFbTransaction::Close(TEndTransMode mode, bool automatic)
{
    TComponentLock lock(*this);
    if (FOpenStatements > 0)
        for (TFbStatement* statement : std::vector<TFbStatement*>(FStatements))
            statement->InternalClose(etmStayIn, automatic);
    return EndTransaction(mode, nullptr, automatic);
}

void TFbTransaction::AddSQLComponent(TFbStatement* statement)
{
    TComponentLock lock(*this);
    if (statement && !Contains(FStatements, statement))
        FStatements.push_back(statement);
}

void TFbTransaction::RemoveSQLComponent(TFbStatement* statement)
{
    TComponentLock lock(*this);
    EraseValue(FStatements, statement);
}

void TFbTransaction::ClearSQLComponents()
{
    while (!FStatements.empty()) {
        TFbStatement* statement = FStatements.back();
        try {
            statement->SetTransaction(nullptr);
        } catch (...) { // closing failed; the statement is detached all the same
        }
        EraseValue(FStatements, statement);
    }
}

// ---- TFbStatement ----

TFbStatement::TFbStatement(TFbTransaction* owner) : FParams(std::make_unique<TSQLParams>())
{
    if (owner)
        SetTransaction(owner);
}

TFbStatement::~TFbStatement()
{
    try {
        SetTransaction(nullptr);
    } catch (...) { // a destructor cannot report
    }
    if (FTransaction) { // the close failed: detach anyway
        FTransaction->RemoveSQLComponent(this);
        FTransaction = nullptr;
    }
}

void TFbStatement::Lock()
{
    FSection.lock();
    FLockedTransactions.push_back(FTransaction);
    if (FTransaction)
        FTransaction->Lock();
}

void TFbStatement::Unlock()
{
    TFbTransaction* transaction = FLockedTransactions.back();
    FLockedTransactions.pop_back();
    if (transaction)
        transaction->Unlock();
    FSection.unlock();
}

std::string TFbStatement::SQL() const
{
    std::string text;
    for (std::size_t i = 0; i < FSQL.size(); ++i)
        text += (i ? "\r\n" : "") + FSQL[i];
    return text;
}

void TFbStatement::SetSQL(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            if (start < text.size())
                lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    SetSQLLines(lines);
}

void TFbStatement::SetSQLLines(const std::vector<std::string>& lines)
{
    FSQL = lines;
    SQLChange();
}

void TFbStatement::SQLChange()
{
    InternalClose(etmStayIn, true);
    if (!(FQuickScript && !FParseParams))
        FParsedSQL = FParams->Parse(SQL());
}

void TFbStatement::SetTransaction(TFbTransaction* transaction)
{
    if (transaction == FTransaction)
        return;
    if (FTransaction) {
        InternalClose(FTransaction->AutoRetain() ? etmDefault : etmStayIn, true);
        FTransaction->RemoveSQLComponent(this);
        RemoveFreeNotification(FTransaction);
    }
    FTransaction = transaction;
    if (FTransaction) {
        FTransaction->AddSQLComponent(this);
        FreeNotification(FTransaction);
    }
    FState = ssNone;
}

void TFbStatement::SetDataBase(TFbDataBase* dataBase)
{
    if (dataBase == FDataBase)
        return;
    if (FTransaction)
        InternalClose(FTransaction->AutoRetain() ? etmDefault : etmStayIn, true);
    RemoveFreeNotification(FDataBase);
    FDataBase = dataBase;
    FreeNotification(FDataBase);
}

void TFbStatement::Notification(TFbComponent* removed)
{
    if (removed == FDataBase)
        FDataBase = nullptr;
    if (removed == FTransaction) {
        FTransaction = nullptr;
        FState = ssNone;
    }
}

TFbDataBase& TFbStatement::CurrentDataBase()
{
    if (FDataBase)
        return *FDataBase;
    if (FTransaction && FTransaction->DataBase())
        return *FTransaction->DataBase();
    throw Exception(SDatabaseNotAssigned);
}

std::unique_ptr<TSQLResult> TFbStatement::MakeResult()
{
    return std::make_unique<TSQLResult>(0, FBufferChunks, FFetchBlobs, FCachedFetch);
}

void TFbStatement::BeginTransaction()
{
    if (!FTransaction)
        throw Exception(STransactionNotAssigned);
    FTransaction->BeginTransaction(true);
    if (FState < ssTransaction)
        FState = ssTransaction;
}

void TFbStatement::BeginStatement()
{
    BeginTransaction();
    TComponentLock lock(*this);
    TFbDataBase& dataBase = CurrentDataBase();
    FStHandle = 0;
    try {
        dataBase.Library().DSQLAllocateStatement(dataBase.DbHandle(), FStHandle);
    } catch (...) {
        EndTransaction(FOnError, false);
        throw;
    }
    FTransaction->AddOpenStatement(1);
    FState = ssAllocated;
}

void TFbStatement::BeginPrepare()
{
    if (FStHandle == 0)
        BeginStatement();
    FResult = MakeResult();
    TComponentLock lock(*this);
    TFbDataBase& dataBase = CurrentDataBase();
    const std::string text = FQuickScript || !FParseParams ? SQL() : FParsedSQL;
    try {
        TFbLibrary& library = dataBase.Library();
        FStatementType = library.DSQLPrepare(dataBase.DbHandle(), FTransaction->TrHandle(), FStHandle, text,
            FTransaction->SQLDialect(), FResult.get());
        FCursorName = 'C';
        FCursorName += std::to_string(FStHandle);
        if (FUseCursorName)
            library.DSQLSetCursorName(FStHandle, FCursorName);
    } catch (...) {
        FResult.reset();
        EndStatement(FOnError, false);
        throw;
    }
    FState = ssPrepared;
}

void TFbStatement::BeginExecute()
{
    if (!FResult)
        BeginPrepare();
    TComponentLock lock(*this);
    TFbLibrary& library = CurrentDataBase().Library();
    try {
        FResult->ClearRecords();
        if (FStatementType == StatementTypeExecProcedure)
            library.DSQLExecute2(FTransaction->TrHandle(), FStHandle, FTransaction->SQLDialect(),
                FParams.get(), FResult.get());
        else
            library.DSQLExecute(FTransaction->TrHandle(), FStHandle, FTransaction->SQLDialect(), FParams.get());
    } catch (...) {
        if (FOnError != etmStayIn)
            EndPrepare(FOnError, false);
        throw;
    }
    FProcedureRowDelivered = false;
    FState = ssExecuted;
}

void TFbStatement::BeginExecImme()
{
    BeginTransaction();
    std::vector<std::string> texts;
    TSQLParams* params = nullptr;
    if (FQuickScript) {
        texts = FSQL;
    } else {
        texts.push_back(FParseParams ? FParsedSQL : SQL());
        params = FParams.get();
    }
    for (const std::string& text : texts) {
        if (Trim(text).empty())
            continue;
        TComponentLock lock(*this);
        TFbDataBase& dataBase = CurrentDataBase();
        try {
            dataBase.Library().DSQLExecuteImmediate(dataBase.DbHandle(), FTransaction->TrHandle(), text,
                FTransaction->SQLDialect(), params);
        } catch (...) {
            if (FOnError != etmStayIn)
                EndExecImme(FOnError, false);
            throw;
        }
    }
    FState = ssExecutedImmediate;
}

void TFbStatement::EndTransaction(TEndTransMode mode, bool automatic)
{
    if (!FTransaction)
        throw Exception(STransactionNotAssigned);
    if (FTransaction->EndTransaction(mode, this, automatic))
        FState = ssNone;
}

void TFbStatement::EndStatement(TEndTransMode mode, bool automatic)
{
    {
        TComponentLock lock(*this);
        CurrentDataBase().Library().DSQLFreeStatement(FStHandle, DsqlDrop);
        if (FTransaction)
            FTransaction->AddOpenStatement(-1);
        FState = ssTransaction;
    }
    if (mode != etmStayIn)
        EndTransaction(mode, automatic);
    if (OnClose)
        OnClose(*this);
}

void TFbStatement::EndPrepare(TEndTransMode mode, bool automatic)
{
    FResult.reset();
    FState = ssAllocated;
    EndStatement(mode, automatic);
}

void TFbStatement::EndExecute(TEndTransMode mode, bool automatic)
{
    FState = ssPrepared;
    EndPrepare(mode, automatic);
}

void TFbStatement::EndExecImme(TEndTransMode mode, bool automatic)
{
    FState = ssTransaction;
    if (mode != etmStayIn)
        EndTransaction(mode, automatic);
}

void TFbStatement::InternalClose(TEndTransMode mode, bool automatic)
{
    switch (FState) {
    case ssExecutedImmediate: EndExecImme(mode, automatic); break;
    case ssExecuted: EndExecute(mode, automatic); break;
    case ssPrepared: EndPrepare(mode, automatic); break;
    case ssAllocated: EndStatement(mode, automatic); break;
    default: break;
    }
}

void TFbStatement::Prepare()
{
    if (FState < ssPrepared)
        BeginPrepare();
}

std::int64_t TFbStatement::RowsAffected()
{
    if (FState != ssExecuted)
        throw Exception(SQueryNotOpen);
    TComponentLock lock(*this);
    return CurrentDataBase().Library().DSQLRowsAffected(FStHandle);
}

void TFbStatement::Execute()
{
    if (FState < ssAllocated)
        BeginExecImme();
    else
        BeginExecute();
}

void TFbStatement::Open(bool fetchFirst)
{
    if (FState == ssExecuted)
        CloseCursor();
    if (fetchFirst)
        Next();
    else
        BeginExecute();
}

void TFbStatement::Next()
{
    if (FState < ssExecuted)
        BeginExecute();
    if (FResult->FieldCount() == 0)
        return;
    if (FResult->EndOfCursor() || FResult->CurrentRecord() < FResult->RecordCount() - 1) {
        FResult->Next(); // within the rows already fetched
        return;
    }
    if (FStatementType == StatementTypeExecProcedure) { // its one row came with the execute
        if (FProcedureRowDelivered) {
            FResult->SetEndOfCursor();
        } else {
            FProcedureRowDelivered = true;
            if (FResult->CachedFetch())
                FResult->AppendToCache();
        }
        return;
    }
    TComponentLock lock(*this);
    TFbDataBase& dataBase = CurrentDataBase();
    try {
        if (FResult->FetchBlobs())
            dataBase.Library().DSQLFetchWithBlobs(dataBase.DbHandle(), FTransaction->TrHandle(), FStHandle,
                FTransaction->SQLDialect(), FResult.get());
        else
            dataBase.Library().DSQLFetch(dataBase.DbHandle(), FTransaction->TrHandle(), FStHandle,
                FTransaction->SQLDialect(), FResult.get());
    } catch (...) {
        if (FOnError != etmStayIn)
            EndExecute(FOnError, false);
        throw;
    }
}

void TFbStatement::Prior()
{
    if (!FCachedFetch)
        throw Exception(SCachedFetchNotSet);
    Fields().Prior();
}

bool TFbStatement::Eof() const
{
    return !FResult || FResult->Eof();
}

TSQLResult& TFbStatement::Fields()
{
    if (!FResult)
        throw Exception(SQueryNotOpen);
    return *FResult;
}

void TFbStatement::CloseCursor()
{
    if (FState != ssExecuted)
        return;
    TComponentLock lock(*this);
    FResult->ClearRecords();
    // Only a select has a cursor; closing one elsewhere is refused ("reclose a closed cursor").
    if (FResult->FieldCount() > 0 && FStatementType != StatementTypeExecProcedure)
        CurrentDataBase().Library().DSQLFreeStatement(FStHandle, DsqlClose);
    FState = ssPrepared;
}
