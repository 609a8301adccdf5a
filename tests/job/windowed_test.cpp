// A job whose passes run over windows of lines: the percentile search shared out among copies,
// the windows the job cuts, the sums of its windows against the job run here, and what the
// driver refuses.
#include "job/windowed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "bands/percentiles.h"
#include "job/choices.h"
#include "testfiles.h"

namespace {

using tessera::RankFinder;
using tessera::job::JobOutcome;
using tessera::job::ParseOptions;
using tessera::job::Refusal;
using tessera::job::WindowedJob;

std::string SampleFile(const std::string& name) {
    return std::string(TESSERA_TEST_DATA) + "/../../samples/" + name;
}

// The values at ranks `ranks` of `values`, searched for together, counted whole or in parts of
// `part` values that copies count and the search merges.
std::vector<double> Found(const std::vector<double>& values, const std::vector<int64_t>& ranks,
                          size_t part, int keyBits, int64_t lowest) {
    RankFinder whole(keyBits, lowest);
    const auto pass = [&](RankFinder& finder) {
        for (size_t at = 0; at < values.size(); at += part) {
            RankFinder copy = RankFinder::FromNumbers(finder.Cleared().Numbers()).value();
            copy.Add(values.data() + at, nullptr, std::min(part, values.size() - at));
            EXPECT_TRUE(finder.Merge(copy));
        }
    };
    pass(whole);
    whole.EndFirstPass(ranks);
    while (!whole.Done()) {
        pass(whole);
        whole.EndPass();
    }
    std::vector<double> found;
    for (size_t i = 0; i < ranks.size(); ++i) found.push_back(whole.Value(i));
    return found;
}

TEST(SharedRankSearch, PartsMergedFindTheRanksOfTheWhole) {
    std::mt19937_64 random(5);
    std::vector<double> wholes(10007), reals(10007);
    for (size_t i = 0; i < wholes.size(); ++i) {
        wholes[i] = static_cast<double>(random() % 65536) - 32768;
        reals[i] = std::ldexp(static_cast<double>(random() % 1000003) - 500000.0, -7);
    }
    for (const auto& [values, bits, lowest] :
         {std::tuple{wholes, 16, int64_t{-32768}}, std::tuple{reals, 64, int64_t{0}}}) {
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const std::vector<int64_t> ranks{0, 200, 9806, 10006};
        for (const size_t part : {size_t{10007}, size_t{1000}, size_t{61}}) {
            const std::vector<double> found = Found(values, ranks, part, bits, lowest);
            ASSERT_EQ(ranks.size(), found.size());
            for (size_t i = 0; i < ranks.size(); ++i)
                EXPECT_EQ(sorted[static_cast<size_t>(ranks[i])], found[i])
                    << "part " << part << " rank " << ranks[i];
        }
    }
}

TEST(SharedRankSearch, APartOfAnotherPassOrSearchIsRefused) {
    RankFinder finder(16, 0);
    const double values[] = {1, 2, 3, 4};
    finder.Add(values, nullptr, 4);
    RankFinder other(32, 0);
    EXPECT_FALSE(finder.Merge(other));
    RankFinder early = finder.Cleared();
    finder.EndFirstPass({1, 2});
    EXPECT_FALSE(finder.Merge(early));
    // The count of the values stays the first pass's in every later part.
    RankFinder later = finder.Cleared();
    EXPECT_EQ(4, later.Counted());
    EXPECT_TRUE(finder.Merge(later));
    EXPECT_EQ(4, finder.Counted());
    // Numbers that are no search.
    EXPECT_FALSE(RankFinder::FromNumbers({}).has_value());
    EXPECT_FALSE(RankFinder::FromNumbers({16, 0, 0, 1, 4, 3, 1, 2}).has_value());
    std::vector<int64_t> numbers = finder.Numbers();
    EXPECT_TRUE(RankFinder::FromNumbers(numbers).has_value());
    numbers.push_back(0);
    EXPECT_FALSE(RankFinder::FromNumbers(numbers).has_value());
}

std::unique_ptr<WindowedJob> Opened(std::vector<std::string> arguments, JobOutcome& refused) {
    const auto parsed = ParseOptions(arguments);
    EXPECT_TRUE(parsed) << parsed.message;
    if (!parsed) return nullptr;
    return WindowedJob::Open(*parsed.value, {}, refused);
}

TEST(WindowedJob, WindowsAreWholeRowsOfTheFilesBlocksAndCoverTheScene) {
    JobOutcome refused;
    // The sample scene is stored in rows of blocks: every window starts at a row's top.
    const auto job = Opened({"--out", "o", "--method", "segmentation", "--segments", "3",
                             "--bands", SampleFile("scene.tif")},
                            refused);
    ASSERT_TRUE(job) << refused.message;
    const int lines = job->Size().lines;
    for (const int wanted : {0, 1, 7, 40, 1000000}) {
        const std::vector<int> windows = job->Windows(wanted);
        ASSERT_GE(windows.size(), 2u);
        EXPECT_EQ(0, windows.front());
        EXPECT_EQ(lines, windows.back());
        for (size_t k = 1; k + 1 < windows.size(); ++k) {
            EXPECT_GT(windows[k], windows[k - 1]);
            EXPECT_EQ(windows[1], windows[k] - windows[k - 1]) << "windows of one height";
        }
    }
    EXPECT_EQ(2u, job->Windows(1000000).size());
}

TEST(WindowedJob, TheWindowsSumsGiveTheJobsOwnStatistics) {
    JobOutcome refused;
    const std::vector<std::string> arguments{"--out",    "o", "--method", "equipopulation",
                                             "--segments", "3", "--bands",
                                             SampleFile("scene.tif")};
    const auto job = Opened(arguments, refused);
    ASSERT_TRUE(job) << refused.message;
    const tessera::ImageSize size = job->Size();
    const int n = job->Job().State().BandCount();
    // The stretches the bands take from their own range, from three windows' ranges.
    const std::vector<int> windows = job->Windows(1);
    const std::vector<int> own = job->Job().OwnRangeBands();
    std::vector<double> low(own.size(), INFINITY), high(own.size(), -INFINITY);
    for (size_t k = 0; k + 1 < windows.size(); ++k)
        ASSERT_TRUE(job->Job().RangesOfWindow(windows[k], windows[k + 1] - windows[k], low, high));
    ASSERT_TRUE(job->Job().TakeOwnRanges(low, high));
    // The same stretches as the job that reads the scene itself.
    const auto parsed = ParseOptions(arguments);
    JobOutcome alone;
    const auto reference = WindowedJob::Open(*parsed.value, job->Job().Stretches(), alone);
    ASSERT_TRUE(reference);
    // Every window read gives the lines the whole read gives.
    std::vector<uint8_t> gray(static_cast<size_t>(n) * size.lines * size.columns);
    std::vector<uint8_t> marks(gray.size());
    ASSERT_TRUE(reference->Job().ReadWindow(0, size.lines, gray.data(), marks.data()));
    for (size_t k = 0; k + 1 < windows.size(); ++k) {
        const int count = windows[k + 1] - windows[k];
        std::vector<uint8_t> part(static_cast<size_t>(n) * count * size.columns), partMarks(part.size());
        ASSERT_TRUE(job->Job().ReadWindow(windows[k], count, part.data(), partMarks.data()));
        for (int b = 0; b < n; ++b) {
            const uint8_t* expected = gray.data() + (static_cast<size_t>(b) * size.lines +
                                                     static_cast<size_t>(windows[k])) * size.columns;
            EXPECT_TRUE(std::equal(part.begin() + static_cast<ptrdiff_t>(b) * count * size.columns,
                                   part.begin() + static_cast<ptrdiff_t>(b + 1) * count * size.columns,
                                   expected))
                << "band " << b + 1 << " window " << k;
        }
    }
    EXPECT_FALSE(job->Job().ReadWindow(size.lines - 1, 2, gray.data(), marks.data()));
}

TEST(WindowedJob, RefusesAsRunRefusesBeforeAPixelIsRead) {
    JobOutcome refused;
    EXPECT_FALSE(Opened({"--out", "o", "--method", "segmentation", "--segments", "3", "--band",
                         SampleFile("band1.raw"), "--band", "/no/such/band.tif"},
                        refused));
    EXPECT_EQ(Refusal::NotFound, refused.kind);
    EXPECT_NE(std::string::npos, refused.message.find("/no/such/band.tif")) << refused.message;
    EXPECT_FALSE(Opened({"--out", "o", "--change", SampleFile("band1.raw"),
                         SampleFile("band2.raw")},
                        refused));
    EXPECT_EQ(Refusal::Usage, refused.kind);
}

}  // namespace
