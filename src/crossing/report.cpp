#include "crossing/report.h"

#include <charconv>
#include <cstdio>
#include <new>

#include "bands/stretch.h"
#include "crossing/crossing.h"
#include "support/numbers.h"

namespace tessera {

namespace {

int DigitOf(const CodeTable& table, int code, int band) {
    if (code < 1 || code > table.CodeCount || band < 1 || band > table.BandCount()) return 0;
    return table.Digits(code, band);
}

int64_t CountOf(const std::vector<int64_t>& pixelCount, int code) {
    return code >= 0 && static_cast<size_t>(code) < pixelCount.size() ? pixelCount[code] : 0;
}

}  // namespace

std::string CodeTableHeader(int bandCount) {
    std::string header = "   CODES";
    for (int b = 1; b <= bandCount; ++b) {
        header += "\t   B";
        AppendNumber(header, b);
    }
    header += "\t   NUMPIX";
    return header;
}

std::string CodeTableLine(const CodeTable& table, const std::vector<int64_t>& pixelCount,
                          int64_t index) {
    if (index == 0) return CodeTableHeader(table.BandCount());
    if (index == 1) return "   ";
    const int code = static_cast<int>(index - 1);
    std::string line = "   ";
    AppendNumber(line, code);
    for (int b = 1; b <= table.BandCount(); ++b) {
        line += "\t   ";
        AppendNumber(line, table.Digits(code, b));
    }
    line += "\t   ";
    AppendNumber(line, CountOf(pixelCount, code));
    return line;
}

std::vector<std::string> CodeTableLines(const CodeTable& table,
                                        const std::vector<int64_t>& pixelCount) {
    std::vector<std::string> lines;
    try {
        lines.reserve(static_cast<size_t>(table.CodeCount) + 2);
        for (int64_t index = 0; index < int64_t{table.CodeCount} + 2; ++index)
            lines.push_back(CodeTableLine(table, pixelCount, index));
    } catch (const std::bad_alloc&) {
        lines.clear();  // a table too large to show: nothing rather than a part
    }
    return lines;
}

namespace {

std::string BuildReport(ImageSize size, const std::vector<BandRecord>& records,
                        const CodeTable& table, const std::vector<int64_t>& pixelCount,
                        const std::vector<int32_t>& selectedCodes,
                        std::optional<int64_t> nodataPixels,
                        const std::vector<std::string>& masks,
                        std::optional<int64_t> maskedPixels,
                        const std::optional<AppliedTreatment>& applied) {
    const int n = records.empty() ? 0 : static_cast<int>(records.size()) - 1;
    // More than 250 classes make a raw image of two bytes a pixel.
    const bool wide = static_cast<int64_t>(selectedCodes.size()) - 1 > kMaximumClassCount;
    std::string text = wide ? WideDescriptorText(size) : LongDescriptorText(size);

    text += "\nNumber of Bands = ";
    AppendNumber(text, n);
    for (int b = 1; b <= n; ++b) {
        const BandRecord& record = records[b];
        text += "\n\nBand ";
        AppendNumber(text, b);
        text += " = " + record.filePath + " ";
        if (record.rasterBand > 0) {
            // Which band of the file: a file may hold several.
            text += "(raster band ";
            AppendNumber(text, record.rasterBand);
            text += ") ";
        }
        text += "\nType of thresholding : ";
        text += ThresholdingName(record.thresholdingType);
        text += " \n";
        if (record.stretch) {
            text += "Data type : " + record.stretch->dataType +
                    ", stretched linearly to gray levels 0 to 255 from MIN = " +
                    StretchEndText(*record.stretch, false) +
                    " (gray 0) to MAX = " + StretchEndText(*record.stretch, true) +
                    " (gray 255) \n";
            if (const auto& percentiles = record.stretch->percentiles)
                text += "MIN and MAX : the percentiles " + PercentText(percentiles->low) +
                        " and " + PercentText(percentiles->high) +
                        " of the band's pixels with data \n";
        }
        if (record.stretch && record.stretch->scaling) {
            const Scaling scaling = *record.stretch->scaling;
            text += "Physical values : stored value x " + NumberText(scaling.scale) +
                    (scaling.offset < 0 ? " - " + NumberText(-scaling.offset)
                                        : " + " + NumberText(scaling.offset)) +
                    ", in which MIN, MAX and the native values are given \n";
        }
        const std::string dataType = record.stretch ? record.stretch->dataType : "Byte";
        const std::string valueType = record.stretch ? record.stretch->ValueType() : "Byte";
        if (record.nodata) {
            text += "Nodata value : " + NativeText(*record.nodata, dataType) + ", held by ";
            AppendNumber(text, record.nodataPixels);
            text += " pixels, left out of the gray range and the segments \n";
        }
        if (!record.nodata && record.nodataPixels > 0) {
            // A band brought onto another grid covers only part of it.
            text += "Pixels the band does not cover : ";
            AppendNumber(text, record.nodataPixels);
            text += ", left out of the gray range and the segments \n";
        }
        if (record.nonFinitePixels > 0) {
            text += "NaN or infinite values : held by ";
            AppendNumber(text, record.nonFinitePixels);
            text += " pixels, left out of the gray range and the segments \n";
        }
        if (!record.nativeLimits.empty()) {
            text += "Upper limits typed as native values :";
            const auto& upper = record.segmentLimits.upper;
            for (size_t k = 0; k < record.nativeLimits.size(); ++k) {
                text += (k == 0 ? " " : ", ") + NativeText(record.nativeLimits[k], valueType);
                if (k + 1 < upper.size()) text += " (gray " + std::to_string(upper[k + 1]) + ")";
            }
            text += " \n";
        }
        text += "\nSegment limits\n";
        text += "\nNumber of segments : ";
        AppendNumber(text, record.segmentCount);
        text += " ";
        const SegmentLimits& limits = record.segmentLimits;
        for (int j = 1; j <= record.segmentCount; ++j) {
            const bool known = j <= limits.Count() && static_cast<size_t>(j) < limits.upper.size();
            text += "\n\tSegment ";
            AppendNumber(text, j);
            text += " min = ";
            AppendNumber(text, known ? limits.lower[j] : 0);
            text += " max = ";
            AppendNumber(text, known ? limits.upper[j] : 0);
            text += " ";
            if (record.stretch && known) {
                // The values the segment holds, both ends included.
                text += "(native values " +
                        NativeRangeText(
                            NativeRangeOfGrays(limits.lower[j], limits.upper[j], *record.stretch),
                            *record.stretch) +
                        ") ";
            }
        }
    }

    for (const std::string& mask : masks) text += "\n\nMask : " + mask + " ";
    if (nodataPixels) {
        text += "\n\nPixels without data in at least one band : ";
        AppendNumber(text, *nodataPixels);
        text += " (code 0, in no class) ";
    }
    if (maskedPixels) {
        text += "\n\nPixels masked (with data in every band) : ";
        AppendNumber(text, *maskedPixels);
        text += " (code 0, in no class) ";
    }

    if (applied) {
        text += "\n\nTreatment applied : " + applied->file + " ";
        text += "\n\nPixels of codes the treatment did not keep : ";
        AppendNumber(text, applied->pixelsInNoClass);
        text += " (in no class) ";
    }

    text += "\n\n\tCodes";
    text.append(static_cast<size_t>(2 * n - 3 > 0 ? 2 * n - 3 : 0), '\t');
    text += "Number of pixels\n\n";

    for (size_t k = 1; k < selectedCodes.size(); ++k) {
        const int code = selectedCodes[k];
        text += '\t';
        AppendNumber(text, static_cast<int64_t>(k));
        text += '\t';
        for (int b = 1; b <= n; ++b) {
            AppendNumber(text, DigitOf(table, code, b));
            text += '\t';
        }
        text += '\t';
        AppendNumber(text, CountOf(pixelCount, code));
        text += '\n';
    }
    return text;
}

}  // namespace

std::string ResultReport(ImageSize size, const std::vector<BandRecord>& records,
                         const CodeTable& table, const std::vector<int64_t>& pixelCount,
                         const std::vector<int32_t>& selectedCodes,
                         std::optional<int64_t> nodataPixels,
                         const std::vector<std::string>& masks,
                         std::optional<int64_t> maskedPixels,
                         const std::optional<AppliedTreatment>& applied) {
    try {
        return BuildReport(size, records, table, pixelCount, selectedCodes, nodataPixels, masks,
                           maskedPixels, applied);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace tessera
