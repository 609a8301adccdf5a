// The loading rule both front ends use: every check once, in order, and a refusal that
// changes nothing.
#include <gtest/gtest.h>

#include <optional>

#include "bands/bandfiles.h"
#include "testfiles.h"
#include "workspace/workspace.h"

namespace tessera {
namespace {
using testing_support::FileExists;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

class LoadingRule : public ::testing::Test {
  protected:
    void SetUp() override {
        first = dir.File("first.raw");
        WriteBytes(first, {1, 2, 3, 4, 5, 6});
        WriteText(dir.File("first.txt"), "2\n3\n");
        ws.BeginBandSet(2);
        ASSERT_TRUE(ws.LoadBand(1, first, BandFileType::Raw, {}));
    }
    // A band 2 whose size is asked for: answers `size` and counts the questions.
    BandLoadOptions Asking(std::optional<ImageSize> size) {
        BandLoadOptions options;
        options.askSize = [this, size] {
            ++questions;
            return size;
        };
        return options;
    }
    ScratchDir dir;
    std::string first;
    Workspace ws;
    int questions = 0;
};

TEST_F(LoadingRule, AnAskedSizeIsKeptAsTheDescriptorOnceTheBandLoads) {
    const std::string second = dir.File("second.raw");
    WriteBytes(second, {9, 8, 7, 6, 5, 4});
    ASSERT_TRUE(ws.LoadBand(2, second, BandFileType::Raw, Asking(ImageSize{2, 3})));
    EXPECT_EQ(1, questions);
    EXPECT_EQ("2\n3\n", ReadText(dir.File("second.txt")));
    EXPECT_EQ(4, ws.Band(2).minGray);
    EXPECT_EQ(9, ws.Band(2).maxGray);

    // Without a way to ask, a raw file without descriptor is refused by name.
    const std::string third = dir.File("third.raw");
    WriteBytes(third, {1});
    EXPECT_EQ("The raw image " + third + " has no descriptor " + dir.File("third.txt") +
                  " giving its number of lines and columns.",
              ws.LoadBand(2, third, BandFileType::Raw, {}).message);
}

// The dialogs accept a typed name of a file that is not there: it is refused before its size
// is asked, even without a descriptor, and before a malformed descriptor is looked at.
TEST_F(LoadingRule, AMissingRawFileIsRefusedBeforeItsSizeIsAsked) {
    const std::string missing = dir.File("missing.raw");
    const std::string refusal = "The raw image\n" + missing + "\ncannot be opened for reading.";
    EXPECT_EQ(refusal, ws.LoadBand(2, missing, BandFileType::Raw, Asking(ImageSize{2, 3})).message);
    EXPECT_EQ(0, questions);
    EXPECT_FALSE(FileExists(dir.File("missing.txt")));
    WriteText(dir.File("missing.txt"), "lines\n");
    EXPECT_EQ(refusal, ws.LoadBand(2, missing, BandFileType::Raw, Asking(ImageSize{2, 3})).message);
    EXPECT_EQ(0, questions);
    EXPECT_FALSE(ws.Band(2).Loaded());
}

TEST_F(LoadingRule, AShortRawFileLoadsWithZeros) {
    const std::string shortFile = dir.File("short.raw");
    WriteBytes(shortFile, {7, 8});
    WriteText(dir.File("short.txt"), "2\n3\n");
    ASSERT_TRUE(ws.LoadBand(2, shortFile, BandFileType::Raw, {}));
    const ByteMatrix& pixels = ws.Band(2).pixels;
    EXPECT_EQ((std::vector<uint8_t>{7, 8, 0, 0, 0, 0}),
              (std::vector<uint8_t>{pixels[0][0], pixels[0][1], pixels[0][2], pixels[1][0],
                                    pixels[1][1], pixels[1][2]}));
}

TEST_F(LoadingRule, ARefusalChangesNothing) {
    const std::string wide = dir.File("wide.raw");
    WriteBytes(wide, std::vector<uint8_t>(8, 1));
    WriteText(dir.File("wide.txt"), "2\n4\n");
    const Status refused = ws.LoadBand(2, wide, BandFileType::Raw, {});
    EXPECT_EQ(SizeMismatchMessage(wide, {2, 4}, {2, 3}), refused.message);
    EXPECT_EQ(2, ws.Lines());
    EXPECT_EQ(3, ws.Columns());
    EXPECT_FALSE(ws.Band(2).Loaded());
    EXPECT_EQ("", ws.Record(2).filePath);
    // The same band may be chosen again and loads.
    ASSERT_TRUE(ws.LoadBand(2, first, BandFileType::Raw, {}));
    EXPECT_EQ(first, ws.Record(2).filePath);
}

TEST_F(LoadingRule, ChecksComeInOrderAndStopAtTheFirstRefusal) {
    // A size of zero is refused before the file's length is looked at, and is not kept.
    const std::string empty = dir.File("empty.raw");
    WriteBytes(empty, {});
    const Status zero = ws.LoadBand(2, empty, BandFileType::Raw, Asking(ImageSize{0, 3}));
    EXPECT_EQ(0u, zero.message.rfind("The raw image\n" + empty + "\ncannot be loaded: ", 0))
        << zero.message;
    EXPECT_FALSE(FileExists(dir.File("empty.txt")));

    // A malformed descriptor is refused before any size is asked.
    WriteText(dir.File("empty.txt"), "lines\n");
    EXPECT_EQ(DescriptorMalformedMessage(dir.File("empty.txt")),
              ws.LoadBand(2, empty, BandFileType::Raw, Asking(ImageSize{2, 3})).message);
    EXPECT_EQ(1, questions);

    // The interactive program's memory check comes last, before any pixel is read.
    const std::string huge = dir.File("huge.raw");
    WriteText(dir.File("huge.txt"), "46000\n46000\n");
    WriteBytes(huge, {});
    Workspace fresh;
    fresh.BeginBandSet(10);
    const Status tooBig = fresh.LoadBand(1, huge, BandFileType::Raw, {});
    EXPECT_NE(std::string::npos, tooBig.message.find("GiB of memory")) << tooBig.message;
    EXPECT_EQ(0, fresh.Lines());
}

}  // namespace
}  // namespace tessera
