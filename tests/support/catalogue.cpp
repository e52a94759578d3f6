#include "tests/support/catalogue.h"

#include "tests/support/files.h"

#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace testsupport {

const std::string& CatalogueSchema()
{
    static const std::string schema = [] {
        const std::vector<std::uint8_t> bytes = ReadFile(IBI_SOURCE_DIR "/scripts/catalogue.sql");
        if (bytes.empty())
            throw std::runtime_error("cannot read " IBI_SOURCE_DIR "/scripts/catalogue.sql");
        return std::string(bytes.begin(), bytes.end());
    }();
    return schema;
}

std::string CreateCatalogueScript(const std::string& path)
{
    return "SET SQL DIALECT 3;\nCREATE DATABASE " + SqlQuoted(path) + " DEFAULT CHARACTER SET UNICODE_FSS;\n"
        + CatalogueSchema();
}

std::string SqlQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

std::string IsqlProgram()
{
    for (const char* candidate : { "/usr/bin/isql-fb", "/usr/bin/isql", "/opt/firebird/bin/isql" })
        if (::access(candidate, X_OK) == 0)
            return candidate;
    return {};
}

int RunIsqlScript(const std::string& script, std::string& output)
{
    output.clear();
    const std::string isql = IsqlProgram();
    if (isql.empty()) {
        output = "no isql program";
        return -1;
    }
    const TTempFolder folder("ibi-sql");
    const std::string scriptPath = folder / "script.sql";
    WriteFile(scriptPath, std::span(reinterpret_cast<const std::uint8_t*>(script.data()), script.size()));
    FILE* pipe = ::popen((isql + " -q -b -i '" + scriptPath + "' 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[512];
    while (std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, count);
    return ::pclose(pipe);
}

} // namespace testsupport
