#pragma once
// The main window: an MDI frame with the menu, the tool bar and the four-panel status bar. It
// owns all working state (`ws`); its command handlers read the dialogs and call the core.
#include <QCursor>
#include <QMainWindow>
#include <QString>
#include <array>
#include <functional>
#include <map>

#include "bands/ui/bandsetcommands.h"
#include "crossing/ui/crossingcommands.h"
#include "segmentation/ui/segmentationcommands.h"
#include "uikit/command.h"
#include "uikit/seam.h"
#include "workspace/workspace.h"

class QAction;
class QCloseEvent;
class QButtonGroup;
class QFileDialog;
class QLabel;
class QMdiArea;
class QMenu;
class QStatusBar;
class QToolBar;
class QToolButton;
class TBandChoiceForm;
class TRasterChoiceForm;
class TMaskChoiceForm;
class TStatusPanels;

class TMainForm : public QMainWindow {
    Q_OBJECT
  public:
    explicit TMainForm(const DialogSeam& seam, QWidget* parent = nullptr);
    ~TMainForm() override;

    tessera::Workspace ws;
    DialogSeam seam;
    // Runs the long steps of the commands off the GUI thread.
    TWorkRunner* Work = nullptr;
    // True while a long step runs: the windows then read nothing of `ws`.
    bool Busy() const { return Work && Work->Running(); }

    // ----- menu -----
    QMenu* Files = nullptr;
    QAction* Open = nullptr;
    QAction* OpenMultiband = nullptr;
    QAction* OpenMask = nullptr;
    QAction* SaveTreatment = nullptr;
    QAction* ApplyTreatment = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit = nullptr;
    QMenu* Tools = nullptr;
    QAction* Histo = nullptr;
    QAction* GTNumber = nullptr;
    QMenu* Treatments = nullptr;
    QMenu* Segmentation = nullptr;
    QMenu* SegmInfo = nullptr;
    QAction* InfoSegmSS = nullptr;
    QAction* Equipopulation = nullptr;
    QAction* Definition = nullptr;
    QAction* SegmTreatment = nullptr;
    QMenu* Classification = nullptr;
    QAction* ClassifInfo = nullptr;
    QAction* ClassifTreatment = nullptr;
    QMenu* Window = nullptr;
    QAction* Cascade1 = nullptr;
    QAction* Tile1 = nullptr;
    QAction* Previous1 = nullptr;
    QAction* Next1 = nullptr;
    QMenu* About = nullptr;
    QAction* Author = nullptr;
    QAction* Copyright = nullptr;
    QMenu* Infos = nullptr;
    QAction* English = nullptr;
    QAction* French = nullptr;
    QAction* Spanish = nullptr;
    QAction* References = nullptr;

    // ----- tool bar -----
    QToolBar* ToolBar1 = nullptr;
    QToolButton* OpenSpeedButton = nullptr;
    QToolButton* PreviousSpeedButton = nullptr;
    QToolButton* NextSpeedButton = nullptr;
    QToolButton* SegmentationSpeedButton = nullptr;
    QToolButton* PreviousSegmentedSpeedButton = nullptr;
    QToolButton* NextSegmentedSpeedButton = nullptr;
    QToolButton* SaveSegmentedImageSpeedButton = nullptr;
    QToolButton* TreatmentSpeedButton = nullptr;
    QToolButton* HistoSpeedButton = nullptr;
    QToolButton* ZoomSpeedButton = nullptr;
    QToolButton* SaveResultSpeedButton = nullptr;
    QToolButton* ExitSpeedButton = nullptr;

    // ----- status bar and client area -----
    QStatusBar* StatusBar = nullptr;
    std::array<QLabel*, 4> Panels{};
    // The map coordinates under the pointer, after the four panels, in the room they leave;
    // hidden while the pointer is over no pixel that lies on the map.
    QLabel* MapPanel = nullptr;
    TStatusPanels* PanelStrip = nullptr;
    QMdiArea* MdiArea = nullptr;

    // ----- file dialogs -----
    std::array<QFileDialog*, tessera::kMaximumBands + 1> BandOpenDialogs{};  // 1..10
    QFileDialog* SavePictureDialog2 = nullptr;                               // Save Segmented Image
    QFileDialog* SavePictureDialog = nullptr;                                // Save Result
    QFileDialog* MultibandOpenDialog = nullptr;   // Open Multi-band Image
    TBandChoiceForm* BandChoice = nullptr;        // which bands of a file of more than 10
    TRasterChoiceForm* RasterChoice = nullptr;    // nodata and stretch of a raster band
    QFileDialog* MaskOpenDialog = nullptr;        // Open Mask
    QFileDialog* SaveTreatmentDialog = nullptr;   // Save Treatment
    QFileDialog* ApplyTreatmentDialog = nullptr;  // Apply Treatment
    TMaskChoiceForm* MaskChoice = nullptr;        // the band and rule of a mask

    // Registered cursors (30: the magnifier).
    std::map<int, QCursor> Cursors;
    void SetScreenCursor(int cursor);

    void SetPanel(int panel, const QString& text);
    void SetMapPanel(const QString& text);
    QString PanelText(int panel) const;

    // Applies the command step of `ws` to every menu item and tool button, in one place.
    void UpdateCommands();
    bool ZoomToolOn() const;

    // Shows a message through the seam.
    void Message(const QString& text, const QString& caption);
    // Runs a dialog through the seam.
    int RunModal(QDialog& dialog);

    // Runs one command: what escapes it is shown and the program goes on; the commands'
    // states follow the working state after it.
    void RunCommand(const std::function<void()>& command);

    // ----- operations, each carried out by its subsystem (bands/ui, segmentation/ui,
    //       crossing/ui) -----
    void OpenBandSet();
    void OpenMultibandImage();
    void OpenBandSetMask();
    bool LoadBand(int band);
    void SegmentationTreatment();
    void CrossBands();
    void SaveResult();
    void ShowSegmentedBand(int band, bool setCaption);
    // Previous (-1) / Next (+1) band in the band window.
    void StepBand(int step);
    // Previous (-1) / Next (+1) segmented band.
    void StepSegmentedBand(int step);
    void SaveSegmentedImage();
    void GrayTonesNumber();
    void ShowHistogram();

  public slots:
    void OpenClick();
    void OpenMultibandClick();
    void OpenMaskClick();
    void SaveTreatmentClick();
    void ApplyTreatmentClick();
    void ExitClick();
    void HistoClick();
    void GTNumberClick();
    void InfoSegmSSClick();
    void EquipopulationClick();
    void DefinitionClick();
    void SegmTreatmentClick();
    void Cascade1Click();
    void Tile1Click();
    void Previous1Click();
    void Next1Click();
    void AuthorClick();
    void CopyrightClick();
    void EnglishClick();
    void FrenchClick();
    void SpanishClick();
    void ReferencesClick();

    void OpenSpeedButtonClick();
    void PreviousSpeedButtonClick();
    void NextSpeedButtonClick();
    void SegmentationSpeedButtonClick();
    void PreviousSegmentedSpeedButtonClick();
    void NextSegmentedSpeedButtonClick();
    void SaveSegmentedImageSpeedButtonClick();
    void TreatmentSpeedButtonClick();
    void HistoSpeedButtonClick();
    void ZoomSpeedButtonClick();
    void SaveResultSpeedButtonClick();
    void ExitSpeedButtonClick();

  public:
    // None: the frame offers no menu that hides its tool bar (a right click that zooms out
    // would otherwise bring Qt's menu of tool bars).
    QMenu* createPopupMenu() override { return nullptr; }

  protected:
    // Closing while a long step runs asks to stop it first; the program closes once it has.
    void closeEvent(QCloseEvent* event) override;

  private:
    // What every command works with, and the windows of each subsystem's commands.
    CommandContext Context();
    BandSetWindows BandWindows() const;
    SegmentationWindows SegmentWindows() const;
    CrossingWindows CrossWindows() const;
    TreatmentWindows TreatmentFileWindows() const;

    // A handler run as one command (RunCommand), for connecting to a menu item or button.
    std::function<void()> Command(void (TMainForm::*handler)());

    void BuildMenu();
    void BuildToolBar();
    void BuildStatusBar();
    void BuildFileDialogs();
    // The latching group (band and segmented-band stepping, zoom): at most one button down,
    // pressing one raises the others, pressing a down one raises it.
    void LatchGroupButton(QToolButton* pressed);

    QButtonGroup* LatchingGroup = nullptr;
    bool cursorOverridden_ = false;  // this window holds the one override cursor
    bool closeAfterWork_ = false;
};
