// The treatment document: the JSON reader's faults with their line and column, a small
// treatment written byte for byte as worked out by hand and read back, the fields a broken
// document is refused by, and the classes it gives a counted band set.
#include "workspace/treatmentapply.h"
#include "workspace/treatmentfile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "support/json.h"

namespace {
using tessera::ParseJson;
using tessera::ParseTreatment;
using tessera::SavedBand;
using tessera::SavedTreatment;

TEST(JsonReader, FaultsGiveTheirLineAndColumn) {
    EXPECT_EQ("line 3, column 5: expected ',' or ']'",
              ParseJson("{\n  \"a\": [1,\n  2 3]\n}").message);
    EXPECT_EQ("line 1, column 10: the member \"a\" is given twice",
              ParseJson("{\"a\": 1, \"a\": 2}").message);
    EXPECT_EQ("line 2, column 1: unexpected end of the text", ParseJson("[\n").message);
    EXPECT_EQ("line 1, column 3: a control character inside a string",
              ParseJson("[\"\t\"]").message);
    EXPECT_EQ("line 1, column 4: unexpected text after the document", ParseJson("{} x").message);
    const auto value = ParseJson("[12, -3, 1.0, 1e3, \"\\u00e9\\n\"]");
    ASSERT_TRUE(value) << value.message;
    EXPECT_EQ(std::optional<int64_t>(12), value.value->items[0].Whole());
    EXPECT_EQ(std::optional<int64_t>(-3), value.value->items[1].Whole());
    EXPECT_EQ(std::nullopt, value.value->items[2].Whole());
    EXPECT_EQ(std::nullopt, value.value->items[3].Whole());
    EXPECT_EQ(1000, value.value->items[3].number);
    EXPECT_EQ("\xc3\xa9\n", value.value->items[4].string);
    EXPECT_EQ("\"a\\\"b\\\\c\\n\\u0001\"", tessera::JsonQuoted("a\"b\\c\n\x01"));
}

// Every fault the reader words, at the character where reading stops; a byte order mark, a
// byte that is no UTF-8 and half of a \u pair are refused too.
TEST(JsonReader, EveryFaultIsWordedAndPlaced) {
    const std::vector<std::pair<std::string, std::string>> faults = {
        {"", "line 1, column 1: unexpected end of the text"},
        {"[1,]", "line 1, column 4: expected a value"},
        {"[1 x]", "line 1, column 4: expected ',' or ']'"},
        {"{\"a\": 1 \"b\"}", "line 1, column 9: expected ',' or '}'"},
        {"{\"a\" 1}", "line 1, column 6: expected ':'"},
        {"{\"a\": 1, 2}", "line 1, column 10: expected a member's name"},
        {"[tru]", "line 1, column 2: expected a value"},
        {"[-x]", "line 1, column 3: a number needs digits"},
        {"[1.]", "line 1, column 4: a number needs digits after its point"},
        {"[1e+]", "line 1, column 5: a number needs digits in its exponent"},
        {"[1,\n 1e400]", "line 2, column 2: a number too large"},
        {"[01]", "line 1, column 3: expected ',' or ']'"},
        {"[\"a\\q\"]", "line 1, column 5: an unknown escape in a string"},
        {"[\"\\u12x4\"]", "line 1, column 7: \\u needs four hexadecimal digits"},
        {"[\"\\u12", "line 1, column 7: unexpected end of the text"},
        {"[\"ab", "line 1, column 5: a string without its closing quote"},
        {std::string(65, '[') + "1", "line 1, column 66: nested too deeply"},
        {"\xEF\xBB\xBF{}", "line 1, column 1: expected a value"},
        {"[\"\xE9t\xE9\"]", "line 1, column 4: a byte that is no UTF-8 inside a string"},
        {"[\"\\ud83d\"]", "line 1, column 9: a \\u escape that is half of a pair"},
    };
    for (const auto& [text, refusal] : faults) EXPECT_EQ(refusal, ParseJson(text).message) << text;
    const auto deep = ParseJson(std::string(64, '[') + "-0" + std::string(64, ']'));
    ASSERT_TRUE(deep) << deep.message;
    const tessera::JsonValue* inner = &*deep.value;
    while (inner->kind == tessera::JsonValue::Kind::Array) inner = &inner->items.at(0);
    EXPECT_EQ("-0", inner->numberText);
    EXPECT_TRUE(std::signbit(inner->number));
    const auto big = ParseJson("[123456789012345678901, 1e-400]");
    ASSERT_TRUE(big) << big.message;
    EXPECT_EQ("123456789012345678901", big.value->items[0].numberText);
    EXPECT_EQ(std::nullopt, big.value->items[0].Whole());
    EXPECT_EQ(0, big.value->items[1].number);
}

// Band 1: a raw band cut 0..99 and 100..255; band 2: UInt16 values stretched from 0 to 1000
// (at the percentiles 2 and 98), gray 0..127 and 128..255, nodata NaN. Codes (1,1) and (2,2)
// are classes 1 and 2; the spare colours are all gray 0x808080.
SavedTreatment SmallTreatment() {
    SavedTreatment saved;
    SavedBand raw;
    raw.file = "/data/b1.raw";
    raw.count = 2;
    raw.limits = {{0, 0, 100}, {0, 99, 255}};
    SavedBand wide;
    wide.file = "/data/scene.tif";
    wide.rasterBand = 2;
    wide.dataType = "UInt16";
    wide.nodata = std::numeric_limits<double>::quiet_NaN();
    wide.stretch = tessera::StretchRange{0, 1000};
    wide.percentiles = tessera::PercentileRange{2, 98};
    wide.type = tessera::Equipopulation;
    wide.count = 2;
    wide.limits = {{0, 0, 128}, {0, 127, 255}};
    saved.bands = {raw, wide};
    saved.selection = tessera::CodeSelection{false, 5};
    saved.selectedCodes = {0, 1, 4};
    saved.colours[1] = tessera::ColourEntry{0x30, 0x20, 0x10, 1, 0};  // blue, green, red
    saved.colours[2] = tessera::ColourEntry{0xff, 0x00, 0xab, 2, 0};
    for (int value = 3; value <= 254; ++value)
        saved.colours[value] = tessera::ColourEntry{0x80, 0x80, 0x80, value, 0};
    saved.colours[0] = tessera::ColourEntry{255, 255, 255, 0, 0};
    saved.colours[255] = tessera::ColourEntry{255, 255, 255, 255, 0};
    return saved;
}

std::string SmallTreatmentJson() {
    std::string spare;
    for (int k = 0; k < 252; ++k) {
        if (k > 0) spare += ",";
        spare += k % 8 == 0 ? "\n    " : " ";
        spare += "\"#808080\"";
    }
    return "{\n"
           "  \"format\": \"tessera-treatment\",\n"
           "  \"version\": 1,\n"
           "  \"bands\": [\n"
           "    {\n"
           "      \"band\": 1,\n"
           "      \"file\": \"/data/b1.raw\",\n"
           "      \"raster_band\": null,\n"
           "      \"data_type\": \"Byte\",\n"
           "      \"nodata\": null,\n"
           "      \"stretch\": null,\n"
           "      \"scaling\": null,\n"
           "      \"method\": \"segmentation\",\n"
           "      \"segment_count\": 2,\n"
           "      \"typed_native_limits\": [],\n"
           "      \"segments\": [\n"
           "        {\"segment\": 1, \"gray_min\": 0, \"gray_max\": 99, \"native_min\": 0, "
           "\"native_max\": 99, \"holds_values\": true},\n"
           "        {\"segment\": 2, \"gray_min\": 100, \"gray_max\": 255, \"native_min\": 100, "
           "\"native_max\": 255, \"holds_values\": true}\n"
           "      ]\n"
           "    },\n"
           "    {\n"
           "      \"band\": 2,\n"
           "      \"file\": \"/data/scene.tif\",\n"
           "      \"raster_band\": 2,\n"
           "      \"data_type\": \"UInt16\",\n"
           "      \"nodata\": \"nan\",\n"
           "      \"stretch\": {\"minimum\": 0, \"maximum\": 1000, \"percentiles\": [2, 98]},\n"
           "      \"scaling\": null,\n"
           "      \"method\": \"equipopulation\",\n"
           "      \"segment_count\": 2,\n"
           "      \"typed_native_limits\": [],\n"
           "      \"segments\": [\n"
           // 499 x 255 / 1000 = 127.2 rounds to gray 127; 500 gives 127.5, gray 128. Gray 0
           // and 255 take in every value beyond the stretch.
           "        {\"segment\": 1, \"gray_min\": 0, \"gray_max\": 127, \"native_min\": null, "
           "\"native_max\": 499, \"holds_values\": true},\n"
           "        {\"segment\": 2, \"gray_min\": 128, \"gray_max\": 255, \"native_min\": 500, "
           "\"native_max\": null, \"holds_values\": true}\n"
           "      ]\n"
           "    }\n"
           "  ],\n"
           "  \"masks\": [],\n"
           "  \"code_table\": {\"radices\": [2, 2], \"code_count\": 4},\n"
           "  \"selection\": {\"keep_all\": false, \"minimum\": 5},\n"
           "  \"classes\": [\n"
           "    {\"class\": 1, \"code\": 1, \"digits\": [1, 1], \"colour\": \"#102030\"},\n"
           "    {\"class\": 2, \"code\": 4, \"digits\": [2, 2], \"colour\": \"#ab00ff\"}\n"
           "  ],\n"
           "  \"spare_colours\": [" +
           spare + "\n  ]\n}\n";
}

// The refusal of `good` with its first `from` written as `to`.
std::string RefusalOfChanged(const std::string& good, const std::string& from,
                             const std::string& to) {
    std::string text = good;
    const size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return ParseTreatment(text, "t.json").message;
}

TEST(TreatmentDocument, IsWrittenAsWorkedOutAndReadBack) {
    const std::string json = tessera::TreatmentJson(SmallTreatment());
    EXPECT_EQ(SmallTreatmentJson(), json);
    const auto read = ParseTreatment(json, "t.json");
    ASSERT_TRUE(read) << read.message;
    const SavedTreatment& back = *read.value;
    ASSERT_EQ(2, back.BandCount());
    EXPECT_EQ("/data/scene.tif", back.bands[1].file);
    EXPECT_EQ(2, back.bands[1].rasterBand);
    EXPECT_EQ(0, back.bands[0].rasterBand);
    EXPECT_TRUE(std::isnan(*back.bands[1].nodata));
    EXPECT_EQ(1000, back.bands[1].stretch->maximum);
    EXPECT_EQ(98, back.bands[1].percentiles->high);
    EXPECT_EQ(tessera::Equipopulation, back.bands[1].type);
    EXPECT_EQ(SmallTreatment().bands[1].limits, back.bands[1].limits);
    EXPECT_EQ(SmallTreatment().selectedCodes, back.selectedCodes);
    EXPECT_EQ(SmallTreatment().colours, back.colours);
    EXPECT_EQ(5, back.selection->minimum);
    // Written again, the same bytes.
    EXPECT_EQ(json, tessera::TreatmentJson(back));
}

TEST(TreatmentDocument, ABrokenDocumentIsRefusedNamingItsField) {
    const std::string good = SmallTreatmentJson();
    const auto refusal = [&](const std::string& from, const std::string& to) {
        return RefusalOfChanged(good, from, to);
    };
    EXPECT_EQ("the treatment t.json is not JSON: line 3, column 3: expected ',' or '}'",
              refusal("\"tessera-treatment\",", "\"tessera-treatment\""));
    EXPECT_EQ("t.json is not a treatment (its \"format\" is not \"tessera-treatment\")",
              refusal("tessera-treatment", "tessera"));
    EXPECT_EQ("the treatment t.json has version 3, and this program reads version 1 only",
              refusal("\"version\": 1", "\"version\": 3"));
    EXPECT_EQ("the treatment t.json: bands[1].stretch.maximum is missing",
              refusal("\"maximum\": 1000", "\"max\": 1000"));
    EXPECT_EQ(
        "the treatment t.json: bands[1].method needs \"segmentation\", \"equipopulation\" "
        "or \"definition\", not \"otsu\"",
        refusal("\"equipopulation\"", "\"otsu\""));
    EXPECT_EQ("the treatment t.json: bands[0].segments needs 3 segments (its segment_count), not 2",
              refusal("\"segment_count\": 2", "\"segment_count\": 3"));
    EXPECT_EQ("the treatment t.json: code_table.radices needs the bands' segment counts, in order",
              refusal("[2, 2], \"code_count\"", "[2, 3], \"code_count\""));
    EXPECT_EQ("the treatment t.json: classes[1].digits needs the segment numbers of code 4",
              refusal("[2, 2], \"colour\"", "[2, 1], \"colour\""));
    EXPECT_EQ("the treatment t.json: classes[1].code 1 belongs to an earlier class",
              refusal("\"code\": 4", "\"code\": 1"));
    EXPECT_EQ("the treatment t.json: classes[0].colour needs \"#rrggbb\", not \"red\"",
              refusal("\"#102030\"", "\"red\""));
    EXPECT_EQ(
        "the treatment t.json: spare_colours needs 252 colours (of class values 3 to 254), "
        "not 251",
        refusal("\"#808080\", ", ""));
}

// 32 raw bands of 4 segments: a table of 2^64 codes, counted where they occur. Its classes
// are codes past 2^53 (where a double rounds), past 2^63 (where int64 ends) and 2^64 itself.
SavedTreatment SparseTreatment() {
    SavedTreatment saved;
    SavedBand band;
    band.file = "/data/b.raw";
    band.count = 4;
    band.limits = {{0, 0, 64, 128, 192}, {0, 63, 127, 191, 255}};
    saved.bands.assign(32, band);
    saved.selection = tessera::CodeSelection{false, 1};
    const uint64_t last = ~uint64_t{0};
    saved.selectedOffsets = {0, 4, (uint64_t{1} << 53) + 1, (uint64_t{1} << 63) + 6, last};
    saved.selectedCodes.assign(saved.selectedOffsets.size(), 0);
    for (int value = 0; value <= 255; ++value)
        saved.colours[value] = tessera::ColourEntry{0x80, 0x80, 0x80, value, 0};
    return saved;
}

TEST(TreatmentDocument, ATableTooLargeToMakeIsWrittenAtItsExactSize) {
    // 32 bands of 5 segments: 5^32 codes, past 2^64.
    SavedTreatment saved = SparseTreatment();
    for (SavedBand& band : saved.bands) {
        band.count = 5;
        band.limits = {{0, 0, 50, 100, 150, 200}, {0, 49, 99, 149, 199, 255}};
    }
    saved.selectedOffsets = {0};
    saved.selectedCodes = {0};
    const std::string json = tessera::TreatmentJson(saved);
    EXPECT_NE(std::string::npos, json.find("\"code_count\": 23283064365386962890625}")) << json;
}

TEST(TreatmentDocument, CodesOfASparseTableAreReadBackExactly) {
    const std::string json = tessera::TreatmentJson(SparseTreatment());
    // As written: every code exact, the table's size 2^64.
    EXPECT_NE(std::string::npos, json.find("\"code_count\": 18446744073709551616}"));
    EXPECT_NE(std::string::npos, json.find("\"code\": 9007199254740994,"));
    EXPECT_NE(std::string::npos, json.find("\"code\": 9223372036854775815,"));
    EXPECT_NE(std::string::npos, json.find("\"code\": 18446744073709551616, \"digits\": [4, 4"));
    const auto read = ParseTreatment(json, "t.json");
    ASSERT_TRUE(read) << read.message;
    EXPECT_EQ(SparseTreatment().selectedOffsets, read.value->selectedOffsets);
    EXPECT_EQ(4, read.value->ClassCount());
    EXPECT_EQ(json, tessera::TreatmentJson(*read.value));

    const auto refusal = [&](const std::string& from, const std::string& to) {
        return RefusalOfChanged(json, from, to);
    };
    EXPECT_EQ("the treatment t.json: code_table.code_count needs 18446744073709551616, the "
              "product of its radices",
              refusal("\"code_count\": 18446744073709551616", "\"code_count\": 16777216"));
    EXPECT_EQ("the treatment t.json: classes[3].code needs a whole number from 1 to "
              "18446744073709551616, not 18446744073709551617",
              refusal("\"code\": 18446744073709551616", "\"code\": 18446744073709551617"));
    EXPECT_EQ("the treatment t.json: classes[1].code needs a whole number from 1 to "
              "18446744073709551616, not 9.007199254740994e15",
              refusal("\"code\": 9007199254740994", "\"code\": 9.007199254740994e15"));
    // One less than the code written: a double would read both as 2^53 + 2.
    EXPECT_EQ("the treatment t.json: classes[1].digits needs the segment numbers of code "
              "9007199254740993",
              refusal("\"code\": 9007199254740994", "\"code\": 9007199254740993"));
    EXPECT_EQ("the treatment t.json: classes[3].code 9223372036854775815 belongs to an earlier "
              "class",
              refusal("\"code\": 18446744073709551616, \"digits\": [4, 4, 4, 4, 4, 4, 4, 4, 4, "
                      "4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4]",
                      "\"code\": 9223372036854775815, \"digits\": [3, 1, 1, 1, 1, 1, 1, 1, 1, "
                      "1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 3]"));
}

TEST(TreatmentApplied, ASparseTableHoldsTheCodesOfEveryClass) {
    const SavedTreatment saved = SparseTreatment();
    tessera::Treatment treatment;
    treatment.Begin(32);
    std::vector<int32_t> counts(33, 4);
    counts[0] = 0;
    treatment.table = *tessera::BuildCodeTable(counts, true).value;
    ASSERT_TRUE(treatment.table.Sparse());
    // The band set holds codes at offsets 3, 2^53 + 1 and 2^64 - 1 only: 6, 8 and 9 pixels.
    const uint64_t last = ~uint64_t{0};
    treatment.table.Hold({0, 3, (uint64_t{1} << 53) + 1, last});
    treatment.pixelCount = {2, 6, 8, 9};
    ASSERT_TRUE(tessera::TakeSavedClasses(treatment, saved, "t.json"));
    EXPECT_EQ(4, treatment.classCount);
    // The codes of classes 1 and 3 held with no pixels, in code order.
    EXPECT_EQ((std::vector<uint64_t>{0, 3, 4, (uint64_t{1} << 53) + 1, (uint64_t{1} << 63) + 6,
                                     last}),
              treatment.table.Held());
    EXPECT_EQ((std::vector<int64_t>{2, 6, 0, 8, 0, 9}), treatment.pixelCount);
    EXPECT_EQ((std::vector<int32_t>{0, 2, 3, 4, 5}), treatment.selectedCodes);
    EXPECT_EQ((std::vector<uint8_t>{255, 255, 1, 2, 3, 4}), treatment.classOf);
    EXPECT_EQ((std::vector<std::pair<uint64_t, uint16_t>>{
                  {4, 1}, {(uint64_t{1} << 53) + 1, 2}, {(uint64_t{1} << 63) + 6, 3}, {last, 4}}),
              treatment.classByOffset);
    EXPECT_EQ(6, treatment.applied->pixelsInNoClass);
}

TEST(TreatmentApplied, RefusesBandSetsItDoesNotFitAndCountsTheCodesItDidNotKeep) {
    const SavedTreatment saved = SmallTreatment();
    EXPECT_EQ("the treatment t.json treats 2 bands, and 3 are given",
              tessera::CheckTreatmentBandCount(saved, "t.json", 3).message);
    EXPECT_TRUE(tessera::CheckTreatmentBandCount(saved, "t.json", 2));
    EXPECT_EQ(
        "band 2 (/x/b.tif) holds Byte values, where the treatment t.json stretches UInt16 "
        "values from 0 to 1000",
        tessera::CheckTreatmentBand(saved, "t.json", 2, "/x/b.tif", "Byte").message);
    EXPECT_EQ(
        "band 1 (/x/a.tif) holds Int16 values, where the treatment t.json reads gray "
        "levels of 8 bits without a stretch",
        tessera::CheckTreatmentBand(saved, "t.json", 1, "/x/a.tif", "Int16").message);
    EXPECT_TRUE(tessera::CheckTreatmentBand(saved, "t.json", 2, "/x/b.tif", "Int16"));

    // Counted codes 1..4: 3, 7, 2 and 5 pixels; codes 2 and 3 are in no class.
    tessera::Treatment treatment;
    treatment.Begin(2);
    tessera::TakeSavedSegmentation(treatment, saved);
    EXPECT_EQ(saved.bands[1].limits, treatment.records[2].segmentLimits);
    treatment.table = *tessera::BuildCodeTable({0, 2, 2}).value;
    treatment.pixelCount = {4, 3, 7, 2, 5};
    ASSERT_TRUE(tessera::TakeSavedClasses(treatment, saved, "t.json"));
    EXPECT_EQ(2, treatment.classCount);
    EXPECT_EQ((std::vector<uint8_t>{255, 1, 255, 255, 2}), treatment.classOf);
    EXPECT_EQ(saved.colours, treatment.classColourTable);
    ASSERT_TRUE(treatment.applied.has_value());
    EXPECT_EQ(9, treatment.applied->pixelsInNoClass);
    EXPECT_EQ("t.json", treatment.applied->file);
}

}  // namespace
