#pragma once
// Catalogue databases for the tests, the benchmarks and the demo: the schema of
// scripts/catalogue.sql run through Firebird's isql.
#include <string>

namespace testsupport {

// The text of scripts/catalogue.sql: tables, generator and the settings row.
const std::string& CatalogueSchema();
// A script that creates the database file (dialect 3, UNICODE_FSS) with the schema; the
// caller adds its own statements and the final COMMIT.
std::string CreateCatalogueScript(const std::string& path);
// A text between single quotes in SQL, each quote doubled.
std::string SqlQuoted(const std::string& text);

// The isql program of the Firebird installation; empty when there is none.
std::string IsqlProgram();
// Runs the script through isql (stopping at the first error); isql's exit status as
// pclose gives it (0: success) and everything it printed.
int RunIsqlScript(const std::string& script, std::string& output);

} // namespace testsupport
