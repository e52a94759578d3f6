#include "app/thumbnailcommand.h"

#include "app/paths.h"
#include "app/thumbnailwriter.h"
#include "base/warning.h"

#include <exception>
#include <iostream>

int RunThumbnailCommand(const std::vector<std::string>& args, std::ostream& err)
{
    if (args.size() != 2 || args[0].empty() || args[1].empty()) {
        err << "Usage: images-by-id thumbnail IMAGE OUT.jpg\n";
        return ExitUsage;
    }
    SetWarningHandler([&err](const std::string& text) { err << SWarningCaption << ": " << text << '\n'; });
    int exitCode = ExitOk;
    try {
        if (!PathFileExists(args[0])) {
            err << "images-by-id thumbnail: no file \"" << args[0] << "\"\n";
            exitCode = ExitFailed;
        } else if (!WriteThumbnailFile(args[0], args[1])) {
            err << "images-by-id thumbnail: \"" << args[0] << "\" cannot be decoded or has no pixels\n";
            exitCode = ExitFailed;
        }
    } catch (const std::exception& error) {
        err << error.what() << '\n';
        exitCode = ExitFailed;
    }
    SetWarningHandler(nullptr);
    return exitCode;
}

int RunThumbnailCommand(const std::vector<std::string>& args) { return RunThumbnailCommand(args, std::cerr); }
