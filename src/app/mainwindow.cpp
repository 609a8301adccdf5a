#include "app/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
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
#include <exception>
#include <new>

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

QAction* AddItem(QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
}

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

std::function<void()> TMainForm::Command(void (TMainForm::*handler)()) {
    return [this, handler] { RunCommand([this, handler] { (this->*handler)(); }); };
}

void TMainForm::BuildMenu() {
    // Every caption carries a mnemonic (Alt and the underlined letter), one letter per menu;
    // the text shown is the caption without its "&".
    QMenuBar* bar = menuBar();
    auto* altKey = new AltKeyStyle;
    altKey->setParent(this);
    bar->setStyle(altKey);
    Files = AddMenu(this, nullptr, bar, "Files", "&Files");
    Open = AddItem(Files, "Open", "&Open the Different Gray Tone  Images");
    OpenMultiband = AddItem(Files, "OpenMultiband", "Open &Multi-band Image…");
    OpenMask = AddItem(Files, "OpenMask", "Open Mas&k…");
    SaveTreatment = AddItem(Files, "SaveTreatment", "&Save Treatment…");
    ApplyTreatment = AddItem(Files, "ApplyTreatment", "&Apply Treatment…");
    N1 = Files->addSeparator();
    N1->setObjectName("N1");
    Exit = AddItem(Files, "Exit", "E&xit");

    Tools = AddMenu(this, nullptr, bar, "Tools", "&Tools");
    Histo = AddItem(Tools, "Histo", "&Histogram");
    GTNumber = AddItem(Tools, "GTNumber", "&Gray Tones Number");

    Treatments = AddMenu(this, nullptr, bar, "Treatments", "T&reatments");
    Segmentation = AddMenu(this, Treatments, bar, "Segmentation", "&Segmentation");
    SegmInfo = AddMenu(this, Segmentation, bar, "SegmInfo", "&Info");
    InfoSegmSS = AddItem(SegmInfo, "InfoSegmSS", "&Segmentation Stricto Sensu");
    Equipopulation = AddItem(SegmInfo, "Equipopulation", "&Equipopulation");
    Definition = AddItem(SegmInfo, "Definition", "&Definition");
    SegmTreatment = AddItem(Segmentation, "SegmTreatment", "&Treatment");
    Classification = AddMenu(this, Treatments, bar, "Classification", "&Classification");
    ClassifInfo = AddItem(Classification, "ClassifInfo", "&Info");
    ClassifTreatment = AddItem(Classification, "ClassifTreatment", "&Treatment");

    Window = AddMenu(this, nullptr, bar, "Window", "&Window");
    Cascade1 = AddItem(Window, "Cascade1", "&Cascade");
    Tile1 = AddItem(Window, "Tile1", "&Tile");
    Previous1 = AddItem(Window, "Previous1", "&Previous");
    Next1 = AddItem(Window, "Next1", "&Next");

    About = AddMenu(this, nullptr, bar, "About", "&About");
    Author = AddItem(About, "Author", "&Author");
    Copyright = AddItem(About, "Copyright", "&Copyright");
    Infos = AddMenu(this, About, bar, "Infos", "&Infos");
    English = AddItem(Infos, "English", "&English");
    French = AddItem(Infos, "French", "&French");
    Spanish = AddItem(Infos, "Spanish", "&Spanish");
    References = AddItem(About, "References", "&References");

    connect(Open, &QAction::triggered, this, Command(&TMainForm::OpenClick));
    connect(OpenMultiband, &QAction::triggered, this, Command(&TMainForm::OpenMultibandClick));
    connect(OpenMask, &QAction::triggered, this, Command(&TMainForm::OpenMaskClick));
    connect(SaveTreatment, &QAction::triggered, this, Command(&TMainForm::SaveTreatmentClick));
    connect(ApplyTreatment, &QAction::triggered, this, Command(&TMainForm::ApplyTreatmentClick));
    connect(Exit, &QAction::triggered, this, Command(&TMainForm::ExitClick));
    connect(Histo, &QAction::triggered, this, Command(&TMainForm::HistoClick));
    connect(GTNumber, &QAction::triggered, this, Command(&TMainForm::GTNumberClick));
    connect(InfoSegmSS, &QAction::triggered, this, Command(&TMainForm::InfoSegmSSClick));
    connect(Equipopulation, &QAction::triggered, this, Command(&TMainForm::EquipopulationClick));
    connect(Definition, &QAction::triggered, this, Command(&TMainForm::DefinitionClick));
    connect(SegmTreatment, &QAction::triggered, this, Command(&TMainForm::SegmTreatmentClick));
    connect(Cascade1, &QAction::triggered, this, Command(&TMainForm::Cascade1Click));
    connect(Tile1, &QAction::triggered, this, Command(&TMainForm::Tile1Click));
    connect(Previous1, &QAction::triggered, this, Command(&TMainForm::Previous1Click));
    connect(Next1, &QAction::triggered, this, Command(&TMainForm::Next1Click));
    connect(Author, &QAction::triggered, this, Command(&TMainForm::AuthorClick));
    connect(Copyright, &QAction::triggered, this, Command(&TMainForm::CopyrightClick));
    connect(English, &QAction::triggered, this, Command(&TMainForm::EnglishClick));
    connect(French, &QAction::triggered, this, Command(&TMainForm::FrenchClick));
    connect(Spanish, &QAction::triggered, this, Command(&TMainForm::SpanishClick));
    connect(References, &QAction::triggered, this, Command(&TMainForm::ReferencesClick));
    // ClassifInfo and ClassifTreatment have no handler: choosing them does nothing.

    // F10 opens the first menu, as the desktop's programs do (Alt and the mnemonics are the
    // menu bar's own).
    auto* menuKey = new QAction(this);
    menuKey->setObjectName("MenuKey");
    menuKey->setShortcut(QKeySequence(Qt::Key_F10));
    menuKey->setShortcutContext(Qt::WindowShortcut);
    addAction(menuKey);
    connect(menuKey, &QAction::triggered, this, [this] {
        if (QApplication::activeModalWidget()) return;
        menuBar()->setFocus(Qt::ShortcutFocusReason);
        menuBar()->setActiveAction(Files->menuAction());
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

    auto addButton = [this](const char* name, Glyph glyph, const QString& hint, bool narrow) {
        auto* button = new QToolButton(ToolBar1);
        button->setObjectName(name);
        button->setToolTip(hint);
        const QPixmap pixmap = glyphs::ToolGlyph(glyph);
        button->setIcon(QIcon(pixmap));
        button->setIconSize(pixmap.size());
        button->setFixedSize(narrow ? 16 : 32, 32);
        button->setFocusPolicy(Qt::NoFocus);
        ToolBar1->addWidget(button);
        return button;
    };
    auto addGap = [this] {
        auto* gap = new QWidget(ToolBar1);
        gap->setFixedSize(kToolGap, 32);
        ToolBar1->addWidget(gap);
    };

    OpenSpeedButton = addButton("OpenSpeedButton", Glyph::Open,
                                "Open the Set of Gray Tone Images (10 Max.)", false);
    addGap();
    PreviousSpeedButton = addButton("PreviousSpeedButton", Glyph::Previous, "Previous Image", true);
    NextSpeedButton = addButton("NextSpeedButton", Glyph::Next, "Next Image", true);
    addGap();
    SegmentationSpeedButton =
        addButton("SegmentationSpeedButton", Glyph::Segmentation, "Segmentation", false);
    addGap();
    PreviousSegmentedSpeedButton = addButton(
        "PreviousSegmentedSpeedButton", Glyph::PreviousSegmented, "Previous Segmented Image", true);
    NextSegmentedSpeedButton =
        addButton("NextSegmentedSpeedButton", Glyph::NextSegmented, "Next Segmented Image", true);
    addGap();
    SaveSegmentedImageSpeedButton = addButton("SaveSegmentedImageSpeedButton", Glyph::SaveSegmented,
                                              "Save Segmented Image", false);
    addGap();
    TreatmentSpeedButton = addButton("TreatmentSpeedButton", Glyph::Treatment, "Treatment", false);
    addGap();
    HistoSpeedButton = addButton("HistoSpeedButton", Glyph::Histogram, "Histo", false);
    addGap();
    ZoomSpeedButton = addButton("ZoomSpeedButton", Glyph::Zoom, "Zoom", false);
    addGap();
    addGap();
    SaveResultSpeedButton =
        addButton("SaveResultSpeedButton", Glyph::SaveResult, "Save Result", false);
    addGap();
    ExitSpeedButton = addButton("ExitSpeedButton", Glyph::Exit, "Exit", false);

    // The group is not exclusive in Qt's sense (all may be up); LatchGroupButton keeps the rule.
    LatchingGroup = new QButtonGroup(this);
    LatchingGroup->setObjectName("LatchingGroup");
    LatchingGroup->setExclusive(false);
    const std::pair<QToolButton*, void (TMainForm::*)()> latching[] = {
        {PreviousSpeedButton, &TMainForm::PreviousSpeedButtonClick},
        {NextSpeedButton, &TMainForm::NextSpeedButtonClick},
        {PreviousSegmentedSpeedButton, &TMainForm::PreviousSegmentedSpeedButtonClick},
        {NextSegmentedSpeedButton, &TMainForm::NextSegmentedSpeedButtonClick},
        {ZoomSpeedButton, &TMainForm::ZoomSpeedButtonClick},
    };
    for (const auto& [button, handler] : latching) {
        button->setCheckable(true);
        LatchingGroup->addButton(button);
        // Qt has already toggled the button; the handler sees the group's new state.
        connect(button, &QToolButton::clicked, this, [this, button, handler] {
            LatchGroupButton(button);
            RunCommand([this, handler] { (this->*handler)(); });
        });
    }

    connect(OpenSpeedButton, &QToolButton::clicked, this,
            Command(&TMainForm::OpenSpeedButtonClick));
    connect(SegmentationSpeedButton, &QToolButton::clicked, this,
            Command(&TMainForm::SegmentationSpeedButtonClick));
    connect(SaveSegmentedImageSpeedButton, &QToolButton::clicked, this,
            Command(&TMainForm::SaveSegmentedImageSpeedButtonClick));
    connect(TreatmentSpeedButton, &QToolButton::clicked, this,
            Command(&TMainForm::TreatmentSpeedButtonClick));
    connect(HistoSpeedButton, &QToolButton::clicked, this,
            Command(&TMainForm::HistoSpeedButtonClick));
    connect(SaveResultSpeedButton, &QToolButton::clicked, this,
            Command(&TMainForm::SaveResultSpeedButtonClick));
    connect(ExitSpeedButton, &QToolButton::clicked, this,
            Command(&TMainForm::ExitSpeedButtonClick));
}

void TMainForm::LatchGroupButton(QToolButton* pressed) {
    if (!pressed->isChecked()) return;  // a down button pressed again is simply up now
    for (QAbstractButton* other : LatchingGroup->buttons()) {
        if (other == pressed || !other->isChecked()) continue;
        other->setChecked(false);
        // The zoom tool is off now: its magnifier goes with it.
        if (other == ZoomSpeedButton) SetScreenCursor(crDefault);
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
    // While a long step runs, every command that touches the working state waits for it.
    const bool idle = !Busy();
    const bool opened = idle && ws.step >= tessera::StepBandSetOpened;
    const bool segmented = idle && ws.step >= tessera::StepBandsSegmented;
    const bool crossed = idle && ws.step >= tessera::StepBandsCrossed;

    // Always available (Open once the running step has ended).
    Open->setEnabled(idle);
    OpenMultiband->setEnabled(idle);
    // A mask needs the band set's size: once its first band is loaded.
    OpenMask->setEnabled(idle && ws.BandSetSize().has_value());
    Exit->setEnabled(true);
    for (QMenu* menu : {Files, Window, About, Infos, Segmentation, SegmInfo})
        EnableMenu(menu, true);
    for (QToolButton* button : {ZoomSpeedButton, ExitSpeedButton}) button->setEnabled(true);
    OpenSpeedButton->setEnabled(idle);

    for (QToolButton* button :
         {PreviousSpeedButton, NextSpeedButton, SegmentationSpeedButton, HistoSpeedButton}) {
        button->setEnabled(opened);
    }
    EnableMenu(Treatments, opened);
    EnableMenu(Tools, opened);
    Histo->setEnabled(opened);
    GTNumber->setEnabled(opened);

    for (QToolButton* button :
         {PreviousSegmentedSpeedButton, NextSegmentedSpeedButton, SaveSegmentedImageSpeedButton}) {
        button->setEnabled(segmented);
    }
    EnableMenu(Classification, segmented);
    // The crossing treats the open band set: never a segmentation of an earlier set (which is
    // still shown and saved) as this one's.
    TreatmentSpeedButton->setEnabled(segmented && (!ws.segmentation || ws.SegmentedThisSet()));

    SaveResultSpeedButton->setEnabled(crossed);
    // A treatment is saved from the last crossing, and applied to a band set once it is open.
    SaveTreatment->setEnabled(idle && ws.crossing.has_value());
    ApplyTreatment->setEnabled(opened);

    // The result window says when the crossing it shows (the one Save Result saves) treated an
    // earlier band set than the open one.
    if (idle && ResultImageForm) {
        QString note;
        if (ws.crossing && ws.crossing->bandSetNumber != ws.BandSetNumber &&
            ws.crossing->BandCount() >= 1)
            note = QString("  - crossing of the earlier band set of %1")
                       .arg(QFileInfo(QString::fromStdString(ws.crossing->records[1].filePath))
                                .fileName());
        ResultImageForm->SetCaptionNote(note);
    }
}

bool TMainForm::ZoomToolOn() const {
    return ZoomSpeedButton && ZoomSpeedButton->isChecked();
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

// ----- menu -----
void TMainForm::OpenClick() {
    OpenBandSet();
}
void TMainForm::OpenMultibandClick() {
    OpenMultibandImage();
}
void TMainForm::OpenMaskClick() {
    OpenBandSetMask();
}
void TMainForm::SaveTreatmentClick() {
    crossingui::SaveTreatment(Context(), TreatmentFileWindows());
}
void TMainForm::ApplyTreatmentClick() {
    crossingui::ApplyTreatment(Context(), TreatmentFileWindows());
}
void TMainForm::ExitClick() {
    close();
}
void TMainForm::HistoClick() {
    ShowHistogram();
}
void TMainForm::GTNumberClick() {
    GrayTonesNumber();
}
void TMainForm::InfoSegmSSClick() {
    RunModal(*InfoSegmSSForm);
}
void TMainForm::EquipopulationClick() {
    RunModal(*EquipopInfoForm);
}
void TMainForm::DefinitionClick() {
    RunModal(*DefinitionInfoForm);
}
void TMainForm::SegmTreatmentClick() {
    SegmentationTreatment();
}
// Cascade: each child one title bar lower and further right than the one before, at its
// present size, or at the largest size that still fits the client area from its place.
void TMainForm::Cascade1Click() {
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
void TMainForm::Tile1Click() {
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
void TMainForm::Previous1Click() {
    MdiArea->activatePreviousSubWindow();
}
void TMainForm::Next1Click() {
    MdiArea->activateNextSubWindow();
}
void TMainForm::AuthorClick() {
    RunModal(*AuthorForm);
}
void TMainForm::CopyrightClick() {
    RunModal(*CopyrightForm);
}
void TMainForm::EnglishClick() {
    RunModal(*EnglishInfoForm);
}
void TMainForm::FrenchClick() {
    RunModal(*FrenchInfoForm);
}
void TMainForm::SpanishClick() {
    RunModal(*SpanishInfoForm);
}
void TMainForm::ReferencesClick() {
    RunModal(*ReferenceForm);
}

// ----- tool bar -----
void TMainForm::OpenSpeedButtonClick() {
    OpenBandSet();
}
void TMainForm::PreviousSpeedButtonClick() {
    StepBand(-1);
}
void TMainForm::NextSpeedButtonClick() {
    StepBand(+1);
}
void TMainForm::SegmentationSpeedButtonClick() {
    SegmentationTreatment();
}
void TMainForm::PreviousSegmentedSpeedButtonClick() {
    StepSegmentedBand(-1);
}
void TMainForm::NextSegmentedSpeedButtonClick() {
    StepSegmentedBand(+1);
}
void TMainForm::SaveSegmentedImageSpeedButtonClick() {
    SaveSegmentedImage();
}
void TMainForm::TreatmentSpeedButtonClick() {
    CrossBands();
}
void TMainForm::HistoSpeedButtonClick() {
    ShowHistogram();
}
void TMainForm::ZoomSpeedButtonClick() {
    SetScreenCursor(ZoomToolOn() ? crLoupe : crDefault);
}
void TMainForm::SaveResultSpeedButtonClick() {
    SaveResult();
}
void TMainForm::ExitSpeedButtonClick() {
    close();
}
