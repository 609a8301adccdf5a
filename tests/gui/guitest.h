#pragma once
// Helpers of the GUI tests. A test builds the program's windows with a scripted seam: every
// modal dialog the program runs takes the next scripted answer (which fills the real dialog's
// controls and presses its real buttons), and every message box is recorded. A dialog that
// comes without an answer fails the test.
#include <gtest/gtest.h>

#include <QDialog>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "uikit/seam.h"

class TMainForm;
class QFileDialog;

namespace guitest {

// Processes events until `done` holds or `milliseconds` pass; answers `done`.
bool WaitUntil(const std::function<bool()>& done, int milliseconds = 5000);

struct Message {
    QString text;
    QString caption;
    bool operator==(const Message& other) const {
        return text == other.text && caption == other.caption;
    }
};
void PrintTo(const Message& message, std::ostream* out);

using Answer = std::function<int(QDialog&)>;

class ScriptedSeam {
  public:
    // The next dialog run gets this answer. `expectedTitle` (when not null) must be the
    // dialog's window title.
    void Then(Answer answer, const char* expectedTitle = nullptr);
    // The seam to give to CreateForms.
    DialogSeam Seam();

    std::vector<Message> messages;      // every message shown, in order
    std::vector<Message> questions;     // every Yes/No question asked, in order
    bool answerYes = true;              // the answer to every question
    std::vector<QString> dialogTitles;  // every dialog run, in order
    bool AllAnswersUsed() const { return answers_.empty(); }
    size_t AnswersLeft() const { return answers_.size(); }

  private:
    struct Scripted {
        Answer answer;
        QString expectedTitle;
        bool checkTitle = false;
    };
    std::deque<Scripted> answers_;
    int unexpected_ = 0;
};

// Answers for the program's dialogs.
// A file dialog: the path typed and the filter entry (1-based) chosen, then Open/Save.
Answer ChooseFile(const QString& path, int filterIndex = 1);
// Cancels any dialog.
Answer Cancel();
// Presses the dialog's default OK path: accept().
Answer Accept();
// Types each (object name, text) into the dialog's QLineEdit of that name, then clicks the
// QAbstractButton named `button` (a real click through the dialog's own handlers).
Answer TypeAndClick(std::vector<std::pair<QString, QString>> edits, const QString& button);
// Clicks the QAbstractButtons named in order (e.g. a radio button, then "BitBtn1").
Answer Click(QStringList buttons);
// The segmentation dialog: the type's radio button, the segment count, then OK.
Answer Segment(const char* radio, const char* count);

// Fixture: the program's 21 windows with a scripted seam; at the end, every scripted answer
// must have been used and no stray top-level window may be left.
class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Triggers a menu item or tool button by object name, asserting first that it is enabled.
    void Trigger(const QString& objectName);
    bool Enabled(const QString& objectName) const;

    ScriptedSeam script;
    TMainForm* form = nullptr;
};

}  // namespace guitest
