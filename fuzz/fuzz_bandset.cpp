// The whole job of tessera-batch on a band set made of the fuzzed file (a bitmap, or a raw
// image with its descriptor) and a valid band: loading rules, segmentation, crossing, saves.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzzfiles.h"
#include "image/rawfiles.h"
#include "job/job.h"

namespace {
// A valid 8-bit bitmap of 40 x 40 pixels, a gradient.
std::vector<uint8_t> ValidBitmap() {
    const int side = 40;
    std::vector<uint8_t> bytes(1078 + side * side, 0);
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, static_cast<uint32_t>(bytes.size()));
    put32(10, 1078);
    put32(14, 40);
    put32(18, side);
    put32(22, side);
    bytes[26] = 1;
    bytes[28] = 8;
    put32(34, side * side);
    for (int i = 0; i < 256; ++i)
        bytes[54 + 4 * i] = bytes[55 + 4 * i] = bytes[56 + 4 * i] = static_cast<uint8_t>(i);
    for (int p = 0; p < side * side; ++p) bytes[1078 + p] = static_cast<uint8_t>(p * 7);
    return bytes;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    static const std::vector<uint8_t> valid = ValidBitmap();
    const std::string folder = fuzzing::ScratchFolder();
    const std::string validPath = fuzzing::WriteScratch("valid.bmp", valid.data(), valid.size());

    const uint8_t choice = data[0];
    const int segments = 1 + data[1] % 12;
    const int minimum = data[2] % 8;
    data += 3;
    size -= 3;
    std::string fuzzed;
    if (choice & 1) {
        fuzzed = fuzzing::WriteScratch("fuzzed.bmp", data, size);
    } else {
        // The descriptor is the text up to the first NUL byte; the raw image what follows.
        const uint8_t* end = std::find(data, data + size, uint8_t{0});
        const size_t textSize = static_cast<size_t>(end - data);
        const std::string descriptor = fuzzing::WriteScratch("fuzzed.txt", data, textSize);
        // A short raw file loads with zeros, so a descriptor alone can ask for a large band:
        // the fuzzer keeps to small ones, which is where the reading rules are.
        const tessera::DescriptorRead read = tessera::ReadDescriptor(descriptor);
        if (read.outcome == tessera::DescriptorRead::Read &&
            int64_t{read.size.lines} * read.size.columns > (int64_t{1} << 20))
            return 0;
        const size_t rawStart = std::min(size, textSize + 1);
        fuzzed = fuzzing::WriteScratch("fuzzed.raw", data + rawStart, size - rawStart);
    }
    tessera::job::Options options;
    options.out = folder + "/result";
    options.minPixels = minimum;
    options.saveSegmented = (choice & 2) ? folder + "/segmented" : "";
    const int type = (choice >> 2) & 1;
    options.bands.push_back({fuzzed, type, segments, std::nullopt});
    options.bands.push_back({(choice & 8) ? validPath : fuzzed, type, segments, std::nullopt});
    tessera::job::Run(options);
    return 0;
}
