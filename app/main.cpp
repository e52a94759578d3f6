#include "app/commandline.h"
#include "app/decodecommand.h"
#include "app/importcommand.h"
#include "app/mainform.h"
#include "app/memorysettings.h"
#include "app/thumbnailcommand.h"
#include "raster/canvas.h"
#include "raster/jpegimage.h"

#include <QApplication>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    KeepFreedMemory(); // before any thread: pictures of a folder reuse the same pages
    InitJPEGDefaults(TCanvas::DeviceBits);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty()) {
        const std::string& command = args.front();
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (command == "--help" || command == "-h" || command == "help") {
            std::cout << UsageText();
            return ExitOk;
        }
        if (command == "import")
            return RunImportCommand(rest);
        if (command == "thumbnail")
            return RunThumbnailCommand(rest);
        if (command == "decode")
            return RunDecodeCommand(rest);
        std::cerr << "images-by-id: unknown command \"" << command << "\"\n" << UsageText();
        return ExitUsage;
    }

    QApplication application(argc, argv);
    TForm1 form;
    form.show();
    return QApplication::exec();
}
