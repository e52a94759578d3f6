#include "app/importcommand.h"

#include "app/connectionname.h"
#include "app/importpass.h"
#include "app/progressmeter.h"
#include "app/reportfile.h"
#include "app/stopsignals.h"
#include "base/filestream.h"
#include "base/fmt.h"
#include "base/warning.h"

#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include <array>
#include <iostream>
#include <optional>
#include <string_view>

namespace {

constexpr std::array<std::string_view, KindCount> KindNames { "poster", "screenshot", "front", "cd", "both" };

struct TImportOptions {
    TImportRequest Request;
    bool HasDatabase = false, HasImages = false;
    std::string ReportFile; // --report, "" without
    bool Verbose = false;
};

// The command line's front end: progress on a terminal, messages to standard error, each
// entry's line to the report, to standard error (--verbose) and to standard output (a dry run).
class TConsoleFrontEnd : public TImportFrontEnd {
public:
    TConsoleFrontEnd(int kindIndex, std::string thumbsFolder, std::ostream& out, std::ostream& err, bool showProgress)
        : FKindIndex(kindIndex), FThumbsFolder(std::move(thumbsFolder)), FOut(out), FErr(err),
          FShowProgress(showProgress) {}

    TReportFile* Report = nullptr;
    bool Verbose = false;
    bool DryRun = false;

    int KindIndex() override { return FKindIndex; }
    std::string ThumbsFolderText() override { return FThumbsFolder; }
    void SetGoEnabled(bool enabled) override
    {
        if (enabled)
            ClearProgress();
    }
    // Only the progress line on a terminal is redrawn in place (carriage returns); it is
    // cleared before any message, so that messages stand on lines of their own.
    void ClearProgress()
    {
        if (FProgressShown) {
            FErr << '\r' << std::string(FLastLength, ' ') << '\r' << std::flush;
            FProgressShown = false;
        }
    }
    void SetGoCaption(const std::string&) override {}
    void ProcessEvents() override {}
    bool StopRequested() override { return StopSignal() != 0; } // SIGINT, SIGTERM, SIGHUP
    void ShowMessage(const std::string& text) override
    {
        ClearProgress();
        FErr << text << '\n';
    }
    void WalkStarted(std::size_t entries) override
    {
        FMeter.Start(entries, TProgressMeter::TClock::now());
        if (Verbose) {
            ClearProgress();
            FErr << SReportHeader << '\n';
        }
        if (DryRun)
            FOut << SReportHeader << '\n';
    }
    void EntryDone(const TEntryOutcome& outcome, const TImportStats& stats) override
    {
        const std::string line = ReportLine(outcome);
        if (Report)
            Report->Add(line);
        if (Verbose) {
            ClearProgress();
            FErr << line << '\n';
        }
        if (DryRun)
            FOut << line << '\n';
        if (outcome.Result == TEntryResult::erImported || outcome.Result == TEntryResult::erImportedWithThumbnail)
            ++FImported;
        const auto now = TProgressMeter::TClock::now();
        if (FShowProgress && FMeter.Due(stats.Entries, now))
            ShowProgressLine(FMeter.Line(stats.Entries, FImported, now));
    }

private:
    void ShowProgressLine(const std::string& line)
    {
        FErr << '\r' << line << std::string(FLastLength > line.size() ? FLastLength - line.size() : 0, ' ')
             << std::flush;
        FLastLength = line.size();
        FProgressShown = true;
    }

    int FKindIndex;
    std::string FThumbsFolder;
    std::ostream& FOut;
    std::ostream& FErr;
    bool FShowProgress;
    bool FProgressShown = false;
    std::size_t FLastLength = 0;
    TProgressMeter FMeter;
    unsigned FImported = 0; // rows inserted so far, committed or not
};

// Absolute forms, so that the folders stored by "--set-folder" are complete.
std::string Absolute(const std::string& path) { return path.empty() ? path : ExpandFileName(path); }

std::string AbsoluteFolder(const std::string& folder)
{
    if (folder.empty())
        return folder;
    const std::string expanded = ExpandFileName(folder);
    return expanded.size() > 1 && expanded.back() == '/' ? expanded.substr(0, expanded.size() - 1) : expanded;
}

// The switch an option without value sets, null for other options.
bool* FlagOf(TImportOptions& options, const std::string& option)
{
    if (option == "--remove-existing")
        return &options.Request.RemoveExisting;
    if (option == "--set-folder")
        return &options.Request.SetFolder;
    if (option == "--skip-existing")
        return &options.Request.SkipExisting;
    if (option == "--dry-run")
        return &options.Request.DryRun;
    if (option == "--smooth")
        return &options.Request.SmoothThumbnails;
    if (option == "--verbose")
        return &options.Verbose;
    return nullptr;
}

// Parses the options; a message on err and nullopt for a usage error.
std::optional<TImportOptions> ParseImportOptions(const std::vector<std::string>& args, std::ostream& err)
{
    TImportOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::optional<std::string> value;
        if (const std::size_t equals = option.find('='); option.starts_with("--") && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
        }
        auto takeValue = [&]() -> std::optional<std::string> {
            if (value)
                return value;
            if (i + 1 >= args.size()) {
                err << "images-by-id import: option " << option << " needs a value\n";
                return std::nullopt;
            }
            return args[++i];
        };
        auto noValue = [&] {
            if (value)
                err << "images-by-id import: option " << option << " takes no value\n";
            return !value;
        };
        if (option == "--user") {
            const std::optional<std::string> text = takeValue();
            if (!text)
                return std::nullopt;
            options.Request.UserName = *text;
        } else if (option == "--db" || option == "--images" || option == "--thumbs" || option == "--kind") {
            const std::optional<std::string> text = takeValue();
            if (!text)
                return std::nullopt;
            if (option == "--db") {
                options.Request.DatabaseFile = *text;
                options.HasDatabase = true;
            } else if (option == "--images") {
                options.Request.ImageFolder = *text;
                options.HasImages = true;
            } else if (option == "--thumbs") {
                options.Request.ThumbsFolder = *text;
            } else {
                std::size_t kind = 0;
                while (kind < KindNames.size() && KindNames[kind] != *text)
                    ++kind;
                if (kind == KindNames.size()) {
                    err << "images-by-id import: unknown kind \"" << *text
                        << "\" (poster, screenshot, front, cd or both)\n";
                    return std::nullopt;
                }
                options.Request.KindIndex = static_cast<int>(kind);
            }
        } else if (bool* flag = FlagOf(options, option)) {
            if (!noValue())
                return std::nullopt;
            *flag = true;
        } else if (option == "--report") {
            const std::optional<std::string> text = takeValue();
            if (!text)
                return std::nullopt;
            if (text->empty()) {
                err << "images-by-id import: --report needs a file name\n";
                return std::nullopt;
            }
            options.ReportFile = *text;
        } else if (option == "--threads") {
            const std::optional<std::string> text = takeValue();
            if (!text)
                return std::nullopt;
            if (*text != "1" && *text != "2") {
                err << "images-by-id import: --threads takes 1 or 2\n";
                return std::nullopt;
            }
            options.Request.Threads = *text == "1" ? 1 : 2;
        } else {
            err << "images-by-id import: unknown argument \"" << args[i] << "\"\n";
            return std::nullopt;
        }
    }
    if (!options.HasDatabase || options.Request.DatabaseFile.empty()) {
        err << "images-by-id import: --db DBFILE is required\n";
        return std::nullopt;
    }
    if (!options.HasImages || options.Request.ImageFolder.empty()) {
        err << "images-by-id import: --images DIR is required (the image folder is empty)\n";
        return std::nullopt;
    }
    return options;
}

// Reads one line from the terminal with echo off; nullopt when the input is no terminal or
// ends first.
std::optional<std::string> ReadPasswordFromTerminal(const std::string& prompt, std::ostream& err)
{
    if (::isatty(STDIN_FILENO) != 1)
        return std::nullopt;
    termios saved {};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0)
        return std::nullopt;
    termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    silent.c_lflag |= ECHONL;
    err << prompt << std::flush;
    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent) != 0)
        return std::nullopt;
    std::string password;
    char c = 0;
    bool ended = false;
    while (!ended && ::read(STDIN_FILENO, &c, 1) == 1)
        if (c == '\n')
            ended = true;
        else
            password += c;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!ended) {
        err << '\n';
        return std::nullopt;
    }
    return password;
}

// The credentials of a catalogue on a server, never taken from the command line: the user
// from --user, else ISC_USER; the password from ISC_PASSWORD, else asked on the terminal.
void TakeCredentials(TImportRequest& request, std::ostream& err)
{
    if (request.UserName.empty())
        if (const char* user = std::getenv("ISC_USER"))
            request.UserName = user;
    if (const char* password = std::getenv("ISC_PASSWORD"); password && *password) {
        request.Password = password;
        return;
    }
    const std::string who = request.UserName.empty() ? std::string() : " of " + request.UserName;
    const std::string prompt = "Password" + who + " for " + request.DatabaseFile + ": ";
    if (std::optional<std::string> password = ReadPasswordFromTerminal(prompt, err))
        request.Password = std::move(*password);
}

} // namespace

int RunImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << UsageText();
        return ExitOk;
    }
    std::optional<TImportOptions> options = ParseImportOptions(args, err);
    if (!options) {
        err << "Try \"images-by-id --help\".\n";
        return ExitUsage;
    }
    TImportRequest& request = options->Request;
    const TConnectionName catalogue = ClassifyConnectionName(request.DatabaseFile);
    request.DatabaseFile = catalogue.OnServer() ? catalogue.Name : Absolute(catalogue.Name);
    if (catalogue.OnServer())
        TakeCredentials(request, err);
    request.ImageFolder = AbsoluteFolder(request.ImageFolder);
    request.ThumbsFolder = AbsoluteFolder(request.ThumbsFolder);

    TConsoleFrontEnd frontEnd(request.KindIndex, request.ThumbsFolder, out, err, showProgress);
    frontEnd.Verbose = options->Verbose;
    frontEnd.DryRun = request.DryRun;
    std::optional<TReportFile> report;
    if (!options->ReportFile.empty()) {
        report.emplace(Absolute(options->ReportFile));
        if (const std::string problem = report->Open(); !problem.empty()) {
            err << "images-by-id import: " << problem << '\n';
            return ExitFailed;
        }
        report->Add(SReportHeader);
        frontEnd.Report = &*report;
    }
    SetWarningHandler([&err, &frontEnd](const std::string& text) {
        frontEnd.ClearProgress();
        err << SWarningCaption << ": " << text << '\n';
    });
    const TImportResult result = RunImportPass(request, frontEnd);
    SetWarningHandler(nullptr);
    // Written whatever the outcome: up to and including the entry that failed, if one did.
    bool reportWritten = true;
    if (report)
        if (const std::string problem = report->Finish(); !problem.empty()) {
            err << "images-by-id import: " << problem << '\n';
            reportWritten = false;
        }

    switch (result.Outcome) {
    case TImportOutcome::ioNoDatabase:
        err << "images-by-id import: no database file \"" << request.DatabaseFile << "\"\n";
        return ExitFailed;
    case TImportOutcome::ioNoImageFolder:
        err << "images-by-id import: the image folder is empty\n";
        return ExitUsage;
    case TImportOutcome::ioNoThumbsFolder:
        err << "images-by-id import: covers need --thumbs DIR\n";
        return ExitUsage;
    default:
        break;
    }
    // A pass that ended with an error has said why; only one that went through the walk can
    // have found no folder.
    if (!result.Stats.FolderFound && result.Outcome != TImportOutcome::ioFailed)
        err << "images-by-id import: the image folder \"" << request.ImageFolder
            << "\" does not exist or cannot be read; nothing was imported\n";
    out << SummaryLine(result.Stats) << '\n';
    return result.Succeeded() && reportWritten ? ExitOk : ExitFailed;
}

int RunImportCommand(const std::vector<std::string>& args)
{
    return RunImportCommand(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
