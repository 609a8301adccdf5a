#include "app/mainwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <exception>
#include <new>
#include <set>
#include <string>

#include "app/forms.h"
#include "app/glyphs.h"
#include "app/infoforms.h"
#include "app/statuspanels.h"
#include "bands/ui/bandchoice.h"
#include "bands/ui/maskchoice.h"
#include "bands/ui/rasterchoice.h"
#include "support/installation.h"
#include "uikit/filedialogs.h"
#include "view/ui/imagewindow.h"
#include "view/ui/resultimage.h"

using glyphs::Glyph;

namespace {

constexpr int kFrameWidth = 683;
constexpr int kFrameHeight = 657;
constexpr int kToolBarHeight = 34;
constexpr int kToolGap = 8;

// A menu and its menu-bar entry carry the same name, so that the entry can be found and
// enabled like any other command. Menus belong to the frame rather than to their parent menu:
// a disabled menu then leaves its submenus' own states alone (the Segmentation items keep
// theirs while Treatments is disabled).
QMenu* AddMenu(QWidget* owner, QMenu* parent, QMenuBar* bar, const char* name,
               const QString& caption) {
    auto* menu = new QMenu(caption, owner);
    menu->setObjectName(name);
    menu->menuAction()->setObjectName(name);
    if (parent) {
        parent->addMenu(menu);
    } else {
        bar->addMenu(menu);
    }
    return menu;
}

// Alt pressed and released alone puts the keyboard in the menu bar (then the arrows and Enter
// choose), whatever the style's own habit.
class AltKeyStyle : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_MenuBar_AltKeyNavigation) return 1;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

void EnableMenu(QMenu* menu, bool enabled) {
    menu->setEnabled(enabled);
    menu->menuAction()->setEnabled(enabled);
}

// The folder a band dialog opens in: its own folder when it exists, else the sample bands (the
// installed program's, else those beside the sources), else the home folder.
QString BandDirectory(const QString& preferred) {
    if (!preferred.isEmpty() && QDir(preferred).exists()) return preferred;
    const std::string samples = tessera::FindFolder(
        tessera::ProgramPath(), tessera::InstalledPart::Samples, TESSERA_SAMPLES_DIR);
    return samples.empty() ? QDir::homePath() : QString::fromStdString(samples);
}

}  // namespace

TMainForm::TMainForm(const DialogSeam& dialogSeam, QWidget* parent)
    : QMainWindow(parent), seam(dialogSeam) {
    setObjectName("MainForm");
    setWindowTitle(" Tessera_V2");
    // The program's icon, for the frame and for every window made after it.
    QApplication::setWindowIcon(glyphs::ProgramIcon());
    setWindowIcon(QApplication::windowIcon());
    resize(kFrameWidth, kFrameHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QPoint(kFrameWidth / 2, kFrameHeight / 2));
    }

    BuildCommands();
    BuildMenu();
    BuildToolBar();
    MdiArea = new QMdiArea(this);
    MdiArea->setObjectName("MdiArea");
    setCentralWidget(MdiArea);
    BuildStatusBar();
    BuildFileDialogs();

    Work = new TWorkRunner(this);
    Work->setObjectName("Work");
    connect(Work, &TWorkRunner::RunningChanged, this, [this] { UpdateCommands(); });

    Cursors[crLoupe] = glyphs::MagnifierCursor();
    SetScreenCursor(crDefault);
    UpdateCommands();
}

TMainForm::~TMainForm() {
    if (cursorOverridden_) QApplication::restoreOverrideCursor();
}

// The program's commands: a menu item, a tool button or both, doing the same and enabled
// alike. The menus and the tool bar below place them by name.
const std::vector<TMainForm::CommandRow>& TMainForm::CommandTable() {
    using N = Needs;
    // clang-format off
    static const std::vector<CommandRow> table = {
        {"Open", "&Open the Different Gray Tone  Images", N::Idle,
         [](TMainForm& f) { f.OpenBandSet(); },
         {"OpenSpeedButton", "Open the Set of Gray Tone Images (10 Max.)", Glyph::Open}},
        {"OpenMultiband", "Open &Multi-band Image…", N::Idle,
         [](TMainForm& f) { f.OpenMultibandImage(); }, {}},
        {"OpenMask", "Open Mas&k…", N::BandSetSize, [](TMainForm& f) { f.OpenBandSetMask(); }, {}},
        {"SaveTreatment", "&Save Treatment…", N::KeptCrossing,
         [](TMainForm& f) { f.SaveTreatmentFile(); }, {}},
        {"ApplyTreatment", "&Apply Treatment…", N::OpenSet,
         [](TMainForm& f) { f.ApplyTreatmentFile(); }, {}},
        {"Exit", "E&xit", N::Nothing, [](TMainForm& f) { f.close(); },
         {"ExitSpeedButton", "Exit", Glyph::Exit}},
        {"Histo", "&Histogram", N::OpenSet, [](TMainForm& f) { f.ShowHistogram(); },
         {"HistoSpeedButton", "Histo", Glyph::Histogram}},
        {"GTNumber", "&Gray Tones Number", N::OpenSet, [](TMainForm& f) { f.GrayTonesNumber(); },
         {}},
        {"InfoSegmSS", "&Segmentation Stricto Sensu", N::Nothing,
         [](TMainForm& f) { f.RunModal(*InfoSegmSSForm); }, {}},
        {"Equipopulation", "&Equipopulation", N::Nothing,
         [](TMainForm& f) { f.RunModal(*EquipopInfoForm); }, {}},
        {"Definition", "&Definition", N::Nothing,
         [](TMainForm& f) { f.RunModal(*DefinitionInfoForm); }, {}},
        // The menu item stays enabled under its menu; the button waits for a band set.
        {"SegmTreatment", "&Treatment", N::Nothing,
         [](TMainForm& f) { f.SegmentationTreatment(); }, {}},
        {"ClassifInfo", "&Info", N::Nothing, nullptr, {}},
        {"ClassifTreatment", "&Treatment", N::Nothing, nullptr, {}},
        {"Cascade1", "&Cascade", N::Nothing, [](TMainForm& f) { f.CascadeWindows(); }, {}},
        {"Tile1", "&Tile", N::Nothing, [](TMainForm& f) { f.TileWindows(); }, {}},
        {"Previous1", "&Previous", N::Nothing,
         [](TMainForm& f) { f.MdiArea->activatePreviousSubWindow(); }, {}},
        {"Next1", "&Next", N::Nothing, [](TMainForm& f) { f.MdiArea->activateNextSubWindow(); },
         {}},
        {"Author", "&Author", N::Nothing, [](TMainForm& f) { f.RunModal(*AuthorForm); }, {}},
        {"Copyright", "&Copyright", N::Nothing, [](TMainForm& f) { f.RunModal(*CopyrightForm); },
         {}},
        {"English", "&English", N::Nothing, [](TMainForm& f) { f.RunModal(*EnglishInfoForm); },
         {}},
        {"French", "&French", N::Nothing, [](TMainForm& f) { f.RunModal(*FrenchInfoForm); }, {}},
        {"Spanish", "&Spanish", N::Nothing, [](TMainForm& f) { f.RunModal(*SpanishInfoForm); },
         {}},
        {"References", "&References", N::Nothing, [](TMainForm& f) { f.RunModal(*ReferenceForm); },
         {}},
        // Tool buttons without a menu item.
        {nullptr, nullptr, N::OpenSet, [](TMainForm& f) { f.StepBand(-1); },
         {"PreviousSpeedButton", "Previous Image", Glyph::Previous, true, true}},
        {nullptr, nullptr, N::OpenSet, [](TMainForm& f) { f.StepBand(+1); },
         {"NextSpeedButton", "Next Image", Glyph::Next, true, true}},
        {nullptr, nullptr, N::OpenSet,
         [](TMainForm& f) { f.SegmentationTreatment(); },
         {"SegmentationSpeedButton", "Segmentation", Glyph::Segmentation}},
        {nullptr, nullptr, N::Segmentation,
         [](TMainForm& f) { f.StepSegmentedBand(-1); },
         {"PreviousSegmentedSpeedButton", "Previous Segmented Image", Glyph::PreviousSegmented,
          true, true}},
        {nullptr, nullptr, N::Segmentation,
         [](TMainForm& f) { f.StepSegmentedBand(+1); },
         {"NextSegmentedSpeedButton", "Next Segmented Image", Glyph::NextSegmented, true, true}},
        {nullptr, nullptr, N::Segmentation,
         [](TMainForm& f) { f.SaveSegmentedImage(); },
         {"SaveSegmentedImageSpeedButton", "Save Segmented Image", Glyph::SaveSegmented}},
        {nullptr, nullptr, N::SegmentationOfThisSet,
         [](TMainForm& f) { f.CrossBands(); },
         {"TreatmentSpeedButton", "Treatment", Glyph::Treatment}},
        {nullptr, nullptr, N::Nothing,
         [](TMainForm& f) { f.SetScreenCursor(f.ZoomToolOn() ? crLoupe : crDefault); },
         {"ZoomSpeedButton", "Zoom", Glyph::Zoom, false, true}},
        {nullptr, nullptr, N::Crossing, [](TMainForm& f) { f.SaveResult(); },
         {"SaveResultSpeedButton", "Save Result", Glyph::SaveResult}},
    };
    // clang-format on
    return table;
}

bool TMainForm::Allows(Needs needs) const {
    // While a long step runs, every command that touches the working state waits for it.
    const bool idle = !Busy();
    switch (needs) {
        case Needs::Nothing:
            return true;
        case Needs::Idle:
            return idle;
        case Needs::BandSetSize:
            return idle && ws.BandSetSize().has_value();
        case Needs::OpenSet:
            return idle && ws.Step() >= tessera::StepBandSetOpened;
        case Needs::Segmentation:
            return idle && ws.Step() >= tessera::StepBandsSegmented;
        case Needs::SegmentationOfThisSet:
            // The crossing treats the open band set: never a segmentation of an earlier set
            // (which is still shown and saved) as this one's.
            return Allows(Needs::Segmentation) && (!ws.segmentation || ws.SegmentedThisSet());
        case Needs::Crossing:
            return idle && ws.Step() >= tessera::StepBandsCrossed;
        case Needs::KeptCrossing:
            return idle && ws.crossing.has_value();
    }
    return false;
}

void TMainForm::BuildCommands() {
    // The group is exclusive but leaves every action up when the down one is pressed again.
    latchingGroup_ = new QActionGroup(this);
    latchingGroup_->setObjectName("LatchingGroup");
    latchingGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    auto add = [this](const CommandRow& row, const char* name) {
        auto* action = new QAction(this);
        action->setObjectName(name);
        // ClassifInfo and ClassifTreatment have no handler: choosing them does nothing.
        // A latching action is up or down already when its handler runs, and the others of
        // its group raised.
        if (row.handler) {
            connect(action, &QAction::triggered, this, [this, handler = row.handler] {
                RunCommand([this, handler] { handler(*this); });
            });
        }
        actions_[name] = action;
        commands_.emplace_back(action, row.needs);
        return action;
    };
    for (const CommandRow& row : CommandTable()) {
        if (row.name) add(row, row.name)->setText(row.caption);
        // A tool button has an action of its own: a menu leaves room for the icon of any of
        // its actions that has one, even where it does not show it.
        if (const ToolButtonRow& button = row.button; button.name) {
            QAction* action = add(row, button.name);
            action->setToolTip(button.hint);
            action->setIcon(QIcon(glyphs::ToolGlyph(button.glyph)));
            if (button.latching) {
                action->setCheckable(true);
                latchingGroup_->addAction(action);
            }
        }
    }
    zoom_ = actions_.at("ZoomSpeedButton");
    // The zoom tool raised by another button of the group takes its magnifier with it.
    connect(zoom_, &QAction::toggled, this, [this](bool down) {
        if (!down) SetScreenCursor(crDefault);
    });
}

void TMainForm::BuildMenu() {
    // Every caption carries a mnemonic (Alt and the underlined letter), one letter per menu;
    // the text shown is the caption without its "&". An entry is a command, a menu below
    // (named in a later row) or a separator ("-" and its name).
    struct MenuRow {
        const char* name;
        const char* caption;
        Needs needs;
        std::vector<const char*> entries;
    };
    static const std::vector<MenuRow> menus = {
        {"Files",
         "&Files",
         Needs::Nothing,
         {"Open", "OpenMultiband", "OpenMask", "SaveTreatment", "ApplyTreatment", "-N1", "Exit"}},
        {"Tools", "&Tools", Needs::OpenSet, {"Histo", "GTNumber"}},
        {"Treatments", "T&reatments", Needs::OpenSet, {"Segmentation", "Classification"}},
        {"Segmentation", "&Segmentation", Needs::Nothing, {"SegmInfo", "SegmTreatment"}},
        {"SegmInfo", "&Info", Needs::Nothing, {"InfoSegmSS", "Equipopulation", "Definition"}},
        {"Classification",
         "&Classification",
         Needs::Segmentation,
         {"ClassifInfo", "ClassifTreatment"}},
        {"Window", "&Window", Needs::Nothing, {"Cascade1", "Tile1", "Previous1", "Next1"}},
        {"About", "&About", Needs::Nothing, {"Author", "Copyright", "Infos", "References"}},
        {"Infos", "&Infos", Needs::Nothing, {"English", "French", "Spanish"}},
    };
    QMenuBar* bar = menuBar();
    auto* altKey = new AltKeyStyle;
    altKey->setParent(this);
    bar->setStyle(altKey);
    std::set<std::string> submenus;
    for (const MenuRow& row : menus) submenus.insert(row.entries.begin(), row.entries.end());
    std::function<void(const MenuRow&, QMenu*)> build = [&](const MenuRow& row, QMenu* parent) {
        QMenu* menu = AddMenu(this, parent, bar, row.name, row.caption);
        menus_.emplace_back(menu, row.needs);
        for (const std::string entry : row.entries) {
            if (entry.front() == '-') {
                menu->addSeparator()->setObjectName(QString::fromStdString(entry.substr(1)));
            } else if (auto below = std::find_if(menus.begin(), menus.end(),
                                                 [&](const MenuRow& m) { return m.name == entry; });
                       below != menus.end()) {
                build(*below, menu);
            } else {
                menu->addAction(actions_.at(QString::fromStdString(entry)));
            }
        }
    };
    for (const MenuRow& row : menus) {
        if (!submenus.count(row.name)) build(row, nullptr);
    }

    // F10 opens the first menu, as the desktop's programs do (Alt and the mnemonics are the
    // menu bar's own).
    auto* menuKey = new QAction(this);
    menuKey->setObjectName("MenuKey");
    menuKey->setShortcut(QKeySequence(Qt::Key_F10));
    menuKey->setShortcutContext(Qt::WindowShortcut);
    addAction(menuKey);
    QMenu* files = menus_.front().first;
    connect(menuKey, &QAction::triggered, this, [this, files] {
        if (QApplication::activeModalWidget()) return;
        menuBar()->setFocus(Qt::ShortcutFocusReason);
        menuBar()->setActiveAction(files->menuAction());
    });
}

void TMainForm::BuildToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(kToolBarHeight);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    // The commands' buttons in order, "|" a gap between them.
    // clang-format off
    static const char* const layout[] = {
        "OpenSpeedButton", "|",
        "PreviousSpeedButton", "NextSpeedButton", "|",
        "SegmentationSpeedButton", "|",
        "PreviousSegmentedSpeedButton", "NextSegmentedSpeedButton", "|",
        "SaveSegmentedImageSpeedButton", "|",
        "TreatmentSpeedButton", "|",
        "HistoSpeedButton", "|",
        "ZoomSpeedButton", "|", "|",
        "SaveResultSpeedButton", "|",
        "ExitSpeedButton"};
    // clang-format on
    for (const std::string entry : layout) {
        if (entry == "|") {
            auto* gap = new QWidget(ToolBar1);
            gap->setFixedSize(kToolGap, 32);
            ToolBar1->addWidget(gap);
            continue;
        }
        const auto row = std::find_if(
            CommandTable().begin(), CommandTable().end(),
            [&](const CommandRow& r) { return r.button.name && r.button.name == entry; });
        QAction* action = actions_.at(QString::fromStdString(entry));
        auto* button = new QToolButton(ToolBar1);
        button->setObjectName(row->button.name);
        button->setDefaultAction(action);
        button->setIconSize(glyphs::ToolGlyph(row->button.glyph).size());
        button->setFixedSize(row->button.narrow ? 16 : 32, 32);
        button->setFocusPolicy(Qt::NoFocus);
        ToolBar1->addWidget(button);
    }
}

void TMainForm::BuildStatusBar() {
    StatusBar = statusBar();
    StatusBar->setObjectName("StatusBar");
    StatusBar->setSizeGripEnabled(false);
    PanelStrip = new TStatusPanels(StatusBar);
    Panels = PanelStrip->Panels;
    MapPanel = PanelStrip->MapPanel;
    StatusBar->addWidget(PanelStrip, 1);
}

void TMainForm::BuildFileDialogs() {
    // Entries 3 and 4 read any raster the GDAL library reads (band 1 of the file).
    const QStringList rasters{"GeoTIFF (*.tif *.tiff)", "All rasters (*)"};
    const QStringList rawFilters =
        QStringList{"Raw Files [*.raw] (*.raw)", "Bitmaps [*.bmp] (*.bmp)"} + rasters;
    const QStringList rasterFilters =
        QStringList{"Raster Images [*.raw] (*.raw)", "Bitmaps [*.bmp] (*.bmp)"} + rasters;
    const QString titles[tessera::kMaximumBands + 1] = {"",
                                                        "OPEN BAND 1",
                                                        "OPEN BAND 2",
                                                        "OPEN BAND 3",
                                                        "OPEN BAND 4",
                                                        "OPEN BAND 5",
                                                        "OPEN BAND 6 ",
                                                        "OPEN BAND 7",
                                                        " OPEN BAND 8",
                                                        " OPEN BAND 9",
                                                        "OPEN BAND 10"};
    for (int band = 1; band <= tessera::kMaximumBands; ++band) {
        const bool firstSeven = band <= 7;
        QFileDialog* dialog =
            NewFileDialog(this, QString("BandOpenDialog%1").arg(band), titles[band],
                          firstSeven ? rawFilters : rasterFilters, QFileDialog::AcceptOpen);
        dialog->setDirectory(
            BandDirectory(QString::fromStdString(tessera::BandDialogFolder(band))));
        BandOpenDialogs[band] = dialog;
    }
    SavePictureDialog2 =
        NewFileDialog(this, "SavePictureDialog2", "SAVE SEGMENTED IMAGE",
                      {"Bitmap [*.bmp] and related raster image (*.bmp)"}, QFileDialog::AcceptSave);
    MultibandOpenDialog =
        NewFileDialog(this, "MultibandOpenDialog", "OPEN MULTI-BAND IMAGE",
                      {"GeoTIFF (*.tif *.tiff)", "All rasters (*)"}, QFileDialog::AcceptOpen);
    MultibandOpenDialog->setDirectory(BandDirectory(QString()));
    BandChoice = new TBandChoiceForm(this);
    BandChoice->setObjectName("BandChoiceForm");
    RasterChoice = new TRasterChoiceForm(this);
    RasterChoice->setObjectName("RasterChoiceForm");
    MaskOpenDialog =
        NewFileDialog(this, "MaskOpenDialog", "OPEN MASK", rawFilters, QFileDialog::AcceptOpen);
    MaskOpenDialog->setDirectory(BandDirectory(QString()));
    MaskChoice = new TMaskChoiceForm(this);
    MaskChoice->setObjectName("MaskChoiceForm");
    SavePictureDialog = NewFileDialog(
        this, "SavePictureDialog", "Saving Final Resulting Colored BMP File and Related Raw Image",
        {"Bitmap (*.bmp) and raw image (*.bmp)"}, QFileDialog::AcceptSave);
    SaveTreatmentDialog = NewFileDialog(this, "SaveTreatmentDialog", "SAVE TREATMENT",
                                        {"Treatment (*.json)"}, QFileDialog::AcceptSave);
    ApplyTreatmentDialog =
        NewFileDialog(this, "ApplyTreatmentDialog", "APPLY TREATMENT",
                      {"Treatment (*.json)", "All files (*)"}, QFileDialog::AcceptOpen);
}

void TMainForm::SetScreenCursor(int cursor) {
    QCursor shape(Qt::ArrowCursor);
    if (cursor == crHourGlass) {
        shape = QCursor(Qt::WaitCursor);
    } else if (auto registered = Cursors.find(cursor); registered != Cursors.end()) {
        shape = registered->second;
    }
    // One override for the whole program, changed in place, so that no command can leave a
    // stack of cursors behind.
    if (cursorOverridden_) {
        QApplication::changeOverrideCursor(shape);
    } else {
        QApplication::setOverrideCursor(shape);
        cursorOverridden_ = true;
    }
}

void TMainForm::SetPanel(int panel, const QString& text) {
    PanelStrip->SetPanel(panel, text);
}
void TMainForm::SetMapPanel(const QString& text) {
    PanelStrip->SetMapPanel(text);
}
QString TMainForm::PanelText(int panel) const {
    return Panels[panel]->text();
}

void TMainForm::UpdateCommands() {
    for (const auto& [action, needs] : commands_) action->setEnabled(Allows(needs));
    for (const auto& [menu, needs] : menus_) EnableMenu(menu, Allows(needs));

    // The result window says when the crossing it shows (the one Save Result saves) treated an
    // earlier band set than the open one.
    if (!Busy() && ResultImageForm) {
        QString note;
        if (ws.crossing && ws.crossing->bandSetNumber != ws.BandSetNumber() &&
            ws.crossing->BandCount() >= 1)
            note = QString("  - crossing of the earlier band set of %1")
                       .arg(QFileInfo(QString::fromStdString(ws.crossing->records[1].filePath))
                                .fileName());
        ResultImageForm->SetCaptionNote(note);
    }
}

bool TMainForm::ZoomToolOn() const {
    return zoom_ && zoom_->isChecked();
}
void TMainForm::Message(const QString& text, const QString& caption) {
    seam.showMessage(text, caption);
}
int TMainForm::RunModal(QDialog& dialog) {
    return seam.runModal(dialog);
}

CommandContext TMainForm::Context() {
    return CommandContext{ws, seam, [this](int cursor) { SetScreenCursor(cursor); }, *Work,
                          [this](const QString& text) { SetMapPanel(text); }};
}
BandSetWindows TMainForm::BandWindows() const {
    return {*NumBandForm,         *ImageSizeForm, BandOpenDialogs, *ImageForm,      *HistoGrisForm,
            *MultibandOpenDialog, *BandChoice,    *RasterChoice,   *MaskOpenDialog, *MaskChoice};
}
SegmentationWindows TMainForm::SegmentWindows() const {
    return {*SegmentationForm, *SegmentDefinitionForm, *TempImageForm, *SavePictureDialog2,
            ImageForm->BandTitles};
}
CrossingWindows TMainForm::CrossWindows() const {
    return {*CheckNumCodeForm1, *CheckNumCodeForm2, *CheckNumCodeForm3, *ResultImageForm,
            *SavePictureDialog};
}

TreatmentWindows TMainForm::TreatmentFileWindows() const {
    return {*SaveTreatmentDialog, *ApplyTreatmentDialog, *TempImageForm, *ResultImageForm,
            ImageForm->BandTitles};
}

void TMainForm::RunCommand(const std::function<void()>& command) {
    // A cancel lives for one command; a stop asked by closing the window ends this one too.
    Work->BeginCommand(closeAfterWork_);
    try {
        command();
    } catch (const std::bad_alloc&) {
        SetScreenCursor(crDefault);
        Message(" Not enough memory to finish the command \nThe earlier results are kept ",
                "ERROR");
    } catch (const std::exception& error) {
        SetScreenCursor(crDefault);
        Message(QString::fromLocal8Bit(error.what()), "ERROR");
    }
    UpdateCommands();
    if (closeAfterWork_ && !Busy()) {
        closeAfterWork_ = false;
        close();
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (!Busy()) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    if (seam.ask(" A treatment is still running \nStop it and close the program? ", "CAUTION")) {
        closeAfterWork_ = true;
        Work->Cancel();
    }
}

void TMainForm::OpenBandSet() {
    bandsui::OpenBandSet(Context(), BandWindows());
}
void TMainForm::OpenMultibandImage() {
    bandsui::OpenMultibandImage(Context(), BandWindows());
}
void TMainForm::OpenBandSetMask() {
    bandsui::OpenMask(Context(), BandWindows());
}
bool TMainForm::LoadBand(int band) {
    return bandsui::LoadBand(Context(), BandWindows(), band);
}
void TMainForm::StepBand(int step) {
    bandsui::StepBand(Context(), BandWindows(), step);
}
void TMainForm::GrayTonesNumber() {
    bandsui::GrayTonesNumber(Context());
}
void TMainForm::ShowHistogram() {
    bandsui::ShowHistogram(Context(), BandWindows());
}
void TMainForm::SegmentationTreatment() {
    segmentationui::SegmentationTreatment(Context(), SegmentWindows());
}
void TMainForm::ShowSegmentedBand(int band, bool setCaption) {
    segmentationui::ShowSegmentedBand(Context(), SegmentWindows(), band, setCaption);
}
void TMainForm::StepSegmentedBand(int step) {
    segmentationui::StepSegmentedBand(Context(), SegmentWindows(), step);
}
void TMainForm::SaveSegmentedImage() {
    segmentationui::SaveSegmentedImage(Context(), SegmentWindows());
}
void TMainForm::CrossBands() {
    crossingui::CrossBands(Context(), CrossWindows());
}
void TMainForm::SaveResult() {
    crossingui::SaveResult(Context(), CrossWindows());
}

void TMainForm::SaveTreatmentFile() {
    crossingui::SaveTreatment(Context(), TreatmentFileWindows());
}
void TMainForm::ApplyTreatmentFile() {
    crossingui::ApplyTreatment(Context(), TreatmentFileWindows());
}

// Cascade: each child one title bar lower and further right than the one before, at its
// present size, or at the largest size that still fits the client area from its place.
void TMainForm::CascadeWindows() {
    QList<QMdiSubWindow*> children;
    for (QMdiSubWindow* child : MdiArea->subWindowList())
        if (child->isVisible() && !child->isMinimized()) children.append(child);
    if (children.isEmpty()) return;
    const QRect area = MdiArea->viewport()->rect();
    const int step = std::max(children.first()->style()->pixelMetric(QStyle::PM_TitleBarHeight,
                                                                     nullptr, children.first()),
                              16);
    for (int i = 0; i < children.size(); ++i) {
        QMdiSubWindow* child = children[i];
        child->showNormal();
        const QPoint place(i * step, i * step);
        const QSize present = child->size();
        const QSize fits(std::max(area.width() - place.x(), child->minimumWidth()),
                         std::max(area.height() - place.y(), child->minimumHeight()));
        child->setGeometry(QRect(place, present.boundedTo(fits)));
        child->raise();
    }
    MdiArea->setActiveSubWindow(children.last());
}
// Horizontal tiling: the children one above the other, each as wide as the client area.
void TMainForm::TileWindows() {
    QList<QMdiSubWindow*> children;
    for (QMdiSubWindow* child : MdiArea->subWindowList())
        if (child->isVisible() && !child->isMinimized()) children.append(child);
    if (children.isEmpty()) return;
    const QRect area = MdiArea->viewport()->rect();
    const int height = area.height() / static_cast<int>(children.size());
    for (int i = 0; i < children.size(); ++i) {
        children[i]->showNormal();
        children[i]->setGeometry(0, i * height, area.width(), height);
    }
}
