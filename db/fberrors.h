#pragma once
#include "base/exception.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

// The runtime's conversion error: text that does not parse as a number or a date.
class EConvertError : public Exception { using Exception::Exception; };

// A broken internal rule; the message ends in the source file and line.
class EAssertionFailed : public Exception { using Exception::Exception; };

// A value that cannot be converted between an SQL type and the requested kind.
class EFbConvertError : public Exception { using Exception::Exception; };

// A failure reported by the client library. ErrorCode is the low 16 bits of the status
// code, SQLCode the SQL code of the status vector.
class EFbError : public Exception {
public:
    explicit EFbError(const std::string& message, int errorCode = 0, int sqlCode = 0)
        : Exception(message), FErrorCode(errorCode), FSQLCode(sqlCode) {}
    int ErrorCode() const noexcept { return FErrorCode; }
    int SQLCode() const noexcept { return FSQLCode; }
    void SetErrorCode(int errorCode) noexcept { FErrorCode = errorCode; }
    void SetSQLCode(int sqlCode) noexcept { FSQLCode = sqlCode; }
    // Every status code of the error's status vector (isc_login, isc_lock_timeout ...), the
    // first one first; warnings after the error are not among them.
    const std::vector<long>& GdsCodes() const noexcept { return FGdsCodes; }
    void SetGdsCodes(std::vector<long> codes) { FGdsCodes = std::move(codes); }
    bool HasGdsCode(long code) const { return std::ranges::find(FGdsCodes, code) != FGdsCodes.end(); }
    // Throws the object as its own most derived class.
    [[noreturn]] virtual void Raise() const { throw *this; }

private:
    int FErrorCode, FSQLCode;
    std::vector<long> FGdsCodes;
};

#define IBI_FB_ERROR_CLASS(Name, Parent)                                  \
    class Name : public Parent {                                          \
    public:                                                               \
        using Parent::Parent;                                             \
        [[noreturn]] void Raise() const override { throw *this; }         \
    }

// A user-defined exception raised in the database; Number is its number there.
class EFbException : public EFbError {
public:
    using EFbError::EFbError;
    int Number() const noexcept { return FNumber; }
    void SetNumber(int number) noexcept { FNumber = number; }
    [[noreturn]] void Raise() const override { throw *this; }

private:
    int FNumber = 0;
};

IBI_FB_ERROR_CLASS(EFbGFixError, EFbError);
IBI_FB_ERROR_CLASS(EFbDSQLError, EFbError);
IBI_FB_ERROR_CLASS(EFbDynError, EFbError);
IBI_FB_ERROR_CLASS(EFbGBakError, EFbError);
IBI_FB_ERROR_CLASS(EFbGSecError, EFbError);
IBI_FB_ERROR_CLASS(EFbLicenseError, EFbError);
IBI_FB_ERROR_CLASS(EFbGStatError, EFbError);

// An error class as a value: makes an error of that class with a message.
using TFbErrorClass = std::unique_ptr<EFbError> (*)(const std::string& message);

template <typename E>
std::unique_ptr<EFbError> MakeFbError(const std::string& message)
{
    return std::make_unique<E>(message);
}

// The status code of a user-defined exception raised in the database (isc_except).
inline constexpr long UserExceptionStatus = 0x140000C5;
// Status codes that callers recognise (the names of the client library's header).
inline constexpr long GdsDeadlock = 335544336;       // isc_deadlock
inline constexpr long GdsIoError = 335544344;        // isc_io_error
inline constexpr long GdsLockConflict = 335544345;   // isc_lock_conflict
inline constexpr long GdsUpdateConflict = 335544451; // isc_update_conflict
inline constexpr long GdsLogin = 335544472;          // isc_login
inline constexpr long GdsLockTimeout = 335544510;    // isc_lock_timeout
inline constexpr long GdsAlreadyOpened = 335545107;  // isc_already_opened

// The class of a failing status code, chosen by its facility (bits 16..23). The user-defined
// exception code gives EFbException here; the connection may answer another class.
TFbErrorClass FbErrorClassOf(long status);

// Raises EAssertionFailed with "text (file, line n)", the file without its folders.
[[noreturn]] void FbAssertionFailed(const char* text, const char* file, int line);
#define IBI_FB_ASSERTION_FAILED(text) FbAssertionFailed((text), __FILE__, __LINE__)

inline constexpr const char* SCantLoadLibrary = "Can't load library: %s.";
inline constexpr const char* SIncorrectVersion = "Incorrect Database Server version, check compiler options.";
inline constexpr const char* STransactionNotAssigned = "Transaction not assigned.";
inline constexpr const char* SDatabaseNotAssigned = "Database not assigned.";
inline constexpr const char* SDatabaseNotConnected = "Database not connected.";
inline constexpr const char* SQueryNotOpen = "Query not open.";
inline constexpr const char* SCachedFetchNotSet = "CachedFetch property not set to True.";
inline constexpr const char* SStartTransactionExplicitly = "Transaction must be started explicitly.";
inline constexpr const char* SFieldNumNotFound = "Field num: %d not found.";
inline constexpr const char* SFieldNotFound = "Field \"%s\" not found.";
inline constexpr const char* SParameterNotFound = "Parameter \"%s\" not found.";
inline constexpr const char* SSizeNameTooBig = "Size name too big (%s)";
inline constexpr const char* SFetchBlobNotSet = "FetchBlob property must be set to use this method.";
inline constexpr const char* SCastError = "Cast error.";
inline constexpr const char* SUnexpectedError = "Unexpected error.";
inline constexpr const char* STransactionCloseExplicitly = "Transaction must be closed explicitly.";
inline constexpr const char* SCommitOrRollbackOnly = "Commit or Rollback only.";
inline constexpr const char* SAssertionFailure = "Assertion failure";
inline constexpr const char* SAssertionFormat = "%s (%s, line %d)";
inline constexpr const char* SErrorCode = "Error Code: %d";
inline constexpr const char* SInvalidInteger = "'%s' is not a valid integer value";
inline constexpr const char* SInvalidFloat = "'%s' is not a valid floating point value";
inline constexpr const char* SInvalidDate = "'%s' is not a valid date";
inline constexpr const char* SInvalidTime = "'%s' is not a valid time";
inline constexpr const char* SInvalidDateTime = "'%s' is not a valid date and time";
