// Long steps on the worker thread: the same results as at once, a cancel at a known point of
// every kind of step that leaves the state, the colours and the files as they were, and a
// window closed while work runs.
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstring>
#include <string>

#include "app/mainwindow.h"
#include "golden.h"
#include "gui/guitest.h"
#include "rasterfiles.h"
#include "testfiles.h"

namespace {
using guitest::Answer;
using guitest::ChooseFile;
using guitest::Segment;
using guitest::TypeAndClick;
using testing_support::ListFolder;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

Answer KeepAll() {
    return [](QDialog& dialog) {
        dialog.findChild<QAbstractButton*>("RadioButton3")->click();
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    };
}

// Every step runs on the worker thread; `CancelAt` stops the next run at a known step.
class Work : public guitest::ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        form->Work->threshold = 0;
        for (const char* name : {"a", "b"}) {
            WriteBytes(dir.File(std::string(name) + ".raw"), {0, 10, 20, 30, 40, 50});
            WriteText(dir.File(std::string(name) + ".txt"), "2\n3\n");
        }
    }
    void CancelAt(const char* stage, int at) {
        form->Work->stepHook = [stage, at, seen = 0](const char* now, int64_t, int64_t) mutable {
            return std::strcmp(now, stage) != 0 || seen++ != at;
        };
    }
    void Open() {
        script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
        script.Then(ChooseFile(QString::fromStdString(dir.File("a.raw"))));
        script.Then(ChooseFile(QString::fromStdString(dir.File("b.raw"))));
        Trigger("OpenSpeedButton");
    }
    void SegmentAndCross(const char* count) {
        script.Then(Segment("RadioButton1", count));
        script.Then(Segment("RadioButton1", count));
        Trigger("SegmentationSpeedButton");
        script.Then(KeepAll());
        Trigger("TreatmentSpeedButton");
    }
    ScratchDir dir;
};

TEST_F(Work, TheGoldenJobOnTheWorkerThreadWritesTheStoredFiles) {
    ScratchDir job;
    const testing_support::GoldenCase golden =
        testing_support::GoldenCase::Prepare("golden-samples", job.path());
    auto path = [&job](const char* name) { return QString::fromStdString(job.File(name)); };
    script.Then(TypeAndClick({{"NumBandEdit", "5"}}, "BitBtn1"));
    for (const char* band : {"band1.raw", "band2.raw", "band3.raw", "band4.raw"})
        script.Then(ChooseFile(path(band), 1));
    script.Then(ChooseFile(path("band1.bmp"), 2));
    Trigger("OpenSpeedButton");
    script.Then(Segment("RadioButton1", "4"));
    script.Then(Segment("RadioButton2", "3"));
    script.Then(Segment("RadioButton3", "3"));
    for (const char* limit : {"60", "120", "255"})
        script.Then(TypeAndClick({{"MaxValEdit", limit}}, "BitBtn1"));
    script.Then(Segment("RadioButton1", "2"));
    script.Then(Segment("RadioButton2", "2"));
    Trigger("SegmentationSpeedButton");
    script.Then([](QDialog& dialog) {
        dialog.findChild<QRadioButton*>("RadioButton2")->click();
        dialog.findChild<QLineEdit*>("MinPixelEdit")->setText("100");
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    });
    Trigger("TreatmentSpeedButton");
    script.Then(ChooseFile(path("result")));
    Trigger("SaveResultSpeedButton");
    script.Then(ChooseFile(path("seg")));
    Trigger("SaveSegmentedImageSpeedButton");
    EXPECT_TRUE(script.messages.empty());
    EXPECT_EQ(std::vector<std::string>{},
              golden.Compare(job.path(),
                             {{"result_codes.txt", form->ws.CodeListFolder() + "/multi_tab.txt"}}));
}

TEST_F(Work, ACancelLeavesEveryKindOfStepAsItWas) {
    Open();
    SegmentAndCross("2");
    ASSERT_TRUE(form->ws.crossing.has_value());
    const uint64_t draws = form->ws.random.DrawCount();

    // Segmentation: cancelled while numbering band 2.
    CancelAt(tessera::kStageNumbering, 1);
    script.Then(Segment("RadioButton1", "3"));
    script.Then(Segment("RadioButton1", "3"));
    Trigger("SegmentationSpeedButton");
    EXPECT_EQ(4, form->ws.segmentation->table.CodeCount);
    EXPECT_EQ(draws, form->ws.random.DrawCount());

    // Crossing: cancelled while counting, then while painting.
    CancelAt(tessera::kStageCounting, 0);
    Trigger("TreatmentSpeedButton");
    CancelAt(tessera::kStagePainting, 1);
    script.Then(KeepAll());
    Trigger("TreatmentSpeedButton");
    EXPECT_EQ(4, form->ws.crossing->classCount);
    EXPECT_EQ(draws, form->ws.random.DrawCount());

    // Save: cancelled before the files are put in place; nothing is left behind.
    const std::vector<std::string> before = ListFolder(dir.path());
    CancelAt(tessera::kStageSaving, 1);
    script.Then(ChooseFile(QString::fromStdString(dir.File("r"))));
    Trigger("SaveResultSpeedButton");
    EXPECT_EQ(before, ListFolder(dir.path()));

    // Loading: band 2 cancelled ends the sequence; the new set holds band 1 only, nothing of
    // the earlier set.
    WriteBytes(dir.File("c.raw"), {9, 9, 9, 9, 9, 9});
    WriteText(dir.File("c.txt"), "2\n3\n");
    CancelAt(tessera::kStageLoading, 2);  // band 1 reports two steps
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(QString::fromStdString(dir.File("c.raw"))));
    script.Then(ChooseFile(QString::fromStdString(dir.File("c.raw"))));
    Trigger("OpenSpeedButton");
    EXPECT_EQ(9, form->ws.Band(1).minGray);
    EXPECT_FALSE(form->ws.Band(2).Loaded());
    EXPECT_EQ("", form->ws.Record(2).filePath);
    EXPECT_EQ(std::vector<guitest::Message>{}, script.messages);
    EXPECT_FALSE(form->Busy());
}

TEST_F(Work, ClosingTheWindowDuringWorkAsksThenStopsItAndCloses) {
    Open();
    SegmentAndCross("2");
    bool segmentationDisabled = false, cascadeEnabled = false;
    std::atomic<bool> asked{false};
    form->Work->stepHook = [&](const char* stage, int64_t, int64_t) {
        if (std::strcmp(stage, tessera::kStageNumbering) != 0 || asked) return true;
        asked = true;
        QMetaObject::invokeMethod(form, [&] {
            segmentationDisabled = !Enabled("SegmentationSpeedButton");
            cascadeEnabled = Enabled("Cascade1");
            form->close();
        });
        // Wait here, at a known point, until the close has asked to stop the work.
        for (int wait = 0; wait < 500 && !form->Work->Cancelled(); ++wait) QThread::msleep(10);
        return true;
    };
    script.Then(Segment("RadioButton1", "3"));
    script.Then(Segment("RadioButton1", "3"));
    Trigger("SegmentationSpeedButton");
    EXPECT_TRUE(segmentationDisabled);
    EXPECT_TRUE(cascadeEnabled);
    ASSERT_EQ(1u, script.questions.size());
    EXPECT_EQ(4, form->ws.segmentation->table.CodeCount);  // the earlier result, whole
    EXPECT_FALSE(form->isVisible());
}

// A scene on the map: Save Result tells every stage of its saving (the strips, the GeoTIFF's
// overviews, its cloud-optimised copy, the legend files) and Cancel in the progress dialog
// stops it in each, leaving the earlier files as they were and no temporary file.
TEST_F(Work, CancelInTheProgressDialogStopsTheSaveInEachStage) {
    const int lines = 600, columns = 700;  // more than a tile: the GeoTIFF has an overview
    std::vector<std::vector<double>> bands(2, std::vector<double>(size_t{lines} * columns));
    for (int band = 1; band <= 2; ++band)
        for (size_t i = 0; i < bands[band - 1].size(); ++i)
            bands[band - 1][i] =
                static_cast<double>((i % columns / (band + 2) + i / columns * band) % 251);
    testing_support::RasterExtras extras;
    extras.place = testing_support::RasterPlace{{500000, 30, 0, 4650000, 0, -30}, 32631};
    const std::string scene = dir.File("scene.tif");
    ASSERT_TRUE(testing_support::WriteGeoTiff(scene, lines, columns,
                                              testing_support::RasterType::Byte, bands, extras));
    script.Then(ChooseFile(QString::fromStdString(scene)), "OPEN MULTI-BAND IMAGE");
    script.Then(guitest::Accept(), " RASTER BAND");
    Trigger("OpenMultiband");
    SegmentAndCross("3");
    ASSERT_TRUE(form->ws.crossing.has_value());

    ScratchDir out;
    const std::vector<std::string> names{"r.bmp", "r.csv",         "r.qml", "r.raw",
                                         "r.tif", "r.tif.aux.xml", "r.txt"};
    for (const std::string& name : names) WriteText(out.File(name), "earlier " + name);
    const QString stem = QString::fromStdString(out.File("r"));
    for (const char* stage : {tessera::kStageSaving, tessera::kStageOverviews,
                              tessera::kStageGeoTiffCopy, tessera::kStageLegend}) {
        SCOPED_TRACE(stage);
        std::atomic<bool> pressed{false};
        QString shown;
        form->Work->stepHook = [&, stage](const char* now, int64_t, int64_t) {
            if (pressed || std::strcmp(now, stage) != 0) return true;
            pressed = true;
            // The user presses Cancel in the dialog while the stage is shown; the work waits
            // here until the press has reached it.
            QMetaObject::invokeMethod(form, [&] {
                auto* dialog = form->findChild<QProgressDialog*>("WorkProgress");
                if (dialog == nullptr) return;
                QApplication::processEvents();
                auto* cancel = dialog->findChild<QPushButton*>();
                if (cancel) cancel->click();
            });
            for (int wait = 0; wait < 500 && !form->Work->Cancelled(); ++wait) QThread::msleep(10);
            return true;  // the press alone must stop the save
        };
        script.Then(ChooseFile(stem));
        Trigger("SaveResultSpeedButton");
        EXPECT_TRUE(pressed);
        EXPECT_TRUE(form->Work->Cancelled());
        EXPECT_EQ(names, ListFolder(out.path()));
        for (const std::string& name : names)
            EXPECT_EQ("earlier " + name, testing_support::ReadText(out.File(name))) << name;
        EXPECT_EQ(std::vector<guitest::Message>{}, script.messages);
    }
    // Not cancelled, the save replaces every file.
    form->Work->stepHook = nullptr;
    script.Then(ChooseFile(stem));
    Trigger("SaveResultSpeedButton");
    EXPECT_EQ(names, ListFolder(out.path()));
    EXPECT_NE("earlier r.tif", testing_support::ReadText(out.File("r.tif")));
}

// The progress dialog reads 100 % only when the work has ended: a stage done while the work
// goes on reads less.
TEST_F(Work, AStageDoneIsNotShownAsTheWholeWorkDone) {
    std::atomic<bool> looked{false};
    int shown = -1;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, &watch, [&] {
        auto* dialog = form->findChild<QProgressDialog*>("WorkProgress");
        if (!looked && dialog && dialog->isVisible() && dialog->value() > 0) {
            shown = dialog->value();
            looked = true;
        }
    });
    watch.start();
    form->Work->Run("Counting", 1, [&](tessera::Progress& progress) {
        progress.Step(tessera::kStageCounting, 10, 10);
        // The stage is done; the work waits here until the dialog has shown it.
        for (int wait = 0; wait < 500 && !looked; ++wait) QThread::msleep(10);
    });
    watch.stop();
    ASSERT_TRUE(looked);
    EXPECT_EQ(999, shown);
}

}  // namespace
