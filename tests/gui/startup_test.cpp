// Start-up: the windows exist, the frame with its menu, tool bar and status bar, the command
// steps, the latching tool group, the cursors, window arrangement and the file dialogs.
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QKeySequence>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/forms.h"
#include "app/infoforms.h"
#include "app/mainwindow.h"
#include "bands/ui/imagesize.h"
#include "bands/ui/numband.h"
#include "crossing/ui/checknumcode1.h"
#include "crossing/ui/checknumcode2.h"
#include "crossing/ui/checknumcode3.h"
#include "gui/guitest.h"
#include "segmentation/ui/segmentation.h"
#include "segmentation/ui/segmentdefinition.h"
#include "testfiles.h"
#include "view/ui/histogris.h"
#include "view/ui/imagewindow.h"
#include "view/ui/resultimage.h"
#include "view/ui/tempimage.h"

namespace {
using guitest::ProgramTest;

std::string Title(const QWidget* window) {
    return window->windowTitle().toStdString();
}

// ----- the 21 windows -----

TEST_F(ProgramTest, MainWindowCaptionHasLeadingBlank) {
    EXPECT_EQ(" Tessera_V2", form->windowTitle().toStdString());
    EXPECT_EQ(form, MainForm);
}

TEST_F(ProgramTest, EveryWindowExistsWithItsCaption) {
    const std::vector<std::pair<const QWidget*, std::string>> windows = {
        {MainForm, " Tessera_V2"},
        {ResultImageForm, " PANEL 3  (1:1)"},
        {ImageForm, " PANEL 1  (1:1)"},
        {HistoGrisForm, " HISTOGRAM"},
        {ImageSizeForm, " Image Size"},
        {AuthorForm, " Author"},
        {EnglishInfoForm, " Info"},
        {FrenchInfoForm, " Info"},
        {CopyrightForm, " Copyright"},
        {SpanishInfoForm, " Info"},
        {TempImageForm, " PANEL 2  (1:1)"},
        {NumBandForm, " BANDS"},
        {SegmentationForm, ""},
        {SegmentDefinitionForm, " Segment Definition "},
        {CheckNumCodeForm1, " Code Number Definition"},
        {CheckNumCodeForm2, " Code Number Definition"},
        {CheckNumCodeForm3, " Code Number Definition"},
        {InfoSegmSSForm, " Segmentation Treatment Info"},
        {EquipopInfoForm, " Equipopulation Treatment Info"},
        {DefinitionInfoForm, " Definition Treatment Info"},
        {ReferenceForm, " Reference"},
    };
    ASSERT_EQ(21u, windows.size());
    int index = 0;
    for (const auto& [window, caption] : windows) {
        ++index;
        ASSERT_NE(nullptr, window) << "window #" << index;
        EXPECT_EQ(caption, Title(window)) << "window #" << index;
    }
}

TEST_F(ProgramTest, FrameShowsThreeEmptyChildrenAndHidesEveryDialog) {
    EXPECT_TRUE(form->isVisible());
    const QList<QMdiSubWindow*> children = form->MdiArea->subWindowList();
    EXPECT_EQ(3, children.size());
    for (const QWidget* child :
         {static_cast<QWidget*>(ImageForm), static_cast<QWidget*>(TempImageForm),
          static_cast<QWidget*>(ResultImageForm)}) {
        EXPECT_TRUE(child->isVisible()) << Title(child);
        EXPECT_TRUE(children.contains(qobject_cast<QMdiSubWindow*>(const_cast<QWidget*>(child))))
            << Title(child) << " is not a child of the frame";
    }
    const std::vector<const QWidget*> dialogs = {
        HistoGrisForm,     ImageSizeForm,         AuthorForm,        EnglishInfoForm,
        FrenchInfoForm,    CopyrightForm,         SpanishInfoForm,   NumBandForm,
        SegmentationForm,  SegmentDefinitionForm, CheckNumCodeForm1, CheckNumCodeForm2,
        CheckNumCodeForm3, InfoSegmSSForm,        EquipopInfoForm,   DefinitionInfoForm,
        ReferenceForm};
    for (const QWidget* dialog : dialogs) EXPECT_FALSE(dialog->isVisible()) << Title(dialog);
}

TEST_F(ProgramTest, FrameToolBarAndStatusBarHaveTheirSizes) {
    EXPECT_EQ(683, form->width());
    EXPECT_EQ(657, form->height());
    ASSERT_NE(nullptr, form->ToolBar1);
    EXPECT_EQ(34, form->ToolBar1->height());
    EXPECT_EQ(Qt::TopToolBarArea, form->toolBarArea(form->ToolBar1));
    ASSERT_NE(nullptr, form->StatusBar);
    EXPECT_EQ(form->statusBar(), form->StatusBar);
    for (int panel = 0; panel < 4; ++panel) {
        ASSERT_NE(nullptr, form->Panels[panel]) << "panel " << panel;
        EXPECT_EQ("", form->PanelText(panel).toStdString()) << "panel " << panel;
    }
    // A frame with room gives each panel its 250 pixels, side by side, left to right.
    form->resize(1100, 657);
    QApplication::processEvents();
    for (int panel = 0; panel < 4; ++panel)
        EXPECT_EQ(250, form->Panels[panel]->width()) << "panel " << panel;
    for (int panel = 1; panel < 4; ++panel) {
        EXPECT_EQ(form->Panels[panel - 1]->geometry().right() + 1, form->Panels[panel]->x())
            << "panel " << panel;
    }
    form->resize(683, 657);
    QApplication::processEvents();
    form->SetPanel(2, "Gray Tone :   17 ");
    EXPECT_EQ("Gray Tone :   17 ", form->Panels[2]->text().toStdString());
    EXPECT_EQ("Gray Tone :   17 ", form->PanelText(2).toStdString());
}

// At the frame's own width the four panels stand whole in the status bar, each showing its
// longest read-out; the map panel takes what they leave, and its long texts are cut short.
TEST_F(ProgramTest, StatusPanelsStayInSightAtTheFramesWidthAndTheMapPanelGivesWay) {
    ASSERT_EQ(683, form->width());
    const QStringList readOuts = {"Line:   399  Column:   599 ", "R: 255 G: 255 B: 255  ",
                                  "Gray Tone :  250 ", "Image Size: 4000 lines x 4000 columns  "};
    auto expectWhole = [&](const char* when) {
        const int room = form->Panels[0]->parentWidget()->width();
        EXPECT_GE(room, 600) << when;
        for (int panel = 0; panel < 4; ++panel) {
            const QLabel* label = form->Panels[panel];
            EXPECT_TRUE(label->isVisibleTo(form)) << when << ", panel " << panel;
            EXPECT_LE(label->geometry().right(), room - 1) << when << ", panel " << panel;
            // Whole but for the trailing blanks.
            EXPECT_LE(
                label->fontMetrics().horizontalAdvance(readOuts[panel].trimmed()) + label->indent(),
                label->contentsRect().width())
                << when << ", panel " << panel << " cuts \"" << readOuts[panel].toStdString()
                << "\"";
            if (panel > 0) {
                EXPECT_EQ(form->Panels[panel - 1]->geometry().right() + 1, label->x()) << when;
            }
        }
    };
    for (int panel = 0; panel < 4; ++panel) form->SetPanel(panel, readOuts[panel]);
    QApplication::processEvents();
    expectWhole("without map coordinates");

    const QString notice =
        "Band 2: l8_b4.tif is a TIFF file, read as GeoTIFF (the type list "
        "said Raw Files [*.raw]) and a good deal more to say about it";
    form->SetMapPanel(notice);
    QApplication::processEvents();
    expectWhole("with a notice in the map panel");
    EXPECT_EQ(notice, form->MapPanel->text());  // whole, though shown cut short
    EXPECT_TRUE(form->MapPanel->isVisibleTo(form));
    EXPECT_EQ(form->Panels[3]->geometry().right() + 1, form->MapPanel->x());
    EXPECT_LE(form->MapPanel->geometry().right(), form->Panels[0]->parentWidget()->width() - 1);

    // Wide enough for all: the panels get their 250 pixels, the map panel the rest.
    form->resize(1300, 657);
    QApplication::processEvents();
    for (int panel = 0; panel < 4; ++panel) EXPECT_EQ(250, form->Panels[panel]->width());
    EXPECT_EQ(1000, form->MapPanel->x());
    EXPECT_GT(form->MapPanel->width(), 250);
    form->SetMapPanel(QString());
    EXPECT_FALSE(form->MapPanel->isVisibleTo(form));
}

// ----- menu -----

struct MenuEntry {
    std::string name;
    std::string caption;
    std::vector<MenuEntry> items;  // a submenu's entries
};

// A caption as the menu shows it: without the "&" of its mnemonic ("&&" is a shown "&").
std::string Shown(QString caption) {
    caption.replace("&&", QChar(0x1)).remove('&').replace(QChar(0x1), "&");
    return caption.toStdString();
}

void ExpectMenu(const QList<QAction*>& actions, const std::vector<MenuEntry>& expected,
                const std::string& path) {
    ASSERT_EQ(expected.size(), static_cast<size_t>(actions.size())) << "entries of " << path;
    for (size_t k = 0; k < expected.size(); ++k) {
        const QAction* action = actions[static_cast<int>(k)];
        const MenuEntry& entry = expected[k];
        const std::string where = path + " > " + entry.name;
        EXPECT_EQ(entry.name, action->objectName().toStdString()) << where;
        if (entry.caption == "-") {
            EXPECT_TRUE(action->isSeparator()) << where;
            continue;
        }
        // The caption as shown: its mnemonic's "&" only underlines the letter after it.
        EXPECT_EQ(entry.caption, Shown(action->text())) << where;
        if (entry.items.empty()) {
            EXPECT_EQ(nullptr, action->menu()) << where;
        } else {
            ASSERT_NE(nullptr, action->menu()) << where;
            EXPECT_EQ(entry.name, action->menu()->objectName().toStdString()) << where;
            EXPECT_EQ(entry.caption, Shown(action->menu()->title())) << where;
            ExpectMenu(action->menu()->actions(), entry.items, where);
        }
    }
}

TEST_F(ProgramTest, MenuTreeHasItsCaptionsAndNames) {
    const std::vector<MenuEntry> tree = {
        {"Files",
         "Files",
         {{"Open", "Open the Different Gray Tone  Images", {}},
          {"OpenMultiband", "Open Multi-band Image…", {}},
          {"OpenMask", "Open Mask…", {}},
          {"SaveTreatment", "Save Treatment…", {}},
          {"ApplyTreatment", "Apply Treatment…", {}},
          {"N1", "-", {}},
          {"Exit", "Exit", {}}}},
        {"Tools", "Tools", {{"Histo", "Histogram", {}}, {"GTNumber", "Gray Tones Number", {}}}},
        {"Treatments",
         "Treatments",
         {{"Segmentation",
           "Segmentation",
           {{"SegmInfo",
             "Info",
             {{"InfoSegmSS", "Segmentation Stricto Sensu", {}},
              {"Equipopulation", "Equipopulation", {}},
              {"Definition", "Definition", {}}}},
            {"SegmTreatment", "Treatment", {}}}},
          {"Classification",
           "Classification",
           {{"ClassifInfo", "Info", {}}, {"ClassifTreatment", "Treatment", {}}}}}},
        {"Window",
         "Window",
         {{"Cascade1", "Cascade", {}},
          {"Tile1", "Tile", {}},
          {"Previous1", "Previous", {}},
          {"Next1", "Next", {}}}},
        {"About",
         "About",
         {{"Author", "Author", {}},
          {"Copyright", "Copyright", {}},
          {"Infos",
           "Infos",
           {{"English", "English", {}}, {"French", "French", {}}, {"Spanish", "Spanish", {}}}},
          {"References", "References", {}}}},
    };
    ExpectMenu(form->menuBar()->actions(), tree, "menu bar");
}

void ExpectMnemonics(const QList<QAction*>& actions, const std::string& path) {
    std::set<QString> letters;
    for (const QAction* action : actions) {
        if (action->isSeparator()) continue;
        const std::string where = path + " > " + action->objectName().toStdString();
        const QKeySequence key = QKeySequence::mnemonic(action->text());
        ASSERT_FALSE(key.isEmpty())
            << where << " has no mnemonic: " << action->text().toStdString();
        EXPECT_TRUE(letters.insert(key.toString()).second)
            << where << ": " << key.toString().toStdString() << " is taken in its menu";
        if (action->menu()) ExpectMnemonics(action->menu()->actions(), where);
    }
}

TEST_F(ProgramTest, EveryMenuEntryHasAMnemonicOfItsOwnAndAltOrF10ReachTheMenuBar) {
    ExpectMnemonics(form->menuBar()->actions(), "menu bar");
    QMenu* files = form->findChild<QMenu*>("Files");
    ASSERT_NE(nullptr, files);
    EXPECT_EQ(QKeySequence(Qt::ALT | Qt::Key_F), QKeySequence::mnemonic(files->title()));
    EXPECT_EQ(QKeySequence(Qt::ALT | Qt::Key_O),
              QKeySequence::mnemonic(form->findChild<QAction*>("Open")->text()));

    // Alt alone puts the keyboard in the menu bar (the menu bar's own handling, which the
    // style allows).
    QMenuBar* bar = form->menuBar();
    EXPECT_EQ(1, bar->style()->styleHint(QStyle::SH_MenuBar_AltKeyNavigation, nullptr, bar));

    auto* menuKey = form->findChild<QAction*>("MenuKey");
    ASSERT_NE(nullptr, menuKey);
    EXPECT_EQ(QKeySequence(Qt::Key_F10), menuKey->shortcut());
    menuKey->trigger();
    EXPECT_EQ(files->menuAction(), form->menuBar()->activeAction());
    EXPECT_TRUE(guitest::WaitUntil([&] { return files->isVisible(); }));
    files->hide();
}

// A right click is the zoom tool's zoom out: it brings no menu, and nothing offers to hide the
// tool bar.
TEST_F(ProgramTest, NoContextMenuComesOverTheFrameOrTheWindows) {
    EXPECT_EQ(nullptr, form->createPopupMenu());
    Trigger("ZoomSpeedButton");
    auto rightClick = [&](QWidget* target) {
        const QPoint inside(4, 4);
        QContextMenuEvent event(QContextMenuEvent::Mouse, inside, target->mapToGlobal(inside));
        QApplication::sendEvent(target, &event);
        QApplication::processEvents();
        return QApplication::activePopupWidget();
    };
    for (QWidget* target : std::initializer_list<QWidget*>{
             ImageForm->PaintBox, TempImageForm->PaintBox, form->ToolBar1, form, form->StatusBar,
             form->MdiArea->viewport()}) {
        QWidget* popup = rightClick(target);
        EXPECT_EQ(nullptr, popup) << target->objectName().toStdString() << " brought a menu";
        if (popup) popup->close();
    }
    EXPECT_TRUE(form->ToolBar1->isVisibleTo(form));
}

// ----- tool bar -----

struct ToolButtonRow {
    const char* name;
    const char* hint;
    int width;
};

const std::vector<ToolButtonRow> kToolButtons = {
    {"OpenSpeedButton", "Open the Set of Gray Tone Images (10 Max.)",
     32},
    {"PreviousSpeedButton", "Previous Image", 16},
    {"NextSpeedButton", "Next Image", 16},
    {"SegmentationSpeedButton", "Segmentation", 32},
    {"PreviousSegmentedSpeedButton",
     "Previous Segmented Image", 16},
    {"NextSegmentedSpeedButton", "Next Segmented Image", 16},
    {"SaveSegmentedImageSpeedButton",
     "Save Segmented Image", 32},
    {"TreatmentSpeedButton", "Treatment", 32},
    {"HistoSpeedButton", "Histo", 32},
    {"ZoomSpeedButton", "Zoom", 32},
    {"SaveResultSpeedButton", "Save Result", 32},
    {"ExitSpeedButton", "Exit", 32},
};

TEST_F(ProgramTest, ToolButtonsHaveTheirHintsSizesAndGlyphs) {
    for (const ToolButtonRow& row : kToolButtons) {
        const QToolButton* button = form->findChild<QToolButton*>(row.name);
        ASSERT_NE(nullptr, button) << row.name;
        EXPECT_EQ(row.hint, button->toolTip().toStdString()) << row.name;
        EXPECT_EQ(row.width, button->width()) << row.name;
        EXPECT_EQ(32, button->height()) << row.name;
        EXPECT_FALSE(button->icon().isNull()) << row.name << " has no glyph";
        EXPECT_TRUE(form->ToolBar1->isAncestorOf(button)) << row.name;
    }
}

TEST_F(ProgramTest, ToolButtonsStandInOrderWithTheirSeparators) {
    QApplication::processEvents();
    // Space between a button and the next one; separators widen it.
    std::vector<int> gaps;
    for (size_t k = 1; k < kToolButtons.size(); ++k) {
        const QToolButton* left = form->findChild<QToolButton*>(kToolButtons[k - 1].name);
        const QToolButton* right = form->findChild<QToolButton*>(kToolButtons[k].name);
        ASSERT_TRUE(left && right) << kToolButtons[k].name;
        const int leftEdge = left->mapTo(form, QPoint(left->width(), 0)).x();
        const int rightEdge = right->mapTo(form, QPoint(0, 0)).x();
        gaps.push_back(rightEdge - leftEdge);
        EXPECT_GT(rightEdge, leftEdge - 1)
            << kToolButtons[k].name << " stands before " << kToolButtons[k - 1].name;
    }
    const int adjacent = gaps[0 + 1];  // Previous -> Next: same box, no separator
    EXPECT_EQ(adjacent, gaps[4]) << "Previous Segmented -> Next Segmented";
    // One separator everywhere else, two between Zoom and Save Result.
    for (size_t k : {0u, 2u, 3u, 5u, 6u, 7u, 8u, 10u}) {
        EXPECT_GE(gaps[k], adjacent + 8) << "before " << kToolButtons[k + 1].name;
        EXPECT_LT(gaps[k], adjacent + 16) << "before " << kToolButtons[k + 1].name;
    }
    EXPECT_GE(gaps[9], adjacent + 16) << "before SaveResultSpeedButton";
}

// ----- command steps -----

// Commands available from the start and never taken back.
const std::set<std::string> kAtStart = {"Files",           "Open",
                                        "OpenMultiband",   "Exit",
                                        "Segmentation",    "SegmInfo",
                                        "InfoSegmSS",      "Equipopulation",
                                        "Definition",      "SegmTreatment",
                                        "ClassifInfo",     "ClassifTreatment",
                                        "Window",          "Cascade1",
                                        "Tile1",           "Previous1",
                                        "Next1",           "About",
                                        "Author",          "Copyright",
                                        "Infos",           "English",
                                        "French",          "Spanish",
                                        "References",      "OpenSpeedButton",
                                        "ZoomSpeedButton", "ExitSpeedButton"};
const std::set<std::string> kAfterOpen = {"PreviousSpeedButton",
                                          "NextSpeedButton",
                                          "SegmentationSpeedButton",
                                          "Treatments",
                                          "HistoSpeedButton",
                                          "Tools",
                                          "Histo",
                                          "GTNumber"};
const std::set<std::string> kAfterSegmentation = {
    "PreviousSegmentedSpeedButton", "NextSegmentedSpeedButton", "SaveSegmentedImageSpeedButton",
    "TreatmentSpeedButton", "Classification"};
const std::set<std::string> kAfterCrossing = {"SaveResultSpeedButton"};

class CommandSteps : public ProgramTest {
  protected:
    // Every command's state against the commands the steps so far have enabled.
    void ExpectEnabled(const std::vector<const std::set<std::string>*>& steps,
                       const std::string& when) {
        std::set<std::string> enabled;
        for (const auto* step : steps) enabled.insert(step->begin(), step->end());
        for (const auto* group : {&kAtStart, &kAfterOpen, &kAfterSegmentation, &kAfterCrossing}) {
            for (const std::string& name : *group) {
                EXPECT_EQ(enabled.count(name) == 1, Enabled(QString::fromStdString(name)))
                    << name << " " << when;
            }
        }
    }
};

TEST_F(CommandSteps, OnlyOpenZoomExitWindowAndAboutAtStart) {
    ExpectEnabled({&kAtStart}, "at start");
}

TEST_F(CommandSteps, EachStepEnablesItsRowOfCommands) {
    form->ws.Advance(tessera::StepBandSetOpened);
    form->UpdateCommands();
    ExpectEnabled({&kAtStart, &kAfterOpen}, "after a band set was opened");
    form->ws.Advance(tessera::StepBandsSegmented);
    form->UpdateCommands();
    ExpectEnabled({&kAtStart, &kAfterOpen, &kAfterSegmentation}, "after a segmentation");
    form->ws.Advance(tessera::StepBandsCrossed);
    form->UpdateCommands();
    ExpectEnabled({&kAtStart, &kAfterOpen, &kAfterSegmentation, &kAfterCrossing},
                  "after a crossing");
}

TEST_F(CommandSteps, RepeatingAnEarlierStepDisablesNothing) {
    form->ws.Advance(tessera::StepBandsCrossed);
    form->UpdateCommands();
    form->ws.Advance(tessera::StepBandSetOpened);
    form->UpdateCommands();
    ExpectEnabled({&kAtStart, &kAfterOpen, &kAfterSegmentation, &kAfterCrossing},
                  "after opening again");
}

TEST_F(CommandSteps, MenusOfTheMenuBarFollowTheirEntries) {
    // The menu widgets and their menu-bar entries agree, so a disabled menu cannot be opened.
    for (const char* name : {"Tools", "Treatments", "Classification"}) {
        const QMenu* menu = form->findChild<QMenu*>(name);
        ASSERT_NE(nullptr, menu) << name;
        EXPECT_FALSE(menu->isEnabled()) << menu->objectName().toStdString();
        EXPECT_FALSE(menu->menuAction()->isEnabled()) << menu->objectName().toStdString();
    }
    form->ws.Advance(tessera::StepBandsSegmented);
    form->UpdateCommands();
    for (const char* name : {"Tools", "Treatments", "Classification"}) {
        const QMenu* menu = form->findChild<QMenu*>(name);
        ASSERT_NE(nullptr, menu) << name;
        EXPECT_TRUE(menu->isEnabled()) << menu->objectName().toStdString();
        EXPECT_TRUE(menu->menuAction()->isEnabled()) << menu->objectName().toStdString();
    }
}

TEST_F(CommandSteps, OpenFromMenuOrButtonRunsTheOpenSequence) {
    for (const char* command : {"Open", "OpenSpeedButton"}) {
        script.Then(guitest::Cancel(), " BANDS");
        Trigger(command);
        EXPECT_TRUE(script.AllAnswersUsed()) << command << " did not ask for the band count";
    }
    EXPECT_EQ((std::vector<QString>{" BANDS", " BANDS"}), script.dialogTitles);
    // The band-set-opened step comes even after a refused band count.
    EXPECT_EQ(tessera::StepBandSetOpened, form->ws.Step());
    ExpectEnabled({&kAtStart, &kAfterOpen}, "after the open sequence");
}

TEST_F(CommandSteps, ClassificationItemsDoNothing) {
    form->ws.Advance(tessera::StepBandsSegmented);
    form->UpdateCommands();
    QMdiSubWindow* active = form->MdiArea->activeSubWindow();
    Trigger("ClassifInfo");
    Trigger("ClassifTreatment");
    EXPECT_TRUE(script.messages.empty());
    EXPECT_TRUE(script.dialogTitles.empty());
    EXPECT_EQ(tessera::StepBandsSegmented, form->ws.Step());
    EXPECT_EQ(active, form->MdiArea->activeSubWindow());
    EXPECT_TRUE(form->isVisible());
}

// ----- the latching group: band and segmented-band stepping, zoom -----

class LatchingGroup : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        form->ws.Advance(tessera::StepBandsSegmented);
        form->UpdateCommands();
        for (const char* name : {"PreviousSpeedButton", "NextSpeedButton",
                                 "PreviousSegmentedSpeedButton", "NextSegmentedSpeedButton",
                                 "ZoomSpeedButton"})
            group.push_back(form->findChild<QToolButton*>(name));
    }
    std::vector<std::string> Down() const {
        std::vector<std::string> down;
        for (const QToolButton* button : group) {
            if (button->isChecked()) down.push_back(button->objectName().toStdString());
        }
        return down;
    }
    std::vector<QToolButton*> group;
};

using Names = std::vector<std::string>;

TEST_F(LatchingGroup, AllUpAtStartAndOnlyTheGroupLatches) {
    for (const QToolButton* button : group) {
        EXPECT_TRUE(button->isCheckable()) << button->objectName().toStdString();
    }
    EXPECT_EQ(Names{}, Down());
    EXPECT_FALSE(form->ZoomToolOn());
    for (const char* name :
         {"OpenSpeedButton", "SegmentationSpeedButton", "SaveSegmentedImageSpeedButton",
          "TreatmentSpeedButton", "HistoSpeedButton", "SaveResultSpeedButton", "ExitSpeedButton"}) {
        EXPECT_FALSE(form->findChild<QToolButton*>(name)->isCheckable()) << name;
    }
}

TEST_F(LatchingGroup, PressingOneRaisesTheOthers) {
    Trigger("ZoomSpeedButton");
    EXPECT_EQ(Names{"ZoomSpeedButton"}, Down());
    EXPECT_TRUE(form->ZoomToolOn());
    Trigger("NextSegmentedSpeedButton");
    EXPECT_EQ(Names{"NextSegmentedSpeedButton"}, Down());
    EXPECT_FALSE(form->ZoomToolOn());
    Trigger("PreviousSegmentedSpeedButton");
    EXPECT_EQ(Names{"PreviousSegmentedSpeedButton"}, Down());
    Trigger("ZoomSpeedButton");
    EXPECT_EQ(Names{"ZoomSpeedButton"}, Down());
}

TEST_F(LatchingGroup, PressingADownButtonRaisesIt) {
    Trigger("PreviousSegmentedSpeedButton");
    Trigger("PreviousSegmentedSpeedButton");
    EXPECT_EQ(Names{}, Down());
    Trigger("ZoomSpeedButton");
    Trigger("ZoomSpeedButton");
    EXPECT_EQ(Names{}, Down());
    EXPECT_FALSE(form->ZoomToolOn());
}

TEST_F(LatchingGroup, BandStepReleasesTheZoomToolBeforeItsHandlerRuns) {
    Trigger("ZoomSpeedButton");
    ASSERT_TRUE(form->ZoomToolOn());
    // The band step shows a notice (no band set is loaded); look at the group at that moment.
    std::vector<Names> downDuringHandler;
    const auto record = form->seam.showMessage;
    form->seam.showMessage = [&](const QString& text, const QString& caption) {
        downDuringHandler.push_back(Down());
        record(text, caption);
    };
    Trigger("PreviousSpeedButton");
    ASSERT_EQ(1u, downDuringHandler.size()) << "the band step did not run";
    EXPECT_EQ(Names{"PreviousSpeedButton"}, downDuringHandler[0]);
    EXPECT_EQ("INFO", script.messages.at(0).caption.toStdString());
    Trigger("NextSpeedButton");
    ASSERT_EQ(2u, downDuringHandler.size()) << "the band step did not run";
    EXPECT_EQ(Names{"NextSpeedButton"}, downDuringHandler[1]);
    EXPECT_FALSE(form->ZoomToolOn());
    // A down button pressed again still runs its step.
    Trigger("NextSpeedButton");
    ASSERT_EQ(3u, downDuringHandler.size()) << "the band step did not run";
    EXPECT_EQ(Names{}, downDuringHandler[2]);
}

// ----- cursors -----

// Pops every override cursor, answering how many there were.
int PopOverrideCursors() {
    int count = 0;
    while (QApplication::overrideCursor()) {
        QApplication::restoreOverrideCursor();
        ++count;
    }
    return count;
}

TEST_F(ProgramTest, MagnifierIsRegisteredAsCursorThirty) {
    ASSERT_EQ(1u, form->Cursors.count(crLoupe));
    const QCursor& magnifier = form->Cursors.at(crLoupe);
    EXPECT_EQ(Qt::BitmapCursor, magnifier.shape());
    EXPECT_FALSE(magnifier.pixmap().isNull());
    const QRect area(QPoint(0, 0), magnifier.pixmap().size());
    EXPECT_TRUE(area.contains(magnifier.hotSpot()));
    // The arrow is the screen cursor after start-up.
    ASSERT_NE(nullptr, QApplication::overrideCursor());
    EXPECT_EQ(Qt::ArrowCursor, QApplication::overrideCursor()->shape());
}

TEST_F(ProgramTest, ZoomToolShowsTheMagnifierWhileDown) {
    Trigger("ZoomSpeedButton");
    ASSERT_NE(nullptr, QApplication::overrideCursor());
    EXPECT_EQ(Qt::BitmapCursor, QApplication::overrideCursor()->shape());
    EXPECT_EQ(form->Cursors.at(crLoupe).pixmap().cacheKey(),
              QApplication::overrideCursor()->pixmap().cacheKey());
    Trigger("ZoomSpeedButton");
    ASSERT_NE(nullptr, QApplication::overrideCursor());
    EXPECT_EQ(Qt::ArrowCursor, QApplication::overrideCursor()->shape());
}

TEST_F(ProgramTest, ScreenCursorIsOneOverrideChangedInPlace) {
    form->SetScreenCursor(crHourGlass);
    EXPECT_EQ(Qt::WaitCursor, QApplication::overrideCursor()->shape());
    form->SetScreenCursor(crLoupe);
    EXPECT_EQ(Qt::BitmapCursor, QApplication::overrideCursor()->shape());
    form->SetScreenCursor(crHourGlass);
    form->SetScreenCursor(crDefault);
    EXPECT_EQ(Qt::ArrowCursor, QApplication::overrideCursor()->shape());
    EXPECT_EQ(1, PopOverrideCursors());
}

TEST(ProgramEnd, ClosingTheProgramLeavesNoOverrideCursor) {
    TMainForm* form = CreateForms(DialogSeam());
    form->SetScreenCursor(crHourGlass);
    form->SetScreenCursor(crDefault);
    delete form;
    ClearFormReferences();
    EXPECT_EQ(0, PopOverrideCursors());
}

// ----- window arrangement and exit -----

TEST_F(ProgramTest, NextAndPreviousCycleThroughTheChildrenInOppositeDirections) {
    QMdiArea* area = form->MdiArea;
    area->setActiveSubWindow(area->subWindowList().first());
    const int count = static_cast<int>(area->subWindowList().size());
    ASSERT_EQ(3, count);
    std::vector<QMdiSubWindow*> forward{area->activeSubWindow()};
    for (int step = 0; step < count; ++step) {
        Trigger("Next1");
        forward.push_back(area->activeSubWindow());
    }
    std::vector<QMdiSubWindow*> backward{area->activeSubWindow()};
    for (int step = 0; step < count; ++step) {
        Trigger("Previous1");
        backward.push_back(area->activeSubWindow());
    }
    // Three distinct windows, then back to the first: the cycle wraps.
    EXPECT_EQ(3u, std::set<QMdiSubWindow*>(forward.begin(), forward.begin() + 3).size());
    EXPECT_EQ(forward.front(), forward.back());
    EXPECT_EQ(backward.front(), backward.back());
    // Previous walks the same cycle the other way.
    const std::vector<QMdiSubWindow*> reversed(forward.rbegin(), forward.rend());
    EXPECT_EQ(reversed, backward);
}

TEST_F(ProgramTest, TileSeparatesTheChildrenAndCascadeStacksThem) {
    Trigger("Tile1");
    const QList<QMdiSubWindow*> children = form->MdiArea->subWindowList();
    ASSERT_EQ(3, children.size());
    for (int a = 0; a < children.size(); ++a) {
        for (int b = a + 1; b < children.size(); ++b) {
            EXPECT_FALSE(children[a]->geometry().intersects(children[b]->geometry()))
                << Title(children[a]) << " overlaps " << Title(children[b]) << " after Tile";
        }
        // Horizontal tiling: strips one above the other, each as wide as the client area.
        EXPECT_EQ(form->MdiArea->viewport()->width(), children[a]->width()) << Title(children[a]);
        EXPECT_EQ(0, children[a]->x()) << Title(children[a]);
    }
    Trigger("Cascade1");
    std::vector<QPoint> corners;
    for (const QMdiSubWindow* child : children) corners.push_back(child->pos());
    std::sort(corners.begin(), corners.end(),
              [](const QPoint& a, const QPoint& b) { return a.y() < b.y(); });
    for (size_t k = 1; k < corners.size(); ++k) {
        EXPECT_GT(corners[k].x(), corners[k - 1].x()) << "after Cascade";
        EXPECT_GT(corners[k].y(), corners[k - 1].y()) << "after Cascade";
    }
}

TEST_F(ProgramTest, CascadeKeepsTheWindowsAtTheirSize) {
    const QList<QMdiSubWindow*> children = form->MdiArea->subWindowList();
    std::vector<QSize> before;
    for (const QMdiSubWindow* child : children) before.push_back(child->size());
    Trigger("Cascade1");
    const QRect area = form->MdiArea->viewport()->rect();
    for (int k = 0; k < children.size(); ++k) {
        const QSize fits = area.size() - QSize(children[k]->x(), children[k]->y());
        EXPECT_EQ(before[k].boundedTo(fits), children[k]->size()) << Title(children[k]);
        EXPECT_TRUE(area.contains(children[k]->geometry())) << Title(children[k]);
    }
}

TEST_F(ProgramTest, ExitFromMenuClosesTheProgram) {
    Trigger("Exit");
    EXPECT_FALSE(form->isVisible());
}

TEST_F(ProgramTest, ExitButtonClosesTheProgram) {
    Trigger("ExitSpeedButton");
    EXPECT_FALSE(form->isVisible());
}

// ----- file dialogs -----

TEST_F(ProgramTest, BandOpenDialogsHaveTheirTitlesAndFilters) {
    const std::vector<std::string> titles = {
        "OPEN BAND 1",  "OPEN BAND 2", "OPEN BAND 3",  "OPEN BAND 4",  "OPEN BAND 5",
        "OPEN BAND 6 ", "OPEN BAND 7", " OPEN BAND 8", " OPEN BAND 9", "OPEN BAND 10"};
    const QStringList raw{"Raw Files [*.raw] (*.raw)", "Bitmaps [*.bmp] (*.bmp)",
                          "GeoTIFF (*.tif *.tiff)", "All rasters (*)"};
    const QStringList raster{"Raster Images [*.raw] (*.raw)", "Bitmaps [*.bmp] (*.bmp)",
                             "GeoTIFF (*.tif *.tiff)", "All rasters (*)"};
    EXPECT_EQ(nullptr, form->BandOpenDialogs[0]);
    for (int band = 1; band <= 10; ++band) {
        const QFileDialog* dialog = form->BandOpenDialogs[band];
        ASSERT_NE(nullptr, dialog) << "band " << band;
        EXPECT_EQ(titles[band - 1], Title(dialog)) << "band " << band;
        EXPECT_EQ((band <= 7 ? raw : raster), dialog->nameFilters()) << "band " << band;
        EXPECT_EQ(QFileDialog::AcceptOpen, dialog->acceptMode()) << "band " << band;
        // A typed name of a missing file must reach the loader, which reports it.
        EXPECT_EQ(QFileDialog::AnyFile, dialog->fileMode()) << "band " << band;
        EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog)) << "band " << band;
        EXPECT_TRUE(dialog->directory().exists()) << "band " << band;
        EXPECT_FALSE(dialog->isVisible()) << "band " << band;
    }
}

TEST_F(ProgramTest, SaveDialogsHaveTheirTitlesAndFiltersAndNeverAskToOverwrite) {
    struct Row {
        const QFileDialog* dialog;
        const char* name;
        const char* title;
        const char* filter;
    };
    const Row rows[] = {
        {form->SavePictureDialog2, "SavePictureDialog2", "SAVE SEGMENTED IMAGE",
         "Bitmap [*.bmp] and related raster image (*.bmp)"},
        {form->SavePictureDialog, "SavePictureDialog",
         "Saving Final Resulting Colored BMP File and Related Raw Image",
         "Bitmap (*.bmp) and raw image (*.bmp)"},
    };
    for (const Row& row : rows) {
        ASSERT_NE(nullptr, row.dialog) << row.name;
        EXPECT_EQ(row.title, Title(row.dialog));
        EXPECT_EQ(QStringList{row.filter}, row.dialog->nameFilters()) << row.name;
        EXPECT_EQ(QFileDialog::AcceptSave, row.dialog->acceptMode()) << row.name;
        EXPECT_TRUE(row.dialog->testOption(QFileDialog::DontConfirmOverwrite)) << row.name;
        EXPECT_TRUE(row.dialog->testOption(QFileDialog::DontUseNativeDialog)) << row.name;
        // Extensions are appended by the program, never by the dialog.
        EXPECT_EQ("", row.dialog->defaultSuffix().toStdString()) << row.name;
    }
}

// Band dialogs start in their own folders where these exist: "c:\images" for bands 1 to 3,
// "C:\images" for 4 to 7, none for 8 to 10; without one, where the previous band was chosen.
class BandFolders : public guitest::ProgramTest {
  protected:
    void SetUp() override {
        previous = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        std::filesystem::create_directory("c:\\images");
        std::filesystem::create_directory("C:\\images");
        ProgramTest::SetUp();
    }
    void TearDown() override {
        ProgramTest::TearDown();
        std::filesystem::current_path(previous);
    }
    testing_support::ScratchDir dir;
    std::filesystem::path previous;
};

TEST_F(BandFolders, EachDialogStartsInItsOwnFolderElseWhereThePreviousBandWasChosen) {
    const std::string chosenFolder = dir.File("bands");
    std::filesystem::create_directory(chosenFolder);
    for (int band = 1; band <= 10; ++band) {
        testing_support::WriteBytes(chosenFolder + "/b" + std::to_string(band) + ".raw", {1, 2});
        testing_support::WriteText(chosenFolder + "/b" + std::to_string(band) + ".txt", "1\n2\n");
    }
    std::vector<std::string> started;
    script.Then(guitest::TypeAndClick({{"NumBandEdit", "10"}}, "BitBtn1"));
    for (int band = 1; band <= 10; ++band) {
        const QString path =
            QString::fromStdString(chosenFolder + "/b" + std::to_string(band) + ".raw");
        script.Then([&started, path](QDialog& dialog) {
            started.push_back(
                qobject_cast<QFileDialog*>(&dialog)->directory().absolutePath().toStdString());
            return guitest::ChooseFile(path, 1)(dialog);
        });
    }
    Trigger("OpenSpeedButton");
    EXPECT_TRUE(script.messages.empty());
    ASSERT_EQ(10u, started.size());
    for (int band = 1; band <= 10; ++band) {
        const std::string expected = band <= 3   ? dir.File("c:\\images")
                                     : band <= 7 ? dir.File("C:\\images")
                                                 : chosenFolder;
        EXPECT_EQ(expected, started[band - 1]) << "band " << band;
    }
}

}  // namespace
