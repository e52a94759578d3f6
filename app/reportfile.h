#pragma once
#include <cstdio>
#include <string>

// A report file that is never seen half-written: its lines go to a temporary file beside it
// ("NAME.part-PID"), renamed to the report's name by Finish. A report not finished leaves no
// file behind.
class TReportFile {
public:
    explicit TReportFile(std::string path) : FPath(std::move(path)) {}
    ~TReportFile();
    TReportFile(const TReportFile&) = delete;
    TReportFile& operator=(const TReportFile&) = delete;

    // Creates the temporary file; "" or the message that says why it cannot be.
    std::string Open();
    // One line; its CRLF line end is added. Write errors show at Finish.
    void Add(const std::string& line);
    // Writes out, closes and renames; "" or the message that says what failed (the
    // temporary file is then gone).
    std::string Finish();

private:
    std::string FPath;
    std::string FTemporary;
    std::FILE* FFile = nullptr;
};

inline constexpr const char* SReportNotWritten = "The report \"%s\" cannot be written: %s";
