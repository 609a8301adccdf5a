#include "workspace/workspace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "matrices.h"
#include "support/paths.h"
#include "testfiles.h"
#include "workspace/resultfiles.h"

namespace tessera {
namespace {
using testing_support::Bytes;
using testing_support::Ints;

using testing_support::FileExists;
using testing_support::ListFolder;
using testing_support::ReadBytes;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

std::vector<uint8_t> PaletteEntry(const std::vector<uint8_t>& bitmap, int entry) {
    const size_t at = 54 + 4 * static_cast<size_t>(entry);
    return {bitmap[at], bitmap[at + 1], bitmap[at + 2], bitmap[at + 3]};
}

std::vector<uint8_t> EntryBytes(const ColourEntry& colour) {
    return {colour.blue, colour.green, colour.red, colour.spare};
}

// Two bands of 2 lines x 3 columns whose numbers, codes and classes can be followed by hand:
//   band 1: 0 10 20 / 30 40 50, stricto sensu N = 2 -> 0-26, 27-50 -> 1 1 1 / 2 2 2
//   band 2: 100 100 200 / 200 150 250, definition 150, 250 -> 100-150, 151-250 -> 1 1 2 / 2 1 2
//   codes (2 x 2 table): 1 1 2 / 4 3 4, pixel counts 2, 1, 1, 2.
class TwoBands : public ::testing::Test {
  protected:
    void SetUp() override {
        ws.BeginBandSet(2);
        ASSERT_TRUE(ws.StoreBand(1, Band1Path(), Bytes({{0, 10, 20}, {30, 40, 50}})));
        ASSERT_TRUE(ws.StoreBand(2, Band2Path(), Bytes({{100, 100, 200}, {200, 150, 250}})));
        ws.SetSegmentation(1, Segmentation, 2, {});
        ws.SetSegmentation(2, Definition, 2, {150, 250});
    }

    std::string Band1Path() const { return dir.File("b1.raw"); }
    std::string Band2Path() const { return dir.File("b2.raw"); }

    void SegmentAndCross(int64_t minimum) {
        ASSERT_TRUE(ws.FinishSegmentation());
        Result<CodeCounts> counts = ws.CountCodes();
        ASSERT_TRUE(counts) << counts.message;
        std::vector<int32_t> selected = SelectByMinimum(counts.value->pixelCount, minimum);
        ASSERT_TRUE(ws.FinishCrossing(std::move(*counts.value), std::move(selected)));
    }

    std::string ExpectedReport() const {
        return "2\n3\n1\n0\n255\n"
               "\nNumber of Bands = 2"
               "\n\nBand 1 = " +
               Band1Path() +
               " "
               "\nType of thresholding : Segmentation \n"
               "\nSegment limits\n"
               "\nNumber of segments : 2 "
               "\n\tSegment 1 min = 0 max = 26 "
               "\n\tSegment 2 min = 27 max = 50 "
               "\n\nBand 2 = " +
               Band2Path() +
               " "
               "\nType of thresholding : Definition \n"
               "\nSegment limits\n"
               "\nNumber of segments : 2 "
               "\n\tSegment 1 min = 100 max = 150 "
               "\n\tSegment 2 min = 151 max = 250 "
               "\n\n\tCodes\tNumber of pixels\n\n"
               "\t1\t1\t1\t\t2\n"
               "\t2\t2\t2\t\t2\n";
    }

    ScratchDir dir;
    Workspace ws;
};

TEST_F(TwoBands, StoringABandKeepsItsRangeSizeAndPath) {
    EXPECT_EQ(2, ws.Lines());
    EXPECT_EQ(3, ws.Columns());
    EXPECT_EQ(2, ws.BandCount());
    EXPECT_EQ(2, ws.CurrentBand());
    EXPECT_EQ(100, ws.Band(2).minGray);
    EXPECT_EQ(250, ws.Band(2).maxGray);
    EXPECT_EQ(Band2Path(), ws.Record(2).filePath);
    EXPECT_EQ(Bytes({{0, 10, 20}, {30, 40, 50}}), ws.Band(1).pixels);

    ASSERT_TRUE(ws.StoreBand(1, dir.File("other.raw"), Bytes({{7, 9}})));
    EXPECT_EQ(7, ws.Band(1).minGray);
    EXPECT_EQ(9, ws.Band(1).maxGray);
}

TEST_F(TwoBands, SizesAreComparedOnlyWithinOneOpenSequence) {
    const Status refused = ws.CheckBandSize(2, "third.raw", ImageSize{3, 2});
    EXPECT_FALSE(refused);
    EXPECT_EQ(SizeMismatchMessage("third.raw", ImageSize{3, 2}, ImageSize{2, 3}), refused.message);
    EXPECT_TRUE(ws.CheckBandSize(2, "same.raw", ImageSize{2, 3}));

    ws.BeginBandSet(3);
    EXPECT_EQ(3, ws.CurrentBand());
    EXPECT_TRUE(ws.CheckBandSize(1, "new.raw", ImageSize{3, 2}));
    ASSERT_TRUE(ws.StoreBand(1, "new.raw", Bytes({{1, 2}, {3, 4}, {5, 6}})));
    EXPECT_FALSE(ws.CheckBandSize(2, "old-size.raw", ImageSize{2, 3}));
}

TEST_F(TwoBands, MissingBandIsNamedAndANewSetTakesNoBandOfTheEarlierOne) {
    EXPECT_TRUE(ws.CheckAllBandsLoaded());
    ws.BeginBandSet(3);
    EXPECT_EQ(MissingBandMessage(1), ws.CheckAllBandsLoaded().message);
    EXPECT_EQ("", ws.Record(2).filePath);
    ASSERT_TRUE(ws.StoreBand(1, dir.File("n1.raw"), Bytes({{1, 2, 3}, {4, 5, 6}})));
    ASSERT_TRUE(ws.StoreBand(2, dir.File("n2.raw"), Bytes({{1, 2, 3}, {4, 5, 6}})));
    const Status missing = ws.CheckAllBandsLoaded();
    EXPECT_FALSE(missing);
    EXPECT_EQ(MissingBandMessage(3), missing.message);
}

TEST_F(TwoBands, AFileIsReadByWhatItsFirstBytesSayItIs) {
    // A bitmap picked as a raw image is read as a bitmap, and no descriptor is written
    // beside it; a raw image with its descriptor picked as a raster is read as raw.
    ByteMatrix rows = *NewByteMatrix(40, 40);
    for (size_t i = 0; i < rows.Size(); ++i) rows.Data()[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(0, WriteBitmapFile(dir.File("p.bmp"), rows, 40, 40, GrayKind, GrayRamp()));
    ws.BeginBandSet(2);
    std::filesystem::rename(dir.File("p.bmp"), dir.File("p.raw"));
    EXPECT_EQ(BandFileType::Bitmap, ReaderFor(dir.File("p.raw"), BandFileType::Raw));
    BandLoadOptions options;
    options.askSize = [] { return std::optional<ImageSize>(ImageSize{40, 40}); };
    const Status loaded = ws.LoadBand(1, dir.File("p.raw"), BandFileType::Raw, options);
    ASSERT_TRUE(loaded) << loaded.message;
    EXPECT_EQ(BandFileType::Bitmap, ws.LoadedType());
    EXPECT_EQ(rows, ws.Band(1).pixels);
    EXPECT_FALSE(FileExists(dir.File("p.txt")));
    EXPECT_EQ("a bitmap file", FileKindText(dir.File("p.raw")));

    WriteBytes(dir.File("tif.raw"), {'I', 'I', 42, 0, 8, 0, 0, 0});
    EXPECT_EQ(BandFileType::Raster, ReaderFor(dir.File("tif.raw"), BandFileType::Raw));
    EXPECT_EQ(BandFileType::Raster, ReaderFor(dir.File("tif.raw"), BandFileType::Bitmap));
    WriteBytes(Band2Path(), {100, 100, 200, 200, 150, 250});
    EXPECT_EQ(BandFileType::Raster, ReaderFor(Band2Path(), BandFileType::Raster));
    WriteText(ReplaceExtension(Band2Path(), ".txt"), "2\n3\n");
    EXPECT_EQ(BandFileType::Raw, ReaderFor(Band2Path(), BandFileType::Raster));
}

TEST_F(TwoBands, SegmentationNumbersPaintsAndListsTheCodes) {
    ScratchDir programData;
    ws.SetCodeListFolder(programData.path());
    ASSERT_TRUE(ws.FinishSegmentation());
    ASSERT_TRUE(ws.segmentation);
    const SegmentationResult& result = *ws.segmentation;
    EXPECT_EQ(Bytes({{1, 1, 1}, {2, 2, 2}}), ws.SegmentNumbers(1));
    EXPECT_EQ(Bytes({{1, 1, 2}, {2, 1, 2}}), ws.SegmentNumbers(2));
    EXPECT_EQ(ws.SegmentNumbers(2), ws.ShownSegmentMatrix);
    EXPECT_EQ(2, ws.CurrentSegmentedBand);
    EXPECT_EQ(PaletteMode::Segments, ws.Palette());
    EXPECT_EQ(StepBandsSegmented, ws.Step());
    EXPECT_EQ(762u, ws.random.DrawCount());
    EXPECT_EQ(4, result.table.CodeCount);
    EXPECT_EQ((ImageSize{2, 3}), result.size);
    ASSERT_EQ(3u, result.records.size());
    EXPECT_EQ(Band2Path(), result.records[2].filePath);
    EXPECT_EQ(ws.Record(2).segmentLimits, result.records[2].segmentLimits);

    // The code list goes to the program's folder, not beside the bands.
    EXPECT_EQ("1\t1\t1\t\n2\t1\t2\t\n3\t2\t1\t\n4\t2\t2\t\n11\t12\t21\t22\t",
              ReadText(programData.File("multi_tab.txt")));
    EXPECT_FALSE(FileExists(dir.File("multi_tab.txt")));
}

TEST_F(TwoBands, EquipopulationUsesTheBandsHistogram) {
    // Six levels of one pixel, N = 3, P = 2: segments close where adding the next occupied level
    // would pass P (after levels 19 and 39).
    ws.SetSegmentation(1, Equipopulation, 3, {});
    EXPECT_EQ(Equipopulation, ws.Record(1).thresholdingType);
    EXPECT_EQ(3, ws.Record(1).segmentCount);
    EXPECT_EQ((std::vector<int64_t>{0, 0, 20, 40}), ws.Record(1).segmentLimits.lower);
    EXPECT_EQ((std::vector<int64_t>{0, 19, 39, 50}), ws.Record(1).segmentLimits.upper);
    ASSERT_TRUE(ws.FinishSegmentation());
    EXPECT_EQ(Bytes({{1, 1, 2}, {2, 3, 3}}), ws.SegmentNumbers(1));
}

TEST_F(TwoBands, CrossingCountsCodesAndKeepsCodesAboveTheMinimum) {
    ASSERT_TRUE(ws.FinishSegmentation());
    const Result<CodeCounts> counts = ws.CountCodes();
    ASSERT_TRUE(counts);
    EXPECT_EQ((std::vector<int64_t>{0, 2, 1, 1, 2}), counts.value->pixelCount);

    ASSERT_TRUE(
        ws.FinishCrossing(*counts.value, SelectByMinimum(counts.value->pixelCount, 1)));
    const CrossingResult& crossing = *ws.crossing;
    EXPECT_EQ(2, crossing.classCount);
    EXPECT_EQ((std::vector<int32_t>{0, 1, 4}), crossing.selectedCodes);
    EXPECT_EQ(Bytes({{1, 1, 255}, {2, 255, 2}}), crossing.classImage);
    EXPECT_EQ(PaletteMode::Classes, ws.Palette());
    EXPECT_EQ(StepBandsCrossed, ws.Step());
    EXPECT_EQ(2u * 762u, ws.random.DrawCount());
}

TEST_F(TwoBands, ABandOpenedAfterTheSegmentationChangesNeitherItsNumbersNorItsCrossing) {
    ASSERT_TRUE(ws.FinishSegmentation());
    const ByteMatrix before = ws.SegmentNumbers(1);
    ws.BeginBandSet(2);
    ASSERT_TRUE(ws.StoreBand(1, dir.File("new.raw"), Bytes({{250, 250, 250}, {250, 250, 250}})));
    EXPECT_EQ(before, ws.SegmentNumbers(1));
    ws.ShowSegmentedBand(1);
    EXPECT_EQ(before, ws.ShownSegmentMatrix);
    const Result<CodeCounts> counts = ws.CountCodes();
    ASSERT_TRUE(counts);
    EXPECT_EQ((std::vector<int64_t>{0, 2, 1, 1, 2}), counts.value->pixelCount);
}

TEST_F(TwoBands, SecondCrossingGivesTheSameClassesInOtherColours) {
    SegmentAndCross(1);
    const CrossingResult first = *ws.crossing;
    Result<CodeCounts> counts = ws.CountCodes();
    ASSERT_TRUE(counts);
    ASSERT_TRUE(ws.FinishCrossing(std::move(*counts.value), {0, 1, 4}));
    EXPECT_EQ(first.classImage, ws.crossing->classImage);
    EXPECT_EQ(first.selectedCodes, ws.crossing->selectedCodes);
    EXPECT_NE(first.classColourTable, ws.crossing->classColourTable);
}

TEST_F(TwoBands, ASaveKeepsTheModeOfEachFileItReplaces) {
    SegmentAndCross(1);
    namespace fs = std::filesystem;
    const std::string stem = dir.File("r");
    WriteBytes(stem + ".bmp", {1});
    WriteBytes(stem + ".raw", {1});
    fs::permissions(stem + ".bmp", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    fs::permissions(stem + ".raw", fs::perms::owner_all | fs::perms::group_read);
    ASSERT_TRUE(ws.SaveResult(stem));
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read,
              fs::status(stem + ".bmp").permissions() & fs::perms::all);
    EXPECT_EQ(fs::perms::owner_all | fs::perms::group_read,
              fs::status(stem + ".raw").permissions() & fs::perms::all);
    EXPECT_EQ(1078u + 2 * 4, ReadBytes(stem + ".bmp").size());
}

TEST_F(TwoBands, SaveSegmentedAppendsTheExtensions) {
    SegmentAndCross(1);  // the segment colours are saved whatever the palette mode
    const std::string stem = dir.File("seg.bmp");
    ASSERT_TRUE(ws.SaveSegmented(stem));

    EXPECT_EQ((std::vector<uint8_t>{1, 1, 2, 2, 1, 2}), ReadBytes(stem + ".raw"));
    EXPECT_EQ("2\n3\n1\n0\n255\n", ReadText(stem + ".txt"));
    EXPECT_FALSE(FileExists(dir.File("seg.bmp.txt.raw")));
    EXPECT_FALSE(FileExists(dir.File("seg.raw")));

    const std::vector<uint8_t> bitmap = ReadBytes(stem + ".bmp");
    ASSERT_EQ(1078u + 2 * 4, bitmap.size());  // two rows of 3 bytes padded to 4
    const ColourTable& colours = ws.segmentation->segmentColourTable;
    EXPECT_EQ((std::vector<uint8_t>{255, 255, 255, 0}), PaletteEntry(bitmap, 0));
    EXPECT_EQ((std::vector<uint8_t>{255, 255, 255, 255}), PaletteEntry(bitmap, 255));
    EXPECT_EQ(EntryBytes(colours[1]), PaletteEntry(bitmap, 1));
    EXPECT_EQ(EntryBytes(colours[254]), PaletteEntry(bitmap, 254));
    // Bottom row first.
    EXPECT_EQ((std::vector<uint8_t>{2, 1, 2, 0, 1, 1, 2, 0}),
              std::vector<uint8_t>(bitmap.begin() + 1078, bitmap.end()));
    EXPECT_EQ(PaletteMode::Classes, ws.Palette());
}

TEST_F(TwoBands, SaveSegmentedWritesTheShownBand) {
    ASSERT_TRUE(ws.FinishSegmentation());
    ws.ShowSegmentedBand(1);
    EXPECT_EQ(1, ws.CurrentSegmentedBand);
    ASSERT_TRUE(ws.SaveSegmented(dir.File("first")));
    EXPECT_EQ((std::vector<uint8_t>{1, 1, 1, 2, 2, 2}), ReadBytes(dir.File("first.raw")));
    ws.ShowSegmentedBand(2);
    EXPECT_EQ(ws.SegmentNumbers(2), ws.ShownSegmentMatrix);
}

TEST_F(TwoBands, SaveResultWritesClassesReportAndRaw) {
    SegmentAndCross(1);
    ASSERT_TRUE(ws.SaveResult(dir.File("res")));
    EXPECT_EQ(ExpectedReport(), ReadText(dir.File("res.txt")));
    EXPECT_EQ((std::vector<uint8_t>{1, 1, 255, 2, 255, 2}), ReadBytes(dir.File("res.raw")));
    const std::vector<uint8_t> bitmap = ReadBytes(dir.File("res.bmp"));
    ASSERT_EQ(1086u, bitmap.size());
    EXPECT_EQ((std::vector<uint8_t>{255, 255, 255, 0}), PaletteEntry(bitmap, 0));
    EXPECT_EQ((std::vector<uint8_t>{255, 255, 255, 0}), PaletteEntry(bitmap, 255));
    EXPECT_EQ(EntryBytes(ws.crossing->classColourTable[2]), PaletteEntry(bitmap, 2));
}

TEST_F(TwoBands, SaveResultAfterANewSegmentationKeepsTheCrossingsSettings) {
    SegmentAndCross(1);
    const ColourTable classColours = ws.crossing->classColourTable;
    ws.SetSegmentation(1, Segmentation, 3, {});
    ASSERT_TRUE(ws.FinishSegmentation());
    EXPECT_EQ(6, ws.segmentation->table.CodeCount);
    EXPECT_EQ(PaletteMode::Segments, ws.Palette());

    ASSERT_TRUE(ws.SaveResult(dir.File("res")));
    EXPECT_EQ(ExpectedReport(), ReadText(dir.File("res.txt")));
    const std::vector<uint8_t> bitmap = ReadBytes(dir.File("res.bmp"));
    ASSERT_EQ(1086u, bitmap.size());
    EXPECT_EQ(EntryBytes(classColours[1]), PaletteEntry(bitmap, 1));
    EXPECT_EQ(EntryBytes(classColours[2]), PaletteEntry(bitmap, 2));
}

TEST_F(TwoBands, FailedSaveNamesEveryFileAndKeepsEarlierFiles) {
    SegmentAndCross(1);
    ASSERT_TRUE(ws.SaveResult(dir.File("res")));
    const std::vector<uint8_t> earlierBitmap = ReadBytes(dir.File("res.bmp"));

    const std::string blocker = dir.File("blocker");
    WriteText(blocker, "a file where a folder should be");
    const Status failed = ws.SaveResult(blocker + "/res");
    ASSERT_FALSE(failed);
    for (const char* extension : {".bmp", ".txt", ".raw"})
        EXPECT_NE(std::string::npos, failed.message.find(blocker + "/res" + extension))
            << failed.message;
    EXPECT_EQ(earlierBitmap, ReadBytes(dir.File("res.bmp")));
    EXPECT_EQ(ExpectedReport(), ReadText(dir.File("res.txt")));

    const Status segmentedFailed = ws.SaveSegmented(blocker + "/seg");
    ASSERT_FALSE(segmentedFailed);
    for (const char* extension : {".bmp", ".txt", ".raw"})
        EXPECT_NE(std::string::npos, segmentedFailed.message.find(blocker + "/seg" + extension))
            << segmentedFailed.message;
}

TEST_F(TwoBands, OneFailedFilePutsBackTheFilesPutInPlaceBeforeIt) {
    SegmentAndCross(1);
    // The bitmap is put in place before the report meets the folder in its place: the
    // earlier bitmap comes back, and the raster is not left without its report.
    WriteText(dir.File("part.bmp"), "earlier bitmap");
    std::filesystem::create_directory(dir.File("part.txt"));
    const Status failed = ws.SaveResult(dir.File("part"));
    ASSERT_FALSE(failed);
    EXPECT_EQ(CollectedSaveStatus({dir.File("part.txt")}).message, failed.message);
    EXPECT_NE(std::string::npos, failed.message.find("the earlier files are as they were"));
    EXPECT_EQ("earlier bitmap", ReadText(dir.File("part.bmp")));
    EXPECT_FALSE(FileExists(dir.File("part.raw")));
    for (const std::string& name : ListFolder(dir.path()))
        EXPECT_EQ(std::string::npos, name.find(".part.")) << "left behind: " << name;
}

TEST_F(TwoBands, NothingToSaveBeforeTheCommandsRan) {
    EXPECT_FALSE(ws.SaveSegmented(dir.File("x")));
    EXPECT_FALSE(ws.SaveResult(dir.File("x")));
    EXPECT_FALSE(FileExists(dir.File("x.bmp")));
}

TEST_F(TwoBands, SegmentingLeavesTheBandsAsTheyWere) {
    ASSERT_TRUE(ws.FinishSegmentation());
    EXPECT_EQ(Bytes({{0, 10, 20}, {30, 40, 50}}), ws.Band(1).pixels);
    EXPECT_TRUE(ws.Band(2).Loaded());
    EXPECT_EQ(Bytes({{1, 1, 1}, {2, 2, 2}}), ws.SegmentNumbers(1));
    EXPECT_EQ(Bytes({{1, 1, 2}, {2, 1, 2}}), ws.SegmentNumbers(2));
    EXPECT_EQ(ws.SegmentNumbers(2), ws.ShownSegmentMatrix);
}

TEST(WorkspaceSegmentation, TooManyCodesAreRefusedAndNothingChanges) {
    ScratchDir dir;
    Workspace ws;
    ws.BeginBandSet(4);
    for (int b = 1; b <= 4; ++b)
        ASSERT_TRUE(ws.StoreBand(b, dir.File(std::string(1, 'b').append(std::to_string(b))),
                                 Bytes({{0, 200}})));
    for (int b = 1; b <= 4; ++b) ws.SetSegmentation(b, Segmentation, 2, {});
    ASSERT_TRUE(ws.FinishSegmentation());
    const uint64_t draws = ws.random.DrawCount();

    for (int b = 1; b <= 4; ++b) ws.SetSegmentation(b, Segmentation, 254, {});
    const Status refused = ws.FinishSegmentation();
    ASSERT_FALSE(refused);
    EXPECT_NE(std::string::npos, refused.message.find("16777216")) << refused.message;
    EXPECT_EQ(16, ws.segmentation->table.CodeCount);
    EXPECT_EQ(2, ws.segmentation->records[1].segmentCount);
    EXPECT_EQ(draws, ws.random.DrawCount());
}

TEST(WorkspaceSegmentation, UnwritableCodeListIsIgnored) {
    Workspace ws;
    ws.BeginBandSet(2);
    ASSERT_TRUE(ws.StoreBand(1, "/no-such-folder-for-tessera/b1.raw", Bytes({{0, 9}})));
    ASSERT_TRUE(ws.StoreBand(2, "/no-such-folder-for-tessera/b2.raw", Bytes({{5, 5}})));
    ws.SetSegmentation(1, Segmentation, 2, {});
    ws.SetSegmentation(2, Segmentation, 1, {});
    EXPECT_TRUE(ws.FinishSegmentation());
    EXPECT_EQ(Bytes({{1, 2}}), ws.SegmentNumbers(1));
}

}  // namespace
}  // namespace tessera

// A band set too large for the machine is refused when its first band is chosen, before
// anything is read; the scenes the program is made for pass on a 24 GiB machine.
TEST(MemoryCheck, TenBandsOfEightThousandSquaredFitTwentyFourGiB) {
    tessera::Workspace ws;
    ws.BeginBandSet(10);
    const int64_t machine = int64_t{24} << 30;
    EXPECT_TRUE(ws.CheckMemoryFor("/x/b.raw", {8000, 8000}, machine).ok);
    const tessera::Status refused = ws.CheckMemoryFor("/x/b.raw", {30000, 30000}, machine);
    ASSERT_FALSE(refused.ok);
    // 900 million pixels x (4 x 10 + 4) bytes = 37 GiB.
    EXPECT_EQ(
        "The band set of 10 bands of 30000 lines x 30000 columns of\n/x/b.raw\nwould need "
        "about 37 GiB of memory, more than this machine can give it (24 GiB in all).",
        refused.message);
    // Fewer bands need less.
    ws.BeginBandSet(2);
    EXPECT_TRUE(ws.CheckMemoryFor("/x/b.raw", {20000, 20000}, machine).ok);
}
