// The streamed treatment against the interactive one: on the same bands and choices, every file
// and every refusal must be the same, whatever the strip height and the thread count.
#include "workspace/streamedjob.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "image/bitmapfile.h"
#include "testfiles.h"
#include "workspace/workspace.h"

namespace tessera {
namespace {
using testing_support::FileExists;
using testing_support::ListFolder;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

struct BandChoice {
    std::string path;
    BandFileType type;
    int method;
    int segments;
    std::vector<int32_t> limits;
};

// Gray levels that vary smoothly with a little noise, so that codes repeat and differ.
std::vector<uint8_t> Scene(int lines, int columns, int seed) {
    std::vector<uint8_t> pixels(static_cast<size_t>(lines) * columns);
    uint32_t state = 12345u + static_cast<uint32_t>(seed) * 7919u;
    for (int y = 0; y < lines; ++y)
        for (int x = 0; x < columns; ++x) {
            state = state * 1103515245u + 12345u;
            const int noise = static_cast<int>(state >> 27) - 16;
            const int value = 40 + (y * 150) / lines + ((x + seed) * 60) / columns + noise;
            pixels[static_cast<size_t>(y) * columns + x] =
                static_cast<uint8_t>(value < 0     ? 0
                                     : value > 255 ? 255
                                                   : value);
        }
    return pixels;
}

// Three bands of `lines` x `columns`: a raw band cut into equal widths, a bitmap band (lines
// padded to whole words) cut into equipopulation segments, and a raw band a few bytes short
// (its missing pixels are 0) cut at typed limits.
std::vector<BandChoice> MakeBands(const ScratchDir& dir, int lines, int columns) {
    const std::string raw1 = dir.File("one.raw");
    WriteBytes(raw1, Scene(lines, columns, 1));
    WriteText(dir.File("one.txt"), std::to_string(lines) + "\n" + std::to_string(columns) + "\n");

    const std::vector<uint8_t> second = Scene(lines, columns, 2);
    ByteMatrix rows = *NewByteMatrix(columns, lines);
    std::copy(second.begin(), second.end(), rows.Data());
    const std::string bitmap = dir.File("two.bmp");
    EXPECT_EQ(0, WriteBitmapFile(bitmap, rows, columns, lines, GrayKind, GrayRamp()));

    std::vector<uint8_t> third = Scene(lines, columns, 3);
    third.resize(third.size() - std::min<size_t>(third.size() / 4, 5));
    const std::string raw3 = dir.File("three.raw");
    WriteBytes(raw3, third);
    WriteText(dir.File("three.txt"), std::to_string(lines) + " " + std::to_string(columns));

    return {{raw1, BandFileType::Raw, Segmentation, 3, {}},
            {bitmap, BandFileType::Bitmap, Equipopulation, 4, {}},
            {raw3, BandFileType::Raw, Definition, 3, {60, 120, 250}}};
}

BandLoadOptions Batch() {
    BandLoadOptions options;
    options.checkMemory = false;
    return options;
}

// The interactive program's treatment, its code list written to `codeListFolder`; answers the
// pixel counts.
std::vector<int64_t> InMemory(const std::vector<BandChoice>& bands, CodeSelection choice,
                              const std::string& stem, const std::string& segmented,
                              const std::string& codeListFolder = "") {
    Workspace ws;
    ws.SetCodeListFolder(codeListFolder);
    const int n = static_cast<int>(bands.size());
    ws.BeginBandSet(n);
    for (int b = 1; b <= n; ++b) {
        const Status loaded = ws.LoadBand(b, bands[b - 1].path, bands[b - 1].type, Batch());
        EXPECT_TRUE(loaded) << loaded.message;
    }
    for (int b = 1; b <= n; ++b)
        ws.SetSegmentation(b, bands[b - 1].method, bands[b - 1].segments, bands[b - 1].limits);
    EXPECT_TRUE(ws.FinishSegmentation());
    Result<CodeCounts> counts = ws.CountCodes();
    EXPECT_TRUE(counts);
    std::vector<int64_t> pixelCount = counts.value->pixelCount;
    EXPECT_TRUE(
        ws.FinishCrossing(std::move(*counts.value), SelectCodes(pixelCount, choice)));
    EXPECT_TRUE(ws.SaveResult(stem));
    EXPECT_TRUE(ws.SaveSegmented(segmented));
    return pixelCount;
}

std::vector<int64_t> Streamed(const std::vector<BandChoice>& bands, CodeSelection choice,
                              StreamSettings settings, const std::string& stem,
                              const std::string& segmented) {
    StreamedJob job(settings);
    const int n = static_cast<int>(bands.size());
    job.BeginBandSet(n);
    for (int b = 1; b <= n; ++b)
        EXPECT_TRUE(job.LoadBand(b, bands[b - 1].path, bands[b - 1].type, Batch()));
    for (int b = 1; b <= n; ++b)
        job.SetSegmentation(b, bands[b - 1].method, bands[b - 1].segments, bands[b - 1].limits);
    EXPECT_TRUE(job.FinishSegmentation());
    EXPECT_TRUE(job.CountCodes());
    EXPECT_TRUE(job.FinishCrossing(SelectCodes(job.PixelCount(), choice)));
    ResultFiles files;
    files.codes = true;  // STEM_codes.txt: the code list, as the interactive program writes it
    const Status saved = job.Save(stem, segmented, files);
    EXPECT_TRUE(saved) << saved.message;
    return job.PixelCount();
}

// Strip height (0: the default) and thread count.
class StreamedTreatment : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(StreamedTreatment, WritesTheInMemoryFilesByteForByte) {
    const auto [stripLines, threads] = GetParam();
    // Odd sizes: strips that do not divide the lines, bitmap lines with padding (a bitmap band
    // must hold more than about a thousand pixels, or its size makes it a colour bitmap).
    for (const auto& [lines, columns] :
         std::vector<std::pair<int, int>>{{37, 41}, {45, 27}, {1, 1101}}) {
        SCOPED_TRACE(std::to_string(lines) + " x " + std::to_string(columns));
        ScratchDir dir;
        const std::vector<BandChoice> bands = MakeBands(dir, lines, columns);
        for (const CodeSelection choice : {CodeSelection{true, 0}, CodeSelection{false, 1}}) {
            ScratchDir programData;
            const std::vector<int64_t> expected = InMemory(
                bands, choice, dir.File("memory"), dir.File("memory-seg"), programData.path());
            const std::vector<uint8_t> codeList = ReadBytes(programData.File("multi_tab.txt"));
            ASSERT_TRUE(FileExists(dir.File("memory.bmp")));

            const std::vector<int64_t> counted =
                Streamed(bands, choice, StreamSettings{threads, stripLines}, dir.File("streamed"),
                         dir.File("streamed-seg"));
            EXPECT_EQ(expected, counted);
            EXPECT_EQ(codeList, ReadBytes(dir.File("streamed_codes.txt")));
            EXPECT_FALSE(FileExists(dir.File("multi_tab.txt")));
            for (const std::string extension : {".bmp", ".txt", ".raw"}) {
                EXPECT_EQ(ReadBytes(dir.File("memory" + extension)),
                          ReadBytes(dir.File("streamed" + extension)))
                    << extension;
                EXPECT_EQ(ReadBytes(dir.File("memory-seg" + extension)),
                          ReadBytes(dir.File("streamed-seg" + extension)))
                    << "segmented " << extension;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(StripsAndThreads, StreamedTreatment,
                         ::testing::Combine(::testing::Values(1, 3, 0), ::testing::Values(1, 2)));

TEST(StreamedTreatment, RefusesEveryCorruptBandWithTheLoadingRulesText) {
    const std::string corrupt = std::string(TESSERA_TEST_DATA) + "/corrupt";
    int checked = 0;
    for (const std::string& name : ListFolder(corrupt)) {
        const std::string extension = name.substr(name.find_last_of('.'));
        if (extension != ".bmp" && extension != ".txt") continue;
        const bool bitmap = extension == ".bmp";
        const std::string path =
            corrupt + "/" + (bitmap ? name : name.substr(0, name.size() - 4) + ".raw");
        const BandFileType type = bitmap ? BandFileType::Bitmap : BandFileType::Raw;
        Workspace ws;
        ws.BeginBandSet(2);
        const Status loaded = ws.LoadBand(1, path, type, Batch());
        StreamedJob job;
        job.BeginBandSet(2);
        const Status opened = job.LoadBand(1, path, type, Batch());
        ASSERT_FALSE(loaded.ok) << name;
        EXPECT_EQ(loaded.message, opened.message) << name;
        ++checked;
    }
    EXPECT_GE(checked, 20);
}

TEST(StreamedTreatment, RefusesABandOfAnotherSizeAsTheLoadingRuleDoes) {
    ScratchDir dir;
    const std::vector<BandChoice> bands = MakeBands(dir, 37, 41);
    WriteBytes(dir.File("wide.raw"), std::vector<uint8_t>(37 * 42, 1));
    WriteText(dir.File("wide.txt"), "37\n42\n");
    StreamedJob job;
    job.BeginBandSet(2);
    ASSERT_TRUE(job.LoadBand(1, bands[1].path, BandFileType::Bitmap, Batch()));
    EXPECT_EQ(SizeMismatchMessage(dir.File("wide.raw"), {37, 42}, {37, 41}),
              job.LoadBand(2, dir.File("wide.raw"), BandFileType::Raw, Batch()).message);
}

TEST(StreamedTreatment, UnwritableResultLeavesNoFileAndSavesNoSegmentedBand) {
    ScratchDir dir;
    std::vector<BandChoice> bands = MakeBands(dir, 45, 27);
    StreamedJob job(StreamSettings{2, 2});
    job.BeginBandSet(3);
    for (int b = 1; b <= 3; ++b)
        ASSERT_TRUE(job.LoadBand(b, bands[b - 1].path, bands[b - 1].type, Batch()));
    for (int b = 1; b <= 3; ++b)
        job.SetSegmentation(b, bands[b - 1].method, bands[b - 1].segments, bands[b - 1].limits);
    ASSERT_TRUE(job.FinishSegmentation());
    ASSERT_TRUE(job.CountCodes());
    ASSERT_TRUE(job.FinishCrossing(SelectCodes(job.PixelCount(), {true, 0})));

    const std::string missing = dir.File("no-such-folder/result");
    const Status saved = job.Save(missing, dir.File("seg"));
    EXPECT_EQ(CollectedSaveStatus({missing + ".bmp", missing + ".txt", missing + ".raw"}).message,
              saved.message);
    // Neither the segmented band nor any temporary file is left behind.
    EXPECT_EQ((std::vector<std::string>{"one.raw", "one.txt", "three.raw", "three.txt", "two.bmp"}),
              ListFolder(dir.path()));
}

}  // namespace
}  // namespace tessera
