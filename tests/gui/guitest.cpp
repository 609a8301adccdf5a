#include "gui/guitest.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QThread>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "testfiles.h"

namespace guitest {

bool WaitUntil(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

void PrintTo(const Message& message, std::ostream* out) {
    *out << "{\"" << message.text.toStdString() << "\", \"" << message.caption.toStdString()
         << "\"}";
}

void ScriptedSeam::Then(Answer answer, const char* expectedTitle) {
    Scripted scripted;
    scripted.answer = std::move(answer);
    if (expectedTitle) {
        scripted.expectedTitle = QString::fromUtf8(expectedTitle);
        scripted.checkTitle = true;
    }
    answers_.push_back(std::move(scripted));
}

DialogSeam ScriptedSeam::Seam() {
    DialogSeam seam;
    seam.runModal = [this](QDialog& dialog) {
        dialogTitles.push_back(dialog.windowTitle());
        if (answers_.empty()) {
            ADD_FAILURE() << "unexpected dialog \"" << dialog.windowTitle().toStdString() << "\" ("
                          << dialog.metaObject()->className() << ")";
            // Cancel where the dialog can be cancelled, so that the command ends; a command
            // that keeps asking would otherwise never let the test finish.
            if (auto* cancel = dialog.findChild<QAbstractButton*>("BitBtn2")) cancel->click();
            if (++unexpected_ > 20) {
                std::fprintf(stderr, "too many unexpected dialogs: stopping\n");
                std::abort();
            }
            return static_cast<int>(QDialog::Rejected);
        }
        Scripted next = std::move(answers_.front());
        answers_.pop_front();
        if (next.checkTitle) {
            EXPECT_EQ(next.expectedTitle.toStdString(), dialog.windowTitle().toStdString());
        }
        return next.answer(dialog);
    };
    seam.showMessage = [this](const QString& text, const QString& caption) {
        messages.push_back({text, caption});
    };
    seam.ask = [this](const QString& text, const QString& caption) {
        questions.push_back({text, caption});
        return answerYes;
    };
    return seam;
}

Answer ChooseFile(const QString& path, int filterIndex) {
    return [path, filterIndex](QDialog& dialog) {
        auto* files = qobject_cast<QFileDialog*>(&dialog);
        if (!files) {
            ADD_FAILURE() << "expected a file dialog, got " << dialog.metaObject()->className();
            return static_cast<int>(QDialog::Rejected);
        }
        const QStringList filters = files->nameFilters();
        if (filterIndex >= 1 && filterIndex <= filters.size()) {
            files->selectNameFilter(filters[filterIndex - 1]);
        }
        files->selectFile(path);
        static_cast<QDialog*>(files)->accept();
        return static_cast<int>(QDialog::Accepted);
    };
}

Answer Cancel() {
    return [](QDialog& dialog) {
        dialog.reject();
        return static_cast<int>(QDialog::Rejected);
    };
}

Answer Accept() {
    return [](QDialog& dialog) {
        dialog.accept();
        return static_cast<int>(QDialog::Accepted);
    };
}

Answer TypeAndClick(std::vector<std::pair<QString, QString>> edits, const QString& button) {
    return [edits, button](QDialog& dialog) {
        for (const auto& [name, text] : edits) {
            auto* edit = dialog.findChild<QLineEdit*>(name);
            if (!edit) {
                ADD_FAILURE() << "no edit " << name.toStdString() << " in "
                              << dialog.windowTitle().toStdString();
                continue;
            }
            edit->setText(text);
        }
        auto* target = dialog.findChild<QAbstractButton*>(button);
        if (!target) {
            ADD_FAILURE() << "no button " << button.toStdString();
            return static_cast<int>(QDialog::Rejected);
        }
        target->click();
        return dialog.result();
    };
}

Answer Click(QStringList buttons) {
    return [buttons](QDialog& dialog) {
        for (const QString& name : buttons) {
            auto* target = dialog.findChild<QAbstractButton*>(name);
            if (!target) {
                ADD_FAILURE() << "no button " << name.toStdString();
                continue;
            }
            target->click();
        }
        return dialog.result();
    };
}

Answer Segment(const char* radio, const char* count) {
    return [radio, count](QDialog& dialog) {
        if (auto* button = dialog.findChild<QAbstractButton*>(radio)) {
            button->click();
        } else {
            ADD_FAILURE() << "no button " << radio;
        }
        dialog.findChild<QLineEdit*>("SegmentNumberEdit")->setText(count);
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    };
}

void ProgramTest::SetUp() {
    form = CreateForms(script.Seam());
}

void ProgramTest::TearDown() {
    EXPECT_TRUE(script.AllAnswersUsed()) << script.AnswersLeft() << " scripted answers unused";
    delete form;
    ClearFormReferences();
    QApplication::processEvents();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(widget->isVisible())
            << "stray window left: " << widget->metaObject()->className() << " \""
            << widget->windowTitle().toStdString() << "\"";
    }
}

namespace {
QObject* FindCommand(TMainForm* form, const QString& objectName) {
    if (auto* action = form->findChild<QAction*>(objectName)) return action;
    if (auto* button = form->findChild<QAbstractButton*>(objectName)) return button;
    return nullptr;
}
}  // namespace

bool ProgramTest::Enabled(const QString& objectName) const {
    QObject* command = FindCommand(form, objectName);
    if (auto* action = qobject_cast<QAction*>(command)) return action->isEnabled();
    if (auto* button = qobject_cast<QAbstractButton*>(command)) return button->isEnabled();
    ADD_FAILURE() << "no command named " << objectName.toStdString();
    return false;
}

void ProgramTest::Trigger(const QString& objectName) {
    QObject* command = FindCommand(form, objectName);
    ASSERT_NE(command, nullptr) << "no command named " << objectName.toStdString();
    ASSERT_TRUE(Enabled(objectName)) << objectName.toStdString() << " is disabled";
    if (auto* action = qobject_cast<QAction*>(command)) {
        action->trigger();
    } else if (auto* button = qobject_cast<QAbstractButton*>(command)) {
        button->click();
    }
}

}  // namespace guitest

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The program's data folder (where the code list goes) in a scratch folder of this run, not
    // in the user's home.
    const testing_support::ScratchDir dataHome;
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dataHome.path()));
    QApplication application(argc, argv);
    QApplication::setApplicationName("Tessera_V2");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
