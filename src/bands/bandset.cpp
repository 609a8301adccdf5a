#include "bands/bandset.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <limits>

#include "bands/gdalsupport.h"
#include "bands/pixelmask.h"
#include "bands/stretch.h"
#include "image/rawfiles.h"
#include "support/numbers.h"
#include "support/paths.h"
#include "support/safefile.h"

namespace tessera {

namespace {

// The kinds of raster file whose first bytes are plain: a bitmap, or a format GDAL reads.
enum class Signature { None, Bitmap, Raster };

Signature SignatureOf(const std::string& path, std::string* kind = nullptr) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return Signature::None;
    unsigned char head[16] = {};
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    const auto starts = [&](std::initializer_list<unsigned char> bytes) {
        if (got < bytes.size()) return false;
        size_t i = 0;
        for (unsigned char byte : bytes)
            if (head[i++] != byte) return false;
        return true;
    };
    const auto says = [&](Signature signature, const char* text) {
        if (kind) *kind = text;
        return signature;
    };
    if (starts({'I', 'I', 42, 0}) || starts({'M', 'M', 0, 42}) || starts({'I', 'I', 43, 0}) ||
        starts({'M', 'M', 0, 43}))
        return says(Signature::Raster, "a TIFF file");
    if (starts({0x89, 'P', 'N', 'G'})) return says(Signature::Raster, "a PNG file");
    if (starts({0xFF, 0xD8, 0xFF})) return says(Signature::Raster, "a JPEG file");
    if (starts({0, 0, 0, 12, 'j', 'P', ' ', ' '}) || starts({0xFF, 0x4F, 0xFF, 0x51}))
        return says(Signature::Raster, "a JPEG 2000 file");
    if (starts({'G', 'I', 'F', '8'})) return says(Signature::Raster, "a GIF file");
    if (starts({0x89, 'H', 'D', 'F'})) return says(Signature::Raster, "an HDF5 file");
    if (starts({'C', 'D', 'F', 1}) || starts({'C', 'D', 'F', 2}))
        return says(Signature::Raster, "a NetCDF file");
    if (starts({'B', 'M'})) return says(Signature::Bitmap, "a bitmap file");
    return Signature::None;
}

}  // namespace

BandFileType ReaderFor(const std::string& path, BandFileType chosen) {
    const Signature signature = SignatureOf(path);
    if (signature == Signature::Raster && chosen != BandFileType::Raster)
        return BandFileType::Raster;
    if (signature == Signature::Bitmap && chosen == BandFileType::Raw) return BandFileType::Bitmap;
    if (signature == Signature::None && chosen == BandFileType::Raster &&
        ReadDescriptor(ReplaceExtension(path, ".txt")).outcome == DescriptorRead::Read)
        return BandFileType::Raw;
    return chosen;
}

std::string FileKindText(const std::string& path) {
    std::string kind;
    SignatureOf(path, &kind);
    return kind;
}

void BandSet::Begin(int bandCount) {
    count_ = bandCount;
    bands_.fill(Accepted{});
}

void BandSet::Accept(int band, const std::string& path, ImageSize size,
                     std::optional<Georeference> place) {
    if (!Valid(band)) return;
    bands_[band].size = size;
    bands_[band].path = path;
    bands_[band].place = std::move(place);
}

Status BandSet::CheckMemoryNeed(const std::string& path, ImageSize size, int64_t needed,
                                int64_t physicalBytes) const {
    if (physicalBytes <= 0) {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        if (pages <= 0 || pageSize <= 0) return Status::Ok();  // unknown: nothing to compare
        physicalBytes = static_cast<int64_t>(pages) * pageSize;
    }
    const int bands = std::clamp(count_, 1, kMaximumJobBands);
    // Leave a quarter of the machine to the system and the other programs.
    if (needed <= physicalBytes / 4 * 3) return Status::Ok();
    const auto gib = [](int64_t bytes) { return std::to_string((bytes + (1 << 29)) >> 30); };
    return Status::Failure("The band set of " + std::to_string(bands) + " bands of " +
                           std::to_string(size.lines) + " lines x " + std::to_string(size.columns) +
                           " columns of\n" + path + "\nwould need about " + gib(needed) +
                           " GiB of memory, more than this machine can give it (" +
                           gib(physicalBytes) + " GiB in all).");
}

Status BandSet::CheckBandSize(int band, const std::string& path, ImageSize size) const {
    for (int b = 1; b <= kMaximumJobBands; ++b) {
        if (b == band) continue;
        const ImageSize loaded = bands_[b].size;
        if (loaded.lines == 0 && loaded.columns == 0) continue;
        if (loaded != size) return Status::Failure(SizeMismatchMessage(path, size, loaded));
    }
    return Status::Ok();
}

Status BandSet::CheckGeoreference(int band, const std::string& path,
                                  const std::optional<Georeference>& place) const {
    if (!place) return Status::Ok();
    for (int b = 1; b <= kMaximumJobBands; ++b) {
        const Accepted& other = bands_[b];
        if (b == band || !other.place) continue;
        if (other.size.lines == 0 && other.size.columns == 0) continue;
        const std::string difference = GeoreferenceDifference(*other.place, *place);
        if (difference.empty()) continue;
        return Status::Failure("Band " + std::to_string(band) + "\n" + path + "\nand band " +
                               std::to_string(b) + "\n" + other.path +
                               "\ndo not lie on the same place of the map: " + difference +
                               ". The band was not loaded.");
    }
    return Status::Ok();
}

int BandSet::GridToBringOnto(int band, const std::optional<Georeference>& place) const {
    for (int b = 1; b <= kMaximumJobBands; ++b) {
        const Accepted& other = bands_[b];
        if (b == band || !other.place) continue;
        if (other.size.lines == 0 && other.size.columns == 0) continue;
        return CanBringOntoGrid(place, other.place) ? b : 0;
    }
    return 0;
}

std::string BandLoadOptions::RasterQuestion::ValueText(double value) const {
    return HeldValueText(value, GrayStretch{dataType, {}, std::nullopt, scaling});
}

std::string RegridQuestion(int band, const std::string& path, ImageSize size,
                           const Georeference& place, int gridBand, ImageSize gridSize,
                           const Georeference& gridPlace) {
    const auto pixel = [](const Georeference& at) {
        return NumberText(std::fabs(at.transform[1])) + " x " +
               NumberText(std::fabs(at.transform[5]));
    };
    const std::string b = std::to_string(band), g = std::to_string(gridBand);
    return " Band " + b + "\n" + path + "\nlies on another grid than band " + g +
           ": pixels of " + pixel(place) + " map units, " + std::to_string(size.lines) +
           " lines x " + std::to_string(size.columns) + " columns, beside band " + g + "'s " +
           pixel(gridPlace) + ", " + std::to_string(gridSize.lines) + " x " +
           std::to_string(gridSize.columns) + ".\nBring band " + b + " onto the grid of band " +
           g + "? Its pixels are then taken by nearest neighbour, and those of the grid it does "
           "not cover are without data. ";
}

namespace {

bool SameNodata(const std::optional<double>& first, const std::optional<double>& second) {
    if (first.has_value() != second.has_value()) return false;
    return !first || *first == *second || (std::isnan(*first) && std::isnan(*second));
}

}  // namespace

Result<BandReader> BandSet::Open(int band, const std::string& path, BandFileType type,
                                 const BandLoadOptions& options) const {
    using R = Result<BandReader>;
    auto accepted = [&](ImageSize size) -> Status {
        if (Status same = CheckBandSize(band, path, size); !same) return same;
        if (!options.checkMemory) return Status::Ok();
        const auto& need = options.memoryNeed ? options.memoryNeed : memoryNeed_;
        if (!need) return Status::Ok();
        return CheckMemoryNeed(path, size, need(size, count_));
    };
    const auto cut = [&](BandReader& reader) -> Status {
        if (!options.window) return Status::Ok();
        const auto [line, column, lines, columns] = *options.window;
        const auto fits = [](int64_t v) { return v >= 0 && v <= kMaximumPixels; };
        if (!fits(line) || !fits(column) || !fits(lines) || !fits(columns))
            return reader.Cut(-1, -1, 0, 0);
        return reader.Cut(static_cast<int>(line), static_cast<int>(column),
                          static_cast<int>(lines), static_cast<int>(columns));
    };
    if (type == BandFileType::Bitmap) {
        Result<BandReader> file = OpenBitmapBand(path);
        if (!file) return file;
        if (Status windowed = cut(*file.value); !windowed) return R::Failure(windowed.message);
        if (const Status fits = accepted(file.value->Size()); !fits)
            return R::Failure(fits.message);
        if (options.nodata) file.value->SetNodata(options.nodata);
        if (options.exclusion) file.value->SetExclusion(options.exclusion);
        return file;
    }
    if (type == BandFileType::Raster) {
        // The size is checked before a band of more than 8 bits is read through for its range.
        std::optional<bool> regrid;  // the answer to the grid question, asked once
        const auto openBand = [&](int rasterBand) -> Result<BandReader> {
            Result<BandReader> file = OpenRasterBand(
                path, rasterBand, options.rasterView ? &*options.rasterView : nullptr);
            if (!file) return file;
            const int grid = options.rasterView || !options.askRegrid
                                 ? 0
                                 : GridToBringOnto(band, file.value->Georef());
            if (grid > 0) {
                const Accepted& onto = bands_[grid];
                if (!regrid)
                    regrid = options.askRegrid(RegridQuestion(band, path, file.value->Size(),
                                                              *file.value->Georef(), grid,
                                                              onto.size, *onto.place));
                if (*regrid) {
                    const BandFacts facts{path, rasterBand, file.value->Size(),
                                          file.value->Georef()};
                    const std::optional<RasterView> view =
                        PlanOntoGrid(onto.size, onto.place).ViewOf(facts);
                    file = OpenRasterBand(path, rasterBand, view ? &*view : nullptr);
                    if (!file) return file;
                }
            }
            if (const Status fits = accepted(file.value->Size()); !fits)
                return R::Failure(fits.message);
            if (const Status placed = CheckGeoreference(band, path, file.value->Georef()); !placed)
                return R::Failure(placed.message);
            if (options.nodata) file.value->SetNodata(options.nodata);
            file.value->MutableRaster()->SetPercentiles(options.percentiles);
            if (options.scaling) file.value->MutableRaster()->SetScaling(options.scaling);
            if (options.exclusion) file.value->SetExclusion(options.exclusion);
            return file;
        };
        Result<BandReader> file = openBand(options.rasterBand);
        if (!file) return file;
        std::optional<StretchRange> stretch = options.stretch;
        std::optional<PercentileRange> percentiles = options.percentiles;
        std::optional<ValueRange> ownRange;  // read for the question, kept for the stretch
        while (options.askRaster) {
            const BandReader& reader = *file.value;
            const RasterSource& raster = *reader.Raster();
            BandLoadOptions::RasterQuestion proposed;
            proposed.dataType = raster.DataType();
            proposed.stretched = !raster.IsByte();
            proposed.stretch = stretch;
            proposed.percentiles = percentiles;
            proposed.nodata = reader.Nodata();
            proposed.fileNodata = raster.FileNodata();
            proposed.scaling = raster.Scaled();
            proposed.rasterBand = raster.Band();
            proposed.bandsInFile = options.askRasterBand ? raster.FileBands() : 0;
            ownRange.reset();
            if (proposed.stretched) {
                if (options.keepDecoded && !raster.KeepsValues())
                    RasterSource::KeepDecodedValues({file.value->MutableRaster()},
                                                    std::numeric_limits<int64_t>::max(), "");
                Result<ValueRange> range =
                    raster.FindRange(options.progress ? *options.progress : NoProgress());
                if (!range) return range.cancelled ? R::Cancelled() : R::Failure(range.message);
                ownRange = *range.value;
                if (!ownRange->Empty()) {
                    proposed.minimum = ownRange->low;
                    proposed.maximum = ownRange->high;
                }
            }
            const std::optional<BandLoadOptions::RasterQuestion> answer =
                options.askRaster(proposed);
            if (!answer) return R::Cancelled();
            if (proposed.bandsInFile > 0 && answer->rasterBand != proposed.rasterBand) {
                // The other band is asked about with the stretch and nodata value typed for it.
                file = openBand(answer->rasterBand);
                if (!file) return file;
                stretch = answer->stretch;
                percentiles = answer->percentiles;
                file.value->MutableRaster()->SetPercentiles(percentiles);
                if (!SameNodata(answer->nodata, proposed.nodata))
                    file.value->SetNodata(answer->nodata);
                continue;
            }
            stretch = answer->stretch;
            percentiles = answer->percentiles;
            file.value->MutableRaster()->SetPercentiles(percentiles);
            const std::optional<double> before = reader.Nodata();
            file.value->SetNodata(answer->nodata);
            // Another nodata value leaves out other pixels than the range read left out.
            if (!SameNodata(before, file.value->Nodata())) ownRange.reset();
            break;
        }
        BandReader& reader = *file.value;
        // Bounded to what reading this band a strip at a time needs; a job that reads several
        // bands at once bounds it again for all of them.
        BoundRasterCache(RasterCacheNeed({&reader}));
        // A stretch at percentiles reads the band again for them (ChooseStretch).
        if (!stretch && !percentiles && ownRange) {
            if (const Status stretched =
                    reader.MutableRaster()->TakeOwnRange(ownRange->low, ownRange->high);
                !stretched)
                return R::Failure(stretched.message);
        } else if (stretch || !options.ownStretchLater) {
            if (const Status stretched = reader.ChooseStretch(stretch); !stretched)
                return R::Failure(stretched.message);
        }
        return file;
    }
    // A raw file that is not there is refused before anything is asked of its size.
    if (const Status opens = CheckRawFileSize(path, {}); !opens) return R::Failure(opens.message);
    const std::string descriptorPath = ReplaceExtension(path, ".txt");
    const DescriptorRead descriptor = ReadDescriptor(descriptorPath);
    if (descriptor.outcome == DescriptorRead::Malformed)
        return R::Failure(DescriptorMalformedMessage(descriptorPath));
    ImageSize size = descriptor.size;
    if (descriptor.outcome == DescriptorRead::Missing) {
        const std::optional<ImageSize> asked = options.askSize ? options.askSize() : std::nullopt;
        if (!asked)
            return R::Failure("The raw image " + path + " has no descriptor " + descriptorPath +
                              " giving its number of lines and columns.");
        size = *asked;
    }
    if (const Status valid = CheckImageSize(size); !valid)
        return R::Failure("The raw image\n" + path + "\ncannot be loaded: " + valid.message + ".");
    if (!options.window)
        if (const Status fits = accepted(size); !fits) return R::Failure(fits.message);
    // The size asked for is kept only for a band that is accepted, before its pixels are
    // read: a refused size must not come back as the file's descriptor next time.
    if (descriptor.outcome == DescriptorRead::Missing) {
        const Status written = WriteWholeFile(descriptorPath, ShortDescriptorText(size));
        if (!written)
            return R::Failure(DescriptorNotWrittenMessage(descriptorPath, written.message));
    }
    Result<BandReader> file = OpenRawBand(path, size);
    if (file && options.window) {
        if (Status windowed = cut(*file.value); !windowed) return R::Failure(windowed.message);
        if (const Status fits = accepted(file.value->Size()); !fits)
            return R::Failure(fits.message);
    }
    if (file && options.nodata) file.value->SetNodata(options.nodata);
    if (file && options.exclusion) file.value->SetExclusion(options.exclusion);
    return file;
}

Result<BandReader> OpenMaskBand(const std::string& path, BandFileType type, int rasterBand,
                                ImageSize size, const std::optional<Georeference>& place,
                                const GridPlan& plan) {
    using R = Result<BandReader>;
    BandSet set;
    set.Begin(1);
    BandLoadOptions loading;
    loading.checkMemory = false;
    loading.ownStretchLater = true;  // a mask's values are read as they are
    loading.rasterBand = rasterBand;
    if (plan.active && type == BandFileType::Raster) {
        Result<BandFacts> facts = FactsOf(path, rasterBand);
        if (!facts) return R::Failure(facts.message);
        loading.rasterView = plan.ViewOf(*facts.value);
    }
    Result<BandReader> band = set.Open(1, path, type, loading);
    if (!band) return band;
    // A mask's rule reads its stored values, whatever scale its file declares.
    if (RasterSource* raster = band.value->MutableRaster()) raster->SetScaling({});
    if (Status placed = CheckMaskPlace(*band.value, size, place); !placed)
        return R::Failure(placed.message);
    return band;
}

}  // namespace tessera
