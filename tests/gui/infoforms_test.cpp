// The nine information dialogs: captions, sizes, fixed texts, the OK button, and the menu
// commands that show them.
#include "app/infoforms.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextLayout>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "gui/guitest.h"

namespace {
using guitest::ProgramTest;

struct InfoDialog {
    QDialog* dialog;
    const char* caption;
    int width;
    int height;
    const char* command;  // menu item that shows it
};

std::vector<InfoDialog> AllInfoDialogs() {
    return {
        {AuthorForm, " Author", 310, 322, "Author"},
        {CopyrightForm, " Copyright", 292, 188, "Copyright"},
        {EnglishInfoForm, " Info", 356, 226, "English"},
        {FrenchInfoForm, " Info", 395, 233, "French"},
        {SpanishInfoForm, " Info", 355, 248, "Spanish"},
        {ReferenceForm, " Reference", 258, 418, "References"},
        {InfoSegmSSForm, " Segmentation Treatment Info", 310, 144, "InfoSegmSS"},
        {EquipopInfoForm, " Equipopulation Treatment Info", 326, 142, "Equipopulation"},
        {DefinitionInfoForm, " Definition Treatment Info", 293, 142, "Definition"},
    };
}

std::string Text(const QLabel* label) {
    return label->text().toStdString();
}

// The label lies wholly inside its window, so none of its text is cut off.
void ExpectWhollyVisible(const QLabel* label) {
    const QWidget* window = label->window();
    const QRect inWindow(label->mapTo(window, QPoint(0, 0)), label->size());
    EXPECT_TRUE(window->rect().contains(inWindow)) << Text(label);
    if (label->wordWrap()) {
        EXPECT_GE(label->height(), label->heightForWidth(label->width())) << Text(label);
    } else {
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
            << Text(label);
    }
}

TEST_F(ProgramTest, InfoDialogsHaveTheirCaptionsAndSizes) {
    for (const InfoDialog& info : AllInfoDialogs()) {
        ASSERT_NE(nullptr, info.dialog) << info.command;
        EXPECT_EQ(info.caption, info.dialog->windowTitle().toStdString()) << info.command;
        EXPECT_EQ(info.width, info.dialog->width()) << info.command;
        EXPECT_EQ(info.height, info.dialog->height()) << info.command;
        EXPECT_FALSE(info.dialog->isVisible()) << info.command;
        EXPECT_EQ(MainForm, info.dialog->parentWidget()) << info.command;
    }
}

TEST_F(ProgramTest, OkButtonStandsBottomRightBelowTheContents) {
    for (const InfoDialog& info : AllInfoDialogs()) {
        const auto* ok = info.dialog->findChild<QPushButton*>("BitBtn1");
        ASSERT_NE(nullptr, ok) << info.command;
        EXPECT_EQ("OK", ok->text().toStdString()) << info.command;
        const QRect button = ok->geometry();
        EXPECT_TRUE(info.dialog->rect().contains(button)) << info.command;
        EXPECT_GT(button.left(), info.width / 2) << info.command << ": not on the right";
        // Nothing else reaches below the button's top.
        for (const QWidget* child :
             info.dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child == ok || !child->isVisibleTo(info.dialog)) continue;
            EXPECT_LE(child->geometry().bottom(), button.top())
                << info.command << ": " << child->objectName().toStdString() << " below OK";
        }
    }
}

TEST_F(ProgramTest, SegmentationInfoDialogsShowTheirTwoLines) {
    struct Row {
        QLabel* first;
        QLabel* second;
        const char* line1;
        const char* line2;
    };
    const Row rows[] = {
        {InfoSegmSSForm->Label1, InfoSegmSSForm->Label2,
         "The dynamic scale is segmented considering its minimum", "and its maximum value."},
        {EquipopInfoForm->Label1, EquipopInfoForm->Label2,
         "The program tries to obtain an equal distribution of the ",
         "pixel number in each segment."},
        {DefinitionInfoForm->Label1, DefinitionInfoForm->Label2,
         "The user defines the dynamic scale limits  of each ",
         "segment based on a previous histogram analysis."},
    };
    for (const Row& row : rows) {
        ASSERT_NE(nullptr, row.first);
        ASSERT_NE(nullptr, row.second);
        EXPECT_EQ(row.line1, Text(row.first));
        EXPECT_EQ(row.line2, Text(row.second));
        EXPECT_LE(row.first->y() + row.first->height(), row.second->y()) << row.line1;
        // In the dialogs' own font, not a smaller one.
        EXPECT_EQ(QApplication::font(row.first).pointSizeF(), row.first->font().pointSizeF());
        ExpectWhollyVisible(row.first);
        ExpectWhollyVisible(row.second);
    }
}

// The lines of a wrapped label as it lays them out at its width.
QStringList WrappedLines(const QLabel* label) {
    QTextLayout layout(label->text(), label->font());
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
        line.setLineWidth(label->contentsRect().width());
    layout.endLayout();
    QStringList lines;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        lines << label->text().mid(line.textStart(), line.textLength()).trimmed();
    }
    return lines;
}

// A method's line that wraps leaves no word alone on its last line.
TEST_F(ProgramTest, SegmentationInfoLinesLeaveNoWordAlone) {
    for (QDialog* dialog :
         std::initializer_list<QDialog*>{InfoSegmSSForm, EquipopInfoForm, DefinitionInfoForm}) {
        for (const char* name : {"Label1", "Label2"}) {
            const auto* label = dialog->findChild<QLabel*>(name);
            ASSERT_NE(nullptr, label);
            const QStringList lines = WrappedLines(label);
            ASSERT_FALSE(lines.isEmpty());
            EXPECT_EQ(label->heightForWidth(label->width()), label->height()) << Text(label);
            if (lines.size() < 2) continue;
            // Nor a short tail: the last line is at least half as wide as the widest.
            const QFontMetrics metrics(label->font());
            int widest = 0;
            for (const QString& line : lines)
                widest = std::max(widest, metrics.horizontalAdvance(line));
            const std::string shown = lines.join(" | ").toStdString();
            EXPECT_TRUE(lines.last().contains(' ')) << shown;
            EXPECT_GE(2 * metrics.horizontalAdvance(lines.last()), widest) << shown;
        }
    }
}

TEST_F(ProgramTest, AuthorDialogHasFiveThenFourLines) {
    ASSERT_NE(nullptr, AuthorForm->GroupBox1);
    ASSERT_NE(nullptr, AuthorForm->GroupBox2);
    EXPECT_EQ(5, AuthorForm->GroupBox1->findChildren<QLabel*>().size());
    EXPECT_EQ(4, AuthorForm->GroupBox2->findChildren<QLabel*>().size());
    EXPECT_LT(AuthorForm->GroupBox1->y(), AuthorForm->GroupBox2->y());
    QString credits;
    for (const QLabel* label : AuthorForm->AuthorLabels) {
        ASSERT_NE(nullptr, label);
        EXPECT_EQ(AuthorForm->GroupBox1, label->parentWidget());
        EXPECT_FALSE(label->text().trimmed().isEmpty());
        ExpectWhollyVisible(label);
        credits += label->text() + " ";
    }
    for (const QLabel* label : AuthorForm->ContactLabels) {
        ASSERT_NE(nullptr, label);
        EXPECT_EQ(AuthorForm->GroupBox2, label->parentWidget());
        EXPECT_FALSE(label->text().trimmed().isEmpty());
        ExpectWhollyVisible(label);
    }
    EXPECT_TRUE(credits.contains("the Tessera_V2 project")) << credits.toStdString();
    EXPECT_TRUE(credits.contains("contributors")) << credits.toStdString();
}

TEST_F(ProgramTest, CopyrightDialogNamesTheRightsHolderInLargeBoldType) {
    const QLabel* labels[] = {CopyrightForm->Label1, CopyrightForm->Label2, CopyrightForm->Label3};
    for (const QLabel* label : labels) {
        ASSERT_NE(nullptr, label);
        EXPECT_EQ(CopyrightForm->GroupBox1, label->parentWidget());
        ExpectWhollyVisible(label);
    }
    EXPECT_EQ("Tessera_V2 Project", Text(CopyrightForm->Label1));
    EXPECT_EQ(24, CopyrightForm->Label1->font().pixelSize());
    EXPECT_TRUE(CopyrightForm->Label1->font().bold());
    EXPECT_FALSE(CopyrightForm->Label2->font().bold());
    EXPECT_LT(CopyrightForm->Label1->y(), CopyrightForm->Label2->y());
    EXPECT_LT(CopyrightForm->Label2->y(), CopyrightForm->Label3->y());
}

TEST_F(ProgramTest, DescriptionMemosAreEditableAndSized) {
    struct Row {
        QPlainTextEdit* memo;
        int width;
        int height;
        const char* language;
        const char* bands;  // "up to ten bands", in the memo's language
    };
    const Row rows[] = {
        {EnglishInfoForm->Memo1, 321, 137, "English", "up to ten bands"},
        {FrenchInfoForm->Memo1, 361, 145, "French", "dix bandes au plus"},
        {SpanishInfoForm->Memo1, 321, 161, "Spanish", "hasta diez bandas"},
    };
    for (const Row& row : rows) {
        ASSERT_NE(nullptr, row.memo) << row.language;
        EXPECT_EQ(row.width, row.memo->width()) << row.language;
        EXPECT_EQ(row.height, row.memo->height()) << row.language;
        EXPECT_FALSE(row.memo->isReadOnly()) << row.language;
        const QString text = row.memo->toPlainText();
        EXPECT_TRUE(text.contains("MS-DOS")) << row.language;
        EXPECT_TRUE(text.contains(row.bands)) << row.language;
        // An edit stays in the memo.
        row.memo->appendPlainText("note");
        EXPECT_TRUE(row.memo->toPlainText().endsWith("note")) << row.language;
    }
    EXPECT_TRUE(EnglishInfoForm->Memo1->toPlainText().contains("crossing"));
    EXPECT_TRUE(FrenchInfoForm->Memo1->toPlainText().contains("croisement"));
    EXPECT_TRUE(SpanishInfoForm->Memo1->toPlainText().contains("cruce"));
}

TEST(InfoForms, SpanishDescriptionEndsWithBlankLines) {
    TSpanishInfoForm spanish;
    const QStringList lines = spanish.Memo1->toPlainText().split('\n');
    int blankAtEnd = 0;
    while (blankAtEnd < lines.size() && lines[lines.size() - 1 - blankAtEnd].trimmed().isEmpty()) {
        ++blankAtEnd;
    }
    EXPECT_GE(blankAtEnd, 2);
    EXPECT_LT(blankAtEnd, lines.size()) << "the memo holds no text";
}

TEST_F(ProgramTest, ReferenceDialogShowsAPictureAboveThreeLines) {
    ASSERT_NE(nullptr, ReferenceForm->Image1);
    EXPECT_EQ(QSize(209, 249), ReferenceForm->Image1->size());
    EXPECT_EQ(QSize(209, 249), ReferenceForm->Image1->pixmap().size());
    const QImage picture = ReferenceForm->Image1->pixmap().toImage();
    EXPECT_NE(picture.pixel(20, 20), picture.pixel(100, 200)) << "the picture is blank";
    const QLabel* lines[] = {ReferenceForm->Label1, ReferenceForm->Label2, ReferenceForm->Label3};
    int previousTop = ReferenceForm->Image1->geometry().bottom();
    for (const QLabel* line : lines) {
        ASSERT_NE(nullptr, line);
        EXPECT_FALSE(line->text().trimmed().isEmpty());
        EXPECT_EQ(15, line->font().pixelSize()) << Text(line);
        EXPECT_GT(line->y(), previousTop) << Text(line);
        ExpectWhollyVisible(line);
        previousTop = line->y();
    }
}

// ----- the commands that show them -----

TEST_F(ProgramTest, AboutMenuShowsItsDialogsFromTheStart) {
    const std::vector<std::pair<const char*, const char*>> commands = {
        {"Author", " Author"}, {"Copyright", " Copyright"}, {"English", " Info"},
        {"French", " Info"},   {"Spanish", " Info"},        {"References", " Reference"}};
    for (const auto& [command, caption] : commands) {
        script.Then(guitest::Accept(), caption);
        Trigger(command);
        EXPECT_TRUE(script.AllAnswersUsed()) << command << " showed no dialog";
    }
    const std::vector<QString> shown = {" Author", " Copyright", " Info",
                                        " Info",   " Info",      " Reference"};
    EXPECT_EQ(shown, script.dialogTitles);
    EXPECT_TRUE(script.messages.empty());
}

TEST_F(ProgramTest, LanguageCommandsShowTheirOwnDialogs) {
    std::vector<QDialog*> shown;
    const auto record = [&shown](QDialog& dialog) {
        shown.push_back(&dialog);
        dialog.accept();
        return static_cast<int>(QDialog::Accepted);
    };
    for (int k = 0; k < 3; ++k) script.Then(record);
    Trigger("English");
    Trigger("French");
    Trigger("Spanish");
    const std::vector<QDialog*> expected = {EnglishInfoForm, FrenchInfoForm, SpanishInfoForm};
    EXPECT_EQ(expected, shown);
}

TEST_F(ProgramTest, SegmentationInfoCommandsWaitForABandSet) {
    EXPECT_FALSE(Enabled("Treatments"));
    form->ws.Advance(tessera::StepBandSetOpened);
    form->UpdateCommands();
    ASSERT_TRUE(Enabled("Treatments"));
    const std::vector<std::pair<const char*, const char*>> commands = {
        {"InfoSegmSS", " Segmentation Treatment Info"},
        {"Equipopulation", " Equipopulation Treatment Info"},
        {"Definition", " Definition Treatment Info"}};
    for (const auto& [command, caption] : commands) {
        script.Then(guitest::Accept(), caption);
        Trigger(command);
    }
    EXPECT_EQ(3u, script.dialogTitles.size());
    EXPECT_EQ(tessera::StepBandSetOpened, form->ws.Step());
}

TEST_F(ProgramTest, OkButtonClosesEachDialog) {
    for (const InfoDialog& info : AllInfoDialogs()) {
        script.Then(guitest::Click({"BitBtn1"}), info.caption);
        info.dialog->show();
        if (std::string(info.command) == "InfoSegmSS") {
            form->ws.Advance(tessera::StepBandSetOpened);
            form->UpdateCommands();
        }
        Trigger(info.command);
        EXPECT_FALSE(info.dialog->isVisible()) << info.command;
        EXPECT_EQ(QDialog::Accepted, info.dialog->result()) << info.command;
    }
}

// Through the real exec(): the OK button ends the modal loop.
TEST_F(ProgramTest, OkButtonEndsTheRealModalLoop) {
    for (const InfoDialog& info : AllInfoDialogs()) {
        bool clicked = false;
        QTimer::singleShot(0, info.dialog, [&clicked] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) return;
            if (auto* ok = modal->findChild<QPushButton*>("BitBtn1")) {
                clicked = true;
                ok->click();
            }
        });
        // Should OK fail to close the dialog, end the loop anyway so the run cannot hang.
        QTimer::singleShot(5000, info.dialog, [dialog = info.dialog] { dialog->done(-1); });
        const int result = info.dialog->exec();
        EXPECT_TRUE(clicked) << info.command << ": no modal dialog with an OK button";
        EXPECT_EQ(QDialog::Accepted, result) << info.command;
        EXPECT_FALSE(info.dialog->isVisible()) << info.command;
    }
}

// The gray-tone count's message has an empty caption: the desktop is given one blank rather
// than nothing, which it would replace by the program's name.
TEST_F(ProgramTest, AnEmptyMessageCaptionReadsAsEmpty) {
    QString widgetTitle = "unset", windowTitle = "unset";
    QTimer::singleShot(0, form, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return;
        widgetTitle = modal->windowTitle();
        windowTitle = modal->windowHandle() ? modal->windowHandle()->title() : "no window";
        modal->close();
    });
    ShowMessageBox(" 12 gray tones in the Original Image ", "");
    EXPECT_EQ("", widgetTitle.toStdString());
    EXPECT_EQ(" ", windowTitle.toStdString());
}

}  // namespace
