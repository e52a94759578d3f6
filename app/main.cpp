#include "app/commandline.h"
#include "app/decodecommand.h"
#include "app/enginesetup.h"
#include "app/importcommand.h"
#include "app/mainform.h"
#include "app/memorysettings.h"
#include "app/stopsignals.h"
#include "app/thumbnailcommand.h"
#include "db/fbclientlib.h"
#include "raster/canvas.h"
#include "raster/jpegimage.h"

#include <QApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

// For the import and the dialog, before the client library is loaded: the stop signals are
// ours, and the engine gets a lock folder this user can write.
void PrepareForDatabase()
{
    WatchStopSignals();
    if (const std::string problem = PrepareLockFolder(); !problem.empty())
        std::cerr << "images-by-id: " << problem << '\n';
}

// A stopped pass, or one that ended after the signal, reports the signal; a failure stays 1.
int WithStopSignal(int exitCode)
{
    const int signal = StopSignal();
    return signal != 0 && exitCode != ExitFailed ? SignalExitCode(signal) : exitCode;
}

// A stop signal closes the dialog as its close button does (a running pass stops before its
// next entry and commits; the window closes after it), closing first any message box or file
// chooser open at that moment.
void CloseOnStopSignal(TForm1& form)
{
    char bytes[16];
    while (::read(StopSignalDescriptor(), bytes, sizeof bytes) > 0) {
    }
    for (int nested = 0; nested < 8; ++nested) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == &form)
            break;
        modal->close();
    }
    form.close();
}

int RunDialog(int argc, char* argv[])
{
    if (!DialogCanOpen(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), std::getenv("QT_QPA_PLATFORM"))) {
        std::cerr << SNoDisplay << '\n';
        return ExitUsage;
    }
    PrepareForDatabase();
    QApplication application(argc, argv);
    TForm1 form;
    QSocketNotifier stopSignals(StopSignalDescriptor(), QSocketNotifier::Read);
    QObject::connect(&stopSignals, &QSocketNotifier::activated, &form, [&form] { CloseOnStopSignal(form); });
    form.show();
    return WithStopSignal(QApplication::exec());
}

int RunProgram(int argc, char* argv[])
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return RunDialog(argc, argv);
    const std::string& command = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << UsageText();
        return ExitOk;
    }
    if (command == "--version") {
        std::cout << "images-by-id " << IBI_VERSION << '\n';
        return ExitOk;
    }
    if (command == "import") {
        PrepareForDatabase();
        return WithStopSignal(RunImportCommand(rest));
    }
    if (command == "thumbnail")
        return RunThumbnailCommand(rest);
    if (command == "decode")
        return RunDecodeCommand(rest);
    std::cerr << "images-by-id: unknown command \"" << command << "\"\n" << UsageText();
    return ExitUsage;
}

} // namespace

int main(int argc, char* argv[])
{
    KeepFreedMemory(); // before any thread: pictures of a folder reuse the same pages
    InitJPEGDefaults(TCanvas::DeviceBits);
    const int exitCode = RunProgram(argc, argv);
    // No thread of the client library may still run when the exit handlers do.
    ShutdownClientLibrary(FbClientLibraryName);
    return exitCode;
}
