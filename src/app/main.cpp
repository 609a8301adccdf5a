#include <QApplication>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "support/installation.h"
#include "support/temporaries.h"

namespace {

// An exception that escapes a command is shown in a message box and the program goes on.
class TApplication : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::bad_alloc&) {
            ShowMessageBox(
                " Not enough memory to finish the command \nThe earlier results are kept ",
                "ERROR");
        } catch (const std::exception& error) {
            ShowMessageBox(QString::fromLocal8Bit(error.what()), "ERROR");
        } catch (...) {
            ShowMessageBox("", "ERROR");
        }
        return false;
    }
};

// --version and --help are answered on standard output without a window (nor a display), as a
// desktop's menu and a package's checks ask them.
bool Asked(int argc, char* argv[], const char* option) {
    for (int k = 1; k < argc; ++k)
        if (std::strcmp(argv[k], option) == 0) return true;
    return false;
}

void PrintHelp() {
    const std::string program = tessera::ProgramPath();
    const std::string samples =
        tessera::FindFolder(program, tessera::InstalledPart::Samples, TESSERA_SAMPLES_DIR);
    const std::string documentation = tessera::FindFolder(
        program, tessera::InstalledPart::Documentation, TESSERA_SOURCE_DOCS_DIR);
    std::printf(
        "Usage: tessera [--help | --version] [Qt's options]\n"
        "\n"
        "Opens 2 to 10 gray-tone bands of one scene, segments every band into gray-level\n"
        "segments and crosses the segmented bands into classes, in windows.\n"
        "tessera-batch does the same without a window.\n"
        "\n"
        "  --help     this text\n"
        "  --version  the program's version\n"
        "\n"
        "Sample bands: %s\n"
        "Documentation: %s\n",
        samples.empty() ? "(none)" : samples.c_str(),
        documentation.empty() ? "(none)" : documentation.c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
    if (Asked(argc, argv, "--version")) {
        std::printf("Tessera_V2 %s\n", TESSERA_VERSION);
        return 0;
    }
    if (Asked(argc, argv, "--help")) {
        PrintHelp();
        return 0;
    }
    // Ctrl-C or a kill while a save is staged leaves no temporary file behind, and a save being
    // put in place finishes first: the earlier set of files or the new one, whole.
    tessera::RemoveTemporariesOnInterrupt();
    TApplication application(argc, argv);
    // The task bar's text; the frame's own caption is set by the main window.
    QApplication::setApplicationName("Tessera_V2");
    QApplication::setApplicationVersion(TESSERA_VERSION);
    // The desktop entry (tessera.desktop) that the desktop's task bar matches the windows to.
    QGuiApplication::setDesktopFileName("tessera");
    DialogSeam seam;
    TMainForm* mainForm = CreateForms(seam);
    const int result = application.exec();
    delete mainForm;
    return result;
}
