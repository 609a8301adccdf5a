// The treatment document written: every choice, members in a fixed order (treatmentread.cpp
// reads it back).
#include "workspace/treatmentfile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include "bands/stretch.h"
#include "support/numbers.h"
#include "support/safefile.h"

namespace tessera {

namespace {

const char* MethodName(int type) {
    switch (type) {
        case Equipopulation:
            return "equipopulation";
        case Definition:
            return "definition";
        default:
            return "segmentation";
    }
}

std::string ColourText(const ColourEntry& colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.red, colour.green, colour.blue);
    return text;
}

// A finite number as JSON writes it; nodata values may be NaN or infinite, written as strings.
std::string NumberJson(double value) {
    if (std::isnan(value)) return "\"nan\"";
    if (std::isinf(value)) return value > 0 ? "\"inf\"" : "\"-inf\"";
    return NumberText(value);
}

std::string OptionalNumber(const std::optional<double>& value) {
    return value ? NumberJson(*value) : "null";
}

void AppendSegments(std::string& json, const SavedBand& band) {
    for (int j = 1; j <= band.count; ++j) {
        const int64_t low = band.limits.lower[j], high = band.limits.upper[j];
        json += "        {\"segment\": " + std::to_string(j) +
                ", \"gray_min\": " + std::to_string(low) +
                ", \"gray_max\": " + std::to_string(high);
        if (band.stretch) {
            const NativeRange native = NativeRangeOfGrays(
                low, high,
                GrayStretch{band.dataType, *band.stretch, band.percentiles, band.scaling});
            json += ", \"native_min\": " +
                    (native.empty ? std::string("null") : OptionalNumber(native.low));
            json += ", \"native_max\": " +
                    (native.empty ? std::string("null") : OptionalNumber(native.high));
            json += native.empty ? ", \"holds_values\": false" : ", \"holds_values\": true";
        } else {
            json += ", \"native_min\": " + std::to_string(low) +
                    ", \"native_max\": " + std::to_string(high) +
                    ", \"holds_values\": " + (low <= high ? "true" : "false");
        }
        json += j < band.count ? "},\n" : "}\n";
    }
}

}  // namespace

SavedTreatment SavedOf(const Treatment& treatment) {
    SavedTreatment saved;
    for (int b = 1; b <= treatment.BandCount(); ++b) {
        const BandRecord& record = treatment.records[b];
        SavedBand band;
        band.file = record.filePath;
        band.rasterBand = record.rasterBand;
        band.nodata = record.nodata;
        if (record.stretch) {
            band.dataType = record.stretch->dataType;
            band.stretch = record.stretch->range;
            band.percentiles = record.stretch->percentiles;
            band.scaling = record.stretch->scaling;
        }
        band.type = record.thresholdingType;
        band.count = record.segmentCount;
        band.limits = record.segmentLimits;
        band.nativeLimits = record.nativeLimits;
        saved.bands.push_back(std::move(band));
    }
    saved.masks = treatment.masks;
    saved.selection = treatment.selection;
    saved.selectedCodes = treatment.selectedCodes;
    if (treatment.table.Sparse()) {
        saved.selectedOffsets.assign(1, 0);
        for (size_t k = 1; k < treatment.selectedCodes.size(); ++k)
            saved.selectedOffsets.push_back(treatment.table.Offset(treatment.selectedCodes[k]));
    }
    saved.colours = treatment.classColourTable;
    saved.wideColours = treatment.wideColours;
    return saved;
}

namespace {

// The product of counts[1..] in decimal, exact at any size (a table too large to be made).
std::string DecimalProduct(const std::vector<int32_t>& counts) {
    std::string digits = "1";  // least significant digit first
    for (size_t b = 1; b < counts.size(); ++b) {
        int64_t carry = 0;
        for (char& digit : digits) {
            const int64_t value = int64_t{digit - '0'} * std::max(counts[b], 0) + carry;
            digit = static_cast<char>('0' + value % 10);
            carry = value / 10;
        }
        for (; carry > 0; carry /= 10) digits += static_cast<char>('0' + carry % 10);
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    return std::string(digits.rbegin(), digits.rend());
}

}  // namespace

std::string TreatmentJson(const SavedTreatment& saved) {
    std::string json = "{\n  \"format\": \"" + std::string(kTreatmentFormat) +
                       "\",\n  \"version\": " + std::to_string(kTreatmentVersion) +
                       ",\n  \"bands\": [\n";
    for (int b = 1; b <= saved.BandCount(); ++b) {
        const SavedBand& band = saved.bands[b - 1];
        json += "    {\n      \"band\": " + std::to_string(b) + ",\n";
        json += "      \"file\": " + JsonQuoted(band.file) + ",\n";
        json += "      \"raster_band\": " +
                (band.rasterBand > 0 ? std::to_string(band.rasterBand) : "null") + ",\n";
        json += "      \"data_type\": " + JsonQuoted(band.dataType) + ",\n";
        json += "      \"nodata\": " + OptionalNumber(band.nodata) + ",\n";
        json += "      \"stretch\": ";
        if (band.stretch) {
            json += "{\"minimum\": " + NumberText(band.stretch->minimum) +
                    ", \"maximum\": " + NumberText(band.stretch->maximum) + ", \"percentiles\": ";
            json += band.percentiles ? "[" + NumberText(band.percentiles->low) + ", " +
                                           NumberText(band.percentiles->high) + "]"
                                     : "null";
            json += "}";
        } else {
            json += "null";
        }
        json += ",\n      \"scaling\": ";
        json += band.scaling ? "{\"scale\": " + NumberText(band.scaling->scale) +
                                   ", \"offset\": " + NumberText(band.scaling->offset) + "}"
                             : "null";
        json += ",\n      \"method\": \"" + std::string(MethodName(band.type)) + "\",\n";
        json += "      \"segment_count\": " + std::to_string(band.count) + ",\n";
        json += "      \"typed_native_limits\": [";
        for (size_t k = 0; k < band.nativeLimits.size(); ++k)
            json += (k == 0 ? "" : ", ") + NumberText(band.nativeLimits[k]);
        json += "],\n      \"segments\": [\n";
        AppendSegments(json, band);
        json += "      ]\n    }";
        json += b < saved.BandCount() ? ",\n" : "\n";
    }
    json += "  ],\n  \"masks\": [";
    for (size_t k = 0; k < saved.masks.size(); ++k)
        json += (k == 0 ? "" : ", ") + JsonQuoted(saved.masks[k]);
    json += "],\n  \"code_table\": {\"radices\": [";
    for (int b = 1; b <= saved.BandCount(); ++b)
        json += (b == 1 ? "" : ", ") + std::to_string(saved.bands[b - 1].count);
    std::vector<int32_t> counts(static_cast<size_t>(saved.BandCount()) + 1, 0);
    for (int b = 1; b <= saved.BandCount(); ++b) counts[b] = saved.bands[b - 1].count;
    const Result<CodeTable> table = BuildCodeTable(counts, true);
    json += "], \"code_count\": ";
    json += table ? table.value->TotalText() : DecimalProduct(counts);
    json += "},\n";
    json += "  \"selection\": ";
    json += saved.selection
                ? std::string("{\"keep_all\": ") + (saved.selection->keepAll ? "true" : "false") +
                      ", \"minimum\": " + std::to_string(saved.selection->minimum) + "}"
                : "null";
    json += ",\n  \"classes\": [";
    const int classes = saved.ClassCount();
    const bool byOffset = saved.selectedOffsets.size() == saved.selectedCodes.size() &&
                          table && table.value->Sparse();
    for (int k = 1; k <= classes; ++k) {
        const int code = saved.selectedCodes[k];
        json += k == 1 ? "\n" : ",\n";
        json += "    {\"class\": " + std::to_string(k) + ", \"code\": ";
        json += byOffset ? WideText(WideCount{saved.selectedOffsets[k]} + 1) : std::to_string(code);
        json += ", \"digits\": [";
        for (int b = 1; b <= saved.BandCount(); ++b) {
            const int digit =
                byOffset ? table.value->DigitOfOffset(saved.selectedOffsets[k], b)
                : table && code >= 1 && code <= table.value->CodeCount
                    ? table.value->Digits(code, b)
                    : 0;
            json += (b == 1 ? "" : ", ") + std::to_string(digit);
        }
        const ColourEntry colour =
            k <= 254 ? saved.colours[k]
            : static_cast<size_t>(k) < saved.wideColours.size() ? saved.wideColours[k]
                                                                  : saved.colours[0];
        json += "], \"colour\": \"" + ColourText(colour) + "\"}";
    }
    json += classes > 0 ? "\n  ],\n" : "],\n";
    json += "  \"spare_colours\": [";
    for (int value = classes + 1; value <= 254; ++value) {
        if (value > classes + 1) json += ",";
        json += (value - classes - 1) % 8 == 0 ? "\n    " : " ";
        json += '"';
        json += ColourText(saved.colours[value]);
        json += '"';
    }
    json += classes < 254 ? "\n  ]\n}\n" : "]\n}\n";
    return json;
}

Status SaveTreatment(const std::string& path, const Treatment& treatment) {
    try {
        const Status written = WriteWholeFile(path, TreatmentJson(SavedOf(treatment)));
        if (written) return written;
        return Status::Failure(" The treatment could not be written:\n" + path + " ");
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to save " + path + " ");
    }
}

}  // namespace tessera
