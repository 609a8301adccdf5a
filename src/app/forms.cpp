#include "app/forms.h"

#include <QDir>
#include <QMdiArea>
#include <QStandardPaths>

#include "app/infoforms.h"
#include "app/mainwindow.h"
#include "bands/ui/imagesize.h"
#include "bands/ui/numband.h"
#include "crossing/mapresult.h"
#include "crossing/ui/checknumcode1.h"
#include "crossing/ui/checknumcode2.h"
#include "crossing/ui/checknumcode3.h"
#include "segmentation/ui/segmentation.h"
#include "segmentation/ui/segmentdefinition.h"
#include "uikit/desktop.h"
#include "view/ui/histogris.h"
#include "view/ui/imagewindow.h"
#include "view/ui/resultimage.h"
#include "view/ui/tempimage.h"

TMainForm* MainForm = nullptr;
TResultImageForm* ResultImageForm = nullptr;
TImageForm* ImageForm = nullptr;
THistoGrisForm* HistoGrisForm = nullptr;
TImageSizeForm* ImageSizeForm = nullptr;
TAuthorForm* AuthorForm = nullptr;
TEnglishInfoForm* EnglishInfoForm = nullptr;
TFrenchInfoForm* FrenchInfoForm = nullptr;
TCopyrightForm* CopyrightForm = nullptr;
TSpanishInfoForm* SpanishInfoForm = nullptr;
TTempImageForm* TempImageForm = nullptr;
TNumBandForm* NumBandForm = nullptr;
TSegmentationForm* SegmentationForm = nullptr;
TSegmentDefinitionForm* SegmentDefinitionForm = nullptr;
TCheckNumCodeForm1* CheckNumCodeForm1 = nullptr;
TCheckNumCodeForm2* CheckNumCodeForm2 = nullptr;
TCheckNumCodeForm3* CheckNumCodeForm3 = nullptr;
TInfoSegmSSForm* InfoSegmSSForm = nullptr;
TEquipopInfoForm* EquipopInfoForm = nullptr;
TDefinitionInfoForm* DefinitionInfoForm = nullptr;
TReferenceForm* ReferenceForm = nullptr;

void ClearFormReferences() {
    MainForm = nullptr;
    ResultImageForm = nullptr;
    ImageForm = nullptr;
    HistoGrisForm = nullptr;
    ImageSizeForm = nullptr;
    AuthorForm = nullptr;
    EnglishInfoForm = nullptr;
    FrenchInfoForm = nullptr;
    CopyrightForm = nullptr;
    SpanishInfoForm = nullptr;
    TempImageForm = nullptr;
    NumBandForm = nullptr;
    SegmentationForm = nullptr;
    SegmentDefinitionForm = nullptr;
    CheckNumCodeForm1 = nullptr;
    CheckNumCodeForm2 = nullptr;
    CheckNumCodeForm3 = nullptr;
    InfoSegmSSForm = nullptr;
    EquipopInfoForm = nullptr;
    DefinitionInfoForm = nullptr;
    ReferenceForm = nullptr;
}

void ConnectForms(TMainForm* main);

TMainForm* CreateForms(const DialogSeam& seam) {
    AdaptToDesktop();
    MainForm = new TMainForm(seam);
    // The diagnostic code list goes to the application's own data folder, never beside the
    // bands (whose folder may be read-only, or shared).
    const QString dataFolder =
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (!dataFolder.isEmpty() && QDir().mkpath(dataFolder))
        MainForm->ws.SetCodeListFolder(QDir::toNativeSeparators(dataFolder).toStdString());
    const DialogSeam* shared = &MainForm->seam;
    auto addChild = [](auto* window) {
        MainForm->MdiArea->addSubWindow(window);
        window->show();
        return window;
    };
    ResultImageForm = addChild(new TResultImageForm);
    ImageForm = addChild(new TImageForm);
    HistoGrisForm = new THistoGrisForm(shared, MainForm);
    ImageSizeForm = new TImageSizeForm(MainForm);
    AuthorForm = new TAuthorForm(MainForm);
    EnglishInfoForm = new TEnglishInfoForm(MainForm);
    FrenchInfoForm = new TFrenchInfoForm(MainForm);
    CopyrightForm = new TCopyrightForm(MainForm);
    SpanishInfoForm = new TSpanishInfoForm(MainForm);
    TempImageForm = addChild(new TTempImageForm);
    NumBandForm = new TNumBandForm(MainForm);
    SegmentationForm = new TSegmentationForm(shared, MainForm);
    SegmentDefinitionForm = new TSegmentDefinitionForm(shared, MainForm);
    CheckNumCodeForm1 = new TCheckNumCodeForm1(shared, MainForm);
    CheckNumCodeForm2 = new TCheckNumCodeForm2(shared, MainForm);
    CheckNumCodeForm3 = new TCheckNumCodeForm3(MainForm);
    InfoSegmSSForm = new TInfoSegmSSForm(MainForm);
    EquipopInfoForm = new TEquipopInfoForm(MainForm);
    DefinitionInfoForm = new TDefinitionInfoForm(MainForm);
    ReferenceForm = new TReferenceForm(MainForm);
    ConnectForms(MainForm);
    MainForm->show();
    return MainForm;
}

// The windows are leaves: they are given what they read when they are made, and what they
// report reaches the main window through these connections.
void ConnectForms(TMainForm* main) {
    // While a long step changes the working state on its thread, the windows read none of it:
    // they keep the size and band they had, and their read-outs give nothing.
    const tessera::Workspace& ws = main->ws;
    const auto bandSetSize = [&ws, main, size = QSize()]() mutable {
        if (!main->Busy()) size = QSize(ws.Columns(), ws.Lines());
        return size;
    };
    // Where a band lies on the map: its own georeference, when it carries one.
    const auto placeOfBand = [&ws, main](int band) -> std::optional<tessera::Georeference> {
        if (main->Busy() || band < 1 || band > tessera::kMaximumBands) return std::nullopt;
        return ws.Record(band).georeference;
    };
    ImageForm->SetSources({bandSetSize,
                           [&ws, main, band = 0]() mutable {
                               if (!main->Busy()) band = ws.CurrentBand();
                               return band;
                           },
                           nullptr, [&ws, placeOfBand] { return placeOfBand(ws.CurrentBand()); }});
    // The segmented window shows the last segmentation, whatever band set was opened since:
    // its size and the places of its bands.
    const auto segmentedSize = [&ws, main, bandSize = bandSetSize, size = QSize()]() mutable {
        if (main->Busy()) return size;
        size = ws.segmentation ? QSize(ws.segmentation->size.columns, ws.segmentation->size.lines)
                               : bandSize();
        return size;
    };
    TempImageForm->SetSources(
        {segmentedSize,
         [&ws, main, band = 0]() mutable {
             if (!main->Busy()) band = ws.CurrentSegmentedBand;
             return band;
         },
         [&ws, main]() -> const tessera::ByteMatrix* {
             return main->Busy() ? nullptr : &ws.ShownSegmentMatrix;
         },
         [&ws, main]() -> std::optional<tessera::Georeference> {
             const int band = ws.CurrentSegmentedBand;
             if (main->Busy() || !ws.segmentation || band < 1 ||
                 band >= static_cast<int>(ws.segmentation->records.size()))
                 return std::nullopt;
             return ws.segmentation->records[static_cast<size_t>(band)].georeference;
         }});
    ResultImageForm->SetSources({bandSetSize, nullptr,
                                 [&ws, main]() -> const tessera::ByteMatrix* {
                                     return !main->Busy() && ws.crossing ? &ws.crossing->classImage
                                                                         : nullptr;
                                 },
                                 [&ws, main]() -> std::optional<tessera::Georeference> {
                                     if (main->Busy() || !ws.crossing) return std::nullopt;
                                     return tessera::SharedGeoreference(ws.crossing->records);
                                 }});
    for (TPictureForm* window :
         std::initializer_list<TPictureForm*>{ImageForm, TempImageForm, ResultImageForm}) {
        QObject::connect(window, &TPictureForm::ReadOut, main, &TMainForm::SetPanel);
        QObject::connect(window, &TPictureForm::MapReadOut, main, &TMainForm::SetMapPanel);
        QObject::connect(window, &TPictureForm::ZoomRequested, main,
                         [main, window](Qt::MouseButton button, QPoint point) {
                             if (main->ZoomToolOn()) window->Zoom(button, point);
                         });
    }
    QObject::connect(HistoGrisForm, &THistoGrisForm::SaveEnded, main,
                     [main] { main->SetScreenCursor(crDefault); });
    QObject::connect(NumBandForm, &TNumBandForm::BandCountChanged, CheckNumCodeForm2,
                     [](int count) { CheckNumCodeForm2->BandCount = count; });
}
