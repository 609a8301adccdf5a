#include <QApplication>

#include "app/forms.h"
#include "app/mainwindow.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Tessera_V2");
    QApplication::setApplicationDisplayName("Tessera_V2");
    DialogSeam seam;
    TMainForm* mainForm = CreateForms(seam);
    const int result = application.exec();
    delete mainForm;
    return result == 0 ? 0 : result;
}
