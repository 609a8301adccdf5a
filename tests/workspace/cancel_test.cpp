// A long operation cancelled part-way leaves the working state, the colour sequence and the
// files as they were.
#include <gtest/gtest.h>

#include <string>

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
        ASSERT_TRUE(ws.StoreBand(1, dir.File("a.raw"), Bytes({{0, 10, 20}, {30, 40, 50}}), true));
        ASSERT_TRUE(ws.StoreBand(2, dir.File("b.raw"), Bytes({{5, 5, 100}, {100, 5, 100}}), true));
        for (int band = 1; band <= 2; ++band) ws.SetSegmentation(band, Segmentation, 2, {});
        ASSERT_TRUE(ws.FinishSegmentation(true));
    }
    void Cross() {
        Result<CodeCounts> counts = ws.CountCodes();
        ASSERT_TRUE(counts);
        ASSERT_TRUE(ws.FinishCrossing(std::move(*counts.value), SelectAll(4), true));
    }
    ScratchDir dir;
    Workspace ws;
};

TEST_F(Cancelling, SegmentationKeepsTheEarlierResultAndTheColourSequence) {
    const ColourTable colours = ws.segmentation->SegmentColourTable;
    WriteText(dir.File("multi_tab.txt"), "earlier");
    ws.SetSegmentation(1, Segmentation, 3, {});
    const RandomBelow before = ws.random;
    CancelAt cancel(kStageNumbering, 1);
    EXPECT_TRUE(ws.FinishSegmentation(true, false, cancel).cancelled);
    EXPECT_EQ(4, ws.segmentation->table.CodeCount);
    EXPECT_EQ(colours, ws.segmentation->SegmentColourTable);
    EXPECT_EQ("earlier", ReadText(dir.File("multi_tab.txt")));
    // The next run draws the colours it would have drawn without the cancel.
    RandomBelow expected = before;
    EXPECT_EQ(BuildSegmentColourTable(expected), [&] {
        EXPECT_TRUE(ws.FinishSegmentation(true));
        return ws.segmentation->SegmentColourTable;
    }());
}

TEST_F(Cancelling, CrossingKeepsTheEarlierResultAndTheColourSequence) {
    Cross();
    const ColourTable colours = ws.crossing->ClassColorTable;
    const RandomBelow before = ws.random;
    CancelAt cancelCount(kStageCounting, 0);
    EXPECT_TRUE(ws.CountCodes(cancelCount).cancelled);
    for (int at = 0; at < 3; ++at) {
        Result<CodeCounts> counts = ws.CountCodes();
        ASSERT_TRUE(counts);
        CancelAt cancel(kStagePainting, at);
        EXPECT_TRUE(
            ws.FinishCrossing(std::move(*counts.value), SelectAll(4), true, cancel).cancelled);
        EXPECT_EQ(colours, ws.crossing->ClassColorTable);
        EXPECT_EQ(before.DrawCount(), ws.random.DrawCount());
    }
}

TEST_F(Cancelling, SaveLeavesNoFileAndTheEarlierFilesAsTheyWere) {
    Cross();
    ScratchDir out;
    WriteText(out.File("r.txt"), "earlier report");
    for (int at = 0; at < 4; ++at) {
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

TEST_F(Cancelling, LoadingKeepsTheBandAsItWas) {
    WriteBytes(dir.File("c.raw"), {1, 2, 3, 4, 5, 6});
    WriteText(dir.File("c.txt"), "2\n3\n");
    for (int at = 0; at < 2; ++at) {
        CancelAt cancel(kStageLoading, at);
        BandLoadOptions options;
        options.progress = &cancel;
        EXPECT_TRUE(ws.LoadBand(2, dir.File("c.raw"), BandFileType::Raw, options).cancelled);
        EXPECT_EQ(dir.File("b.raw"), ws.records[2].filePath);
        EXPECT_EQ(5, ws.bands[2].minGray);
    }
}

}  // namespace
}  // namespace tessera
