// tessera-batch run as a program on small band sets whose results are worked out by hand.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "testfiles.h"

namespace {
using testing_support::FileExists;
using testing_support::ReadBytes;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

struct RunResult {
    int status = -1;
    std::string errors;
};

std::string Quote(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

RunResult RunBatch(const std::vector<std::string>& arguments, const ScratchDir& dir) {
    std::string command = Quote(TESSERA_BATCH);
    for (const std::string& argument : arguments) command.append(" ").append(Quote(argument));
    command.append(" 2>").append(Quote(dir.File("stderr.txt")));
    command.append(" >").append(Quote(dir.File("stdout.txt")));
    const int raw = std::system(command.c_str());
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.errors = ReadText(dir.File("stderr.txt"));
    return result;
}

// Two bands of 2 lines x 3 columns. With two equal-width segments each:
//   band 1: 0 10 20 / 30 40 50   min 0 max 50, R = 51, s = 26: 0-26, 27-50 -> 1 1 1 / 2 2 2
//   band 2: 5 5 100 / 100 5 100  min 5 max 100, R = 96, s = 48: 5-53, 54-100 -> 1 1 2 / 2 1 2
// Codes (band 1 most significant): 1 1 2 / 4 3 4, so code 1 has 2 pixels, 2 has 1, 3 has 1,
// 4 has 2.
class SmallBandSet : public ::testing::Test {
  protected:
    void SetUp() override {
        band1 = dir.File("band1.raw");
        band2 = dir.File("band2.raw");
        WriteBytes(band1, {0, 10, 20, 30, 40, 50});
        WriteText(dir.File("band1.txt"), "2\n3\n");
        WriteBytes(band2, {5, 5, 100, 100, 5, 100});
        WriteText(dir.File("band2.txt"), "2 3");
    }
    std::vector<std::string> Job(std::vector<std::string> selection) {
        std::vector<std::string> arguments{"--out",        dir.File("result"), "--method",
                                           "segmentation", "--segments",       "2"};
        arguments.insert(arguments.end(), selection.begin(), selection.end());
        arguments.insert(arguments.end(), {"--band", band1, "--band", band2});
        return arguments;
    }
    ScratchDir dir;
    std::string band1, band2;
};

std::string ExpectedReport(const std::string& band1, const std::string& band2,
                           const std::string& classLines) {
    return "2\n3\n1\n0\n255\n"
           "\nNumber of Bands = 2"
           "\n\nBand 1 = " +
           band1 +
           " \nType of thresholding : Segmentation \n"
           "\nSegment limits\n\nNumber of segments : 2 "
           "\n\tSegment 1 min = 0 max = 26 \n\tSegment 2 min = 27 max = 50 "
           "\n\nBand 2 = " +
           band2 +
           " \nType of thresholding : Segmentation \n"
           "\nSegment limits\n\nNumber of segments : 2 "
           "\n\tSegment 1 min = 5 max = 53 \n\tSegment 2 min = 54 max = 100 "
           "\n\n\tCodes\tNumber of pixels\n\n" +
           classLines;
}

// The program's colour sequence, computed here independently of the program.
class Sequence {
  public:
    uint32_t Below(uint32_t m) {
        state_ = state_ * ((uint64_t{346} << 32) | 20021u) + 1;
        return static_cast<uint32_t>((state_ >> 32) & 0x7fffffffu) % m;
    }

  private:
    uint64_t state_ = 1;
};

TEST_F(SmallBandSet, MinimumOneKeepsTheTwoCodesWithTwoPixels) {
    const RunResult run =
        RunBatch(Job({"--min-pixels", "1", "--format", "bmp,txt,raw,codes"}), dir);
    ASSERT_EQ(0, run.status) << run.errors;
    EXPECT_EQ("", run.errors);

    EXPECT_EQ((std::vector<uint8_t>{1, 1, 255, 2, 255, 2}), ReadBytes(dir.File("result.raw")));
    EXPECT_EQ(ExpectedReport(band1, band2, "\t1\t1\t1\t\t2\n\t2\t2\t2\t\t2\n"),
              ReadText(dir.File("result.txt")));

    const std::vector<uint8_t> bitmap = ReadBytes(dir.File("result.bmp"));
    ASSERT_EQ(1078u + 2 * 4, bitmap.size());
    // Rows bottom-up, padded to four bytes.
    EXPECT_EQ((std::vector<uint8_t>{2, 255, 2, 0, 1, 1, 255, 0}),
              std::vector<uint8_t>(bitmap.begin() + 1078, bitmap.end()));
    // Class colours come after the 762 draws of the segment colours: red, green, blue per class.
    Sequence sequence;
    for (int draw = 0; draw < 762; ++draw) sequence.Below(254);
    const uint8_t red = static_cast<uint8_t>(sequence.Below(254));
    const uint8_t green = static_cast<uint8_t>(sequence.Below(254));
    const uint8_t blue = static_cast<uint8_t>(sequence.Below(254));
    EXPECT_EQ((std::vector<uint8_t>{blue, green, red, 0}),
              std::vector<uint8_t>(bitmap.begin() + 54 + 4, bitmap.begin() + 54 + 8));
    EXPECT_EQ((std::vector<uint8_t>{255, 255, 255, 0}),
              std::vector<uint8_t>(bitmap.begin() + 54 + 4 * 255, bitmap.begin() + 54 + 4 * 256));

    // The code list, asked for by --format codes, goes with the results, not beside the bands.
    EXPECT_EQ("1\t1\t1\t\n2\t1\t2\t\n3\t2\t1\t\n4\t2\t2\t\n11\t12\t21\t22\t",
              ReadText(dir.File("result_codes.txt")));
    EXPECT_FALSE(FileExists(dir.File("multi_tab.txt")));
}

TEST_F(SmallBandSet, TheLargestTypedLimitIsReportedWithoutWrapping) {
    const RunResult run =
        RunBatch({"--out", dir.File("result"), "--keep-all", "--band", band1, "--method",
                  "definition", "--segments", "2", "--limits", "2147483647,255", "--band", band2,
                  "--method", "segmentation", "--segments", "2"},
                 dir);
    ASSERT_EQ(0, run.status) << run.errors;
    const std::string report = ReadText(dir.File("result.txt"));
    EXPECT_NE(std::string::npos,
              report.find("\tSegment 1 min = 0 max = 2147483647 \n\tSegment 2 min = 2147483648 "
                          "max = 255 \n"))
        << report;
    // Every pixel of band 1 is in segment 1: codes 1 and 2 only.
    EXPECT_EQ((std::vector<uint8_t>{1, 1, 2, 2, 1, 2}), ReadBytes(dir.File("result.raw")));
}

TEST_F(SmallBandSet, ProgressIsOneLineAStageOrOneRewrittenLineOnATerminal) {
    RunResult run = RunBatch(Job({"--progress"}), dir);
    ASSERT_EQ(0, run.status) << run.errors;
    EXPECT_EQ(
        "tessera-batch: loaded band 1 of 2\ntessera-batch: loaded band 2 of 2\n"
        "tessera-batch: read the bands\ntessera-batch: segmenting\ntessera-batch: crossing\ntessera-batch: saving " +
            dir.File("result") + ".bmp, .txt and .raw\ntessera-batch: done: 4 classes\n",
        run.errors);
    run = RunBatch(Job({"--quiet"}), dir);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("", run.errors);
    if (!FileExists("/usr/bin/script")) GTEST_SKIP() << "no pseudo-terminal runner";
    // On a terminal: each stage rewrites the line, and the last ends it.
    std::string command = "/usr/bin/script -qc \"" + std::string(TESSERA_BATCH);
    for (const std::string& argument : Job({"--progress"})) command += " '" + argument + "'";
    command += "\" /dev/null > " + dir.File("terminal.txt");
    ASSERT_EQ(0, std::system(command.c_str()));
    const std::string shown = ReadText(dir.File("terminal.txt"));
    EXPECT_EQ(0u, shown.rfind(
                      "\rtessera-batch: loaded band 1 of 2\033[K\rtessera-batch: loaded band 2", 0))
        << shown;
    EXPECT_NE(std::string::npos, shown.find("done: 4 classes\033[K\r\n")) << shown;
}

TEST_F(SmallBandSet, DefaultMinimumKeepsEveryCodeWithPixels) {
    const RunResult run = RunBatch(Job({}), dir);
    ASSERT_EQ(0, run.status) << run.errors;
    EXPECT_EQ((std::vector<uint8_t>{1, 1, 2, 4, 3, 4}), ReadBytes(dir.File("result.raw")));
    EXPECT_EQ(ExpectedReport(band1, band2,
                             "\t1\t1\t1\t\t2\n\t2\t1\t2\t\t1\n\t3\t2\t1\t\t1\n\t4\t2\t2\t\t2\n"),
              ReadText(dir.File("result.txt")));
}

TEST_F(SmallBandSet, EveryCodeEliminatedGivesAnAllWhiteResult) {
    const RunResult run = RunBatch(Job({"--min-pixels", "2"}), dir);
    ASSERT_EQ(0, run.status) << run.errors;
    EXPECT_EQ(std::vector<uint8_t>(6, 255), ReadBytes(dir.File("result.raw")));
    EXPECT_EQ(ExpectedReport(band1, band2, ""), ReadText(dir.File("result.txt")));
}

TEST_F(SmallBandSet, SavesTheLastSegmentedBand) {
    const RunResult run =
        RunBatch(Job({"--keep-all", "--save-segmented", dir.File("seg.bmp")}), dir);
    ASSERT_EQ(0, run.status) << run.errors;
    EXPECT_EQ((std::vector<uint8_t>{1, 1, 2, 2, 1, 2}), ReadBytes(dir.File("seg.bmp.raw")));
    EXPECT_EQ("2\n3\n1\n0\n255\n", ReadText(dir.File("seg.bmp.txt")));
    const std::vector<uint8_t> bitmap = ReadBytes(dir.File("seg.bmp.bmp"));
    ASSERT_EQ(1078u + 8, bitmap.size());
    EXPECT_EQ((std::vector<uint8_t>{2, 1, 2, 0, 1, 1, 2, 0}),
              std::vector<uint8_t>(bitmap.begin() + 1078, bitmap.end()));
    // Segment colours are the first draws: entry 1 is red, green, blue of draws 1 to 3.
    Sequence sequence;
    const uint8_t red = static_cast<uint8_t>(sequence.Below(254));
    const uint8_t green = static_cast<uint8_t>(sequence.Below(254));
    const uint8_t blue = static_cast<uint8_t>(sequence.Below(254));
    EXPECT_EQ((std::vector<uint8_t>{blue, green, red}),
              std::vector<uint8_t>(bitmap.begin() + 58, bitmap.begin() + 61));
    // Keeping every code: class k is code k.
    EXPECT_EQ((std::vector<uint8_t>{1, 1, 2, 4, 3, 4}), ReadBytes(dir.File("result.raw")));
}

TEST_F(SmallBandSet, DefinitionBandsUseTheTypedLimits) {
    // Band 2 cut at 5 and 255: 5 -> segment 1, 100 -> segment 2.
    const RunResult run = RunBatch(
        {"--out", dir.File("def"), "--band", band1, "--method", "segmentation", "--segments", "1",
         "--band", band2, "--method", "definition", "--segments", "2", "--limits", "5,255"},
        dir);
    ASSERT_EQ(0, run.status) << run.errors;
    EXPECT_EQ((std::vector<uint8_t>{1, 1, 2, 2, 1, 2}), ReadBytes(dir.File("def.raw")));
    const std::string report = ReadText(dir.File("def.txt"));
    EXPECT_NE(std::string::npos,
              report.find("Type of thresholding : Definition \n\nSegment limits\n\nNumber of "
                          "segments : 2 \n\tSegment 1 min = 5 max = 5 \n\tSegment 2 min = 6 max = "
                          "255 "))
        << report;
}

TEST(BatchUsage, HelpAndUsageErrors) {
    ScratchDir dir;
    const RunResult help = RunBatch({"--help"}, dir);
    EXPECT_EQ(0, help.status);
    EXPECT_NE(std::string::npos, ReadText(dir.File("stdout.txt")).find("Usage: tessera-batch"));

    const std::vector<std::vector<std::string>> wrong{
        {},
        {"--out", "x", "--band", "a.raw", "--method", "segmentation", "--segments", "2"},
        {"--out", "x", "--frobnicate"},
        {"--out", "x", "--segments", "0", "--method", "segmentation", "--band", "a", "--band", "b"},
        {"--out", "x", "--segments", "2", "--method", "cubist", "--band", "a", "--band", "b"},
        {"--out", "x", "--segments", "2", "--method", "definition", "--band", "a", "--band", "b"},
        {"--out", "x", "--keep-all", "--min-pixels", "3", "--segments", "2", "--method",
         "segmentation", "--band", "a", "--band", "b"},
    };
    for (const auto& arguments : wrong) {
        const RunResult run = RunBatch(arguments, dir);
        EXPECT_EQ(2, run.status) << run.errors;
        EXPECT_EQ(0u, run.errors.rfind("tessera-batch: ", 0)) << run.errors;
        EXPECT_EQ(1, std::count(run.errors.begin(), run.errors.end(), '\n')) << run.errors;
    }
}

TEST_F(SmallBandSet, RefusedInputsExitWithThree) {
    const std::string missing = dir.File("missing.raw");
    RunResult run = RunBatch({"--out", dir.File("r"), "--method", "segmentation", "--segments", "2",
                              "--band", band1, "--band", missing},
                             dir);
    EXPECT_EQ(3, run.status) << run.errors;
    EXPECT_NE(std::string::npos, run.errors.find(missing)) << run.errors;

    // A band of another size.
    WriteBytes(dir.File("wide.raw"), std::vector<uint8_t>(8, 1));
    WriteText(dir.File("wide.txt"), "2\n4\n");
    run = RunBatch({"--out", dir.File("r"), "--method", "segmentation", "--segments", "2", "--band",
                    band1, "--band", dir.File("wide.raw")},
                   dir);
    EXPECT_EQ(3, run.status) << run.errors;
    EXPECT_FALSE(FileExists(dir.File("r.bmp")));
    EXPECT_FALSE(FileExists(dir.File("r.txt")));
}

TEST_F(SmallBandSet, SelectionThatCannotGiveAtMost250Classes) {
    // 16 x 16 segments over bands where every code holds exactly one pixel: 256 codes.
    std::vector<uint8_t> first(256), second(256);
    for (int i = 0; i < 256; ++i) {
        first[i] = static_cast<uint8_t>(i / 16 * 16);
        second[i] = static_cast<uint8_t>(i % 16 * 16);
    }
    WriteBytes(dir.File("a.raw"), first);
    WriteText(dir.File("a.txt"), "16\n16\n");
    WriteBytes(dir.File("b.raw"), second);
    WriteText(dir.File("b.txt"), "16\n16\n");
    const std::vector<std::string> bands{"--method", "segmentation",   "--segments",
                                         "16",       "--band",         dir.File("a.raw"),
                                         "--band",   dir.File("b.raw")};
    auto with = [&](std::vector<std::string> head) {
        head.insert(head.end(), bands.begin(), bands.end());
        return head;
    };
    RunResult run =
        RunBatch(with({"--out", dir.File("r"), "--save-segmented", dir.File("s")}), dir);
    EXPECT_EQ(4, run.status) << run.errors;
    EXPECT_NE(std::string::npos, run.errors.find("256")) << run.errors;
    // A refused run writes no result, and nothing beside the bands.
    for (const char* name : {"s.bmp", "s.txt", "s.raw", "r.bmp", "r.txt", "r.raw"})
        EXPECT_FALSE(FileExists(dir.File(name))) << name;
    run = RunBatch(with({"--out", dir.File("r"), "--keep-all"}), dir);
    EXPECT_EQ(4, run.status) << run.errors;
    run = RunBatch(with({"--out", dir.File("r"), "--min-pixels", "1"}), dir);
    EXPECT_EQ(0, run.status) << run.errors;
    EXPECT_EQ(std::vector<uint8_t>(256, 255), ReadBytes(dir.File("r.raw")));
}

TEST_F(SmallBandSet, UnwritableOutputExitsWithFive) {
    WriteText(dir.File("plainfile"), "not a folder");
    const RunResult run =
        RunBatch({"--out", dir.File("plainfile") + "/result", "--method", "segmentation",
                  "--segments", "2", "--band", band1, "--band", band2},
                 dir);
    EXPECT_EQ(5, run.status) << run.errors;
    EXPECT_NE(std::string::npos, run.errors.find("result.bmp")) << run.errors;
    EXPECT_EQ("not a folder", ReadText(dir.File("plainfile")));
}

}  // namespace

namespace {

TEST_F(SmallBandSet, AResultFileThatCannotBePutInPlaceKeepsTheEarlierSetWhole) {
    // The earlier set; then a folder where the raw file is to go: the bitmap and the report are
    // put in place before it fails, and must come back as they were.
    const std::vector<std::string> job = Job({"--format", "bmp,txt,raw,codes"});
    ASSERT_EQ(0, RunBatch(job, dir).status);
    const std::vector<uint8_t> bitmap = ReadBytes(dir.File("result.bmp"));
    const std::string report = ReadText(dir.File("result.txt"));
    ASSERT_EQ(0, std::remove(dir.File("result.raw").c_str()));
    std::filesystem::create_directory(dir.File("result.raw"));
    ASSERT_EQ(0, std::remove(dir.File("result_codes.txt").c_str()));
    const std::vector<std::string> before = testing_support::ListFolder(dir.path());

    std::vector<std::string> other = Job({"--format", "bmp,txt,raw,codes", "--keep-all"});
    const RunResult run = RunBatch(other, dir);
    EXPECT_EQ(5, run.status) << run.errors;
    EXPECT_NE(std::string::npos, run.errors.find(dir.File("result.raw"))) << run.errors;
    EXPECT_NE(std::string::npos, run.errors.find("the earlier files are as they were"))
        << run.errors;
    EXPECT_EQ(bitmap, ReadBytes(dir.File("result.bmp")));
    EXPECT_EQ(report, ReadText(dir.File("result.txt")));
    // The code list, after the raw file in the set, never came; nothing is left aside.
    std::vector<std::string> after = testing_support::ListFolder(dir.path());
    after.erase(std::remove(after.begin(), after.end(), "stderr.txt"), after.end());
    after.erase(std::remove(after.begin(), after.end(), "stdout.txt"), after.end());
    std::vector<std::string> expected = before;
    expected.erase(std::remove(expected.begin(), expected.end(), "stderr.txt"), expected.end());
    expected.erase(std::remove(expected.begin(), expected.end(), "stdout.txt"), expected.end());
    EXPECT_EQ(expected, after);
}

}  // namespace
