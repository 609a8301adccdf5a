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
#include "workspace/bandloading.h"
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

// Results of the last completed segmentation run, kept together so that the crossing and the
// saves always see one consistent set: the treatment's state (records 1..n as the run used
// them, code table, look-ups, segment colours) and the bands it segmented, whose blocks it
// shares, so that a band opened since does not change what it crosses or shows.
struct SegmentationResult : Treatment {
    ImageSize size;
    int bandSetNumber = 0;          // of the band set it segmented (Workspace::BandSetNumber)
    std::vector<BandPlane> planes;  // band b at b - 1
    // The bands as the passes read them.
    MemoryStrips Strips() const { return MemoryStrips(size, planes); }
};

// Results of the last crossing, with the settings that produced them: Save Result writes this
// set whatever happened since. The treatment's state with the pixel counts, the codes kept,
// the classes and their colours and the selection rule, and the class of every pixel.
struct CrossingResult : Treatment {
    ImageSize size;
    int bandSetNumber = 0;  // of the band set it crossed
    ByteMatrix classImage;
};

// What the main window shows of a result: the gray bands, the segment colours or the class
// colours.
enum class PaletteMode { Gray = 0, Segments = 1, Classes = 2 };

class Workspace {
  public:
    // ----- band set -----
    int BandCount() const { return loading_.BandCount(); }
    // Band b, 1..10: its pixels and their marks, and its record.
    const BandData& Band(int b) const { return loading_.Band(b); }
    const BandRecord& Record(int b) const { return loading_.Record(b); }
    // The size of the last band kept.
    int Lines() const { return loading_.Size().lines; }
    int Columns() const { return loading_.Size().columns; }
    // The reader the last band loaded went to (ReaderFor: not always the type chosen).
    BandFileType LoadedType() const { return loading_.LoadedType(); }
    // Counts the band sets begun: results know which set they treated.
    int BandSetNumber() const { return bandSetNumber_; }
    // The last segmentation treated the open band set (a new set has not been begun since).
    bool SegmentedThisSet() const {
        return segmentation && segmentation->bandSetNumber == bandSetNumber_;
    }

    // The band the band window shows (0: none), which Previous and Next step from.
    int CurrentBand() const { return currentBand_; }
    void SetCurrentBand(int band) { currentBand_ = band; }

    // A band file chosen in a dialog: the file dialogs start in its folder from now on.
    void NoteBandFile(const std::string& path, BandFileType type);
    // The folder of the band file chosen last; empty when none was.
    std::string LastBandFolder() const;

    // The folder the diagnostic code list (multi_tab.txt) goes to at every segmentation: one
    // fixed folder of the user's, never one of the bands' (the front end gives it); empty: none
    // is written.
    void SetCodeListFolder(std::string folder) { codeListFolder_ = std::move(folder); }
    const std::string& CodeListFolder() const { return codeListFolder_; }
    // The threads the passes run on (0: one per core).
    void SetThreads(int threads) { threads_ = threads; }

    // ----- segmentation and crossing -----
    std::optional<SegmentationResult> segmentation;
    ByteMatrix ShownSegmentMatrix;
    int CurrentSegmentedBand = 0;
    std::optional<CrossingResult> crossing;
    RandomBelow random;
    PaletteMode Palette() const { return palette_; }
    CommandStep Step() const { return step_; }
    void Advance(CommandStep reached) {
        if (reached > step_) step_ = reached;
    }

    // Start of an open sequence: every band and record is emptied, and bands loaded from now on
    // must share one size.
    void BeginBandSet(int bandCount);
    // Refuses, with a "CAUTION" text, a band set of BandCount bands of this size whose
    // segmentation and crossing in the interactive program would need more memory than the
    // machine has (`physicalBytes`, 0: ask the system).
    Status CheckMemoryFor(const std::string& path, ImageSize size,
                          int64_t physicalBytes = 0) const {
        return loading_.CheckMemoryFor(path, size, physicalBytes);
    }
    // Refuses a band whose size differs from a band loaded earlier in this open sequence.
    Status CheckBandSize(int band, const std::string& path, ImageSize size) const {
        return loading_.CheckBandSize(band, path, size);
    }
    // The loading rule (BandSet::Open), then the band's pixels read and kept. A refusal gives
    // the "CAUTION" text that names the file and changes nothing.
    Status LoadBand(int band, const std::string& path, BandFileType type,
                    const BandLoadOptions& options) {
        return loading_.Load(band, path, type, options, Threads());
    }
    // Keeps band b's pixels (a band held in memory): gray range, title path, size, and what
    // `marks` tells of them. Refuses (and keeps the band as it was) when memory runs out.
    Status StoreBand(int band, const std::string& path, ByteMatrix pixels, BandMarks marks = {}) {
        return loading_.Store(band, path, std::move(pixels), std::move(marks), Threads());
    }

    // ----- masks of the band set (BeginBandSet empties them) -----
    // The size of the band set being opened: that of the bands accepted since BeginBandSet;
    // none before the first.
    std::optional<ImageSize> BandSetSize() const { return loading_.SetSize(); }
    // A mask of the band set: the pixels of `mask` that its rule masks are without data in
    // every band, those loaded from now on and those loaded already, which are loaded again
    // with it (their marks and their own stretch leave the masked pixels out). Masks add up.
    // Refused with the "CAUTION" text that names the file (no band yet, a band of the file
    // that is not there, another size or coordinate system); nothing changes then.
    Status AddMask(const MaskSource& mask, Progress& progress = NoProgress()) {
        return loading_.AddMask(mask, progress, Threads());
    }
    // A line a mask, for the report.
    const std::vector<std::string>& MaskTexts() const { return loading_.MaskTexts(); }

    // "ERROR" text naming the first band 1..BandCount without pixels; Ok when all are there.
    Status CheckAllBandsLoaded() const { return loading_.CheckAllLoaded(); }
    // What a command that needs the whole band set checks: the count, then every band.
    Status CheckBandSetComplete() const;

    // Band b's type, count and limits; `typedUpper` holds the typed upper limits of a
    // Definition band. The count must have passed CheckSegmentCount.
    void SetSegmentation(int band, int type, int count, const std::vector<int32_t>& typedUpper);

    // After every band's settings are set: builds the code table (refused with an "ERROR" text,
    // nothing replaced, when it is too large or memory runs out), writes the diagnostic code
    // list, draws the segment colours and numbers the last band for the segmented window.
    // The palette becomes the segments'. Cancelled through `progress`, it changes nothing,
    // the colour sequence included.
    Status FinishSegmentation(Progress& progress = NoProgress());

    // Codes and pixel counts for the crossing; an "ERROR" text when memory runs out.
    Result<CodeCounts> CountCodes(Progress& progress = NoProgress()) const;
    // Class colours and the class raster from the codes the selection kept (by `selection`,
    // which the class GeoTIFF's metadata tells). The palette becomes the classes'. Refused when
    // memory runs out; nothing replaced. Cancelled through `progress`, it changes nothing, the
    // colour sequence included.
    Status FinishCrossing(CodeCounts counts, std::vector<int32_t> selectedCodes,
                          Progress& progress = NoProgress(),
                          std::optional<CodeSelection> selection = std::nullopt);

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
    int Threads() const { return threads_ > 0 ? threads_ : MachineThreads(); }
    // FinishCrossing with the classes chosen by `classes` (the selection and a draw of colours
    // by default).
    Status Cross(CodeCounts counts, const std::function<Status(Treatment&)>& classes,
                 Progress& progress);

    BandLoading loading_;
    int bandSetNumber_ = 0;
    int currentBand_ = 0;
    std::string openPath_;       // the band file chosen last
    std::string saveDirectory_;  // the folder of the raw band file chosen last
    std::string codeListFolder_;
    PaletteMode palette_ = PaletteMode::Gray;
    CommandStep step_ = StepStart;
    int threads_ = 0;
};

}  // namespace tessera
