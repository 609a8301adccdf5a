// Renders the main window after a typical session on the sample band set into a PNG file (the
// picture of the README): tessera-screenshot OUTPUT.png SAMPLES_FOLDER [DIALOGS_FOLDER]
// With a third argument, every dialog of the session is also rendered there as it is answered.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QPixmap>
#include <QRadioButton>
#include <QTimer>
#include <deque>
#include <functional>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "view/ui/imagewindow.h"
#include "view/ui/resultimage.h"
#include "view/ui/tempimage.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 3) return 2;
    const QString output = argv[1];
    const QString samples = argv[2];
    const QString dialogsFolder = argc > 3 ? argv[3] : QString();
    int dialogNumber = 0;

    std::deque<std::function<int(QDialog&)>> answers;
    auto type = [](QDialog& dialog, const char* edit, const QString& text) {
        dialog.findChild<QLineEdit*>(edit)->setText(text);
    };
    auto press = [](QDialog& dialog, const char* button) {
        dialog.findChild<QAbstractButton*>(button)->click();
        return dialog.result();
    };
    answers.push_back([&](QDialog& d) {
        type(d, "NumBandEdit", "4");
        return press(d, "BitBtn1");
    });
    for (int band = 1; band <= 4; ++band) {
        answers.push_back([samples, band](QDialog& d) {
            auto& files = static_cast<QFileDialog&>(d);
            files.selectFile(samples + QString("/band%1.raw").arg(band));
            static_cast<QDialog&>(files).accept();
            return static_cast<int>(QDialog::Accepted);
        });
    }
    for (int band = 1; band <= 4; ++band) {
        answers.push_back([&, band](QDialog& d) {
            if (band == 1) d.findChild<QRadioButton*>("RadioButton2")->click();
            type(d, "SegmentNumberEdit", "3");
            return press(d, "BitBtn1");
        });
    }
    answers.push_back([&](QDialog& d) {
        d.findChild<QRadioButton*>("RadioButton2")->click();
        type(d, "MinPixelEdit", "200");
        return press(d, "BitBtn1");
    });

    DialogSeam seam;
    seam.runModal = [&](QDialog& dialog) {
        if (answers.empty()) return static_cast<int>(QDialog::Rejected);
        auto answer = std::move(answers.front());
        answers.pop_front();
        if (!dialogsFolder.isEmpty()) {
            dialog.show();
            QApplication::processEvents();
            dialog.grab().save(QString("%1/dialog-%2.png").arg(dialogsFolder).arg(++dialogNumber));
        }
        const int result = answer(dialog);
        dialog.hide();
        return result;
    };
    seam.showMessage = [](const QString& text, const QString& caption) {
        qWarning("%s: %s", qPrintable(caption), qPrintable(text));
    };
    TMainForm* form = CreateForms(seam);
    form->OpenBandSet();
    form->SegmentationTreatment();
    form->CrossBands();
    form->MdiArea->tileSubWindows();
    QApplication::processEvents();
    QTimer::singleShot(300, [&] {
        form->grab().save(output);
        QApplication::quit();
    });
    application.exec();
    delete form;
    return 0;
}
