// The case suite through the interactive program: every case of tests/data/cases whose job the
// window can make is answered in its real dialogs from the job's choices (the bands opened, a
// raster band's band, nodata and stretch typed, a mask and its rule, each band's method,
// segments and limits, the code selection, a treatment applied or saved, the results saved),
// and the files it writes are compared with the case's expected files. A case the window cannot
// make says why in its "gui" field and is skipped with that reason.
//
// The window names every file by its whole path (its file dialogs give no other), where a job
// may name the files of its folder by their bare names: texts are compared with the scratch
// folder taken out of the names of its files, and the class GeoTIFF, whose metadata carries the
// band names and the program's name, as GDAL reads it (pixels, overviews, place, colours,
// metadata). Every other file is compared byte for byte.
#include <gdal.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "app/mainwindow.h"
#include "bands/bandfiles.h"
#include "gui/guitest.h"
#include "rasterfiles.h"
#include "support/json.h"
#include "testfiles.h"

namespace {
namespace fs = std::filesystem;
using guitest::ChooseFile;
using guitest::Message;
using guitest::TypeAndClick;
using tessera::JsonValue;
using testing_support::ReadText;
using testing_support::ScratchDir;

const fs::path kCases = fs::path(TESSERA_TEST_DATA) / "cases";
const fs::path kSource = fs::path(TESSERA_TEST_DATA).parent_path().parent_path();

// The choices the window takes; the others it cannot make, and a case that gives one must say
// so in its "gui" field. (threads, keep_memory and quiet change no byte.)
const std::set<std::string> kWindowChoices{
    "out",     "method",      "segments", "limits",         "min_pixels",     "keep_all",
    "stretch", "nodata",      "mask",     "mask_bits",      "mask_values",    "save_segmented",
    "threads", "keep_memory", "quiet",    "save_treatment", "apply_treatment"};

std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(kCases))
        if (fs::exists(entry.path() / "job.json")) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

// A choice's value as the window's fields take it: a number as written in the job.
std::string Text(const JsonValue& value) {
    return value.kind == JsonValue::Kind::String ? value.string : value.numberText;
}

// "FILE" or "FILE:K": the file and the band of it.
struct BandName {
    std::string file;
    int band = 1;
};
BandName SplitBand(const std::string& name) {
    const size_t colon = name.rfind(':');
    if (colon == std::string::npos || colon + 1 == name.size() ||
        name.find_first_not_of("0123456789", colon + 1) != std::string::npos)
        return {name, 1};
    return {name.substr(0, colon), std::stoi(name.substr(colon + 1))};
}

// The file type list entry of the open dialogs that reads the file (raw, bitmap, raster).
int TypeEntry(const std::string& file) {
    const std::string extension = fs::path(file).extension().string();
    return extension == ".raw" ? 1 : extension == ".bmp" ? 2 : 3;
}

class CaseThroughWindow : public guitest::ProgramTest,
                          public ::testing::WithParamInterface<std::string> {
  protected:
    // A name of the job as a path in the scratch folder.
    std::string Placed(const std::string& name) const {
        const std::string path = Replaced(name, "@DIR@", dir.path());
        return fs::path(path).is_absolute() ? path : dir.File(path);
    }
    QString Path(const std::string& name) const { return QString::fromStdString(Placed(name)); }

    const JsonValue* Choice(const char* name) const { return choices->Find(name); }
    // Band `band`'s (from 1) value of a choice that takes one for every band or a list of one
    // per band; `listed` tells a value that is itself a list (limits, a stretch's pair) apart
    // from a list of per-band values.
    const JsonValue* OfBand(const char* name, int band, bool listed = false) const {
        const JsonValue* value = Choice(name);
        if (!value || value->kind == JsonValue::Kind::Null) return nullptr;
        if (value->kind != JsonValue::Kind::Array) return value;
        const bool perBand =
            !listed ||
            std::any_of(value->items.begin(), value->items.end(), [](const JsonValue& v) {
                return v.kind == JsonValue::Kind::Array || v.kind == JsonValue::Kind::Null ||
                       v.kind == JsonValue::Kind::String;
            });
        if (!perBand) return value;
        const JsonValue& own = value->items.at(static_cast<size_t>(band - 1));
        return own.kind == JsonValue::Kind::Null ? nullptr : &own;
    }

    // The raster dialog's fields for a band: its nodata value and stretch, when the job gives
    // them (else the dialog's proposal is confirmed).
    std::vector<std::pair<QString, QString>> RasterFields(int band) const {
        std::vector<std::pair<QString, QString>> fields;
        if (const JsonValue* nodata = OfBand("nodata", band))
            fields.push_back({"NodataEdit", QString::fromStdString(Text(*nodata))});
        if (const JsonValue* stretch = OfBand("stretch", band, true)) {
            if (stretch->kind == JsonValue::Kind::String) {
                fields.push_back({"MinEdit", QString::fromStdString(stretch->string)});
                fields.push_back({"MaxEdit", ""});
            } else {
                fields.push_back({"MinEdit", QString::fromStdString(Text(stretch->items.at(0)))});
                fields.push_back({"MaxEdit", QString::fromStdString(Text(stretch->items.at(1)))});
            }
        }
        return fields;
    }

    // Open (a list of bands, each "FILE" or "FILE:K") or Open Multi-band Image (one raster's
    // every band).
    void OpenBands(const JsonValue& bands) {
        if (bands.kind == JsonValue::Kind::String) {
            script.Then(ChooseFile(Path(bands.string)), "OPEN MULTI-BAND IMAGE");
            script.Then(TypeAndClick(RasterFields(1), "BitBtn1"), " RASTER BAND");
            Trigger("OpenMultiband");
            return;
        }
        const int count = static_cast<int>(bands.items.size());
        script.Then(TypeAndClick({{"NumBandEdit", QString::number(count)}}, "BitBtn1"), " BANDS");
        for (int band = 1; band <= count; ++band) {
            const BandName name = SplitBand(bands.items[static_cast<size_t>(band - 1)].string);
            const std::string title = "OPEN BAND " + std::to_string(band);
            script.Then(ChooseFile(Path(name.file), TypeEntry(name.file)), title.c_str());
            if (TypeEntry(name.file) != 3) continue;
            // Another band of the file is taken first, then its own facts confirmed.
            if (name.band != 1)
                script.Then(TypeAndClick({{"BandEdit", QString::number(name.band)}}, "BitBtn1"),
                            " RASTER BAND");
            script.Then(TypeAndClick(RasterFields(band), "BitBtn1"), " RASTER BAND");
        }
        Trigger("OpenSpeedButton");
    }

    // Open Mask with its rule, for each mask of the job.
    void OpenMasks() {
        const JsonValue* masks = Choice("mask");
        if (!masks) return;
        std::vector<const JsonValue*> files;
        if (masks->kind == JsonValue::Kind::String) {
            files.push_back(masks);
        } else {
            for (const JsonValue& mask : masks->items) files.push_back(&mask);
        }
        for (size_t m = 0; m < files.size(); ++m) {
            const BandName name = SplitBand(files[m]->string);
            QString radio = "NonZeroRadio", list;
            for (const char* rule : {"mask_bits", "mask_values"}) {
                const JsonValue* given = Choice(rule);
                if (!given) continue;
                // One rule for a single mask, or a list of them, one per mask.
                const JsonValue* own = given;
                if (files.size() > 1) {
                    own = &given->items.at(m);
                } else if (!given->items.empty() &&
                           given->items[0].kind == JsonValue::Kind::Array) {
                    own = &given->items[0];
                }
                if (own->kind == JsonValue::Kind::Null) continue;
                radio = std::string(rule) == "mask_bits" ? "BitsRadio" : "ValuesRadio";
                QStringList values;
                for (const JsonValue& value : own->items)
                    values << QString::fromStdString(Text(value));
                list = values.join(',');
            }
            script.Then(ChooseFile(Path(name.file), TypeEntry(name.file)), "OPEN MASK");
            const int band = name.band;
            const bool raster = TypeEntry(name.file) == 3;
            script.Then(
                [radio, list, band, raster](QDialog& dialog) {
                    if (raster)
                        dialog.findChild<QLineEdit*>("BandEdit")->setText(QString::number(band));
                    dialog.findChild<QRadioButton*>(radio)->click();
                    dialog.findChild<QLineEdit*>("ListEdit")->setText(list);
                    dialog.findChild<QAbstractButton*>("BitBtn1")->click();
                    return dialog.result();
                },
                " MASK");
            Trigger("OpenMask");
        }
    }

    // The segmentation dialog of every band (and the definition dialog of each typed limit).
    void Segment() {
        for (int band = 1; band <= form->ws.BandCount(); ++band) {
            const JsonValue* method = OfBand("method", band);
            const JsonValue* segments = OfBand("segments", band);
            const JsonValue* limits = OfBand("limits", band, true);
            const std::string type = method ? method->string : "segmentation";
            const char* radio = type == "equipopulation" ? "RadioButton2"
                                : type == "definition"   ? "RadioButton3"
                                                         : "RadioButton1";
            const std::string count =
                segments
                    ? Text(*segments)
                    : std::to_string(limits && type == "definition" ? limits->items.size() : 4);
            // The count lives in the answer: guitest::Segment keeps only a pointer to it.
            script.Then([radio, count](QDialog& dialog) {
                return guitest::Segment(radio, count.c_str())(dialog);
            });
            if (type == "definition") {
                for (const JsonValue& limit : limits->items)
                    script.Then(TypeAndClick({{"MaxValEdit", QString::fromStdString(Text(limit))}},
                                             "BitBtn1"),
                                " Segment Definition ");
            }
        }
        Trigger("SegmentationSpeedButton");
    }

    // The code selection: every code, the codes with pixels, or those with more than a minimum.
    void Cross() {
        const JsonValue* keepAll = Choice("keep_all");
        const JsonValue* minimum = Choice("min_pixels");
        const bool all = keepAll && keepAll->boolean;
        const QString pixels = minimum ? QString::fromStdString(Text(*minimum)) : "0";
        script.Then(
            [all, pixels](QDialog& dialog) {
                const char* radio = all             ? "RadioButton3"
                                    : pixels == "0" ? "RadioButton1"
                                                    : "RadioButton2";
                if (auto* button = dialog.findChild<QRadioButton*>(radio)) button->click();
                if (!all && pixels != "0")
                    dialog.findChild<QLineEdit*>("MinPixelEdit")->setText(pixels);
                dialog.findChild<QAbstractButton*>("BitBtn1")->click();
                return dialog.result();
            },
            " Code Number Definition");
        Trigger("TreatmentSpeedButton");
    }

    void Save(const char* choice, const char* title, const char* command) {
        if (const JsonValue* stem = Choice(choice)) {
            script.Then(ChooseFile(Path(stem->string)), title);
            Trigger(command);
        }
    }

    // The job's files against the expected ones: one line per file that differs.
    std::vector<std::string> Compare(const JsonValue& job, const std::string& name) const;

    ScratchDir dir;
    const JsonValue* choices = nullptr;
};

// Text with the scratch folder taken out of the names of its files (the window's whole path,
// a job's @DIR@/NAME or bare NAME all become NAME).
std::string Unplaced(const std::string& text, const std::string& folder) {
    return Replaced(Replaced(text, folder + "/", ""), "@DIR@/", "");
}

// A GDAL metadata list as name -> value, the names of files in the folder unplaced.
std::map<std::string, std::string> Metadata(GDALMajorObjectH object, const char* domain,
                                            const std::string& folder) {
    std::map<std::string, std::string> items;
    for (char** item = GDALGetMetadata(object, domain); item && *item; ++item) {
        const std::string entry = *item;
        const size_t equals = entry.find('=');
        items[entry.substr(0, equals)] = Unplaced(entry.substr(equals + 1), folder);
    }
    return items;
}

std::vector<uint8_t> Pixels(GDALRasterBandH band) {
    const int columns = GDALGetRasterBandXSize(band), lines = GDALGetRasterBandYSize(band);
    const GDALDataType type = GDALGetRasterDataType(band);
    std::vector<uint8_t> bytes(static_cast<size_t>(columns) * lines *
                               GDALGetDataTypeSizeBytes(type));
    if (GDALRasterIO(band, GF_Read, 0, 0, columns, lines, bytes.data(), columns, lines, type, 0,
                     0) != CE_None)
        bytes.clear();
    return bytes;
}

// The differences between two class GeoTIFFs as GDAL reads them, the program's name apart.
std::vector<std::string> CompareGeoTiffs(const std::string& produced, const std::string& expected,
                                         const std::string& folder) {
    std::vector<std::string> faults;
    const auto produced_ = testing_support::ReadRaster(produced);
    const auto expected_ = testing_support::ReadRaster(expected);
    if (!produced_ || !expected_) return {"unreadable"};
    if (produced_->lines != expected_->lines || produced_->columns != expected_->columns ||
        produced_->dataType != expected_->dataType)
        faults.push_back("size or data type");
    if (produced_->transform != expected_->transform) faults.push_back("geotransform");
    if (!testing_support::SameCoordinateSystem(produced_->coordinateSystem,
                                               expected_->coordinateSystem))
        faults.push_back("coordinate system");
    if (produced_->nodata != expected_->nodata) faults.push_back("nodata");
    if (produced_->colours != expected_->colours) faults.push_back("colour table");
    GDALAllRegister();
    GDALDatasetH a = GDALOpen(produced.c_str(), GA_ReadOnly);
    GDALDatasetH b = GDALOpen(expected.c_str(), GA_ReadOnly);
    if (a && b) {
        for (const char* domain : {"", "IMAGE_STRUCTURE"}) {
            auto mine = Metadata(a, domain, folder), theirs = Metadata(b, domain, folder);
            if (std::string(domain).empty()) {
                // The program that wrote it: the window, where the case's files come from the
                // batch tool.
                if (mine["TIFFTAG_SOFTWARE"] != "Tessera_V2 tessera")
                    faults.push_back("software " + mine["TIFFTAG_SOFTWARE"]);
                mine.erase("TIFFTAG_SOFTWARE");
                theirs.erase("TIFFTAG_SOFTWARE");
            }
            for (const auto& [key, value] : theirs)
                if (mine.count(key) == 0 || mine[key] != value)
                    faults.push_back(std::string("metadata ") + key + ": " + mine[key] +
                                     " in place of " + value);
            if (mine.size() != theirs.size()) faults.push_back("metadata items");
        }
        GDALRasterBandH bandA = GDALGetRasterBand(a, 1), bandB = GDALGetRasterBand(b, 1);
        if (Pixels(bandA) != Pixels(bandB)) faults.push_back("pixels");
        if (GDALGetOverviewCount(bandA) != GDALGetOverviewCount(bandB)) {
            faults.push_back("overview count");
        } else {
            for (int o = 0; o < GDALGetOverviewCount(bandA); ++o)
                if (Pixels(GDALGetOverview(bandA, o)) != Pixels(GDALGetOverview(bandB, o)))
                    faults.push_back("overview " + std::to_string(o + 1));
        }
    } else {
        faults.push_back("not opened by GDAL");
    }
    if (a) GDALClose(a);
    if (b) GDALClose(b);
    return faults;
}

std::vector<std::string> CaseThroughWindow::Compare(const JsonValue& job,
                                                    const std::string& name) const {
    const JsonValue* elsewhere = job.Find("expected");
    const fs::path expected = elsewhere ? kSource / elsewhere->string : kCases / name / "expected";
    const std::string stem = fs::path(Placed(Choice("out")->string)).filename();
    std::vector<std::string> faults;
    for (const JsonValue& entry : job.Find("compare")->items) {
        const std::string file = entry.string;
        // The code list goes to the program's data folder.
        const std::string written = file == stem + "_codes.txt"
                                        ? form->ws.CodeListFolder() + "/multi_tab.txt"
                                        : dir.File(file);
        const std::string wanted = (expected / file).string();
        if (!testing_support::FileExists(written)) {
            faults.push_back(file + ": not written");
        } else if (file.ends_with(".tif")) {
            for (const std::string& fault : CompareGeoTiffs(written, wanted, dir.path()))
                faults.push_back(file + ": " + fault);
        } else if (file.ends_with(".txt") || file.ends_with(".json")) {
            if (Unplaced(ReadText(written), dir.path()) != Unplaced(ReadText(wanted), dir.path()))
                faults.push_back(file + ": differs from " + wanted);
        } else if (testing_support::ReadBytes(written) != testing_support::ReadBytes(wanted)) {
            faults.push_back(file + ": differs from " + wanted);
        }
    }
    return faults;
}

TEST_P(CaseThroughWindow, WritesTheExpectedFiles) {
    const std::string name = GetParam();
    const tessera::Result<JsonValue> read =
        tessera::ParseJson(ReadText((kCases / name / "job.json").string()));
    ASSERT_TRUE(read) << read.message;
    const JsonValue& job = *read.value;
    const JsonValue* gui = job.Find("gui");
    ASSERT_TRUE(gui && gui->kind == JsonValue::Kind::String)
        << name << ": job.json must say in \"gui\" whether the window makes the case";
    choices = job.Find("choices");
    ASSERT_NE(nullptr, choices);
    if (gui->string != "window") {
        // The reason must hold: a case the window could make is not left out.
        const bool treatment = job.Find("run")->string == "treatment";
        const bool choicesTaken = std::all_of(
            choices->members.begin(), choices->members.end(),
            [](const tessera::JsonMember& m) { return kWindowChoices.count(m.name) > 0; });
        const JsonValue* bands = job.Find("bands");
        const bool fewBands = bands && (bands->kind == JsonValue::Kind::String ||
                                        bands->items.size() <= tessera::kMaximumBands);
        EXPECT_FALSE(treatment && choicesTaken && fewBands)
            << name
            << ": the window takes every choice of the case, yet \"gui\" says: " << gui->string;
        GTEST_SKIP() << gui->string;
    }
    ASSERT_EQ("treatment", job.Find("run")->string) << name;
    for (const tessera::JsonMember& choice : choices->members)
        ASSERT_TRUE(kWindowChoices.count(choice.name))
            << name << ": the window has no " << choice.name
            << "; give the case the reason in \"gui\"";

    for (const JsonValue& input : job.Find("inputs")->items) {
        const std::string real = "real-data/";
        const fs::path source = input.string.starts_with(real)
                                    ? fs::path(TESSERA_REAL_DATA) / input.string.substr(real.size())
                                    : kSource / input.string;
        if (!fs::exists(source))
            GTEST_SKIP() << "inputs missing (scripts/fetch-real-data.sh): " << input.string;
        fs::copy_file(source, fs::path(dir.path()) / source.filename());
    }

    OpenBands(*job.Find("bands"));
    OpenMasks();
    if (const JsonValue* treatment = Choice("apply_treatment")) {
        script.Then(ChooseFile(Path(treatment->string)), "APPLY TREATMENT");
        Trigger("ApplyTreatment");
    } else {
        Segment();
        Cross();
    }
    Save("out", "Saving Final Resulting Colored BMP File and Related Raw Image",
         "SaveResultSpeedButton");
    Save("save_segmented", "SAVE SEGMENTED IMAGE", "SaveSegmentedImageSpeedButton");
    Save("save_treatment", "SAVE TREATMENT", "SaveTreatment");

    EXPECT_EQ(std::vector<Message>{}, script.messages) << name;
    // The only question is whether a band of another grid is brought onto the grid.
    for (const Message& question : script.questions)
        EXPECT_NE(-1, question.text.indexOf("onto the grid of band"))
            << question.text.toStdString();
    EXPECT_EQ(std::vector<std::string>{}, Compare(job, name)) << name;
}

INSTANTIATE_TEST_SUITE_P(Cases, CaseThroughWindow, ::testing::ValuesIn(CaseNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return Replaced(info.param, "-", "_");
                         });

}  // namespace
