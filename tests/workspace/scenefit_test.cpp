// Percentiles over several scenes: the values of every scene counted together, worked out
// exactly as one scene's are.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "workspace/scenefit.h"

using namespace tessera;

TEST(SceneFitPercentiles, WholeNumbersOfSeveralScenesGiveTheExactPercentile) {
    // Int16 counts start at -32768. 23031 values over two scenes: 22570 of 11287, then 461 of
    // 11292. 98 %: index 23030 x 0.98 = 22569.4, from 11287 2/5 of the way to 11292: 11289
    // (numpy's doubles: 11288.999999999989). 2 %: index 460.6, between two 11287s.
    constexpr int64_t kLowest = -32768;
    std::vector<int64_t> first(65536, 0), second(65536, 0);
    first[static_cast<size_t>(11287 - kLowest)] = 12000;
    second[static_cast<size_t>(11287 - kLowest)] = 10570;
    second[static_cast<size_t>(11292 - kLowest)] = 461;
    SceneFit fit(1);
    fit.AddValueCounts(1, first, kLowest);
    fit.AddValueCounts(1, second, kLowest);
    ASSERT_TRUE(fit.TakePercentiles(1, PercentileRange{2, 98}));
    ASSERT_TRUE(fit.Stretches()[0]);
    EXPECT_EQ(11287.0, fit.Stretches()[0]->minimum);
    EXPECT_EQ(11289.0, fit.Stretches()[0]->maximum);
    // 20 % and 30 % both fall among the 11287s: refused, the value written whole.
    const Status refused = fit.TakePercentiles(1, PercentileRange{20, 30});
    ASSERT_FALSE(refused);
    EXPECT_NE(std::string::npos, refused.message.find("are both 11287 over the scenes"))
        << refused.message;
}

TEST(SceneFitCounts, SparseCountsOfScenesMergeInCodeOrder) {
    tessera::SceneFit fit(2);
    const uint64_t far = uint64_t{1} << 63;
    // Scene 1: 3 pixels without a code, codes at offsets 7 and 2^63; scene 2: 2 more, codes at
    // offsets 2, 7 and 2^63 + 1.
    tessera::CodeTally first;
    first.held = {0, 7, far};
    first.pixelCount = {3, 5, 1};
    tessera::CodeTally second;
    second.held = {0, 2, 7, far + 1};
    second.pixelCount = {2, 4, 6, 9};
    fit.AddCounts(first);
    fit.AddCounts(second);
    EXPECT_EQ((std::vector<uint64_t>{0, 2, 7, far, far + 1}), fit.Counts().held);
    EXPECT_EQ((std::vector<int64_t>{5, 4, 11, 1, 9}), fit.Counts().pixelCount);

    // Dense counts add code by code.
    tessera::SceneFit dense(2);
    tessera::CodeTally part;
    part.pixelCount = {1, 2, 3};
    dense.AddCounts(part);
    dense.AddCounts(part);
    EXPECT_TRUE(dense.Counts().held.empty());
    EXPECT_EQ((std::vector<int64_t>{2, 4, 6}), dense.Counts().pixelCount);
}
