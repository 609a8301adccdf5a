#pragma once
// The main window: an MDI frame with the menu, the tool bar and the four-panel status bar. It
// owns all working state (`ws`); its command handlers read the dialogs and call the core.
#include <QCursor>
#include <QMainWindow>
#include <QString>
#include <array>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "app/glyphs.h"
#include "bands/ui/bandsetcommands.h"
#include "crossing/ui/crossingcommands.h"
#include "segmentation/ui/segmentationcommands.h"
#include "uikit/command.h"
#include "uikit/seam.h"
#include "workspace/workspace.h"

class QAction;
class QActionGroup;
class QCloseEvent;
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

    // ----- menu and tool bar -----
    // The commands are actions built from one table (CommandTable), named as their menu items
    // and tool buttons; findChild<QAction*>(name) finds each.
    QToolBar* ToolBar1 = nullptr;

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
    void SaveTreatmentFile();
    void ApplyTreatmentFile();
    // The children of the client area one title bar lower and further right than the one
    // before, or one above the other.
    void CascadeWindows();
    void TileWindows();

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

    // What a command needs before it can be chosen: a step of the working state.
    enum class Needs {
        Nothing,
        Idle,                   // no long step running
        BandSetSize,            // a band of the set being opened is loaded
        OpenSet,                // a band set was opened
        Segmentation,           // a segmentation was made
        SegmentationOfThisSet,  // ... and none of an earlier set is what would be crossed
        Crossing,               // a crossing was made
        KeptCrossing,           // the last crossing is held
    };
    // A command's tool button.
    struct ToolButtonRow {
        const char* name = nullptr;  // none: the command has no button
        const char* hint = nullptr;
        glyphs::Glyph glyph{};
        bool narrow = false;    // 16 pixels wide rather than 32
        bool latching = false;  // of the latching group
    };
    // A command: its menu item's name and caption (with its mnemonic; none without a menu
    // item), what enables it, its handler (none: choosing it does nothing) and its tool button.
    struct CommandRow {
        const char* name;
        const char* caption;
        Needs needs;
        void (*handler)(TMainForm&);
        ToolButtonRow button;
    };
    static const std::vector<CommandRow>& CommandTable();
    bool Allows(Needs needs) const;

    void BuildCommands();
    void BuildMenu();
    void BuildToolBar();
    void BuildStatusBar();
    void BuildFileDialogs();

    // Every command's actions by name, and with what enables them; every menu likewise.
    std::map<QString, QAction*> actions_;
    std::vector<std::pair<QAction*, Needs>> commands_;
    std::vector<std::pair<QMenu*, Needs>> menus_;
    // The latching group (band and segmented-band stepping, zoom): at most one down, pressing
    // one raises the others, pressing a down one raises it.
    QActionGroup* latchingGroup_ = nullptr;
    QAction* zoom_ = nullptr;
    bool cursorOverridden_ = false;  // this window holds the one override cursor
    bool closeAfterWork_ = false;
};
