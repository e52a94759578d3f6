#pragma once
#include <stdexcept>
#include <string>

// Root of every error this program raises: a fixed English message, filled in by Fmt.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    const std::string Message() const { return what(); }
};

// Stream errors.
class EStreamError : public Exception { using Exception::Exception; };
class EReadError : public EStreamError { using EStreamError::EStreamError; };
class EWriteError : public EStreamError { using EStreamError::EStreamError; };
class EFOpenError : public EStreamError { using EStreamError::EStreamError; };
class EFCreateError : public EStreamError { using EStreamError::EStreamError; };

// A folder that cannot be made at all (only an empty path).
class EInOutError : public Exception { using Exception::Exception; };

inline constexpr const char* SReadError = "Stream read error";
inline constexpr const char* SWriteError = "Stream write error";
inline constexpr const char* SFOpenError = "Cannot open file \"%s\". %s";
inline constexpr const char* SFCreateError = "Cannot create file \"%s\". %s";
// The reason of SFOpenError for a FIFO, socket or device: such a file is never read.
inline constexpr const char* SNotRegularFile = "Not a regular file";
inline constexpr const char* SUnknownSystemError = "Unspecified error (%d) from %s.";
inline constexpr const char* SCannotCreateDir = "Unable to create directory";
