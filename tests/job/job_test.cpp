// The job layer: its description read from the command line and from a front end's choices,
// each refusal once with its kind, and the words each front end's refusals use.
#include "job/job.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job/choices.h"
#include "support/json.h"
#include "testfiles.h"

namespace {

using tessera::job::DescribeJob;
using tessera::job::Given;
using tessera::job::Options;
using tessera::job::ParseOptions;
using tessera::job::Refusal;
using tessera::job::Speaker;
using testing_support::ScratchDir;

std::string SampleFile(const std::string& name) {
    return std::string(TESSERA_TEST_DATA) + "/../../samples/" + name;
}

std::vector<std::string> TwoBands(std::vector<std::string> before = {}) {
    for (const char* band : {"band1.raw", "band2.raw"}) {
        before.push_back("--band");
        before.push_back(SampleFile(band));
    }
    return before;
}

TEST(JobChoices, BandDefaultsAndBandOwnChoicesAsTheCommandLineGivesThem) {
    const auto parsed = ParseOptions(
        {"--out",           "o",        "--method",  "equipopulation", "--segments",  "3",
         "--stretch",       "2%,98%",   "--band",    "a.tif",          "--band",      "b.tif:2",
         "--segments",      "5",        "--stretch", "10,200",         "--nodata",    "nan",
         "--scale",         "2e-05",    "--mask",    "m.tif",          "--mask-bits", "1,4",
         "--window-pixels", "1,2,30,40"});
    ASSERT_TRUE(parsed) << parsed.message;
    const Options& options = *parsed.value;
    ASSERT_EQ(2u, options.bands.size());
    EXPECT_EQ(1, options.bands[0].type);
    EXPECT_EQ(3, options.bands[0].segments);
    EXPECT_EQ("2%,98%", options.bands[0].percentiles.value_or(""));
    EXPECT_FALSE(options.bands[0].nodata.has_value());
    EXPECT_EQ(5, options.bands[1].segments);
    ASSERT_TRUE(options.bands[1].stretch.has_value());
    EXPECT_EQ(10, options.bands[1].stretch->minimum);
    EXPECT_EQ(200, options.bands[1].stretch->maximum);
    EXPECT_FALSE(options.bands[1].percentiles.has_value());
    EXPECT_EQ(2e-05, options.bands[1].scale.value_or(0));
    ASSERT_EQ(1u, options.masks.size());
    EXPECT_EQ(tessera::job::MaskOptions::Rule::Bits, options.masks[0].rule);
    EXPECT_EQ("1,4", options.masks[0].list);
    ASSERT_TRUE(options.windowPixels.has_value());
    EXPECT_EQ((std::array<int64_t, 4>{1, 2, 30, 40}), *options.windowPixels);
}

TEST(JobChoices, EveryCheckWordedForTheFrontEndItCameFrom) {
    // The same refusal, with the options named as the command line and Python name them.
    const std::vector<Given> keepAllAndMinimum{
        {"--out", "o", ""},      {"--keep-all", "", ""},           {"--min-pixels", "3", ""},
        {"--band", "a.raw", ""}, {"--method", "segmentation", ""}, {"--segments", "2", ""},
        {"--band", "b.raw", ""}, {"--method", "segmentation", ""}, {"--segments", "2", ""}};
    EXPECT_EQ("--keep-all and --min-pixels exclude each other",
              DescribeJob(keepAllAndMinimum, Speaker::CommandLine).message);
    EXPECT_EQ("keep_all and min_pixels exclude each other",
              DescribeJob(keepAllAndMinimum, Speaker::Python).message);

    const std::vector<Given> noSegments{{"--out", "o", ""}, {"--segments", "0", ""}};
    EXPECT_EQ("segments needs a number of segments from 1 to 254, not '0'",
              DescribeJob(noSegments, Speaker::Python).message);
    // A job takes up to 32 bands (the interactive program stops at 10): 33 are refused.
    std::vector<Given> many{
        {"--out", "o", ""}, {"--method", "segmentation", ""}, {"--segments", "2", ""}};
    for (int b = 0; b < 32; ++b) many.push_back({"--band", "b.raw", ""});
    EXPECT_TRUE(DescribeJob(many, Speaker::Python));
    many.push_back({"--band", "b.raw", ""});
    EXPECT_EQ("bands names 33 bands: give 2 to 32", DescribeJob(many, Speaker::Python).message);
    EXPECT_EQ("give 2 to 32 bands with --band, not 33",
              DescribeJob(many, Speaker::CommandLine).message);
    EXPECT_EQ("give 2 to 32 bands with --band, not 1",
              ParseOptions(
                  {"--out", "o", "--method", "segmentation", "--segments", "2", "--band", "a.raw"})
                  .message);
    EXPECT_EQ(
        "mask_values belongs to a mask: give it after mask FILE",
        DescribeJob({{"--out", "o", ""}, {"--mask-values", "3", ""}}, Speaker::Python).message);
    EXPECT_EQ(std::string("unknown option 'colour'"),
              DescribeJob({{"--colour", "red", ""}}, Speaker::Python).message);
}

TEST(JobChoices, RefusalsOfTheLayersBelowAreWordedForTheFrontEnd) {
    using tessera::job::InWordsOf;
    EXPECT_EQ("grid 4: there is no band 4 of 2",
              InWordsOf(Speaker::Python, "--grid 4: there is no band 4 of 2"));
    EXPECT_EQ(
        "window is in map coordinates, and a.raw lies on no map: give window_pixels "
        "instead",
        InWordsOf(Speaker::Python,
                  "--window is in map coordinates, and a.raw lies on no "
                  "map: give --window-pixels instead"));
    // Only the options of the table, as whole words: a file named like one stays as it is.
    EXPECT_EQ("the file ./--grid.tif and --colour (scale)",
              InWordsOf(Speaker::Python, "the file ./--grid.tif and --colour (--scale)"));
    EXPECT_EQ("--grid 4", InWordsOf(Speaker::CommandLine, "--grid 4"));
}

TEST(JobChoices, TheDescriptionIsJsonWhateverItsTexts) {
    const std::string json = tessera::job::DescriptionJson();
    const auto parsed = tessera::ParseJson(json);
    ASSERT_TRUE(parsed) << parsed.message;
    const tessera::JsonValue* options = parsed.value->Find("options");
    ASSERT_NE(nullptr, options);
    EXPECT_EQ(tessera::job::OptionTable().size(), options->items.size());
    for (size_t k = 0; k < options->items.size(); ++k)
        EXPECT_EQ(tessera::job::OptionTable()[k].help, options->items[k].Find("help")->string);
}

TEST(JobChoices, HelpIsMadeFromTheTableOfChoices) {
    const std::string help = tessera::job::UsageText();
    for (const tessera::job::Choice& option : tessera::job::OptionTable()) {
        const std::string head = std::string("\n  ") + option.name +
                                 (option.value ? std::string(" ") + option.value : "");
        EXPECT_NE(std::string::npos, help.find(head)) << option.name;
    }
    // The first words of every option's help follow its name in the usage text.
    const tessera::job::Choice& segments = *tessera::job::FindOption("--segments");
    const std::string firstWord = std::string(segments.help).substr(0, 6);
    EXPECT_NE(std::string::npos,
              help.find("\n  --segments N" + std::string(25 - 14, ' ') + firstWord));
    // The options' lines are wrapped within 79 columns.
    for (size_t start = help.find("\n  --"), end; start < help.find("\n\nExit status");
         start = end + 1) {
        end = help.find('\n', start + 1);
        EXPECT_LE(end - start - 1, 79u) << help.substr(start, end - start);
    }
}

// Each refusal of a run, with its kind: the batch tool's exit status and Python's exception
// come from it.
TEST(JobRefusals, EachRefusalCarriesItsKind) {
    ScratchDir dir;
    const auto run = [&](std::vector<std::string> arguments) {
        const auto parsed = ParseOptions(arguments);
        EXPECT_TRUE(parsed) << parsed.message;
        return tessera::job::Run(*parsed.value);
    };
    const std::vector<std::string> job{"--out",        dir.File("out"), "--method",
                                       "segmentation", "--segments",    "3"};
    // A band file that is not there.
    auto missing = job;
    for (const std::string& band : {SampleFile("band1.raw"), dir.File("absent.raw")}) {
        missing.push_back("--band");
        missing.push_back(band);
    }
    EXPECT_EQ(Refusal::NotFound, run(missing).kind);
    // A band that is there but cannot be read: input.
    testing_support::WriteText(dir.File("empty.raw"), "");
    testing_support::WriteText(dir.File("empty.txt"), "oops\n");
    auto unreadable = job;
    for (const std::string& band : {SampleFile("band1.raw"), dir.File("empty.raw")}) {
        unreadable.push_back("--band");
        unreadable.push_back(band);
    }
    const auto refusedInput = run(unreadable);
    EXPECT_EQ(Refusal::Input, refusedInput.kind) << refusedInput.message;
    // A mask file that is not there.
    EXPECT_EQ(Refusal::NotFound,
              run(TwoBands({"--out", dir.File("out"), "--method", "segmentation", "--segments", "3",
                            "--mask", dir.File("nomask.raw")}))
                  .kind);
    // A treatment file that is not there.
    EXPECT_EQ(
        Refusal::NotFound,
        run(TwoBands({"--out", dir.File("out"), "--apply-treatment", dir.File("t.json")})).kind);
    // More classes than can be.
    const auto tooMany = run(TwoBands(
        {"--out", dir.File("out"), "--keep-all", "--method", "segmentation", "--segments", "16"}));
    EXPECT_EQ(Refusal::TooManyClasses, tooMany.kind);
    EXPECT_EQ(
        "--keep-all would make 256 classes, more than 250; use --min-pixels to eliminate "
        "rare codes",
        tooMany.message);
    // A folder that is not there for the results.
    EXPECT_EQ(Refusal::NotWritten, run(TwoBands({"--out", dir.File("none/out"), "--method",
                                                 "segmentation", "--segments", "3"}))
                                       .kind);
    const std::vector<std::string> left{"empty.raw", "empty.txt"};
    EXPECT_EQ(left, testing_support::ListFolder(dir.path()));
    // Done.
    const auto done =
        run(TwoBands({"--out", dir.File("out"), "--method", "segmentation", "--segments", "3"}));
    EXPECT_TRUE(done.Done()) << done.message;
    EXPECT_EQ(9, done.treatment.table.CodeCount);

    EXPECT_EQ(2, tessera::job::ExitStatusOf(Refusal::Usage));
    EXPECT_EQ(3, tessera::job::ExitStatusOf(Refusal::NotFound));
    EXPECT_EQ(4, tessera::job::ExitStatusOf(Refusal::TooManyClasses));
    EXPECT_EQ(5, tessera::job::ExitStatusOf(Refusal::NotWritten));
}

TEST(JobRefusals, BandNamesAndTheirFiles) {
    EXPECT_EQ("x.raw", tessera::job::BandOfName("x.raw").path);
    EXPECT_EQ(0, tessera::job::BandOfName("x.bmp").rasterBand);
    const std::string scene = SampleFile("scene.tif");
    EXPECT_EQ(scene, tessera::job::BandOfName(scene + ":3").path);
    EXPECT_EQ(3, tessera::job::BandOfName(scene + ":3").rasterBand);
    // A colon that does not end an existing file's name belongs to the name.
    EXPECT_EQ("GPKG:a.gpkg:layer", tessera::job::BandOfName("GPKG:a.gpkg:layer").path);
    EXPECT_EQ("a line then another", tessera::job::OneLine("\n a line\n then another \n"));
}

// The selection rule over a dense table and a sparse one: a rule that speaks of every code
// (--keep-all, a negative minimum) is decided by the table's size, not by the codes that occur.
TEST(JobSelection, EveryCodeOfATableIsItsSizeDenseOrSparse) {
    Options options;
    const auto table = [](int bands, int segments) {
        std::vector<int32_t> counts(static_cast<size_t>(bands) + 1, segments);
        counts[0] = 0;
        return *tessera::BuildCodeTable(counts, true).value;
    };
    // 16 codes, three of which hold pixels: a negative minimum keeps all 16.
    const tessera::CodeTable small = table(2, 4);
    std::vector<int64_t> smallCounts(17, 0);
    smallCounts[2] = 5;
    smallCounts[9] = 1;
    smallCounts[16] = 3;
    options.minPixels = -1;
    EXPECT_EQ("", tessera::job::TooManyClassesOf(options, small, smallCounts));
    EXPECT_EQ(17u, tessera::job::SelectedOf(options, small, smallCounts).size());
    // 625 codes: more than 250, so a negative minimum keeps none, as the program's rule says.
    const tessera::CodeTable many = table(4, 5);
    const std::vector<int64_t> manyCounts(626, 1);
    EXPECT_EQ("", tessera::job::TooManyClassesOf(options, many, manyCounts));
    EXPECT_EQ(std::vector<int32_t>{0}, tessera::job::SelectedOf(options, many, manyCounts));

    // 3^20 codes counted sparsely, of which three occur: none kept either, whatever occurred.
    tessera::CodeTable sparse = table(20, 3);
    ASSERT_TRUE(sparse.Sparse());
    sparse.Hold({0, 4, 80, 3000000000u});
    const std::vector<int64_t> sparseCounts{0, 5, 1, 3};
    EXPECT_EQ("", tessera::job::TooManyClassesOf(options, sparse, sparseCounts));
    EXPECT_EQ(std::vector<int32_t>{0}, tessera::job::SelectedOf(options, sparse, sparseCounts));
    // Every code of it is refused with its size; a minimum counts the codes that occur.
    options.keepAll = true;
    EXPECT_EQ("--keep-all would make 3486784401 classes, more than 250; use --min-pixels to "
              "eliminate rare codes",
              tessera::job::TooManyClassesOf(options, sparse, sparseCounts));
    options.keepAll = false;
    options.minPixels = 2;
    EXPECT_EQ("", tessera::job::TooManyClassesOf(options, sparse, sparseCounts));
    EXPECT_EQ((std::vector<int32_t>{0, 1, 3}),
              tessera::job::SelectedOf(options, sparse, sparseCounts));
    options.maxClasses = 1;
    EXPECT_EQ("2 codes have more than 2 pixels, more than the 1 classes allowed; give a larger "
              "--min-pixels",
              tessera::job::TooManyClassesOf(options, sparse, sparseCounts));
}

}  // namespace
