#include "workspace/treatmentapply.h"

#include <algorithm>
#include <iterator>

#include "support/numbers.h"

namespace tessera {

Status CheckTreatmentBandCount(const SavedTreatment& saved, const std::string& path,
                               int bandCount) {
    if (saved.BandCount() == bandCount) return Status::Ok();
    return Status::Failure("the treatment " + path + " treats " +
                           std::to_string(saved.BandCount()) + " bands, and " +
                           std::to_string(bandCount) + " are given");
}

Status CheckTreatmentBand(const SavedTreatment& saved, const std::string& path, int band,
                          const std::string& file, const std::string& dataType) {
    if (band < 1 || band > saved.BandCount()) return Status::Ok();
    const SavedBand& kept = saved.bands[band - 1];
    const bool byte = dataType == "Byte";
    if (kept.stretch.has_value() != byte) return Status::Ok();
    const std::string which =
        "band " + std::to_string(band) + " (" + file + ") holds " + dataType + " values";
    if (byte)
        return Status::Failure(which + ", where the treatment " + path + " stretches " +
                               kept.dataType + " values from " + NumberText(kept.stretch->minimum) +
                               " to " + NumberText(kept.stretch->maximum));
    return Status::Failure(which + ", where the treatment " + path +
                           " reads gray levels of 8 bits without a stretch");
}

void TakeSavedSegmentation(BandRecord* records, int bandCount, const SavedTreatment& saved) {
    for (int b = 1; b <= bandCount && b <= saved.BandCount(); ++b) {
        BandRecord& record = records[b];
        const SavedBand& band = saved.bands[b - 1];
        record.thresholdingType = band.type;
        record.segmentCount = band.count;
        record.segmentLimits = band.limits;
        record.nativeLimits = band.nativeLimits;
        // The stretch read is the saved one; so is where its MIN and MAX came from.
        if (record.stretch) record.stretch->percentiles = band.percentiles;
    }
}

void TakeSavedSegmentation(Treatment& treatment, const SavedTreatment& saved) {
    TakeSavedSegmentation(treatment.records.data(), treatment.BandCount(), saved);
}

void TakeSavedLoading(BandLoadOptions& options, const SavedBand& kept) {
    options.stretch = kept.stretch;
    options.percentiles.reset();
    options.scaling = kept.scaling;
    options.nodata = kept.nodata;
}

namespace {

// The numbers in a sparse table of the codes at `offsets` (1..K), held with no pixels where
// the band set holds none of them.
std::vector<int32_t> HoldOffsets(CodeTable& table, std::vector<int64_t>& pixelCount,
                                 const std::vector<CodeOffset>& offsets) {
    const std::vector<CodeOffset>& held = table.Held();
    std::vector<CodeOffset> wanted(offsets.begin() + 1, offsets.end());
    std::sort(wanted.begin(), wanted.end());
    std::vector<CodeOffset> missing;
    std::set_difference(wanted.begin(), wanted.end(), held.begin() + 1, held.end(),
                        std::back_inserter(missing));
    if (!missing.empty()) {
        std::vector<CodeOffset> all{0};
        std::vector<int64_t> counts{pixelCount[0]};
        all.reserve(held.size() + missing.size());
        counts.reserve(held.size() + missing.size());
        size_t k = 1, m = 0;
        while (k < held.size() || m < missing.size()) {
            if (m == missing.size() || (k < held.size() && held[k] < missing[m])) {
                all.push_back(held[k]);
                counts.push_back(pixelCount[k++]);
            } else {
                all.push_back(missing[m++]);
                counts.push_back(0);
            }
        }
        table.Hold(std::move(all));
        pixelCount = std::move(counts);
    }
    std::vector<int32_t> selected{0};
    selected.reserve(offsets.size());
    for (size_t k = 1; k < offsets.size(); ++k) {
        const auto at = std::lower_bound(table.Held().begin() + 1, table.Held().end(), offsets[k]);
        selected.push_back(static_cast<int32_t>(at - table.Held().begin()));
    }
    return selected;
}

}  // namespace

Status TakeSavedClasses(Treatment& treatment, const SavedTreatment& saved,
                        const std::string& path) {
    if (treatment.pixelCount.empty()) return Status::Failure(" The bands are not segmented ");
    for (int b = 1; b <= treatment.BandCount(); ++b)
        if (b > saved.BandCount() || treatment.table.segmentCounts[b] != saved.bands[b - 1].count)
            return Status::Failure("the treatment " + path +
                                   " does not fit the segmentation of the bands");
    const bool sparse = treatment.table.Sparse();
    if (sparse && saved.selectedOffsets.size() != saved.selectedCodes.size())
        return Status::Failure("the treatment " + path +
                               " does not fit the segmentation of the bands");
    try {
        // A sparse table numbers only the codes this band set holds: a code of a class that
        // holds no pixel here is held too, with no pixels, so that every class has its code.
        CodeTable table = treatment.table;
        std::vector<int64_t> pixelCount = treatment.pixelCount;
        std::vector<int32_t> selected =
            sparse ? HoldOffsets(table, pixelCount, saved.selectedOffsets) : saved.selectedCodes;
        std::vector<uint8_t> classOf = ClassOfCode(selected, table.CodeCount);
        const bool wide = saved.ClassCount() > kMaximumClassCount;
        std::vector<uint16_t> wideClassOf =
            wide ? WideClassOfCode(selected, table.CodeCount) : std::vector<uint16_t>{};
        std::vector<ColourEntry> wideColours = wide ? saved.wideColours : std::vector<ColourEntry>{};
        std::vector<std::pair<CodeOffset, uint16_t>> classByOffset =
            ClassesByOffset(table, selected);
        int64_t inNoClass = 0;
        for (size_t code = 1; code < pixelCount.size() && code < classOf.size(); ++code)
            if (wide ? wideClassOf[code] == NoWideClass : classOf[code] == NoClass)
                inNoClass += pixelCount[code];
        AppliedTreatment applied{path, inNoClass};
        // Nothing below allocates.
        treatment.table = std::move(table);
        treatment.pixelCount = std::move(pixelCount);
        treatment.classByOffset = std::move(classByOffset);
        treatment.classColourTable = saved.colours;
        treatment.classOf = std::move(classOf);
        treatment.wideClassOf = std::move(wideClassOf);
        treatment.wideColours = std::move(wideColours);
        treatment.classCount = saved.ClassCount();
        treatment.selectedCodes = std::move(selected);
        treatment.selection = saved.selection;
        treatment.applied = std::move(applied);
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to make the classes ");
    }
}

}  // namespace tessera
