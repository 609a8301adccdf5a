#pragma once
// All working state of a session, owned by the main window (and likewise by the batch tool):
// the band set, the segmentation results, the code table, the crossing results, PaletteMode and
// the colour sequence. The operations here hold every rule; the front ends only gather answers.
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandfiles.h"
#include "bands/bandreader.h"
#include "crossing/codetable.h"
#include "crossing/crossing.h"
#include "image/guitools.h"
#include "image/rawfiles.h"
#include "segmentation/bandrecord.h"
#include "segmentation/thresholding.h"
#include "support/progress.h"
#include "support/randombelow.h"
#include "support/status.h"

namespace tessera {

// Command availability: one-way steps, never taken back.
enum CommandStep {
    StepStart = 0,
    StepBandSetOpened = 1,
    StepBandsSegmented = 2,
    StepBandsCrossed = 3
};

struct BandData {
    ByteMatrix pixels;
    GrayImage image;  // copy of the pixels for display (GUI only)
    // 1 for each pixel without data, 0 elsewhere; empty when every pixel holds data.
    ByteMatrix nodata;
    // The pixels with data: their gray levels, lowest and highest.
    Histogram histogram{};
    int minGray = 260;
    int maxGray = 0;
    bool Loaded() const { return !pixels.Empty(); }
};

// Results of the last completed segmentation run, kept together so that the crossing and the
// saves always see one consistent set.
struct SegmentationResult {
    ImageSize size;
    std::vector<BandRecord> records;  // 1..n, as the run used them
    CodeTable table;
    std::vector<ByteMatrix> SegmentNumberMatrix;  // 1..n
    std::vector<GrayImage> SegmentedImage;        // 1..n (empty when no pictures are made)
    ColourTable SegmentColourTable{};
    // Pixels without data in at least one band; none when no band has a nodata value.
    std::optional<int64_t> nodataPixels;
};

// Results of the last crossing, with the settings that produced them: Save Result writes this
// set whatever happened since.
struct CrossingResult {
    ImageSize size;
    std::vector<BandRecord> records;  // 1..n
    CodeTable table;
    std::vector<int64_t> PixelCount;     // 1..N
    std::vector<int32_t> SelectedCodes;  // 1..K
    int ClassCount = 0;
    ByteMatrix ClassImage;
    ColourTable ClassColorTable{};
    GrayImage resultImage;  // empty when no picture is made
    std::optional<int64_t> nodataPixels;  // as SegmentationResult's
    // The rule that chose SelectedCodes, for the class GeoTIFF's metadata; none when unknown.
    std::optional<CodeSelection> selection;
};

// How a band's file is loaded.
struct BandLoadOptions {
    // Asked for the size of a raw file that has no descriptor; nothing means no answer. Left
    // empty, such a file is refused.
    std::function<std::optional<ImageSize>()> askSize;
    // Refuse a band set the machine's memory cannot treat.
    bool checkMemory = true;
    // The bytes a treatment of `bandCount` bands of this size needs; left empty, the interactive
    // program's whole matrices (InteractiveMemoryNeed).
    std::function<int64_t(ImageSize size, int bandCount)> memoryNeed;
    // Keep a display copy of the pixels (the interactive program).
    bool makeImage = true;
    // Told how the reading goes; may cancel it (the band then stays as it was).
    Progress* progress = nullptr;
    // A raster GDAL reads: the band of the file (1 = the first), and for a band of another type
    // than 8 bits its stretch to gray levels (none: the band's own minimum and maximum).
    int rasterBand = 1;
    std::optional<StretchRange> stretch;
    // A band of more than 8 bits without a stretch given is left without one, for the caller
    // to find with the other bands (ChooseStretchesTogether), instead of being read through
    // for its range when it is opened.
    bool ownStretchLater = false;
    // The value that marks pixels without data, in place of the file's own (a raster's), or
    // for a raw file or bitmap, a gray level; none: the file's own, if any.
    std::optional<double> nodata;
    // Asked, for a raster band, once the file is open and checked and before a pixel is read:
    // the stretch and nodata value, shown as the options give them and the file declares them
    // (the band's type tells whether a stretch applies). Nothing means no answer: the band is
    // not loaded, and the load counts as cancelled.
    struct RasterQuestion {
        std::string dataType;
        bool stretched = false;
        std::optional<StretchRange> stretch;
        std::optional<double> nodata;
    };
    std::function<std::optional<RasterQuestion>(const RasterQuestion& proposed)> askRaster;
};

// The start of the texts of a step refused for want of memory.
inline constexpr const char* kMemoryRefusal = " Not enough memory ";
// One "CAUTION" text for every file of a save that could not be written; Ok when none failed.
Status CollectedSaveStatus(const std::vector<std::string>& failedFiles);

// What the interactive program holds for a band set: per band the pixels, their display copy,
// the segment numbers and the segmented picture; per set the codes, the classes, the pictures.
int64_t InteractiveMemoryNeed(ImageSize size, int bandCount);

class Workspace {
  public:
    // ----- band set -----
    int BandCount = 0;
    int CurrentBand = 0;
    int Lines = 0;
    int Columns = 0;
    std::string ChosenFileName;
    std::string DescriptorFileName;
    std::string OpenPath;
    std::string SaveDirectory;
    std::array<BandData, kMaximumBands + 1> bands;      // 1..10
    std::array<BandRecord, kMaximumBands + 1> records;  // 1..10
    // Sizes of the bands loaded since the last BeginBandSet (0 x 0: not loaded in this sequence).
    std::array<ImageSize, kMaximumBands + 1> sequenceSizes{};

    // ----- segmentation and crossing -----
    std::optional<SegmentationResult> segmentation;
    ByteMatrix ShownSegmentMatrix;
    int CurrentSegmentedBand = 0;
    std::optional<CrossingResult> crossing;
    int PaletteMode = 0;
    RandomBelow random;
    CommandStep step = StepStart;

    void Advance(CommandStep reached) {
        if (reached > step) step = reached;
    }

    // Start of an open sequence: bands loaded from now on must share one size.
    void BeginBandSet(int bandCount);
    // Refuses, with a "CAUTION" text, a band set of BandCount bands of this size whose
    // segmentation and crossing in the interactive program would need more memory than the
    // machine has (`physicalBytes`, 0: ask the system), so that it is refused at the start
    // rather than failing half-way or driving the machine into swapping.
    Status CheckMemoryFor(const std::string& path, ImageSize size, int64_t physicalBytes = 0) const;
    // The same check for a treatment that needs `neededBytes`.
    Status CheckMemoryNeed(const std::string& path, ImageSize size, int64_t neededBytes,
                           int64_t physicalBytes = 0) const;
    // Refuses a band whose size differs from a band loaded earlier in this open sequence.
    Status CheckBandSize(int band, const std::string& path, ImageSize size) const;
    // The loading rule of both front ends: reads band `band` from its file, a raw image (with
    // its descriptor or a size asked for), a bitmap or a band of a raster GDAL reads, checks every limit once, in this order
    // (descriptor, size, file opens, same size as the bands already loaded, memory), and keeps
    // it. A refusal gives the "CAUTION" text that names the file and changes nothing.
    Status LoadBand(int band, const std::string& path, BandFileType type,
                    const BandLoadOptions& options);
    // Every check of LoadBand, in the same order and with the same texts, without reading a
    // pixel: the band's file, open for reading. Changes nothing (but writes the descriptor of
    // a size asked for, as LoadBand does).
    Result<BandReader> OpenBandFile(int band, const std::string& path, BandFileType type,
                                    const BandLoadOptions& options) const;
    // Keeps the band's pixels: gray range, title path, display image when `makeImage`, Lines and
    // Columns. Refuses (and keeps the band as it was) when memory runs out. `nodata` marks the
    // pixels without data (1) when the band has a nodata value: they are left out of its
    // histogram and gray range.
    Status StoreBand(int band, const std::string& path, ByteMatrix pixels, bool makeImage,
                     ByteMatrix nodata = {}, std::optional<double> nodataValue = std::nullopt);
    // Refuses a raster band whose georeference differs from that of a georeferenced band
    // loaded earlier in this open sequence, naming both.
    Status CheckGeoreference(int band, const std::string& path,
                             const std::optional<Georeference>& place) const;

    // Pixels without data in at least one of bands 1..n; none when no band has a nodata value.
    std::optional<int64_t> NodataPixels(int n) const;

    // "ERROR" text naming the first band 1..BandCount without pixels; Ok when all are there.
    Status CheckAllBandsLoaded() const;
    // What a command that needs the whole band set checks: the count, then every band.
    Status CheckBandSetComplete() const;

    // Band b's type, count and limits; `typedUpper` holds the typed upper limits of a
    // Definition band. The count must have passed CheckSegmentCount.
    void SetSegmentation(int band, int type, int count, const std::vector<int32_t>& typedUpper);

    // After every band's settings are set: builds the code table (refused with an "ERROR" text,
    // nothing replaced, when it is too large or memory runs out), writes the diagnostic code
    // list beside band 1's file, draws the segment colours, numbers every band's pixels and,
    // when `makeImages`, paints the segmented images. When `consumePixels` the band pixels are
    // numbered in place (the batch tool, which needs them no more). PaletteMode becomes 1.
    // Cancelled through `progress`, it changes nothing, the colour sequence included.
    Status FinishSegmentation(bool makeImages, bool consumePixels = false,
                              Progress& progress = NoProgress());

    // Codes and pixel counts for the crossing; an "ERROR" text when memory runs out.
    Result<CodeCounts> CountCodes(Progress& progress = NoProgress()) const;
    // Class colours, class raster and (when `makeImage`) the result picture from the codes the
    // selection kept. PaletteMode becomes 2. Refused when memory runs out; nothing replaced.
    // Cancelled through `progress`, it changes nothing, the colour sequence included.
    Status FinishCrossing(CodeCounts counts, std::vector<int32_t> selectedCodes, bool makeImage,
                          Progress& progress = NoProgress());

    // Moves the segmented window to band b: ShownSegmentMatrix and CurrentSegmentedBand.
    void ShowSegmentedBand(int band);

    // The shown segmented band as X.bmp (segment colours), X.txt (long descriptor), X.raw.
    // Failures name each file that could not be written. The files are put in place together
    // at the end: a cancelled save leaves no file behind and earlier files as they were.
    Status SaveSegmented(const std::string& stem, Progress& progress = NoProgress()) const;
    // The last crossing as F.bmp (class colours), F.txt (descriptor and report), F.raw; saved
    // as SaveSegmented saves.
    Status SaveResult(const std::string& stem, Progress& progress = NoProgress()) const;
};

}  // namespace tessera
