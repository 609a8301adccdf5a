// tessera-batch with one thread and with several: the same files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "rasterfiles.h"
#include "testfiles.h"

namespace {
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

int RunBatchTool(const std::string& arguments) {
    const int raw = std::system((std::string("'") + TESSERA_BATCH + "' " + arguments).c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(BatchThreads, OneThreadAndThreeWriteTheSameFiles) {
    ScratchDir dir;
    // 97 lines of 2000 columns: a few strips of the default height for the threads to share.
    for (int band = 1; band <= 3; ++band) {
        std::vector<uint8_t> pixels(97 * 2000);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<uint8_t>((i % 2000 / (3 + band) + i / 2000 * band) % 251);
        const std::string stem = dir.File("band" + std::to_string(band));
        WriteBytes(stem + ".raw", pixels);
        WriteText(stem + ".txt", "97\n2000\n");
    }
    const std::string bands = " --band '" + dir.File("band1.raw") + "' --band '" +
                              dir.File("band2.raw") + "' --band '" + dir.File("band3.raw") + "'";
    const std::string job = " --method equipopulation --segments 5 --min-pixels 20" + bands;
    ASSERT_EQ(0, RunBatchTool("--threads 1 --out '" + dir.File("one") + "' --save-segmented '" +
                              dir.File("one-seg") + "'" + job));
    ASSERT_EQ(0, RunBatchTool("--threads 3 --out '" + dir.File("three") + "' --save-segmented '" +
                              dir.File("three-seg") + "'" + job));
    for (const std::string extension : {".bmp", ".txt", ".raw"}) {
        const std::vector<uint8_t> one = ReadBytes(dir.File("one" + extension));
        EXPECT_FALSE(one.empty()) << extension;
        EXPECT_EQ(one, ReadBytes(dir.File("three" + extension))) << extension;
        EXPECT_EQ(ReadBytes(dir.File("one-seg" + extension)),
                  ReadBytes(dir.File("three-seg" + extension)))
            << extension;
    }
    EXPECT_EQ(2,
              RunBatchTool("--threads 0 --out '" + dir.File("none") + "'" + job + " 2>/dev/null"));
}

TEST(BatchThreads, TheClassGeoTiffIsTheSameForAnyThreadCountAndCache) {
    ScratchDir dir;
    // A class raster of 2.25 MB, more than a cache of 1 MB holds: GDAL writes its blocks out
    // while the job runs, in the order they are finished.
    constexpr int kSize = 1500;
    testing_support::RasterExtras place;
    place.place = testing_support::RasterPlace{{600000, 10, 0, 5000000, 0, -10}, 32631};
    std::string bands;
    for (int band = 1; band <= 2; ++band) {
        std::vector<double> values(kSize * kSize);
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = static_cast<double>((i % kSize * band + i / kSize * (3 - band)) % 256);
        const std::string path = dir.File("band" + std::to_string(band) + ".tif");
        ASSERT_TRUE(testing_support::WriteGeoTiff(path, kSize, kSize,
                                                  testing_support::RasterType::Byte, {values},
                                                  place));
        bands += " --band '" + path + "'";
    }
    const std::string job = " --method segmentation --segments 6 --keep-all --format tif" + bands;
    std::vector<uint8_t> first;
    // Threads and cache in MB, the runs of two threads repeated: their timing differs each time.
    for (const auto& [threads, cache] : {std::pair{1, 1}, {2, 1}, {2, 1}, {2, 1}, {2, 64}, {1, 64}}) {
        std::string name = "t";
        name.append(std::to_string(threads)).append("c").append(std::to_string(cache));
        const std::string stem = dir.File(name);
        const std::string command = "GDAL_CACHEMAX=" + std::to_string(cache) + " '" +
                                    TESSERA_BATCH + "' --threads " + std::to_string(threads) +
                                    " --out '" + stem + "'" + job;
        const int raw = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << command;
        const std::vector<uint8_t> written = ReadBytes(stem + ".tif");
        if (first.empty()) first = written;
        EXPECT_FALSE(written.empty());
        EXPECT_TRUE(first == written) << threads << " threads, cache " << cache << " MB";
    }
}

}  // namespace
