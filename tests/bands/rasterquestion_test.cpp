// The question asked about a raster band before it is read: the band's own minimum and maximum
// found once and kept as its stretch, the file's nodata value, the choice of the band of the
// file; and the texts that tell a user of the open dialogs how to read a file otherwise.
#include <gdal.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "bands/bandfiles.h"
#include "bands/bandset.h"
#include "bands/rasterband.h"
#include "bands/stretchchoice.h"
#include "rasterfiles.h"
#include "support/numbers.h"
#include "testfiles.h"

namespace tessera {
namespace {
using Question = BandLoadOptions::RasterQuestion;
using testing_support::RasterExtras;
using testing_support::RasterType;
using testing_support::ScratchDir;
using testing_support::WriteGeoTiff;

// Counts the steps of one stage, and stops the operation at step `stopAt` of it (-1: never).
class StageSteps : public Progress {
  public:
    StageSteps(const char* stage, int stopAt = -1) : stage_(stage), stopAt_(stopAt) {}
    bool Step(const char* stage, int64_t done, int64_t total) override {
        if (std::strcmp(stage, stage_) != 0) return true;
        EXPECT_LE(done, total);
        last = done;
        lastTotal = total;
        return steps++ != stopAt_;
    }
    int steps = 0;
    int64_t last = -1, lastTotal = -1;

  private:
    const char* stage_;
    int stopAt_;
};

class RasterQuestionTest : public ::testing::Test {
  protected:
    // Three UInt16 bands of 2 x 3 pixels, nodata 0: band 1 from 100 to 900, band 2 from 2000 to
    // 2500, band 3 every pixel 0.
    void SetUp() override {
        path = dir.File("three.tif");
        RasterExtras extras;
        extras.nodata = 0;
        ASSERT_TRUE(WriteGeoTiff(
            path, 2, 3, RasterType::UInt16,
            {{0, 100, 300, 500, 900, 0}, {2000, 0, 2100, 2200, 2300, 2500}, {0, 0, 0, 0, 0, 0}},
            extras));
        set.Begin(2);
    }
    // Opens band 1 of the file, answering each question with `answer(proposed)`; the questions
    // asked are kept.
    Result<BandReader> Open(std::function<Question(const Question&)> answer, bool chooseBand = true,
                            Progress* progress = nullptr) {
        BandLoadOptions options;
        options.checkMemory = false;
        options.progress = progress;
        options.askRasterBand = chooseBand;
        options.askRaster = [this, answer](const Question& proposed) -> std::optional<Question> {
            asked.push_back(proposed);
            return answer(proposed);
        };
        return set.Open(1, path, BandFileType::Raster, options);
    }
    ScratchDir dir;
    std::string path;
    BandSet set;
    std::vector<Question> asked;
};

TEST_F(RasterQuestionTest, FindRangeLeavesOutNodataAndNonFiniteValuesAndTellsItsProgress) {
    const std::string floats = dir.File("floats.tif");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    RasterExtras extras;
    extras.nodata = -5;
    ASSERT_TRUE(
        WriteGeoTiff(floats, 2, 3, RasterType::Float32, {{nan, -5, 2.5, inf, -1, 7}}, extras));
    Result<std::shared_ptr<RasterSource>> source = RasterSource::Open(floats, 1);
    ASSERT_TRUE(source) << source.message;
    StageSteps steps(kStageRange);
    const Result<ValueRange> range = (*source.value)->FindRange(steps);
    ASSERT_TRUE(range) << range.message;
    EXPECT_EQ(-1, range.value->low);
    EXPECT_EQ(7, range.value->high);
    EXPECT_GE(steps.steps, 2);
    EXPECT_EQ(6, steps.last);  // ends with every pixel done
    EXPECT_EQ(6, steps.lastTotal);

    StageSteps stop(kStageRange, 0);
    EXPECT_TRUE((*source.value)->FindRange(stop).cancelled);
}

TEST_F(RasterQuestionTest, TheQuestionShowsTheRangeWhichBecomesTheStretch) {
    StageSteps steps(kStageRange);
    const Result<BandReader> file = Open([](const Question& q) { return q; }, true, &steps);
    ASSERT_TRUE(file) << file.message;
    ASSERT_EQ(1u, asked.size());
    const Question& q = asked[0];
    EXPECT_EQ("UInt16", q.dataType);
    EXPECT_TRUE(q.stretched);
    EXPECT_EQ(std::optional<double>(100), q.minimum);
    EXPECT_EQ(std::optional<double>(900), q.maximum);
    EXPECT_EQ(std::optional<double>(0), q.fileNodata);
    EXPECT_EQ(std::optional<double>(0), q.nodata);
    EXPECT_EQ(1, q.rasterBand);
    EXPECT_EQ(3, q.bandsInFile);
    EXPECT_GT(steps.steps, 0);  // the range was read with the load's progress
    ASSERT_TRUE(file.value->Stretch().has_value());
    EXPECT_EQ(100, file.value->Stretch()->range.minimum);
    EXPECT_EQ(900, file.value->Stretch()->range.maximum);
}

TEST_F(RasterQuestionTest, AScaledBandsRangeIsToldInTheDigitsOfItsScale) {
    // The file's own scale and offset (Landsat 8's reflectance): DN 8709 to 15069 are
    // 0.07418 to 0.20138, which the doubles hold as 0.07418000000000001-like values.
    path = dir.File("scaled.tif");
    RasterExtras extras;
    extras.nodata = 0;
    ASSERT_TRUE(
        WriteGeoTiff(path, 2, 3, RasterType::UInt16, {{0, 8709, 9000, 10000, 15069, 0}}, extras));
    GDALAllRegister();
    GDALDatasetH dataset = GDALOpen(path.c_str(), GA_Update);
    ASSERT_NE(nullptr, dataset);
    GDALSetRasterScale(GDALGetRasterBand(dataset, 1), 2e-05);
    GDALSetRasterOffset(GDALGetRasterBand(dataset, 1), -0.1);
    GDALClose(dataset);
    ASSERT_TRUE(Open([](const Question& q) { return q; }, false));
    ASSERT_EQ(1u, asked.size());
    const Question& q = asked[0];
    ASSERT_TRUE(q.scaling && q.minimum && q.maximum);
    EXPECT_EQ(8709 * 2e-05 - 0.1, *q.minimum);
    EXPECT_EQ("0.20138000000000003", NumberText(*q.maximum));
    EXPECT_EQ("0.07418", q.ValueText(*q.minimum));
    EXPECT_EQ("0.20138", q.ValueText(*q.maximum));
    // Unscaled, the type's own text.
    Question unscaled;
    unscaled.dataType = "Float32";
    EXPECT_EQ("-9999.9", unscaled.ValueText(-9999.9f));
}

TEST_F(RasterQuestionTest, AnotherNodataValueInTheAnswerReadsTheRangeAgain) {
    // Without a nodata value the zeros count: the range is 0..900, not the 100..900 shown.
    const Result<BandReader> file = Open([](const Question& q) {
        Question answer = q;
        answer.nodata.reset();
        return answer;
    });
    ASSERT_TRUE(file) << file.message;
    ASSERT_TRUE(file.value->Stretch().has_value());
    EXPECT_EQ(0, file.value->Stretch()->range.minimum);
    EXPECT_EQ(900, file.value->Stretch()->range.maximum);
}

TEST_F(RasterQuestionTest, AStretchInTheAnswerWinsOverTheRange) {
    const Result<BandReader> file = Open([](const Question& q) {
        Question answer = q;
        answer.stretch = StretchRange{50, 60};
        return answer;
    });
    ASSERT_TRUE(file) << file.message;
    EXPECT_EQ(50, file.value->Stretch()->range.minimum);
    EXPECT_EQ(60, file.value->Stretch()->range.maximum);
}

TEST_F(RasterQuestionTest, AnotherBandChosenIsOpenedAndAskedAbout) {
    const Result<BandReader> file = Open([](const Question& q) {
        Question answer = q;
        answer.rasterBand = 2;
        return answer;
    });
    ASSERT_TRUE(file) << file.message;
    ASSERT_EQ(2u, asked.size());
    EXPECT_EQ(2, asked[1].rasterBand);
    EXPECT_EQ(std::optional<double>(2000), asked[1].minimum);
    EXPECT_EQ(std::optional<double>(2500), asked[1].maximum);
    EXPECT_EQ(2, file.value->Raster()->Band());
    EXPECT_EQ(2000, file.value->Stretch()->range.minimum);
}

TEST_F(RasterQuestionTest, TheEntriesTypedWithAnotherBandAreProposedForIt) {
    const Result<BandReader> file = Open([](const Question& q) {
        Question answer = q;
        if (q.rasterBand == 1) {
            answer.rasterBand = 2;
            answer.stretch = StretchRange{2000, 3000};
            answer.nodata = 2500;
        }
        return answer;
    });
    ASSERT_TRUE(file) << file.message;
    ASSERT_EQ(2u, asked.size());
    ASSERT_TRUE(asked[1].stretch.has_value());
    EXPECT_EQ(2000, asked[1].stretch->minimum);
    EXPECT_EQ(std::optional<double>(2500), asked[1].nodata);
    EXPECT_EQ(std::optional<double>(0), asked[1].fileNodata);
    // The range shown leaves out the nodata value typed: 0 has data, 2500 has none.
    EXPECT_EQ(std::optional<double>(0), asked[1].minimum);
    EXPECT_EQ(std::optional<double>(2300), asked[1].maximum);
    EXPECT_EQ(3000, file.value->Stretch()->range.maximum);
}

TEST_F(RasterQuestionTest, TheBandIsNotChosenUnlessTheCallerOffersIt) {
    const Result<BandReader> file = Open(
        [](const Question& q) {
            Question answer = q;
            answer.rasterBand = 2;
            return answer;
        },
        false);
    ASSERT_TRUE(file) << file.message;
    ASSERT_EQ(1u, asked.size());
    EXPECT_EQ(0, asked[0].bandsInFile);
    EXPECT_EQ(1, file.value->Raster()->Band());
}

TEST_F(RasterQuestionTest, ABandWithoutDataIsAskedAboutWithoutARangeThenRefused) {
    const Result<BandReader> file = Open([](const Question& q) {
        Question answer = q;
        answer.rasterBand = 3;
        return answer;
    });
    ASSERT_EQ(2u, asked.size());
    EXPECT_FALSE(asked[1].minimum.has_value());
    EXPECT_FALSE(asked[1].maximum.has_value());
    EXPECT_FALSE(file);
    EXPECT_FALSE(file.cancelled);
    EXPECT_EQ(RasterRefusal(path, 3, AllNodataReason(0.0)), file.message);
}

TEST_F(RasterQuestionTest, AProgressStoppedWhileTheRangeIsReadCancelsTheLoad) {
    StageSteps stop(kStageRange, 0);
    const Result<BandReader> file = Open([](const Question& q) { return q; }, true, &stop);
    EXPECT_TRUE(file.cancelled);
    EXPECT_TRUE(asked.empty());
}

TEST_F(RasterQuestionTest, AnEightBitBandIsAskedAboutWithoutReadingItsRange) {
    const std::string bytes = dir.File("bytes.tif");
    ASSERT_TRUE(WriteGeoTiff(bytes, 1, 3, RasterType::Byte, {{10, 20, 30}}));
    path = bytes;
    StageSteps steps(kStageRange);
    const Result<BandReader> file = Open([](const Question& q) { return q; }, true, &steps);
    ASSERT_TRUE(file) << file.message;
    ASSERT_EQ(1u, asked.size());
    EXPECT_FALSE(asked[0].stretched);
    EXPECT_FALSE(asked[0].minimum.has_value());
    EXPECT_FALSE(asked[0].fileNodata.has_value());
    EXPECT_EQ(1, asked[0].bandsInFile);
    EXPECT_EQ(0, steps.steps);
}

TEST(TypeHints, AOneBandFileIsRefusedAsABandSetSayingSo) {
    const Status one = CheckRasterBandCount(1, 1);
    ASSERT_FALSE(one);
    EXPECT_EQ(
        " Insufficient Number of Bands \nThis file holds a single band: open it as one band "
        "of a set, with Files > Open.",
        one.message);
    EXPECT_EQ(CheckBandCount(11).message, CheckRasterBandCount(11, 12).message);
    EXPECT_TRUE(CheckRasterBandCount(3, 3));
}

}  // namespace
}  // namespace tessera
