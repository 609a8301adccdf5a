// Percentiles of whole numbers worked out exactly: numpy's linear method (the virtual index
// (n - 1) x q, the two values around it mixed) in fractions of whole numbers, rounded once.
#include "bands/percentiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>

using namespace tessera;

namespace {

// The percentile as numpy's doubles work it out, from the float place.
double NumpyPercentile(double percent, int64_t count, double a, double b) {
    const PercentilePlace place = PlaceOfPercentile(percent, count);
    return MixPercentile(a, b, place.fraction);
}

}  // namespace

TEST(ExactPercentile, AWholePercentileOfWholeNumbersIsThatNumber) {
    // 23031 values, 98 %: index 23030 x 0.98 = 22569.4, 2/5 of the way from rank 22569 to
    // 22570. Let those be 11287 and 11292: 11287 + 5 x 2/5 = 11289.
    const std::optional<ExactPercentilePlace> place = ExactPlaceOfPercentile(98, 23031);
    ASSERT_TRUE(place);
    EXPECT_EQ(22569, place->lower);
    EXPECT_EQ(22570, place->upper);
    EXPECT_EQ(2, place->part);
    EXPECT_EQ(5, place->parts);
    EXPECT_EQ(11289.0, MixWholePercentile(11287, 11292, *place));
    // numpy.percentile of those values gives 11288.999999999989 (its index is
    // 22569.399999999998), as the float place does.
    EXPECT_EQ(11288.999999999989, NumpyPercentile(98, 23031, 11287, 11292));
}

TEST(ExactPercentile, AFractionalPercentileIsRoundedOnce) {
    // 23021 values, 98 %: index 22559.6; between 11170 and 11173, 11170 + 3 x 3/5 = 11171.8,
    // the double nearest to 11171.8. numpy gives 11171.799999999996.
    const std::optional<ExactPercentilePlace> place = ExactPlaceOfPercentile(98, 23021);
    ASSERT_TRUE(place);
    EXPECT_EQ(22559, place->lower);
    EXPECT_EQ(3, place->part);
    EXPECT_EQ(5, place->parts);
    EXPECT_EQ(11171.8, MixWholePercentile(11170, 11173, *place));
    EXPECT_EQ(11171.799999999996, NumpyPercentile(98, 23021, 11170, 11173));
    // Negative values (Int16) and the far end of UInt32: 1/4 and 1/3 of a step.
    EXPECT_EQ(-4.5, MixWholePercentile(-5, -3, {0, 1, 1, 4}));
    EXPECT_EQ(4294967290.0 + 5.0 / 3.0, MixWholePercentile(4294967290, 4294967295, {0, 1, 1, 3}));
}

TEST(ExactPercentile, EndsAndDecimalPercents) {
    // 0 % and 100 % are the least and the greatest value.
    const auto none = ExactPlaceOfPercentile(0, 10);
    ASSERT_TRUE(none);
    EXPECT_EQ(0, none->lower);
    EXPECT_EQ(0, none->part);
    const auto all = ExactPlaceOfPercentile(100, 10);
    ASSERT_TRUE(all);
    EXPECT_EQ(9, all->lower);
    EXPECT_EQ(9, all->upper);
    EXPECT_EQ(0, all->part);
    // One value: every percentile is it.
    const auto one = ExactPlaceOfPercentile(37.5, 1);
    ASSERT_TRUE(one);
    EXPECT_EQ(0, one->lower);
    EXPECT_EQ(0, one->upper);
    EXPECT_EQ(0, one->part);
    // 2.5 % of 42 values: index 41 x 0.025 = 1.025, 1/40 past rank 1.
    const auto decimal = ExactPlaceOfPercentile(2.5, 42);
    ASSERT_TRUE(decimal);
    EXPECT_EQ(1, decimal->lower);
    EXPECT_EQ(1, decimal->part);
    EXPECT_EQ(40, decimal->parts);
    // A percent of more than six decimals, or outside 0..100, has no exact place.
    EXPECT_FALSE(ExactPlaceOfPercentile(100.0 / 3.0, 42));
    EXPECT_FALSE(ExactPlaceOfPercentile(-1, 42));
    EXPECT_FALSE(ExactPlaceOfPercentile(101, 42));
    EXPECT_FALSE(ExactPlaceOfPercentile(50, 0));
}

TEST(ExactPercentile, AgreesWithTheFloatPlaceAndItsPartsDivideThePercentsParts) {
    for (const double percent : {0.1, 2.0, 2.5, 25.0, 50.0, 97.75, 98.0, 99.999999}) {
        const std::optional<int64_t> parts = PercentileParts(percent);
        ASSERT_TRUE(parts) << percent;
        for (int64_t count = 1; count <= 3000; count += 7) {
            const auto exact = ExactPlaceOfPercentile(percent, count);
            ASSERT_TRUE(exact) << percent << " " << count;
            const PercentilePlace place = PlaceOfPercentile(percent, count);
            EXPECT_NEAR(static_cast<double>(place.lower) + place.fraction,
                        static_cast<double>(exact->lower) +
                            static_cast<double>(exact->part) / static_cast<double>(exact->parts),
                        1e-9)
                << percent << " " << count;
            EXPECT_EQ(0, *parts % exact->parts) << percent << " " << count;
            EXPECT_LT(exact->part, exact->parts);
            EXPECT_LE(exact->upper, count - 1);
        }
    }
    EXPECT_EQ(50, PercentileParts(2));  // 2/100 = 1/50
    EXPECT_EQ(40, PercentileParts(2.5));
    EXPECT_EQ(1, PercentileParts(100));
    EXPECT_FALSE(PercentileParts(100.0 / 3.0));
}

TEST(ExactPercentile, AHugeCountKeepsItsPlaceWithinSixtyFourBits) {
    // 10^12 pixels at 99.999999 %: index (10^12 - 1) x 0.99999999 = 999999990000 - 0.99999999
    // = 999999989999.00000001, 1/10^8 past rank 999999989999.
    const auto place = ExactPlaceOfPercentile(99.999999, 1'000'000'000'000);
    ASSERT_TRUE(place);
    EXPECT_EQ(999'999'989'999, place->lower);
    EXPECT_EQ(1, place->part);
    EXPECT_EQ(100'000'000, place->parts);
}
