#include "workspace/treatmentapply.h"

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

Status TakeSavedClasses(Treatment& treatment, const SavedTreatment& saved,
                        const std::string& path) {
    if (treatment.pixelCount.empty()) return Status::Failure(" The bands are not segmented ");
    for (int b = 1; b <= treatment.BandCount(); ++b)
        if (b > saved.BandCount() || treatment.table.segmentCounts[b] != saved.bands[b - 1].count)
            return Status::Failure("the treatment " + path +
                                   " does not fit the segmentation of the bands");
    try {
        std::vector<uint8_t> classOf = ClassOfCode(saved.selectedCodes, treatment.table.CodeCount);
        const bool wide = saved.ClassCount() > kMaximumClassCount;
        std::vector<uint16_t> wideClassOf =
            wide ? WideClassOfCode(saved.selectedCodes, treatment.table.CodeCount)
                 : std::vector<uint16_t>{};
        std::vector<ColourEntry> wideColours = wide ? saved.wideColours : std::vector<ColourEntry>{};
        int64_t inNoClass = 0;
        for (size_t code = 1; code < treatment.pixelCount.size() && code < classOf.size(); ++code)
            if (wide ? wideClassOf[code] == NoWideClass : classOf[code] == NoClass)
                inNoClass += treatment.pixelCount[code];
        AppliedTreatment applied{path, inNoClass};
        std::vector<int32_t> selected = saved.selectedCodes;
        // Nothing below allocates.
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
