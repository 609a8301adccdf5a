// The code selection dialogs: option states across showings, the minimum read at OK, the code
// table shown in the memo, and the new-minimum dialog.
#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextDocument>
#include <cstdint>
#include <string>
#include <vector>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "crossing/codetable.h"
#include "crossing/ui/checknumcode1.h"
#include "crossing/ui/checknumcode2.h"
#include "crossing/ui/checknumcode3.h"
#include "crossing/ui/codetablememo.h"
#include "gui/dialoghelpers.h"
#include "gui/guitest.h"

namespace {
using dialogtest::RunRealExec;
using dialogtest::Text;
using guitest::Click;
using guitest::Message;
using guitest::ProgramTest;
using guitest::TypeAndClick;

const Message kCaution{"All the Buttons are inactived\nPlease check", "CAUTION"};

// The checked options, by name, among `names`.
std::vector<std::string> CheckedOf(QWidget* dialog, std::vector<const char*> names) {
    std::vector<std::string> checked;
    for (const char* name : names) {
        auto* button = dialog->findChild<QRadioButton*>(name);
        if (!button) {
            ADD_FAILURE() << "no radio button " << name;
            continue;
        }
        if (button->isChecked()) checked.push_back(name);
    }
    return checked;
}

bool EntryShown(QDialog* dialog) {
    auto* box = dialog->findChild<QGroupBox*>("GroupBox3");
    if (!box) ADD_FAILURE() << "no GroupBox3";
    return box && box->isVisibleTo(dialog);
}

void ClickButton(QDialog* dialog, const char* name) {
    auto* button = dialog->findChild<QAbstractButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

// Lays the dialog out as showing it would, without showing it: every layout from the top.
// (A hidden widget is not told of its new size, so each layout is redone explicitly.)
void LayOut(QDialog* dialog) {
    dialog->layout()->invalidate();
    dialog->layout()->activate();
    for (QWidget* child : dialog->findChildren<QWidget*>()) {
        if (!child->layout()) continue;
        child->layout()->invalidate();
        child->layout()->activate();
    }
}

// A left click on the group box's own surface (its lower left corner, away from its
// controls), as the user clicks its frame.
void ClickFrame(QDialog* dialog, const char* name) {
    auto* box = dialog->findChild<QGroupBox*>(name);
    ASSERT_NE(box, nullptr) << name;
    LayOut(dialog);
    const QPointF corner(2, box->height() - 2);
    QMouseEvent press(QEvent::MouseButtonPress, corner, box->mapToGlobal(corner), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, corner, box->mapToGlobal(corner),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(box, &press);
    QApplication::sendEvent(box, &release);
}

// 3 × 4 segments: codes 1..12 with these pixel counts (entry 0 unused).
struct SmallTable {
    tessera::CodeTable table;
    std::vector<int64_t> counts{0, 11, 0, 5, 3, 100, 2, 9, 1, 0, 4, 8, 12};
    SmallTable() {
        auto built = tessera::BuildCodeTable({0, 3, 4});
        EXPECT_TRUE(built) << built.message;
        if (built) table = *built.value;
    }
};

const char* const kSmallTableText =
    "   CODES\t   B1\t   B2\t   NUMPIX\n"
    "   \n"
    "   1\t   1\t   1\t   11\n"
    "   2\t   1\t   2\t   0\n"
    "   3\t   1\t   3\t   5\n"
    "   4\t   1\t   4\t   3\n"
    "   5\t   2\t   1\t   100\n"
    "   6\t   2\t   2\t   2\n"
    "   7\t   2\t   3\t   9\n"
    "   8\t   2\t   4\t   1\n"
    "   9\t   3\t   1\t   0\n"
    "   10\t   3\t   2\t   4\n"
    "   11\t   3\t   3\t   8\n"
    "   12\t   3\t   4\t   12";

// ----- captions, sizes and texts -----

TEST_F(ProgramTest, CodeDialogCaptionsAndSizes) {
    struct Expected {
        QDialog* dialog;
        int width;
        int height;
    };
    for (const Expected& e :
         {Expected{CheckNumCodeForm1, 691, 398}, Expected{CheckNumCodeForm2, 691, 378},
          Expected{CheckNumCodeForm3, 339, 210}}) {
        ASSERT_NE(e.dialog, nullptr);
        EXPECT_EQ(" Code Number Definition", e.dialog->windowTitle().toStdString());
        EXPECT_EQ(e.width, e.dialog->width());
        EXPECT_EQ(e.height, e.dialog->height());
        ASSERT_NE(e.dialog->layout(), nullptr);
        EXPECT_LE(e.dialog->layout()->minimumSize().width(), e.width);
        EXPECT_LE(e.dialog->layout()->minimumSize().height(), e.height);
    }
}

TEST_F(ProgramTest, CodeDialogTexts) {
    QDialog* one = CheckNumCodeForm1;
    EXPECT_EQ("Code Table", Text(one, "Label4"));
    EXPECT_EQ("Total Number of codes ", Text(one, "Label1"));
    EXPECT_EQ(" Type of Treatment  ", Text(one, "GroupBox2"));
    EXPECT_EQ("Taking into account the total number of codes ", Text(one, "RadioButton3"));
    EXPECT_EQ("Elimination of classes which pixel number is equal to 0 ",
              Text(one, "RadioButton1"));
    EXPECT_EQ("Defining a minimum number of pixels to select a class ", Text(one, "RadioButton2"));
    EXPECT_EQ("Please, in order to select a class", Text(one, "Label2"));
    EXPECT_EQ("define the minimum number of pixels ", Text(one, "Label3"));
    EXPECT_EQ("Display Table", Text(one, "RadioButton4"));
    EXPECT_EQ("Erase Table", Text(one, "RadioButton5"));
    EXPECT_NE(nullptr, one->findChild<TCodeTableMemo*>("Memo"));
    EXPECT_NE(nullptr, one->findChild<QLineEdit*>("CodeNumberEdit"));
    // The treatment options, top to bottom.
    auto* three = one->findChild<QWidget*>("RadioButton3");
    auto* first = one->findChild<QWidget*>("RadioButton1");
    auto* second = one->findChild<QWidget*>("RadioButton2");
    LayOut(one);
    EXPECT_LT(three->y(), first->y());
    EXPECT_LT(first->y(), second->y());

    QDialog* two = CheckNumCodeForm2;
    EXPECT_EQ("Code Table", Text(two, "Label4"));
    EXPECT_EQ("Total Number of codes", Text(two, "Label1"));
    EXPECT_EQ(" Type of Treatment ", Text(two, "GroupBox2"));
    EXPECT_EQ("Elimination of classes which pixel number is equal to 0", Text(two, "RadioButton1"));
    EXPECT_EQ(" Defining a minimum number of pixels to select a class", Text(two, "RadioButton2"));
    EXPECT_EQ("Please, in order to select a class", Text(two, "Label2"));
    EXPECT_EQ("define the minimum number of pixels", Text(two, "Label3"));
    EXPECT_EQ("Display Table", Text(two, "RadioButton3"));
    EXPECT_EQ("Erase Table", Text(two, "RadioButton4"));
    EXPECT_NE(nullptr, two->findChild<TCodeTableMemo*>("Memo2"));
    EXPECT_EQ(nullptr, two->findChild<QRadioButton*>("RadioButton5"));

    QDialog* new_minimum = CheckNumCodeForm3;
    EXPECT_EQ("Remaining Total Number of codes", Text(new_minimum, "Label1"));
    EXPECT_EQ("______________________________", Text(new_minimum, "Label4"));
    EXPECT_EQ("As this total is greater than 250, you need to define a new",
              Text(new_minimum, "Label2"));
    EXPECT_EQ("minimum number of pixels", Text(new_minimum, "Label3"));
    EXPECT_NE(nullptr, new_minimum->findChild<QLineEdit*>("TotNumCodeEdit"));
    EXPECT_NE(nullptr, new_minimum->findChild<QLineEdit*>("NewTotCodeEdit"));
}

// ----- options of the dialog for at most 250 codes -----

TEST_F(ProgramTest, SmallCodeDialogFirstShowingKeepsEveryCode) {
    QDialog* d = CheckNumCodeForm1;
    EXPECT_EQ((std::vector<std::string>{"RadioButton3"}),
              CheckedOf(d, {"RadioButton1", "RadioButton2", "RadioButton3"}));
    EXPECT_FALSE(EntryShown(d));
    EXPECT_EQ("0", Text(d, "MinPixelEdit"));
    EXPECT_EQ(0, CheckNumCodeForm1->MinPixel);

    CheckNumCodeForm1->SelectByMinimum = false;
    script.Then(Click({"BitBtn1"}), " Code Number Definition");
    EXPECT_EQ(QDialog::Accepted, form->RunModal(*CheckNumCodeForm1));
    EXPECT_TRUE(script.messages.empty());
    EXPECT_FALSE(CheckNumCodeForm1->SelectByMinimum);
    EXPECT_EQ(0, CheckNumCodeForm1->MinPixel);

    // A later showing offers no option; OK warns and still closes.
    std::vector<std::string> offered;
    CheckNumCodeForm1->SelectByMinimum = false;
    script.Then([&](QDialog& dialog) {
        offered = CheckedOf(&dialog, {"RadioButton1", "RadioButton2", "RadioButton3"});
        ClickButton(&dialog, "BitBtn1");
        return dialog.result();
    });
    EXPECT_EQ(QDialog::Accepted, form->RunModal(*CheckNumCodeForm1));
    EXPECT_TRUE(offered.empty());
    EXPECT_EQ(std::vector<Message>{kCaution}, script.messages);
    EXPECT_FALSE(CheckNumCodeForm1->SelectByMinimum);
}

void TypeInto(QDialog* dialog, const char* name, const char* text) {
    auto* edit = dialog->findChild<QLineEdit*>(name);
    ASSERT_NE(edit, nullptr) << name;
    edit->setText(text);
}

TEST_F(ProgramTest, SmallCodeDialogTypedMinimumIsTheLeadingInteger) {
    QDialog* d = CheckNumCodeForm1;
    struct Case {
        const char* typed;
        int64_t minimum;
    };
    for (const Case& c :
         {Case{"12abc", 12}, Case{"", 0}, Case{" -3", -3}, Case{"abc", 0}, Case{"40", 40}}) {
        ClickButton(d, "RadioButton2");
        EXPECT_TRUE(EntryShown(d));
        EXPECT_TRUE(CheckNumCodeForm1->SelectByMinimum);
        EXPECT_EQ((std::vector<std::string>{"RadioButton2"}),
                  CheckedOf(d, {"RadioButton1", "RadioButton2", "RadioButton3"}));
        TypeInto(d, "MinPixelEdit", c.typed);
        ClickButton(d, "BitBtn1");
        EXPECT_EQ(c.minimum, CheckNumCodeForm1->MinPixel) << c.typed;
        EXPECT_TRUE(CheckedOf(d, {"RadioButton1", "RadioButton2", "RadioButton3"}).empty());
        EXPECT_EQ(QDialog::Accepted, d->result());
    }
    EXPECT_TRUE(script.messages.empty());
}

TEST_F(ProgramTest, SmallCodeDialogZeroPixelOptionIgnoresTheEntry) {
    QDialog* d = CheckNumCodeForm1;
    ClickButton(d, "RadioButton2");
    TypeInto(d, "MinPixelEdit", "7");
    ClickButton(d, "RadioButton1");
    EXPECT_EQ((std::vector<std::string>{"RadioButton1"}),
              CheckedOf(d, {"RadioButton1", "RadioButton2", "RadioButton3"}));
    EXPECT_TRUE(CheckNumCodeForm1->SelectByMinimum);
    EXPECT_EQ(0, CheckNumCodeForm1->MinPixel);
    EXPECT_TRUE(EntryShown(d));  // this option leaves the entry as it was
    ClickButton(d, "BitBtn1");
    EXPECT_EQ(0, CheckNumCodeForm1->MinPixel);
    EXPECT_TRUE(CheckNumCodeForm1->SelectByMinimum);
    EXPECT_EQ("7", Text(d, "MinPixelEdit"));
    EXPECT_TRUE(script.messages.empty());
}

TEST_F(ProgramTest, SmallCodeDialogOptionsExcludeEachOther) {
    QDialog* d = CheckNumCodeForm1;
    const std::vector<const char*> options = {"RadioButton1", "RadioButton2", "RadioButton3"};
    ClickButton(d, "RadioButton1");
    EXPECT_EQ((std::vector<std::string>{"RadioButton1"}), CheckedOf(d, options));
    ClickButton(d, "RadioButton2");
    EXPECT_EQ((std::vector<std::string>{"RadioButton2"}), CheckedOf(d, options));
    ClickButton(d, "RadioButton3");
    EXPECT_EQ((std::vector<std::string>{"RadioButton3"}), CheckedOf(d, options));
    EXPECT_FALSE(CheckNumCodeForm1->SelectByMinimum);
    EXPECT_TRUE(EntryShown(d));  // only a click on the frame hides it again
    // Clicking the checked option leaves it checked.
    ClickButton(d, "RadioButton3");
    EXPECT_EQ((std::vector<std::string>{"RadioButton3"}), CheckedOf(d, options));
    EXPECT_FALSE(CheckNumCodeForm1->SelectByMinimum);
}

TEST_F(ProgramTest, SmallCodeDialogFrameClicks) {
    QDialog* d = CheckNumCodeForm1;
    ClickButton(d, "RadioButton2");
    TypeInto(d, "MinPixelEdit", "25");
    CheckNumCodeForm1->MinPixel = -1;
    ClickFrame(d, "GroupBox3");
    EXPECT_EQ(25, CheckNumCodeForm1->MinPixel);

    // A click on a label inside the entry's frame is not a click on the frame.
    CheckNumCodeForm1->MinPixel = -1;
    auto* label = d->findChild<QLabel*>("Label2");
    ASSERT_NE(label, nullptr);
    ASSERT_GT(label->pos().y(), 3);  // laid out inside the frame, below its top line
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(3, 3),
                        label->mapToGlobal(QPointF(3, 3)), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(label, &release);
    EXPECT_EQ(-1, CheckNumCodeForm1->MinPixel);

    // The treatment frame applies the checked option to the entry again.
    ClickFrame(d, "GroupBox2");
    EXPECT_TRUE(EntryShown(d));
    ClickButton(d, "RadioButton1");
    EXPECT_TRUE(EntryShown(d));
    CheckNumCodeForm1->MinPixel = 9;
    ClickFrame(d, "GroupBox2");
    EXPECT_FALSE(EntryShown(d));
    EXPECT_EQ(0, CheckNumCodeForm1->MinPixel);
    ClickButton(d, "RadioButton2");
    ClickButton(d, "RadioButton3");
    EXPECT_TRUE(EntryShown(d));
    ClickFrame(d, "GroupBox2");
    EXPECT_FALSE(EntryShown(d));
}

// ----- options of the dialog for more than 250 codes -----

TEST_F(ProgramTest, LargeCodeDialogOptionsAcrossShowings) {
    QDialog* d = CheckNumCodeForm2;
    const std::vector<const char*> options = {"RadioButton1", "RadioButton2"};
    EXPECT_EQ((std::vector<std::string>{"RadioButton1"}), CheckedOf(d, options));
    EXPECT_FALSE(EntryShown(d));
    EXPECT_EQ("0", Text(d, "MinPixelEdit"));
    EXPECT_EQ(0, CheckNumCodeForm2->MinPixel);

    // First showing, OK at once: codes without pixels go.
    script.Then(Click({"BitBtn1"}), " Code Number Definition");
    EXPECT_EQ(QDialog::Accepted, form->RunModal(*CheckNumCodeForm2));
    EXPECT_EQ(0, CheckNumCodeForm2->MinPixel);
    EXPECT_TRUE(script.messages.empty());

    // Second showing: nothing checked; the minimum option shows the entry.
    std::vector<std::string> offered;
    bool entryOffered = true;
    bool entryAfterOption = false;
    script.Then([&](QDialog& dialog) {
        offered = CheckedOf(&dialog, options);
        entryOffered = EntryShown(&dialog);
        ClickButton(&dialog, "RadioButton2");
        entryAfterOption = EntryShown(&dialog);
        TypeInto(&dialog, "MinPixelEdit", "12abc");
        ClickButton(&dialog, "BitBtn1");
        return dialog.result();
    });
    EXPECT_EQ(QDialog::Accepted, form->RunModal(*CheckNumCodeForm2));
    EXPECT_TRUE(offered.empty());
    EXPECT_FALSE(entryOffered);
    EXPECT_TRUE(entryAfterOption);
    EXPECT_EQ(12, CheckNumCodeForm2->MinPixel);
    EXPECT_FALSE(EntryShown(d));  // OK hides it
    EXPECT_TRUE(CheckedOf(d, options).empty());
    EXPECT_TRUE(script.messages.empty());

    // Third showing, OK without an option: the warning, and the entry's number.
    script.Then(Click({"BitBtn1"}));
    EXPECT_EQ(QDialog::Accepted, form->RunModal(*CheckNumCodeForm2));
    EXPECT_EQ(std::vector<Message>{kCaution}, script.messages);
    EXPECT_EQ(12, CheckNumCodeForm2->MinPixel);

    // The zero option means 0 whatever the hidden entry holds.
    TypeInto(d, "MinPixelEdit", "7");
    ClickButton(d, "RadioButton1");
    EXPECT_FALSE(EntryShown(d));
    EXPECT_EQ(0, CheckNumCodeForm2->MinPixel);
    ClickButton(d, "BitBtn1");
    EXPECT_EQ(0, CheckNumCodeForm2->MinPixel);

    // An empty entry reads as 0.
    ClickButton(d, "RadioButton2");
    TypeInto(d, "MinPixelEdit", "");
    CheckNumCodeForm2->MinPixel = 5;
    ClickButton(d, "BitBtn1");
    EXPECT_EQ(0, CheckNumCodeForm2->MinPixel);
    EXPECT_EQ(1u, script.messages.size());
}

TEST_F(ProgramTest, LargeCodeDialogFrameClicks) {
    QDialog* d = CheckNumCodeForm2;
    ClickButton(d, "RadioButton2");
    TypeInto(d, "MinPixelEdit", "300");
    ClickFrame(d, "GroupBox3");
    EXPECT_EQ(300, CheckNumCodeForm2->MinPixel);
    ClickButton(d, "RadioButton1");  // hides the entry, minimum 0
    EXPECT_FALSE(EntryShown(d));
    CheckNumCodeForm2->MinPixel = 4;
    ClickFrame(d, "GroupBox2");
    EXPECT_EQ(0, CheckNumCodeForm2->MinPixel);
    ClickButton(d, "RadioButton2");
    d->findChild<QGroupBox*>("GroupBox3")->hide();
    ClickFrame(d, "GroupBox2");
    EXPECT_TRUE(EntryShown(d));
}

// ----- the code table in the memo -----

TEST_F(ProgramTest, DisplayTableAppendsAfterTheFirstEmptyLine) {
    SmallTable small;
    CheckNumCodeForm1->Table = &small.table;
    CheckNumCodeForm1->PixelCounts = &small.counts;
    QDialog* d = CheckNumCodeForm1;
    auto* memo = d->findChild<TCodeTableMemo*>("Memo");
    ASSERT_NE(memo, nullptr);
    const std::string table = kSmallTableText;

    ClickButton(d, "RadioButton4");
    EXPECT_EQ("\n" + table, memo->toPlainText().toStdString());
    EXPECT_EQ(15, memo->LineCount());
    EXPECT_EQ((std::vector<std::string>{"RadioButton4"}),
              CheckedOf(d, {"RadioButton4", "RadioButton5"}));

    // Checked again while checked: nothing more.
    ClickButton(d, "RadioButton4");
    EXPECT_EQ("\n" + table, memo->toPlainText().toStdString());

    // Erase removes every line, the first empty one too; the table then comes once.
    ClickButton(d, "RadioButton5");
    EXPECT_EQ("", memo->toPlainText().toStdString());
    EXPECT_EQ((std::vector<std::string>{"RadioButton5"}),
              CheckedOf(d, {"RadioButton4", "RadioButton5"}));
    ClickButton(d, "RadioButton4");
    EXPECT_EQ(table, memo->toPlainText().toStdString());

    // Shown again at a later crossing without erasing: appended after the old one.
    ClickButton(d, "RadioButton5");
    ClickButton(d, "RadioButton4");
    script.Then([&](QDialog& dialog) {
        ClickButton(&dialog, "BitBtn1");
        return dialog.result();
    });
    form->RunModal(*CheckNumCodeForm1);
    EXPECT_EQ((std::vector<std::string>{"RadioButton4"}),
              CheckedOf(d, {"RadioButton4", "RadioButton5"}));  // OK leaves the table options
    ClickButton(d, "RadioButton5");
    ClickButton(d, "RadioButton4");
    ClickButton(d, "RadioButton5");
    ClickButton(d, "RadioButton4");
    EXPECT_EQ(table, memo->toPlainText().toStdString());
    memo->clear();
    CheckNumCodeForm1->Table = nullptr;
    CheckNumCodeForm1->PixelCounts = nullptr;
}

TEST_F(ProgramTest, DisplayTableWithoutATableAddsNothing) {
    auto* memo = CheckNumCodeForm1->findChild<TCodeTableMemo*>("Memo");
    ASSERT_NE(memo, nullptr);
    ClickButton(CheckNumCodeForm1, "RadioButton4");
    EXPECT_EQ("", memo->toPlainText().toStdString());
    EXPECT_EQ(1, memo->LineCount());
}

TEST_F(ProgramTest, LargeCodeDialogShowsTheTableInItsOwnMemo) {
    SmallTable small;
    CheckNumCodeForm2->Table = &small.table;
    CheckNumCodeForm2->PixelCounts = &small.counts;
    QDialog* d = CheckNumCodeForm2;
    auto* memo = d->findChild<TCodeTableMemo*>("Memo2");
    ASSERT_NE(memo, nullptr);
    const std::string table = kSmallTableText;

    ClickButton(d, "RadioButton3");
    EXPECT_EQ("\n" + table, memo->toPlainText().toStdString());
    ClickButton(d, "RadioButton3");
    EXPECT_EQ("\n" + table, memo->toPlainText().toStdString());
    ClickButton(d, "RadioButton4");
    EXPECT_EQ("", memo->toPlainText().toStdString());
    EXPECT_EQ((std::vector<std::string>{"RadioButton4"}),
              CheckedOf(d, {"RadioButton3", "RadioButton4"}));
    ClickButton(d, "RadioButton3");
    EXPECT_EQ(table, memo->toPlainText().toStdString());
    // The other dialog's memo is untouched.
    EXPECT_EQ("",
              CheckNumCodeForm1->findChild<TCodeTableMemo*>("Memo")->toPlainText().toStdString());
    CheckNumCodeForm2->Table = nullptr;
    CheckNumCodeForm2->PixelCounts = nullptr;
}

TEST_F(ProgramTest, DisplayTableOfManyCodes) {
    auto built = tessera::BuildCodeTable({0, 100, 10, 10});
    ASSERT_TRUE(built) << built.message;
    std::vector<int64_t> counts(10001);
    for (int c = 1; c <= 10000; ++c) counts[c] = c % 7;
    CheckNumCodeForm2->Table = &*built.value;
    CheckNumCodeForm2->PixelCounts = &counts;
    auto* memo = CheckNumCodeForm2->findChild<TCodeTableMemo*>("Memo2");
    ASSERT_NE(memo, nullptr);
    ClickButton(CheckNumCodeForm2, "RadioButton3");
    ASSERT_EQ(1 + 2 + 10000, memo->LineCount());
    EXPECT_EQ("   CODES\t   B1\t   B2\t   B3\t   NUMPIX", memo->Line(1).toStdString());
    // Code 10000 = (100, 10, 10); 10000 % 7 = 4.
    EXPECT_EQ("   10000\t   100\t   10\t   10\t   4",
              memo->Line(memo->LineCount() - 1).toStdString());
    // Code 1234 = (13, 4, 4): (1234 - 1) = 12 * 100 + 3 * 10 + 3; 1234 % 7 = 2.
    EXPECT_EQ("   1234\t   13\t   4\t   4\t   2", memo->Line(3 + 1233).toStdString());
    CheckNumCodeForm2->Table = nullptr;
    CheckNumCodeForm2->PixelCounts = nullptr;
}

// ----- the new minimum -----

TEST_F(ProgramTest, NewMinimumDialogFollowsItsEntry) {
    QDialog* d = CheckNumCodeForm3;
    // The crossing writes the remaining count, the user types a minimum.
    CheckNumCodeForm3->TotNumCodeEdit->setText("612");
    std::string remainingShown;
    script.Then(
        [&](QDialog& dialog) {
            remainingShown = Text(&dialog, "TotNumCodeEdit");
            TypeInto(&dialog, "NewTotCodeEdit", "40");
            ClickButton(&dialog, "BitBtn1");
            return dialog.result();
        },
        " Code Number Definition");
    EXPECT_EQ(QDialog::Accepted, form->RunModal(*CheckNumCodeForm3));
    EXPECT_EQ("612", remainingShown);
    EXPECT_EQ(40, CheckNumCodeForm3->MinPixel);

    // Still too many: shown again with the entry kept; OK alone reads it once more.
    CheckNumCodeForm3->TotNumCodeEdit->setText("300");
    CheckNumCodeForm3->MinPixel = -9;
    std::string kept;
    script.Then([&](QDialog& dialog) {
        kept = Text(&dialog, "NewTotCodeEdit");
        ClickButton(&dialog, "BitBtn1");
        return dialog.result();
    });
    form->RunModal(*CheckNumCodeForm3);
    EXPECT_EQ("40", kept);
    EXPECT_EQ(40, CheckNumCodeForm3->MinPixel);

    // Every change counts, even without OK (the close box).
    script.Then([&](QDialog& dialog) {
        TypeInto(&dialog, "NewTotCodeEdit", "75 pixels");
        dialog.reject();
        return dialog.result();
    });
    form->RunModal(*CheckNumCodeForm3);
    EXPECT_EQ(75, CheckNumCodeForm3->MinPixel);
    TypeInto(d, "NewTotCodeEdit", "none");
    EXPECT_EQ(0, CheckNumCodeForm3->MinPixel);
    EXPECT_TRUE(script.messages.empty());
}

// ----- through the real modal loop -----

TEST_F(ProgramTest, NewMinimumEnterPressesOk) {
    TCheckNumCodeForm3& dialog = *CheckNumCodeForm3;
    int result = -1;
    RunRealExec(
        dialog, [&] { result = dialog.exec(); },
        [](QDialog& d) {
            auto* edit = d.findChild<QLineEdit*>("NewTotCodeEdit");
            edit->setFocus();
            edit->setText("33");
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(edit, &enter);
        });
    EXPECT_EQ(QDialog::Accepted, result);
    EXPECT_EQ(33, dialog.MinPixel);
}

TEST_F(ProgramTest, SmallCodeDialogCloseBoxKeepsTheOptions) {
    TCheckNumCodeForm1& dialog = *CheckNumCodeForm1;
    int result = -1;
    RunRealExec(
        dialog, [&] { result = dialog.exec(); },
        [](QDialog& d) {
            d.findChild<QAbstractButton*>("RadioButton2")->click();
            d.findChild<QLineEdit*>("MinPixelEdit")->setText("6");
            d.close();
        });
    EXPECT_EQ(QDialog::Rejected, result);
    // What the option click left is what the crossing reads; OK alone unchecks and re-reads.
    EXPECT_TRUE(dialog.SelectByMinimum);
    EXPECT_EQ(0, dialog.MinPixel);
    EXPECT_TRUE(dialog.RadioButton2->isChecked());
    EXPECT_TRUE(script.messages.empty());
}

// The entry of the minimum that "Defining a minimum..." shows takes the focus, ready for typing.
TEST_F(ProgramTest, DefiningAMinimumPutsTheFocusInItsEntry) {
    for (TCodeSelectionForm* dialog : {static_cast<TCodeSelectionForm*>(CheckNumCodeForm1),
                                       static_cast<TCodeSelectionForm*>(CheckNumCodeForm2)}) {
        std::string focused = "none";
        bool selected = false;
        RunRealExec(
            *dialog, [&] { dialog->exec(); },
            [&](QDialog& d) {
                d.findChild<QAbstractButton*>("RadioButton2")->click();
                if (QWidget* widget = d.focusWidget()) focused = widget->objectName().toStdString();
                selected = d.findChild<QLineEdit*>("MinPixelEdit")->hasSelectedText();
                d.reject();
            });
        EXPECT_EQ("MinPixelEdit", focused) << dialog->objectName().toStdString();
        EXPECT_TRUE(selected) << dialog->objectName().toStdString();
    }
}

}  // namespace
