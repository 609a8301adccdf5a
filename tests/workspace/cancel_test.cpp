// A long operation cancelled part-way leaves the working state, the colour sequence and the
// files as they were.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "matrices.h"
#include "testfiles.h"
#include "workspace/workspace.h"

namespace tessera {
namespace {
using testing_support::Bytes;
using testing_support::ListFolder;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

// Cancels at the `at`-th step (0-based) of `stage`; counts every step.
class CancelAt : public Progress {
  public:
    CancelAt(const char* stage, int at) : stage_(stage), at_(at) {}
    bool Step(const char* stage, int64_t, int64_t) override {
        ++steps;
        return std::string(stage) != stage_ || seen_++ != at_;
    }
    int steps = 0;

  private:
    std::string stage_;
    int at_;
    int seen_ = 0;
};

class Cancelling : public ::testing::Test {
  protected:
    void SetUp() override {
        ws.BeginBandSet(2);
        ASSERT_TRUE(ws.StoreBand(1, dir.File("a.raw"), Bytes({{0, 10, 20}, {30, 40, 50}})));
        ASSERT_TRUE(ws.StoreBand(2, dir.File("b.raw"), Bytes({{5, 5, 100}, {100, 5, 100}})));
        for (int band = 1; band <= 2; ++band) ws.SetSegmentation(band, Segmentation, 2, {});
        ASSERT_TRUE(ws.FinishSegmentation());
    }
    void Cross() {
        Result<CodeCounts> counts = ws.CountCodes();
        ASSERT_TRUE(counts);
        ASSERT_TRUE(ws.FinishCrossing(std::move(*counts.value), SelectAll(4)));
    }
    ScratchDir dir;
    Workspace ws;
};

TEST_F(Cancelling, SegmentationKeepsTheEarlierResultAndTheColourSequence) {
    const ColourTable colours = ws.segmentation->segmentColourTable;
    ws.SetCodeListFolder(dir.path());
    WriteText(dir.File("multi_tab.txt"), "earlier");
    ws.SetSegmentation(1, Segmentation, 3, {});
    const RandomBelow before = ws.random;
    CancelAt cancel(kStageNumbering, 1);
    EXPECT_TRUE(ws.FinishSegmentation(cancel).cancelled);
    EXPECT_EQ(4, ws.segmentation->table.CodeCount);
    EXPECT_EQ(colours, ws.segmentation->segmentColourTable);
    EXPECT_EQ("earlier", ReadText(dir.File("multi_tab.txt")));
    // The next run draws the colours it would have drawn without the cancel.
    RandomBelow expected = before;
    EXPECT_EQ(BuildSegmentColourTable(expected), [&] {
        EXPECT_TRUE(ws.FinishSegmentation());
        return ws.segmentation->segmentColourTable;
    }());
}

TEST_F(Cancelling, CrossingKeepsTheEarlierResultAndTheColourSequence) {
    Cross();
    const ColourTable colours = ws.crossing->classColourTable;
    const RandomBelow before = ws.random;
    CancelAt cancelCount(kStageCounting, 0);
    EXPECT_TRUE(ws.CountCodes(cancelCount).cancelled);
    for (int at = 0; at < 3; ++at) {
        Result<CodeCounts> counts = ws.CountCodes();
        ASSERT_TRUE(counts);
        CancelAt cancel(kStagePainting, at);
        EXPECT_TRUE(
            ws.FinishCrossing(std::move(*counts.value), SelectAll(4), cancel).cancelled);
        EXPECT_EQ(colours, ws.crossing->classColourTable);
        EXPECT_EQ(before.DrawCount(), ws.random.DrawCount());
    }
}

TEST_F(Cancelling, SaveLeavesNoFileAndTheEarlierFilesAsTheyWere) {
    Cross();
    ScratchDir out;
    WriteText(out.File("r.txt"), "earlier report");
    // The strips of a small scene come in one piece: before it and after it.
    for (int at = 0; at < 2; ++at) {
        CancelAt cancelResult(kStageSaving, at);
        EXPECT_TRUE(ws.SaveResult(out.File("r"), cancelResult).cancelled) << at;
        CancelAt cancelSegmented(kStageSaving, at);
        EXPECT_TRUE(ws.SaveSegmented(out.File("s"), cancelSegmented).cancelled) << at;
        EXPECT_EQ((std::vector<std::string>{"r.txt"}), ListFolder(out.path())) << at;
        EXPECT_EQ("earlier report", ReadText(out.File("r.txt")));
    }
    ASSERT_TRUE(ws.SaveResult(out.File("r")));
    EXPECT_EQ((std::vector<std::string>{"r.bmp", "r.raw", "r.txt"}), ListFolder(out.path()));
}

// A scene on the map: the save goes on after the strips with the GeoTIFF's overviews, its
// cloud-optimised copy and the legend files, and can be cancelled in each.
TEST(CancellingOnTheMap, ASaveCancelledInAnyStageKeepsTheEarlierFilesAndLeavesNoTemporary) {
    ScratchDir dir;
    Workspace ws;
    const int lines = 600, columns = 700;  // more than a tile: the GeoTIFF has an overview
    ws.BeginBandSet(2);
    for (int band = 1; band <= 2; ++band) {
        std::optional<ByteMatrix> pixels = ByteMatrix::CreateUnfilled(columns, lines);
        ASSERT_TRUE(pixels);
        for (int y = 0; y < lines; ++y)
            for (int x = 0; x < columns; ++x)
                (*pixels)[y][x] = static_cast<uint8_t>((x / (band + 2) + y * band) % 251);
        ASSERT_TRUE(ws.StoreBand(band, dir.File(band == 1 ? "b1.raw" : "b2.raw"),
                                 std::move(*pixels),
                                 BandMarks{{}, std::nullopt,
                                           Georeference{{500000, 30, 0, 4650000, 0, -30}, ""}}));
        ws.SetSegmentation(band, Equipopulation, 3, {});
    }
    ASSERT_TRUE(ws.FinishSegmentation());
    Result<CodeCounts> counts = ws.CountCodes();
    ASSERT_TRUE(counts);
    ASSERT_TRUE(ws.FinishCrossing(std::move(*counts.value), SelectAll(9)));

    ScratchDir out;
    const std::vector<std::string> names{"r.bmp", "r.csv",         "r.qml", "r.raw",
                                         "r.tif", "r.tif.aux.xml", "r.txt"};
    for (const std::string& name : names) WriteText(out.File(name), "earlier " + name);
    // Every stage of the save is told, in this order.
    struct Seen : Progress {
        std::vector<std::string> stages;
        bool Step(const char* stage, int64_t, int64_t) override {
            if (stages.empty() || stages.back() != stage) stages.push_back(stage);
            return true;
        }
    };
    ScratchDir trial;
    Seen seen;
    ASSERT_TRUE(ws.SaveResult(trial.File("r"), seen));
    EXPECT_EQ(
        (std::vector<std::string>{kStageSaving, kStageOverviews, kStageGeoTiffCopy, kStageLegend}),
        seen.stages);
    for (const char* stage : {kStageSaving, kStageOverviews, kStageGeoTiffCopy, kStageLegend}) {
        for (const int at : {0, 1}) {
            CancelAt cancel(stage, at);
            EXPECT_TRUE(ws.SaveResult(out.File("r"), cancel).cancelled) << stage << " " << at;
            EXPECT_EQ(names, ListFolder(out.path())) << stage << " " << at;
            for (const std::string& name : names)
                EXPECT_EQ("earlier " + name, ReadText(out.File(name))) << stage;
        }
    }
    ASSERT_TRUE(ws.SaveResult(out.File("r")));
    EXPECT_EQ(names, ListFolder(out.path()));
    EXPECT_EQ(ReadText(trial.File("r.csv")), ReadText(out.File("r.csv")));
}

TEST_F(Cancelling, LoadingKeepsTheBandAsItWas) {
    WriteBytes(dir.File("c.raw"), {1, 2, 3, 4, 5, 6});
    WriteText(dir.File("c.txt"), "2\n3\n");
    for (int at = 0; at < 2; ++at) {
        CancelAt cancel(kStageLoading, at);
        BandLoadOptions options;
        options.progress = &cancel;
        EXPECT_TRUE(ws.LoadBand(2, dir.File("c.raw"), BandFileType::Raw, options).cancelled);
        EXPECT_EQ(dir.File("b.raw"), ws.Record(2).filePath);
        EXPECT_EQ(5, ws.Band(2).minGray);
    }
}

}  // namespace
}  // namespace tessera
