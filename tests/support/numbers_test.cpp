// Numbers written without binary noise: the shortest decimal that tells a value from its
// neighbours, and a fraction of whole numbers rounded once.
#include "support/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace tessera;

namespace {

// The number of digits after the point of a text without an exponent.
size_t Decimals(const std::string& text) {
    const size_t point = text.find('.');
    return point == std::string::npos ? 0 : text.size() - point - 1;
}

}  // namespace

// ----- The shortest decimal within a tolerance -----

TEST(ShortestWithin, AStoredValueOfLandsatReflectanceReadsAsItsFiveDecimals) {
    // 15069 x 2e-05 - 0.1 is 0.20138; in doubles 0.20138000000000003, one step of the scale
    // (2e-05) from its neighbours.
    const double value = 15069 * 2e-05 + -0.1;
    ASSERT_EQ("0.20138000000000003", NumberText(value));
    EXPECT_EQ("0.20138", ShortestWithin(value, 2e-05 / 2));
}

TEST(ShortestWithin, EveryStoredValueOfAScaledBandReadsAsItsExactDecimal) {
    // DN x 2e-05 - 0.1 = (2 DN - 10000) / 100000: at most five decimals, worked out in whole
    // numbers. The decimal is the value's within half a step, and no shorter one is.
    for (int64_t dn = 0; dn <= 65535; ++dn) {
        const double value = static_cast<double>(dn) * 2e-05 + -0.1;
        const std::string text = ShortestWithin(value, 1e-05);
        const int64_t hundredThousandths = 2 * dn - 10000;
        ASSERT_LE(Decimals(text), 5u) << dn << ": " << text;
        ASSERT_EQ(hundredThousandths, std::llround(std::strtod(text.c_str(), nullptr) * 100000.0))
            << dn << ": " << text;
    }
}

TEST(ShortestWithin, TakesTheNearestOfTheShortestAndStaysWithinTheTolerance) {
    EXPECT_EQ("0.124", ShortestWithin(0.1239, 0.0005));  // 0.12 is too far, 0.124 nearer than 0.123
    EXPECT_EQ("0.123", ShortestWithin(0.1234, 0.0005));
    EXPECT_EQ("-0.09998", ShortestWithin(1 * 2e-05 + -0.1, 1e-05));
    // A step that is no round number: the text is within half of it, one digit fewer is not.
    const double step = 0.0001234;
    for (int k : {1, 77, 4321, 99999}) {
        const double value = k * step + 3.3;
        const std::string text = ShortestWithin(value, step / 2);
        EXPECT_LT(std::fabs(std::strtod(text.c_str(), nullptr) - value), step / 2) << text;
        EXPECT_LE(text.size(), NumberText(value).size()) << text;
    }
    // 3.3009872: 3.301 is 0.0000128 from it, 3.3 is 0.0009872.
    EXPECT_EQ("3.301", ShortestWithin(8 * step + 3.3, step / 2));
}

TEST(ShortestWithin, IsNumberTextWhereNoToleranceTellsOrNoDecimalIsShorter) {
    EXPECT_EQ("0.20138000000000003", ShortestWithin(0.20138000000000003, 0));
    EXPECT_EQ("0.20138000000000003", ShortestWithin(0.20138000000000003, -1));
    EXPECT_EQ("0.20138000000000003", ShortestWithin(0.20138000000000003, NAN));
    EXPECT_EQ("0.20138000000000003", ShortestWithin(0.20138000000000003, INFINITY));
    EXPECT_EQ("0.20138000000000003", ShortestWithin(0.20138000000000003, 1e-30));
    EXPECT_EQ("inf", ShortestWithin(INFINITY, 1));
    EXPECT_EQ("0", ShortestWithin(0, 1e-05));
    EXPECT_EQ("11289", ShortestWithin(11289, 0.5));
    EXPECT_EQ("1e+20", ShortestWithin(1e20 + 16384, 1e5));  // as NumberText writes 1e20
}

// ----- A fraction of whole numbers rounded once -----

TEST(RoundedQuotient, IsTheDivisionOfDoublesWhereBothAreExact) {
    // Below 2^53 both are doubles, and IEEE division rounds once.
    const int64_t numerators[] = {0, 1, -1, 7, 1117180, -1117180, 564450, 9007199254740991};
    const int64_t denominators[] = {1, 3, 10, 50, 100, 1000, 99991, 9007199254740991};
    for (const int64_t n : numerators)
        for (const int64_t d : denominators)
            EXPECT_EQ(static_cast<double>(n) / static_cast<double>(d), RoundedQuotient(n, d))
                << n << " / " << d;
    EXPECT_EQ(11171.8, RoundedQuotient(1117180, 100));
}

TEST(RoundedQuotient, RoundsOnceWhereTheNumeratorIsNoDouble) {
    // 2^53 + 1 lies halfway between the doubles 2^53 and 2^53 + 2: ties go to the even one.
    const int64_t two53 = int64_t{1} << 53;
    EXPECT_EQ(0x1p53, RoundedQuotient(two53 + 1, 1));
    EXPECT_EQ(0x1p53 + 4, RoundedQuotient(two53 + 3, 1));
    // Numerators above 2^53 that a double does not hold: dividing the doubles rounds twice
    // and misses by one unit in the last place. The expected quotients are Python's int / int,
    // which rounds once.
    EXPECT_EQ(0x1.9493d7fb98f8fp+37, RoundedQuotient(3917105520375715914, 18034066));
    EXPECT_EQ(0x1.9493d7fb98f8ep+37, 3917105520375715914.0 / 18034066.0);
    EXPECT_EQ(0x1.d289ca697a9b3p+34, RoundedQuotient(2081918845191089988, 66496174));
    EXPECT_EQ(-0x1.d289ca697a9b3p+34, RoundedQuotient(-2081918845191089988, 66496174));
    EXPECT_EQ(0x1.d8d4003862297p+39, RoundedQuotient(3863293451314425062, 3804736));
    // A small fraction keeps its 53 bits: 1/3 and 2/3 as the doubles nearest to them.
    EXPECT_EQ(1.0 / 3.0, RoundedQuotient(1, 3));
    const int64_t third = (int64_t{1} << 62) / 3;
    EXPECT_EQ(2.0 / 3.0, RoundedQuotient(third * 2, third * 3));
}
