// GDAL comes in through its module only when a raster is used: a job on raw files runs without
// loading it (nor GDAL, nor PROJ), and without the module a raster is refused by the module's
// name while raw files still work.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "testfiles.h"

namespace {
using testing_support::FileExists;
using testing_support::ReadText;
using testing_support::ScratchDir;

const std::string kSamples = std::string(TESSERA_TEST_DATA) + "/../../samples";

struct RunResult {
    int status = -1;
    std::string errors;
};

// tessera-batch with `environment` ("NAME=VALUE ...") before it.
RunResult RunBatch(const std::string& environment, const std::vector<std::string>& arguments,
                   const ScratchDir& dir) {
    std::string command = environment + " '" + TESSERA_BATCH + "'";
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    command += " >/dev/null 2>'" + dir.File("errors.txt") + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(dir.File("errors.txt"))};
}

std::vector<std::string> Job(const ScratchDir& dir, std::vector<std::string> bands) {
    std::vector<std::string> arguments{"--quiet",  "--out",        dir.File("result"),
                                       "--method", "segmentation", "--segments",
                                       "3",        "--min-pixels", "10"};
    arguments.insert(arguments.end(), bands.begin(), bands.end());
    return arguments;
}

const std::vector<std::string> kRawBands{"--band", kSamples + "/band1.raw", "--band",
                                         kSamples + "/band2.raw"};

bool Mentions(const std::string& text, const std::string& word) {
    return text.find(word) != std::string::npos;
}

}  // namespace

// The dynamic loader lists every object it opens (LD_DEBUG=files), on the error output. (In a
// build with the sanitizers, the leak check at exit is left out of these runs: under LD_DEBUG
// it can read the thread-local storage of the modules loaded as garbage and stop with an error
// of its own; the other runs of the tool check for leaks.)
const std::string kListing =
    "LD_DEBUG=files ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0";

TEST(GdalModule, AJobOnRawFilesLoadsNeitherTheModuleNorGdal) {
    ScratchDir dir;
    const RunResult raw = RunBatch(kListing, Job(dir, kRawBands), dir);
    ASSERT_EQ(0, raw.status) << raw.errors;
    EXPECT_TRUE(FileExists(dir.File("result.bmp")));
    EXPECT_TRUE(Mentions(raw.errors, "libc.so")) << "the loader listed nothing";
    EXPECT_FALSE(Mentions(raw.errors, "libtessera_gdal")) << raw.errors;
    EXPECT_FALSE(Mentions(raw.errors, "libgdal")) << raw.errors;
    EXPECT_FALSE(Mentions(raw.errors, "libproj")) << raw.errors;

    // The same listing on a raster does show them.
    const RunResult raster =
        RunBatch(kListing, Job(dir, {"--bands", kSamples + "/scene.tif"}), dir);
    ASSERT_EQ(0, raster.status) << raster.errors;
    EXPECT_TRUE(Mentions(raster.errors, "libtessera_gdal.so"));
    EXPECT_TRUE(Mentions(raster.errors, "libgdal"));
    EXPECT_TRUE(FileExists(dir.File("result.tif")));
}

TEST(GdalModule, WithoutTheModuleARasterIsRefusedByItsNameAndRawFilesStillWork) {
    ScratchDir dir;
    const std::string missing = dir.File("nowhere/libtessera_gdal.so");
    const std::string environment = "TESSERA_GDAL_MODULE='" + missing + "'";
    const std::string scene = kSamples + "/scene.tif";
    const std::string why = "GDAL's module libtessera_gdal.so cannot be loaded (" + missing +
                            ": cannot open shared object file: No such file or directory).";

    RunResult run = RunBatch(environment, Job(dir, {"--band", scene, "--band", scene + ":2"}), dir);
    EXPECT_NE(0, run.status);
    EXPECT_TRUE(Mentions(run.errors, "The raster " + scene + " band 1 cannot be loaded: " + why))
        << run.errors;
    EXPECT_FALSE(FileExists(dir.File("result.bmp")));

    run = RunBatch(environment, Job(dir, {"--bands", scene}), dir);
    EXPECT_NE(0, run.status);
    EXPECT_TRUE(Mentions(run.errors, "The raster " + scene + " cannot be loaded: " + why))
        << run.errors;

    run = RunBatch(environment, Job(dir, kRawBands), dir);
    EXPECT_EQ(0, run.status) << run.errors;
    EXPECT_TRUE(FileExists(dir.File("result.bmp")));
    EXPECT_TRUE(FileExists(dir.File("result.txt")));
}
