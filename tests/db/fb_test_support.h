#pragma once
// Shared by the database tests and by tests of code that uses a database: temporary folders
// and real embedded database files made through the client library.
#include "db/fbcomponents.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fbtest {

inline constexpr const char* FbClientLibrary = "libfbclient.so.2";

using testsupport::TTempFolder;

// True when the client library with its embedded engine can be loaded.
inline bool FbClientAvailable()
{
    static const bool available = [] {
        TFbBaseLibrary library;
        try {
            return library.Load(FbClientLibrary);
        } catch (const std::exception&) {
            return false;
        }
    }();
    return available;
}

#define IBI_REQUIRE_FBCLIENT()                                                  \
    do {                                                                        \
        if (!fbtest::FbClientAvailable())                                     \
            GTEST_SKIP() << "no Firebird client library (libfbclient.so.2)";    \
    } while (false)

// Creates a database file (dialect 3) and runs each statement in a transaction of its own,
// so that tables made by one statement can be filled by the next.
inline void CreateDatabase(const std::string& path, const std::vector<std::string>& statements = {},
    const std::string& characterSet = "UTF8")
{
    TFbLibrary library;
    library.Load(FbClientLibrary);
    TFbHandle db = 0, tr = 0;
    library.DSQLExecuteImmediate(db, tr,
        "CREATE DATABASE '" + path + "' PAGE_SIZE 4096 DEFAULT CHARACTER SET " + characterSet, 3);
    library.DetachDatabase(db);
    // Test databases need no flush to disk at every commit: forced writes off (kept in the file).
    library.AttachDatabaseDPB(path, db, std::string { 1, 24, 1, 0 });
    try {
        for (const std::string& statement : statements) {
            library.TransactionStart(tr, db, {});
            try {
                library.DSQLExecuteImmediate(db, tr, statement, 3);
            } catch (...) {
                library.TransactionRollback(tr);
                throw;
            }
            library.TransactionCommit(tr);
        }
    } catch (...) {
        library.DetachDatabase(db);
        throw;
    }
    library.DetachDatabase(db);
}

// A connection to a database file as the import tool makes it: dialect 3, UNICODE_FSS.
inline void ConfigureConnection(TFbDataBase& connection, const std::string& path)
{
    connection.SetSQLDialect(3);
    connection.SetCharacterSet(csUNICODE_FSS);
    connection.SetLibraryName(FbClientLibrary);
    connection.SetDatabaseName(path);
}

} // namespace fbtest
