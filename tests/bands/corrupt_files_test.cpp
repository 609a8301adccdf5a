#include <gtest/gtest.h>

#include <map>
#include <string>

#include "bands/bandfiles.h"
#include "support/paths.h"
#include "testfiles.h"

using namespace tessera;

namespace {

const std::string kCorrupt = std::string(TESSERA_TEST_DATA) + "/corrupt";

std::string BitmapRefusal(const std::string& name, const std::string& why) {
    return "The bitmap\n" + kCorrupt + "/" + name + "\ncannot be read: " + why + ".";
}

std::string RawRefusal(const std::string& stem, const std::string& why) {
    return "The raw image\n" + kCorrupt + "/" + stem + ".raw\ncannot be loaded: " + why + ".";
}

// What the user is told about each bitmap of the folder.
const std::map<std::string, std::string>& BitmapMessages() {
    static const std::map<std::string, std::string> messages = {
        {"truncated-row.bmp", BitmapRefusal("truncated-row.bmp", "it is truncated")},
        {"short-palette.bmp", BitmapRefusal("short-palette.bmp", "its palette is incomplete")},
        {"shortened-palette.bmp",
         BitmapRefusal("shortened-palette.bmp", "its palette has fewer than 256 colours")},
        {"short-header.bmp", BitmapRefusal("short-header.bmp", "it is truncated")},
        {"huge-width.bmp", BitmapRefusal("huge-width.bmp", "it is truncated")},
        {"oversize-width.bmp",
         BitmapRefusal("oversize-width.bmp", "its size (40000 x 4) is not supported")},
        {"zero-width.bmp", BitmapRefusal("zero-width.bmp", "its size (0 x 4) is not supported")},
        {"negative-height.bmp", BitmapRefusal("negative-height.bmp", "it is stored top-down")},
        {"compressed.bmp", BitmapRefusal("compressed.bmp", "it is compressed")},
        {"16-bit.bmp",
         BitmapRefusal("16-bit.bmp", "it has 16 bits per pixel; only 8-bit bitmaps are read")},
        {"4-bit.bmp",
         BitmapRefusal("4-bit.bmp", "it has 4 bits per pixel; only 8-bit bitmaps are read")},
        {"32-bit.bmp",
         BitmapRefusal("32-bit.bmp", "it has 32 bits per pixel; only 8-bit bitmaps are read")},
        {"24-bit.bmp", kRgbBitmapRefusal},
        {"24-bit-with-palette.bmp",
         BitmapRefusal("24-bit-with-palette.bmp", "its pixel data do not follow its header")},
        {"not-a-bitmap.bmp", BitmapRefusal("not-a-bitmap.bmp", "it is not a bitmap file")},
        {"empty.bmp", BitmapRefusal("empty.bmp", "it is not a bitmap file")},
    };
    return messages;
}

// What the user is told about each raw band, by the name of its descriptor.
const std::map<std::string, std::string>& DescriptorMessages() {
    static const std::string tooLarge =
        " is larger than the program accepts (at most 1048576 lines or columns and 2147483648 "
        "pixels)";
    static const std::map<std::string, std::string> messages = {
        {"descriptor-one-number.txt",
         DescriptorMalformedMessage(kCorrupt + "/descriptor-one-number.txt")},
        {"descriptor-words.txt", DescriptorMalformedMessage(kCorrupt + "/descriptor-words.txt")},
        {"descriptor-empty.txt", DescriptorMalformedMessage(kCorrupt + "/descriptor-empty.txt")},
        {"descriptor-zero-size.txt",
         RawRefusal("descriptor-zero-size",
                    "the size 0 lines x 12 columns is not a usable image size")},
        {"descriptor-negative-size.txt",
         RawRefusal("descriptor-negative-size",
                    "the size -3 lines x 4 columns is not a usable image size")},
        {"descriptor-huge-size.txt",
         RawRefusal("descriptor-huge-size", "the size 100000 lines x 100000 columns" + tooLarge)},
        {"descriptor-overflow.txt",
         RawRefusal("descriptor-overflow", "the size 2147483647 lines x 4 columns" + tooLarge)},
        {"descriptor-without-raw.txt",
         "The raw image\n" + kCorrupt +
             "/descriptor-without-raw.raw\ncannot be opened for reading."},
    };
    return messages;
}

// The loader's steps for a raw band whose descriptor exists: read it, then load the band.
std::string RawBandRefusal(const std::string& descriptorPath) {
    const DescriptorRead descriptor = ReadDescriptor(descriptorPath);
    EXPECT_NE(descriptor.outcome, DescriptorRead::Missing) << descriptorPath;
    if (descriptor.outcome == DescriptorRead::Malformed) {
        return DescriptorMalformedMessage(descriptorPath);
    }
    const Result<ByteMatrix> band =
        LoadRawBand(ReplaceExtension(descriptorPath, ".raw"), descriptor.size);
    EXPECT_FALSE(band.value.has_value()) << descriptorPath;
    return band.message;
}

}  // namespace

TEST(CorruptFiles, EveryBitmapIsRefusedWithItsReason) {
    for (const auto& [name, message] : BitmapMessages()) {
        const Result<ByteMatrix> band = LoadBitmapBand(kCorrupt + "/" + name);
        EXPECT_FALSE(band.value.has_value()) << name;
        EXPECT_EQ(band.message, message) << name;
    }
}

TEST(CorruptFiles, EveryRawBandIsRefusedWithItsReason) {
    for (const auto& [name, message] : DescriptorMessages()) {
        EXPECT_EQ(RawBandRefusal(kCorrupt + "/" + name), message) << name;
    }
}

TEST(CorruptFiles, MalformedDescriptorsAreNotTakenAsMissing) {
    // A malformed descriptor must not bring up the size dialog, which would overwrite it.
    for (const char* name :
         {"descriptor-one-number.txt", "descriptor-words.txt", "descriptor-empty.txt"}) {
        EXPECT_EQ(ReadDescriptor(kCorrupt + "/" + name).outcome, DescriptorRead::Malformed) << name;
    }
}

TEST(CorruptFiles, EveryFileOfTheFolderIsChecked) {
    for (const std::string& name : testing_support::ListFolder(kCorrupt)) {
        const std::string extension = name.substr(name.find_last_of('.'));
        if (extension == ".bmp") {
            EXPECT_EQ(BitmapMessages().count(name), 1u) << name << " is not checked";
        } else if (extension == ".txt") {
            EXPECT_EQ(DescriptorMessages().count(name), 1u) << name << " is not checked";
        } else if (extension == ".raw") {
            EXPECT_EQ(DescriptorMessages().count(ReplaceExtension(name, ".txt")), 1u)
                << name << " has no descriptor that is checked";
        } else {
            EXPECT_EQ(name, "README.md");
        }
    }
}
