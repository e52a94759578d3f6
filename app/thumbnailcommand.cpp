#include "app/thumbnailcommand.h"

#include "app/paths.h"
#include "app/thumbnailwriter.h"
#include "base/filestream.h"
#include "base/warning.h"

#include <sys/stat.h>

#include <exception>
#include <iostream>

namespace {

// An output that exists and is no regular file (/dev/stdout, a pipe) is written in place:
// renaming a finished file over it would replace the entry itself.
bool IsSpecialFile(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

} // namespace

int RunThumbnailCommand(const std::vector<std::string>& args, std::ostream& err)
{
    const bool smooth = !args.empty() && args[0] == "--smooth";
    const std::vector<std::string> files(args.begin() + (smooth ? 1 : 0), args.end());
    if (files.size() != 2 || files[0].empty() || files[1].empty()) {
        err << "Usage: images-by-id thumbnail [--smooth] IMAGE OUT.jpg\n";
        return ExitUsage;
    }
    const TThumbnailSampling sampling = smooth ? TThumbnailSampling::tsSmooth : TThumbnailSampling::tsNearest;
    SetWarningHandler([&err](const std::string& text) { err << SWarningCaption << ": " << text << '\n'; });
    int exitCode = ExitOk;
    try {
        if (!PathFileExists(files[0])) {
            err << "images-by-id thumbnail: no file \"" << files[0] << "\"\n";
            exitCode = ExitFailed;
        } else if (TMemoryStream jpeg; !EncodeThumbnail(files[0], jpeg, nullptr, nullptr, sampling)) {
            err << "images-by-id thumbnail: \"" << files[0] << "\" cannot be decoded or has no pixels\n";
            exitCode = ExitFailed;
        } else if (IsSpecialFile(files[1])) {
            TFileStream out(files[1], fmCreate);
            out.WriteBuffer(jpeg.Memory(), jpeg.Bytes().size());
        } else {
            WriteThumbnailBytes(files[1], jpeg.Bytes());
        }
    } catch (const std::exception& error) {
        err << error.what() << '\n';
        exitCode = ExitFailed;
    }
    SetWarningHandler(nullptr);
    return exitCode;
}

int RunThumbnailCommand(const std::vector<std::string>& args) { return RunThumbnailCommand(args, std::cerr); }
