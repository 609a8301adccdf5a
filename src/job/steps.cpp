// The steps of a treatment job: its band set opened, and what is decided between its passes.
#include "job/steps.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "bands/rasterband.h"
#include "crossing/crossing.h"
#include "crossing/sparsecount.h"
#include "image/rawfiles.h"
#include "support/paths.h"
#include "workspace/treatmentapply.h"

namespace tessera::job {

namespace {

bool HasExtension(const std::string& path, const char* wanted) {
    if (path.size() < 4) return false;
    std::string extension = path.substr(path.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == wanted;
}

}  // namespace

bool IsBitmapName(const std::string& path) {
    return HasExtension(path, ".bmp");
}

bool IsRawName(const std::string& path) {
    return HasExtension(path, ".raw");
}

bool Exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// A definition band's gray limits: those typed, or each native limit as the gray level whose
// native range holds it, by the band's stretch; refused naming the band (`which`).
tessera::Result<std::vector<int32_t>> GrayLimitsOf(const BandOptions& choice,
                                                   const tessera::BandRecord& record,
                                                   const std::string& which) {
    using R = tessera::Result<std::vector<int32_t>>;
    if (!choice.nativeLimits) return R::Of(choice.limits.value_or(std::vector<int32_t>{}));
    const auto& stretch = record.stretch;
    R grays = tessera::GrayLimitsOfNative(
        *choice.nativeLimits,
        stretch ? std::optional<tessera::StretchRange>(stretch->range) : std::nullopt,
        stretch ? stretch->ValueType() : "Byte");
    if (!grays) return R::Failure(which + ": --native-limits: " + grays.message);
    return grays;
}


// FILE:K is band K of FILE only when K is a whole number and FILE exists; otherwise the colon
// belongs to the file's name.
JobBand RasterBandNamed(const std::string& path, const BandOptions& choice) {
    JobBand band{path, tessera::BandFileType::Raster, 1, &choice};
    const size_t colon = path.find_last_of(':');
    if (colon == std::string::npos) return band;
    const std::string digits = path.substr(colon + 1);
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; }))
        return band;
    const std::string file = path.substr(0, colon);
    if (!Exists(file)) return band;
    band.path = file;
    band.rasterBand = std::stoi(digits);
    return band;
}

// Every band the options name, those of a --bands file one after another; refused with the
// text that names the file.
tessera::Result<std::vector<JobBand>> BandsOf(const Options& options) {
    using R = tessera::Result<std::vector<JobBand>>;
    std::vector<JobBand> bands;
    for (const BandOptions& choice : options.bands) {
        if (choice.allBands) {
            const tessera::Result<int> count = tessera::CountRasterBands(choice.path);
            if (!count) return R::Failure(count.message);
            for (int k = 1; k <= *count.value; ++k)
                bands.push_back({choice.path, tessera::BandFileType::Raster, k, &choice});
        } else if (IsBitmapName(choice.path)) {
            bands.push_back({choice.path, tessera::BandFileType::Bitmap, 1, &choice});
        } else if (IsRawName(choice.path)) {
            bands.push_back({choice.path, tessera::BandFileType::Raw, 1, &choice});
        } else {
            bands.push_back(RasterBandNamed(choice.path, choice));
        }
    }
    const int count = static_cast<int>(bands.size());
    if (count < 2 || count > tessera::kMaximumJobBands) {
        std::string files;
        for (const BandOptions& choice : options.bands)
            if (choice.allBands) files += (files.empty() ? "" : ", ") + choice.path;
        return R::Failure("give 2 to " + std::to_string(tessera::kMaximumJobBands) +
                          " bands, not " + std::to_string(count) +
                          (files.empty() ? "" : " (counting every band of " + files + ")"));
    }
    return R::Of(std::move(bands));
}

namespace {

// The mask bands and their rules, each checked against the bands' size and place.
tessera::Result<std::shared_ptr<tessera::PixelMask>> OpenMasks(
    const std::vector<MaskOptions>& masks, tessera::ImageSize size,
    const std::optional<tessera::Georeference>& place, const tessera::GridPlan& plan) {
    using R = tessera::Result<std::shared_ptr<tessera::PixelMask>>;
    auto all = std::make_shared<tessera::PixelMask>();
    for (const MaskOptions& mask : masks) {
        const BandOptions unused;
        JobBand file = IsBitmapName(mask.path) ? JobBand{mask.path, tessera::BandFileType::Bitmap}
                       : IsRawName(mask.path)  ? JobBand{mask.path, tessera::BandFileType::Raw}
                                               : RasterBandNamed(mask.path, unused);
        tessera::Result<tessera::BandReader> band =
            tessera::OpenMaskBand(file.path, file.type, file.rasterBand, size, place,
                                  plan.active ? plan : tessera::PlanOntoGrid(size, place));
        if (!band) return R::Failure(band.message);
        tessera::Result<tessera::MaskRule> rule = tessera::Result<tessera::MaskRule>::Of({});
        if (mask.rule == MaskOptions::Rule::Bits) rule = tessera::BitsRule(mask.list);
        if (mask.rule == MaskOptions::Rule::Values) rule = tessera::ValuesRule(mask.list);
        if (!rule) return R::Failure(band.value->Refusal("as a mask, " + rule.message));
        all->Add(std::move(*band.value), *rule.value,
                 tessera::MaskName(file.path, file.type, file.rasterBand));
    }
    return R::Of(std::move(all));
}

}  // namespace


// Progress is worth printing only where a step takes a noticeable time.
constexpr int64_t kLargeScenePixels = int64_t{4} << 20;

// The streamed job's threads and the memory it keeps decoded values in; values beyond that
// memory go to TMPDIR, else beside `output`.
tessera::StreamSettings SettingsOf(const Options& options, const std::string& output) {
    tessera::StreamSettings settings;
    settings.threads = options.threads;
    if (options.keepMemory >= 0) settings.keptBytes = options.keepMemory << 20;
    const char* temporaries = std::getenv("TMPDIR");
    settings.spillFolder =
        temporaries && *temporaries ? std::string(temporaries) : tessera::DirectoryOf(output);
    if (settings.spillFolder.empty()) settings.spillFolder = ".";
    return settings;
}

// A refusal, on a line of its own after the progress line.
JobOutcome Fail(Progress& progress, Refusal kind, const std::string& text) {
    progress.EndLine();
    JobOutcome refused;
    refused.kind = kind;
    refused.message = text;
    return refused;
}

// The bands of one band set loaded into `job`: the grid they are brought onto, then each band
// with its stretch, scale and nodata value (those of `saved`, or the stretch of `stretches[b - 1]`
// where given, else the options'), then the masks. The refusal to give, or none.
std::optional<JobOutcome> LoadBandSet(
    tessera::StreamedJob& job, const Options& options, const std::vector<JobBand>& bands,
    const tessera::SavedTreatment* saved,
    const std::vector<std::optional<tessera::StretchRange>>& stretches, Progress& progress) {
    const int bandCount = static_cast<int>(bands.size());
    job.BeginBandSet(bandCount);

    // One grid for bands whose grids differ, and the region: each raster band read through
    // the view that brings it there.
    tessera::GridPlan plan;
    const int rasters =
        static_cast<int>(std::count_if(bands.begin(), bands.end(), [](const JobBand& band) {
            return band.type == tessera::BandFileType::Raster;
        }));
    if (options.window || options.windowPixels || options.grid != 0 || rasters >= 2) {
        std::vector<tessera::BandFacts> facts;
        for (const JobBand& band : bands) {
            if (band.type != tessera::BandFileType::Raster) {
                facts.push_back({band.path, 0, {}, std::nullopt});
                continue;
            }
            tessera::Result<tessera::BandFacts> known =
                tessera::FactsOf(band.path, band.rasterBand);
            if (!known) return Fail(progress, Refusal::Input, known.message);
            facts.push_back(std::move(*known.value));
        }
        tessera::GridChoice choice;
        choice.window = options.window;
        choice.windowPixels = options.windowPixels;
        choice.gridBand = options.grid;
        tessera::Result<tessera::GridPlan> planned = tessera::PlanGrid(facts, choice);
        if (!planned) return Fail(progress, Refusal::Input, planned.message);
        plan = std::move(*planned.value);
    }

    // No dialog asks for a missing size; the memory check estimates what the streamed job
    // needs, not the interactive program's whole matrices.
    tessera::BandLoadOptions loading;
    for (int band = 1; band <= bandCount; ++band) {
        const JobBand& file = bands[band - 1];
        const std::string& path = file.path;
        loading.rasterBand = file.rasterBand;
        loading.rasterView = plan.active ? plan.views[band - 1] : std::nullopt;
        // Raw files and bitmaps are cut by their reader.
        loading.window.reset();
        if (file.type != tessera::BandFileType::Raster) loading.window = options.windowPixels;
        loading.stretch = file.choice->stretch;
        if (static_cast<size_t>(band) <= stretches.size() && stretches[band - 1])
            loading.stretch = stretches[band - 1];
        loading.nodata = file.choice->nodata;
        loading.percentiles.reset();
        loading.scaling.reset();
        if (file.choice->scale || file.choice->offset) {
            if (file.choice->scale && *file.choice->scale == 0)
                return Fail(
                    progress, Refusal::Input,
                    tessera::RasterRefusal(path, file.rasterBand,
                                           "--scale 0 would make every physical value one value"));
            loading.scaling =
                tessera::Scaling{file.choice->scale.value_or(1), file.choice->offset.value_or(0)};
        }
        if (file.choice->percentiles) {
            const auto percentiles = tessera::ParsePercentiles(*file.choice->percentiles);
            if (!*percentiles)
                return Fail(progress, Refusal::Input,
                            tessera::RasterRefusal(path, file.rasterBand,
                                                   "--stretch: " + percentiles->message));
            loading.percentiles = *percentiles->value;
        }
        // A stretch that cannot be is refused whatever the band's type.
        if (file.choice->stretch) {
            if (const tessera::Status usable =
                    tessera::CheckStretch(path, file.rasterBand, *file.choice->stretch);
                !usable)
                return Fail(progress, Refusal::Input, usable.message);
        }
        if (saved) {
            // The saved stretch, scale and nodata value, whatever the band's own.
            tessera::TakeSavedLoading(loading, saved->bands[static_cast<size_t>(band - 1)]);
        }
        if (const tessera::Status loaded = job.LoadBand(band, path, file.type, loading); !loaded)
            return Fail(progress, Refusal::Input, loaded.message);
        if (saved) {
            if (const tessera::Status fits = tessera::CheckTreatmentBand(
                    *saved, options.applyTreatment, band, path, job.DataType(band));
                !fits)
                return Fail(progress, Refusal::Input, fits.message);
        }
        const tessera::ImageSize size = job.Size();
        if (band == 1 && int64_t{size.lines} * size.columns * bandCount >= kLargeScenePixels)
            progress.Enable();
        progress.Say("loaded band " + std::to_string(band) + " of " + std::to_string(bandCount));
    }

    if (!options.masks.empty()) {
        const tessera::Result<std::shared_ptr<tessera::PixelMask>> mask =
            OpenMasks(options.masks, job.Size(), job.Place(), plan);
        if (!mask) return Fail(progress, Refusal::Input, mask.message);
        job.SetMask(*mask.value, (*mask.value)->Texts());
        progress.Say("opened the masks");
    }

    return std::nullopt;
}

std::optional<JobOutcome> CodeTableRefusal(const std::vector<int32_t>& segmentCounts,
                                           tessera::ImageSize size) {
    const tessera::Result<tessera::CodeTable> table = tessera::BuildCodeTable(segmentCounts, true);
    JobOutcome refused;
    if (!table) {
        refused.kind = Refusal::Usage;
        refused.message = table.message;
        return refused;
    }
    if (!table.value->Sparse()) return std::nullopt;
    refused.message = tessera::SparseCountRefusal(table.value->TotalCodes(),
                                                  int64_t{size.lines} * size.columns,
                                                  tessera::MachineMemoryBytes());
    if (refused.message.empty()) return std::nullopt;
    refused.kind = Refusal::Input;
    return refused;
}

namespace {

// The code table the segment counts make, before a pixel is read: refused past 2^64 codes, or
// when the machine's memory may not hold its count over the scene.
std::optional<JobOutcome> CheckCodeTable(const tessera::StreamedJob& job, const OpenedSet& set,
                                         Progress& progress) {
    const int n = static_cast<int>(set.bands.size());
    std::vector<int32_t> counts(static_cast<size_t>(n) + 1, 0);
    for (int b = 1; b <= n; ++b)
        counts[b] = set.saved ? set.saved->bands[b - 1].count : set.bands[b - 1].choice->segments;
    if (std::optional<JobOutcome> refused = CodeTableRefusal(counts, job.Size()))
        return Fail(progress, refused->kind, refused->message);
    return std::nullopt;
}

}  // namespace

std::optional<JobOutcome> OpenSet(tessera::StreamedJob& job, const Options& options,
                                  const std::vector<std::optional<tessera::StretchRange>>& stretches,
                                  Progress& progress, OpenedSet& set) {
    if (!options.applyConflict.empty())
        return Fail(progress, Refusal::Input, options.applyConflict);
    // A treatment to apply is read first: a file that is none refuses the job before a band
    // is opened.
    if (!options.applyTreatment.empty()) {
        tessera::Result<tessera::SavedTreatment> read =
            tessera::ReadTreatment(options.applyTreatment, tessera::kMostClassCount);
        if (!read) return Fail(progress, Refusal::Input, read.message);
        set.saved = std::move(*read.value);
    }
    tessera::Result<std::vector<JobBand>> listed = BandsOf(options);
    if (!listed) return Fail(progress, Refusal::Input, listed.message);
    set.bands = std::move(*listed.value);
    const int bandCount = static_cast<int>(set.bands.size());
    if (set.saved) {
        if (const tessera::Status fits =
                tessera::CheckTreatmentBandCount(*set.saved, options.applyTreatment, bandCount);
            !fits)
            return Fail(progress, Refusal::Input, fits.message);
    }
    if (std::optional<JobOutcome> refused =
            LoadBandSet(job, options, set.bands, set.saved ? &*set.saved : nullptr, stretches,
                        progress))
        return refused;
    return CheckCodeTable(job, set, progress);
}

std::optional<JobOutcome> Segment(tessera::StreamedJob& job, const Options& options,
                                  const OpenedSet& set, Progress& progress) {
    if (options.formats.mapAsked && !job.Place())
        return Fail(progress, Refusal::Input,
                    "--format asks for " + options.out + ".tif or " + options.out +
                        ".csv, but not every band carries a georeference");
    if (options.formats.styleAsked && !job.Place())
        return Fail(
            progress, Refusal::Input,
            "--format asks for " + options.out + ".qml, but not every band carries a georeference");

    if (set.saved) {
        if (const tessera::Status taken = job.TakeSavedSegmentation(*set.saved); !taken)
            return Fail(progress, Refusal::Input, taken.message);
    }
    const int bandCount = static_cast<int>(set.bands.size());
    for (int band = 1; band <= bandCount && !set.saved; ++band) {
        const BandOptions& choice = *set.bands[band - 1].choice;
        const tessera::Result<std::vector<int32_t>> limits =
            GrayLimitsOf(choice, job.State().records[band],
                         "band " + std::to_string(band) + " (" + set.bands[band - 1].path + ")");
        if (!limits) return Fail(progress, Refusal::Input, limits.message);
        if (choice.nativeLimits) job.NoteNativeLimits(band, *choice.nativeLimits);
        job.SetSegmentation(band, choice.type, choice.segments, *limits.value);
    }
    progress.Say("segmenting");
    if (const tessera::Status segmented = job.FinishSegmentation(); !segmented)
        return Fail(progress, Refusal::Usage, segmented.message);
    return std::nullopt;
}

std::optional<JobOutcome> Cross(tessera::StreamedJob& job, const Options& options,
                                const OpenedSet& set, Progress& progress) {
    if (set.saved) {
        // A code keeps the class number and colour the treatment gives it.
        if (const tessera::Status crossed = job.TakeSavedClasses(*set.saved, options.applyTreatment);
            !crossed)
            return Fail(progress, Refusal::Input, crossed.message);
        return std::nullopt;
    }
    // The same choices as the code selection dialogs of the interactive program.
    const tessera::CodeSelection choice{options.keepAll, options.minPixels};
    if (const std::string refused = TooManyClassesOf(options, job.Table(), job.PixelCount());
        !refused.empty())
        return Fail(progress, Refusal::TooManyClasses, refused);
    std::vector<int32_t> selected = SelectedOf(options, job.Table(), job.PixelCount());
    job.SetSelectionRule(choice);
    if (const tessera::Status crossed = job.FinishCrossing(std::move(selected)); !crossed)
        return Fail(progress, Refusal::Input, crossed.message);
    return std::nullopt;
}

JobOutcome Finish(tessera::StreamedJob& job, const Options& options, const OpenedSet& set,
                  Progress& progress, const SaveStep& save) {
    if (const std::string refused = WideFormatsText(options, job.ClassCount()); !refused.empty())
        return Fail(progress, Refusal::Usage, refused);
    const Formats& formats = options.formats;
    tessera::ResultFiles files;
    files.bitmap = formats.bmp;
    files.report = formats.txt;
    files.raw = formats.raw;
    files.geotiff = formats.tif;
    files.table = formats.csv;
    files.style = formats.qml;
    files.codes = formats.codes;
    std::vector<std::string> written;
    for (const auto& [wanted, extension] : {std::pair{files.bitmap, ".bmp"},
                                            {files.report, ".txt"},
                                            {files.raw, ".raw"},
                                            {files.geotiff && job.Place(), ".tif"},
                                            {files.geotiff && job.Place(), ".tif.aux.xml"},
                                            {files.table && job.Place(), ".csv"},
                                            {files.style && job.Place(), ".qml"},
                                            {files.codes, tessera::kCodeListSuffix}})
        if (wanted) written.push_back(extension);
    std::string saving = "saving " + options.out;
    for (size_t k = 0; k < written.size(); ++k)
        saving += (k == 0 ? "" : k + 1 == written.size() ? " and " : ", ") + written[k];
    progress.Say(saving);
    if (!options.saveSegmented.empty())
        progress.Say("saving the segmented band " + std::to_string(set.bands.size()));
    // The segmented band is kept only once every result file is written, so that a run refused
    // earlier leaves no result file behind.
    if (const tessera::Status written = save(options.out, options.saveSegmented, files); !written)
        return Fail(progress, Refusal::NotWritten, written.message);
    if (!options.saveTreatment.empty()) {
        progress.Say("saving the treatment " + options.saveTreatment);
        if (const tessera::Status kept = tessera::SaveTreatment(options.saveTreatment, job.State());
            !kept)
            return Fail(progress, Refusal::NotWritten, kept.message);
    }
    progress.Say("done: " + std::to_string(job.ClassCount()) + " classes");
    JobOutcome done;
    done.treatment = job.State();
    done.size = job.Size();
    return done;
}

}  // namespace tessera::job
