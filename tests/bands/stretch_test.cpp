// The native values of a scaled band of whole numbers: the ends of a segment's range are the
// physical values of stored values, written as short as tells them from their neighbours, and
// so are the stretch's MIN and MAX where the band gave them.
#include "bands/stretch.h"

#include <gtest/gtest.h>

#include <string>

#include "bands/rasterband.h"
#include "bands/stretchchoice.h"
#include "support/numbers.h"

using namespace tessera;

namespace {

const Scaling kReflectance{2e-05, -0.1};  // Landsat 8's REFLECTANCE_MULT and _ADD

double Reflectance(double stored) {
    return PhysicalValue(stored, kReflectance);
}

std::string RangeText(int lower, int upper, const GrayStretch& stretch) {
    return NativeRangeText(NativeRangeOfGrays(lower, upper, stretch), stretch);
}

}  // namespace

TEST(ScaledNativeRanges, EndsAreTheLeastAndGreatestStoredValuesOfTheSegment) {
    // Stretched from DN 7000 to DN 7765: three stored values a gray level, gray =
    // round((DN - 7000) / 3), so gray g holds DN 7000 + 3g - 1 to 7000 + 3g + 1. Grays 10..20
    // hold DN 7029..7061: 7029 x 2e-05 - 0.1 = 0.04058, 7061 x 2e-05 - 0.1 = 0.04122.
    const GrayStretch stretch{
        "UInt16", {Reflectance(7000), Reflectance(7765)}, std::nullopt, kReflectance};
    EXPECT_EQ("-inf to 0.04056", RangeText(0, 9, stretch));  // DN 7028
    EXPECT_EQ("0.04058 to 0.04122", RangeText(10, 20, stretch));
    EXPECT_EQ("0.04124 to inf", RangeText(21, 255, stretch));  // DN 7062
    const NativeRange range = NativeRangeOfGrays(10, 20, stretch);
    ASSERT_TRUE(range.low && range.high);
    EXPECT_EQ(Reflectance(7029), *range.low);  // the value a pixel of DN 7029 is read as
    EXPECT_EQ(Reflectance(7061), *range.high);
    // Taken as any doubles, the ends are where the gray levels begin and end (about 0.04057
    // and 0.04123): values no pixel holds.
    const NativeRange asDoubles = NativeRangeOfGrays(10, 20, stretch.range, "Float64");
    EXPECT_NE(*range.low, *asDoubles.low);
}

TEST(ScaledNativeRanges, ANegativeScaleTurnsTheStoredValuesAround) {
    // 1.2 - 2e-05 DN from DN 7765 (MIN) to DN 7000 (MAX): gray = round((7765 - DN) / 3), so
    // grays 10..20 hold DN 7704..7736, physical 1.2 - 0.15472 = 1.04528 to 1.2 - 0.15408 =
    // 1.04592.
    const Scaling turned{-2e-05, 1.2};
    const GrayStretch stretch{
        "UInt16", {PhysicalValue(7765, turned), PhysicalValue(7000, turned)}, std::nullopt, turned};
    EXPECT_EQ("1.04528 to 1.04592", RangeText(10, 20, stretch));
    EXPECT_EQ("1.0447", StretchEndText(stretch, false));
    EXPECT_EQ("1.06", StretchEndText(stretch, true));
}

TEST(ScaledNativeRanges, GrayLevelsBetweenStoredValuesHoldNone) {
    // From DN 7000 to DN 7100: 2.55 gray levels a stored value, DN 7001 is gray 3.
    const GrayStretch stretch{
        "Int16", {Reflectance(7000), Reflectance(7100)}, std::nullopt, kReflectance};
    EXPECT_EQ("none", RangeText(1, 2, stretch));
    EXPECT_EQ("-inf to 0.04", RangeText(0, 0, stretch));  // DN 7000
    EXPECT_EQ("0.04002 to 0.04002", RangeText(3, 3, stretch));
}

TEST(ScaledNativeRanges, BandsWithoutAScaleOfWholeNumbersKeepTheirTexts) {
    // Unscaled: the value type's own texts, as before.
    const GrayStretch whole{"UInt16", {1000, 1765}, std::nullopt, std::nullopt};
    EXPECT_EQ("1029 to 1061", RangeText(10, 20, whole));
    const GrayStretch real{"Float32", {-1.5f, 2.25f}, std::nullopt, std::nullopt};
    EXPECT_EQ(NativeRangeText(NativeRangeOfGrays(10, 20, real.range, "Float32"), "Float32"),
              RangeText(10, 20, real));
    // A scaled band of floating-point values has no steps: its values are any doubles.
    const GrayStretch scaledReal{"Float32", {0.0, 1.0}, std::nullopt, kReflectance};
    EXPECT_EQ(NativeRangeText(NativeRangeOfGrays(10, 20, scaledReal.range, "Float64"), "Float64"),
              RangeText(10, 20, scaledReal));
    EXPECT_EQ(NumberText(0.1 * 3), HeldValueText(0.1 * 3, scaledReal));
}

TEST(ScaledStretchEnds, AValueTheBandHoldsReadsWithoutNoise) {
    // The band's own least and greatest values: DN 6845 and 15069.
    const GrayStretch own{
        "UInt16", {Reflectance(6845), Reflectance(15069)}, std::nullopt, kReflectance};
    ASSERT_EQ("0.20138000000000003", NumberText(own.range.maximum));
    EXPECT_EQ("0.0369", StretchEndText(own, false));
    EXPECT_EQ("0.20138", StretchEndText(own, true));
    EXPECT_EQ("0.20138", HeldValueText(own.range.maximum, own));
}

TEST(ScaledStretchEnds, APercentileBetweenTwoStoredValuesKeepsItsFraction) {
    // 2 % and 98 % place a percentile in 50ths of a step: DN 7000 + 3/5 is 0.040012, and
    // DN 15068 + 1/2 is 0.20137.
    const GrayStretch cut{"UInt16",
                          {Reflectance(RoundedQuotient(35003, 5)), Reflectance(15068.5)},
                          PercentileRange{2, 98},
                          kReflectance};
    EXPECT_EQ("0.040012", StretchEndText(cut, false));
    EXPECT_EQ("0.20137", StretchEndText(cut, true));
    // Without the percentiles the same values lie on no grid of the band's: as NumberText.
    GrayStretch given = cut;
    given.percentiles = std::nullopt;
    EXPECT_EQ(NumberText(cut.range.minimum), StretchEndText(given, false));
}

TEST(ScaledStretchEnds, AGivenStretchIsWrittenAsItWasGiven) {
    const GrayStretch given{"UInt16", {0.100001, 0.2013800000001}, std::nullopt, kReflectance};
    EXPECT_EQ("0.100001", StretchEndText(given, false));
    EXPECT_EQ("0.2013800000001", StretchEndText(given, true));
    const GrayStretch unscaled{
        "Int16", {11171.8, 11288.999999999995}, PercentileRange{2, 98}, std::nullopt};
    EXPECT_EQ("11171.8", StretchEndText(unscaled, false));
    EXPECT_EQ("11288.999999999995", StretchEndText(unscaled, true));
}

TEST(ScaledStretchEnds, ABandOfOneValueIsRefusedWithThatValueWithoutNoise) {
    const double value = Reflectance(15069);
    const Result<StretchRange> flat =
        OwnStretch("b.tif", 1, value, value, std::nullopt, false, "Int16", kReflectance);
    ASSERT_FALSE(flat);
    EXPECT_NE(std::string::npos, flat.message.find("every pixel holds the value 0.20138, "))
        << flat.message;
    // Unscaled as before: the type's own text.
    const Result<StretchRange> floats =
        OwnStretch("b.tif", 1, -9999.9f, -9999.9f, std::nullopt, true, "Float32");
    EXPECT_NE(std::string::npos, floats.message.find("every pixel holds the value -9999.9, "))
        << floats.message;
}
