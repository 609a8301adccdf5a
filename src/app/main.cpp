#include <QApplication>
#include <exception>
#include <new>

#include "app/forms.h"
#include "app/mainwindow.h"
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

}  // namespace

int main(int argc, char* argv[]) {
    // Ctrl-C or a kill while a save is staged leaves no temporary file behind, and a save being
    // put in place finishes first: the earlier set of files or the new one, whole.
    tessera::RemoveTemporariesOnInterrupt();
    TApplication application(argc, argv);
    // The task bar's text; the frame's own caption is set by the main window.
    QApplication::setApplicationName("Tessera_V2");
    DialogSeam seam;
    TMainForm* mainForm = CreateForms(seam);
    const int result = application.exec();
    delete mainForm;
    return result;
}
