#include "app/mainwindow.h"

#include <QLabel>
#include <QMdiArea>
#include <QStatusBar>

TMainForm::TMainForm(const DialogSeam& dialogSeam, QWidget* parent)
    : QMainWindow(parent), seam(dialogSeam) {
    setWindowTitle(" Tessera_V2");
    MdiArea = new QMdiArea(this);
    setCentralWidget(MdiArea);
    StatusBar = statusBar();
    for (auto& panel : Panels) {
        panel = new QLabel(this);
        panel->setFixedWidth(250);
        StatusBar->addWidget(panel);
    }
}

TMainForm::~TMainForm() = default;

void TMainForm::SetScreenCursor(int) {}
void TMainForm::SetPanel(int panel, const QString& text) { Panels[panel]->setText(text); }
QString TMainForm::PanelText(int panel) const { return Panels[panel]->text(); }
void TMainForm::UpdateCommands() {}
bool TMainForm::ZoomToolOn() const { return false; }
void TMainForm::Message(const QString& text, const QString& caption) { seam.showMessage(text, caption); }
int TMainForm::RunModal(QDialog& dialog) { return seam.runModal(dialog); }

void TMainForm::OpenClick() {}
void TMainForm::ExitClick() {}
void TMainForm::HistoClick() {}
void TMainForm::GTNumberClick() {}
void TMainForm::InfoSegmSSClick() {}
void TMainForm::EquipopulationClick() {}
void TMainForm::DefinitionClick() {}
void TMainForm::SegmTreatmentClick() {}
void TMainForm::Cascade1Click() {}
void TMainForm::Tile1Click() {}
void TMainForm::Previous1Click() {}
void TMainForm::Next1Click() {}
void TMainForm::AuthorClick() {}
void TMainForm::CopyrightClick() {}
void TMainForm::EnglishClick() {}
void TMainForm::FrenchClick() {}
void TMainForm::SpanishClick() {}
void TMainForm::ReferencesClick() {}
void TMainForm::OpenSpeedButtonClick() {}
void TMainForm::PreviousSpeedButtonClick() {}
void TMainForm::NextSpeedButtonClick() {}
void TMainForm::SegmentationSpeedButtonClick() {}
void TMainForm::PreviousSegmentedSpeedButtonClick() {}
void TMainForm::NextSegmentedSpeedButtonClick() {}
void TMainForm::SaveSegmentedImageSpeedButtonClick() {}
void TMainForm::TreatmentSpeedButtonClick() {}
void TMainForm::HistoSpeedButtonClick() {}
void TMainForm::ZoomSpeedButtonClick() {}
void TMainForm::SaveResultSpeedButtonClick() {}
void TMainForm::ExitSpeedButtonClick() {}
