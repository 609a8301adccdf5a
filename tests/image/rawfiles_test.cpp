#include "image/rawfiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "testfiles.h"

using namespace tessera;
using testing_support::ListFolder;
using testing_support::ReadBytes;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

namespace {

DescriptorRead ReadDescriptorText(const std::string& text) {
    ScratchDir dir;
    WriteText(dir.File("d.txt"), text);
    return ReadDescriptor(dir.File("d.txt"));
}

}  // namespace

// ----- Descriptors -----

TEST(Descriptors, ShortOneLineAndLongFormsDescribeTheSameSize) {
    const ImageSize expected{512, 256};
    for (const std::string& text :
         {std::string("512\n256\n"), std::string("512 256"), std::string("512\n256\n1\n0\n255\n"),
          std::string("  512\t\r\n\n 256 trailing words"), std::string("+512 256\nreport...")}) {
        const DescriptorRead read = ReadDescriptorText(text);
        EXPECT_EQ(read.outcome, DescriptorRead::Read) << text;
        EXPECT_EQ(read.size, expected) << text;
    }
}

TEST(Descriptors, SignsAndOverlongNumbersAreReadAsNumbers) {
    // The size check, not the reader, refuses these.
    EXPECT_EQ(ReadDescriptorText("-4 12").size, (ImageSize{-4, 12}));
    EXPECT_EQ(ReadDescriptorText("0 12").size, (ImageSize{0, 12}));
    EXPECT_EQ(ReadDescriptorText("99999999999999 3").size, (ImageSize{2147483647, 3}));
    EXPECT_EQ(ReadDescriptorText("3 -99999999999999").size, (ImageSize{3, -2147483647 - 1}));
}

TEST(Descriptors, MalformedWhenNotBeginningWithTwoIntegers) {
    for (const std::string& text :
         {std::string("512\n"), std::string("512"), std::string("lines 512 columns 256"),
          std::string("512 columns"), std::string(""), std::string("- 5 6"),
          std::string("512 +x")}) {
        EXPECT_EQ(ReadDescriptorText(text).outcome, DescriptorRead::Malformed) << text;
    }
}

TEST(Descriptors, MissingWhenTheFileDoesNotOpen) {
    ScratchDir dir;
    EXPECT_EQ(ReadDescriptor(dir.File("none.txt")).outcome, DescriptorRead::Missing);
    EXPECT_EQ(ReadDescriptor(dir.path()).outcome, DescriptorRead::Missing);
}

TEST(Descriptors, WrittenForms) {
    EXPECT_EQ(ShortDescriptorText({400, 600}), "400\n600\n");
    EXPECT_EQ(LongDescriptorText({400, 600}), "400\n600\n1\n0\n255\n");
}

TEST(ImageSizes, UsableAndRefusedSizes) {
    EXPECT_TRUE(CheckImageSize({1, 1}).ok);
    EXPECT_TRUE(CheckImageSize({kMaximumSide, 2048}).ok);  // exactly kMaximumPixels
    EXPECT_EQ(CheckImageSize({0, 12}).message,
              "the size 0 lines x 12 columns is not a usable image size");
    EXPECT_EQ(CheckImageSize({12, -1}).message,
              "the size 12 lines x -1 columns is not a usable image size");
    const std::string tooLarge =
        " is larger than the program accepts (at most 1048576 lines or columns and 2147483648 "
        "pixels)";
    EXPECT_EQ(CheckImageSize({kMaximumSide + 1, 1}).message,
              "the size 1048577 lines x 1 columns" + tooLarge);
    EXPECT_EQ(CheckImageSize({1, kMaximumSide + 1}).message,
              "the size 1 lines x 1048577 columns" + tooLarge);
    EXPECT_EQ(CheckImageSize({kMaximumSide, 2049}).message,
              "the size 1048576 lines x 2049 columns" + tooLarge);
    EXPECT_FALSE(CheckImageSize({2147483647, 2147483647}).ok);
}

// ----- Raw images -----

TEST(RawImages, ReadLineByLine) {
    ScratchDir dir;
    WriteBytes(dir.File("a.raw"), {1, 2, 3, 4, 5, 6});
    const Result<ByteMatrix> read = ReadRawImage(dir.File("a.raw"), {2, 3});
    ASSERT_TRUE(read) << read.message;
    EXPECT_EQ(read.value->Lines(), 2);
    EXPECT_EQ(read.value->Columns(), 3);
    EXPECT_EQ((*read.value)[0][2], 3);
    EXPECT_EQ((*read.value)[1][0], 4);
}

TEST(RawImages, ShortFileLeavesMissingBytesZero) {
    ScratchDir dir;
    WriteBytes(dir.File("a.raw"), {9, 8, 7, 6, 5});
    const Result<ByteMatrix> read = ReadRawImage(dir.File("a.raw"), {3, 3});
    ASSERT_TRUE(read) << read.message;
    const std::vector<uint8_t> cells(read.value->Data(), read.value->Data() + 9);
    EXPECT_EQ(cells, (std::vector<uint8_t>{9, 8, 7, 6, 5, 0, 0, 0, 0}));
}

TEST(RawImages, LongerFileKeepsOnlyTheDescribedBytes) {
    ScratchDir dir;
    WriteBytes(dir.File("a.raw"), {1, 2, 3, 4, 5, 6, 7});
    const Result<ByteMatrix> read = ReadRawImage(dir.File("a.raw"), {1, 2});
    ASSERT_TRUE(read);
    EXPECT_EQ(read.value->Size(), 2u);
    EXPECT_EQ((*read.value)[0][1], 2);
}

TEST(RawImages, RefusalsSayWhy) {
    ScratchDir dir;
    const Result<ByteMatrix> missing = ReadRawImage(dir.File("none.raw"), {2, 2});
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.message, "it cannot be opened (No such file or directory)");
    WriteBytes(dir.File("a.raw"), {1});
    const Result<ByteMatrix> zero = ReadRawImage(dir.File("a.raw"), {0, 5});
    EXPECT_FALSE(zero);
    EXPECT_EQ(zero.message, "the size 0 lines x 5 columns is not a usable image size");
}

TEST(RawImages, WriteThenReadGivesTheSameBytes) {
    ScratchDir dir;
    ByteMatrix pixels = *NewByteMatrix(4, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) pixels[y][x] = static_cast<uint8_t>(10 * y + x);
    }
    ASSERT_TRUE(WriteRawImage(dir.File("w.raw"), pixels).ok);
    EXPECT_EQ(ReadBytes(dir.File("w.raw")),
              (std::vector<uint8_t>{0, 1, 2, 3, 10, 11, 12, 13, 20, 21, 22, 23}));
    const Result<ByteMatrix> read = ReadRawImage(dir.File("w.raw"), {3, 4});
    ASSERT_TRUE(read);
    EXPECT_EQ(*read.value, pixels);
}

TEST(RawImages, FailedWriteNamesTheFileAndKeepsTheOldOne) {
    ScratchDir dir;
    const ByteMatrix pixels = *NewByteMatrix(2, 2);
    std::filesystem::create_directory(dir.File("taken.raw"));
    const Status status = WriteRawImage(dir.File("taken.raw"), pixels);
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.message.rfind("cannot write " + dir.File("taken.raw") + ": ", 0), 0u)
        << status.message;
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"taken.raw"});
}
