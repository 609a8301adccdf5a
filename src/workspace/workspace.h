#pragma once
// All working state of a session, owned by the main window (and likewise by the batch tool):
// the band set, the segmentation results, the code table, the crossing results, PaletteMode and
// the colour sequence. The operations here hold every rule; the front ends only gather answers.
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandfiles.h"
#include "bands/bandreader.h"
#include "bands/bandset.h"
#include "bands/pixelmask.h"
#include "crossing/codetable.h"
#include "crossing/crossing.h"
#include "image/grayimage.h"
#include "image/rawfiles.h"
#include "segmentation/bandrecord.h"
#include "segmentation/thresholding.h"
#include "support/progress.h"
#include "support/randombelow.h"
#include "support/status.h"
#include "workspace/passes.h"
#include "workspace/resultfiles.h"
#include "workspace/strips.h"
#include "workspace/treatmentfile.h"

namespace tessera {

// Command availability: one-way steps, never taken back.
enum CommandStep {
    StepStart = 0,
    StepBandSetOpened = 1,
    StepBandsSegmented = 2,
    StepBandsCrossed = 3
};

struct BandData {
    // The gray levels; the band window shows them as they are (a picture over the same block).
    ByteMatrix pixels;
    // 1 for each pixel without data, 0 elsewhere; empty when every pixel holds data.
    ByteMatrix nodata;
    // The pixels with data: their gray levels, lowest and highest.
    Histogram histogram{};
    int minGray = 260;
    int maxGray = 0;
    bool Loaded() const { return !pixels.Empty(); }
    // The band as the passes read it, sharing its blocks.
    BandPlane Plane() const { return {pixels.SharedCells(), nodata.SharedCells()}; }
};

// Results of the last completed segmentation run, kept together so that the crossing and the
// saves always see one consistent set: the treatment's state (records 1..n as the run used
// them, code table, look-ups, SegmentColourTable) and the bands it segmented, whose blocks it
// shares, so that a band opened since does not change what it crosses or shows.
struct SegmentationResult : Treatment {
    ImageSize size;
    int bandSetNumber = 0;  // of the band set it segmented (Workspace::BandSetNumber)
    std::vector<BandPlane> planes;  // band b at b - 1
    // The bands as the passes read them.
    MemoryStrips Strips() const { return MemoryStrips(size, planes); }
};

// Results of the last crossing, with the settings that produced them: Save Result writes this
// set whatever happened since. The treatment's state with PixelCount, SelectedCodes,
// ClassCount, ClassColorTable and the selection rule, and the class of every pixel.
struct CrossingResult : Treatment {
    ImageSize size;
    int bandSetNumber = 0;  // of the band set it crossed
    ByteMatrix ClassImage;
};

// A mask of the band set as it was given: a band of a file and the rule of its values.
struct MaskSource {
    std::string path;
    BandFileType type = BandFileType::Raster;  // the type chosen (ReaderFor decides the reader)
    int rasterBand = 1;                        // of a raster
    MaskRule rule;
};

// What the interactive program holds for a band set: per band the pixels and their marks; per
// set the shown segment numbers (twice while a new segmentation replaces them) and the classes.
int64_t InteractiveMemoryNeed(ImageSize size, int bandCount);

class Workspace {
  public:
    Workspace();

    // ----- band set -----
    int BandCount = 0;
    int CurrentBand = 0;
    int Lines = 0;
    int Columns = 0;
    std::string ChosenFileName;
    std::string DescriptorFileName;
    std::string OpenPath;
    std::string SaveDirectory;
    // The folder the diagnostic code list (multi_tab.txt) goes to at every segmentation: one
    // fixed folder of the user's, never one of the bands' (the front end gives it); empty: none
    // is written.
    std::string CodeListFolder;
    std::array<BandData, kMaximumBands + 1> bands;      // 1..10
    std::array<BandRecord, kMaximumBands + 1> records;  // 1..10
    BandSet bandSet;  // the loading rule, with the bands accepted since BeginBandSet
    // Counts the band sets begun: results know which set they treated.
    int BandSetNumber = 0;
    // The reader the last band loaded went to (ReaderFor: not always the type chosen).
    BandFileType LoadedType = BandFileType::Raw;
    // The last segmentation treated the open band set (a new set has not been begun since).
    bool SegmentedThisSet() const {
        return segmentation && segmentation->bandSetNumber == BandSetNumber;
    }

    // ----- segmentation and crossing -----
    std::optional<SegmentationResult> segmentation;
    ByteMatrix ShownSegmentMatrix;
    int CurrentSegmentedBand = 0;
    std::optional<CrossingResult> crossing;
    int PaletteMode = 0;
    RandomBelow random;
    CommandStep step = StepStart;
    // The threads the passes run on (0: one per core).
    int threads = 0;

    void Advance(CommandStep reached) {
        if (reached > step) step = reached;
    }

    // Start of an open sequence: every band and record is emptied, and bands loaded from now on
    // must share one size.
    void BeginBandSet(int bandCount);
    // Refuses, with a "CAUTION" text, a band set of BandCount bands of this size whose
    // segmentation and crossing in the interactive program would need more memory than the
    // machine has (`physicalBytes`, 0: ask the system).
    Status CheckMemoryFor(const std::string& path, ImageSize size, int64_t physicalBytes = 0) const;
    // Refuses a band whose size differs from a band loaded earlier in this open sequence.
    Status CheckBandSize(int band, const std::string& path, ImageSize size) const {
        return bandSet.CheckBandSize(band, path, size);
    }
    // The loading rule (BandSet::Open), then the band's pixels read and kept. A refusal gives
    // the "CAUTION" text that names the file and changes nothing.
    Status LoadBand(int band, const std::string& path, BandFileType type,
                    const BandLoadOptions& options);
    // Keeps the band's pixels: gray range, title path, Lines and Columns. Refuses (and keeps the
    // band as it was) when memory runs out. `nodata` marks the pixels without data (1) when the
    // band has a nodata value: they are left out of its histogram and gray range.
    Status StoreBand(int band, const std::string& path, ByteMatrix pixels, bool makeImage,
                     ByteMatrix nodata = {}, std::optional<double> nodataValue = std::nullopt);

    // ----- masks of the band set (BeginBandSet empties them) -----
    // The size of the band set being opened: that of the bands accepted since BeginBandSet;
    // none before the first.
    std::optional<ImageSize> BandSetSize() const;
    // A mask of the band set: the pixels of `mask` that its rule masks are without data in
    // every band, those loaded from now on and those loaded already, which are loaded again
    // with it (their marks and their own stretch leave the masked pixels out). Masks add up.
    // Refused with the "CAUTION" text that names the file (no band yet, a band of the file
    // that is not there, another size or coordinate system); nothing changes then.
    Status AddMask(const MaskSource& mask, Progress& progress = NoProgress());
    // A line a mask, for the report.
    const std::vector<std::string>& MaskTexts() const { return maskTexts_; }

    // "ERROR" text naming the first band 1..BandCount without pixels; Ok when all are there.
    Status CheckAllBandsLoaded() const;
    // What a command that needs the whole band set checks: the count, then every band.
    Status CheckBandSetComplete() const;

    // Band b's type, count and limits; `typedUpper` holds the typed upper limits of a
    // Definition band. The count must have passed CheckSegmentCount.
    void SetSegmentation(int band, int type, int count, const std::vector<int32_t>& typedUpper);

    // After every band's settings are set: builds the code table (refused with an "ERROR" text,
    // nothing replaced, when it is too large or memory runs out), writes the diagnostic code
    // list beside band 1's file, draws the segment colours and numbers the last band for the
    // segmented window. PaletteMode becomes 1. Cancelled through `progress`, it changes nothing,
    // the colour sequence included. (`makeImages` and `consumePixels` are kept for the callers
    // that still give them: the pictures are made on demand, and pixels are never consumed.)
    Status FinishSegmentation(bool makeImages = true, bool consumePixels = false,
                              Progress& progress = NoProgress());

    // Codes and pixel counts for the crossing; an "ERROR" text when memory runs out.
    Result<CodeCounts> CountCodes(Progress& progress = NoProgress()) const;
    // Class colours and the class raster from the codes the selection kept. PaletteMode becomes
    // 2. Refused when memory runs out; nothing replaced. Cancelled through `progress`, it
    // changes nothing, the colour sequence included.
    Status FinishCrossing(CodeCounts counts, std::vector<int32_t> selectedCodes, bool makeImage,
                          Progress& progress = NoProgress());

    // A saved treatment (read from `path`) applied to the open band set, as the batch tool
    // applies it: the bands loaded again with its stretches, scales and nodata values, its
    // methods and gray limits, then the crossing with its classes and colours, no colour drawn
    // for them. Refused, saying why and changing nothing, when the band set does not fit it.
    Status ApplyTreatment(const SavedTreatment& saved, const std::string& path,
                          Progress& progress = NoProgress());

    // The segment numbers of band b of the last segmentation (NoSegment where it has no data);
    // empty when there is none or memory runs out.
    ByteMatrix SegmentNumbers(int band) const;
    // Moves the segmented window to band b: ShownSegmentMatrix and CurrentSegmentedBand.
    void ShowSegmentedBand(int band);

    // The shown segmented band as X.bmp (segment colours), X.txt (long descriptor), X.raw.
    // Failures name each file that could not be written. The files are put in place together
    // at the end: a cancelled save leaves no file behind and earlier files as they were.
    Status SaveSegmented(const std::string& stem, Progress& progress = NoProgress()) const;
    // The last crossing as F.bmp (class colours), F.txt (descriptor and report), F.raw, and on
    // the map F.tif with its legend, F.csv and F.qml; saved as SaveSegmented saves.
    Status SaveResult(const std::string& stem, Progress& progress = NoProgress()) const;

  private:
    int Threads() const { return threads > 0 ? threads : MachineThreads(); }
    // How a band was loaded, to load it again with a mask given after it: its file, type and
    // options (without their questions), and the answer of its raster question.
    struct BandLoad {
        std::string path;
        BandFileType type = BandFileType::Raw;
        BandLoadOptions options;
        std::optional<BandLoadOptions::RasterQuestion> answer;
        bool Known() const { return !path.empty(); }
    };
    // The bands loaded again with `mask`, as they were first loaded.
    // With `saved`, each band's stretch, scale and nodata value are the treatment's.
    Status LoadAgain(const std::shared_ptr<const PixelMask>& mask, Progress& progress,
                     const SavedTreatment* saved = nullptr);
    // FinishCrossing with the classes chosen by `classes` (the selection and a draw of colours
    // by default).
    Status Cross(CodeCounts counts, const std::function<Status(Treatment&)>& classes,
                 Progress& progress);

    std::array<BandLoad, kMaximumBands + 1> loads_;
    std::vector<MaskSource> maskSources_;
    std::shared_ptr<const PixelMask> mask_;  // none without masks
    std::vector<std::string> maskTexts_;
    std::vector<MaskDescription> maskDescriptions_;
};

}  // namespace tessera
