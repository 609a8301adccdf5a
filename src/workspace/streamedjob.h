#pragma once
// The whole treatment of a band set without holding the bands in memory (the batch tool's job):
// the treatment's three passes (passes.h) run over the bands' files, read strip by strip, and
// nothing is kept per pixel of the scene. The interactive program runs the same passes over
// the bands it holds, so every file written is byte for byte the one it writes for the same
// choices, and every refusal has the same text.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandreader.h"
#include "bands/bandset.h"
#include "bands/pixelmask.h"
#include "crossing/codetable.h"
#include "crossing/crossing.h"
#include "support/randombelow.h"
#include "support/status.h"
#include "workspace/passes.h"
#include "workspace/resultfiles.h"
#include "workspace/strips.h"
#include "workspace/treatmentfile.h"

namespace tessera {

struct StreamSettings {
    int threads = 0;     // 0: one per core of the machine
    int stripLines = 0;  // lines read at a time; 0: chosen from the band width
    // The bytes the raster bands' decoded values may take in memory, kept for the later passes
    // so that no tile is decoded twice; -1: a quarter of the machine's memory. Bands beyond
    // them are kept in temporary files in spillFolder, or, without one, decoded in every pass.
    int64_t keptBytes = -1;
    std::string spillFolder = {};
};

// The thread count and strip height the settings give for bands of `columns` columns.
int ThreadsOf(const StreamSettings& settings);
int StripLinesOf(const StreamSettings& settings, int columns);
// The bytes of decoded values the settings let the job keep in memory.
int64_t KeptBytesOf(const StreamSettings& settings);

// Bytes the streamed treatment needs besides its code tables, whatever the number of lines:
// the strips of every thread.
int64_t StreamedMemoryNeed(ImageSize size, int bandCount, const StreamSettings& settings);

class StreamedJob {
  public:
    explicit StreamedJob(StreamSettings settings = {});
    ~StreamedJob();
    StreamedJob(const StreamedJob&) = delete;
    StreamedJob& operator=(const StreamedJob&) = delete;

    // The start of a band set of `bandCount` bands (2..10).
    void BeginBandSet(int bandCount);
    // Band b: the loading rule's checks (BandSet), with the same texts as the interactive
    // program's. The band's file stays
    // open for the passes. A check of memory, when asked for, estimates what this treatment
    // needs, not the interactive one.
    Status LoadBand(int band, const std::string& path, BandFileType type, BandLoadOptions options);
    // The masks of the band set (see PixelMask), once every band is loaded and before the
    // bands are read: their pixels are without data in every band.
    void SetMask(std::shared_ptr<const PixelMask> mask, std::vector<std::string> texts);
    // Pass 1, once every band is loaded: the stretches the bands take from their own range,
    // then every band's gray range and histogram, all bands read together strip by strip.
    // Refused as the interactive program refuses a band without data or a file that cannot
    // be read.
    // SetSegmentation and FinishSegmentation run it when it has not run.
    Status ReadBands();
    ImageSize Size() const { return size_; }
    GrayRange Range(int band) const { return treatment_.ranges[band]; }

    // Band b's data type as GDAL names it ("Byte" for raw files and bitmaps), once loaded.
    std::string DataType(int band) const;
    // RasterSource::CountValues of band `band`, once the bands are read; refused for a band
    // that is no raster.
    Status CountValues(int band, std::vector<int64_t>& counts, int64_t& lowest, int first = 0,
                       int count = -1) const;
    // A saved treatment's methods, counts and gray limits, in place of SetSegmentation, once
    // the bands are read; its classes and colours, in place of FinishCrossing, once counted.
    Status TakeSavedSegmentation(const SavedTreatment& saved);
    Status TakeSavedClasses(const SavedTreatment& saved, const std::string& path);

    // Band b's upper limits as typed in native values, for the report.
    void NoteNativeLimits(int band, std::vector<double> limits) {
        if (band >= 1 && band <= bandCount_) treatment_.records[band].nativeLimits = std::move(limits);
    }
    // Band b's method, count and limits (SetBandSegmentation).
    void SetSegmentation(int band, int type, int count, const std::vector<int32_t>& typedUpper);
    // The code table, look-ups and segment colours (FinishSegmentation); the code list is a
    // result file of its own (ResultFiles::codes), written only when asked.
    Status FinishSegmentation();
    const CodeTable& Table() const { return treatment_.table; }

    // Pass 2: the pixel count of every code, pixelCount[0..N] (entry 0: pixels without a code).
    Status CountCodes();
    const std::vector<int64_t>& PixelCount() const { return treatment_.pixelCount; }

    // The class colours and each code's class (FinishCrossing).
    Status FinishCrossing(std::vector<int32_t> selectedCodes);
    int ClassCount() const { return treatment_.classCount; }
    // The rule that chose the codes, told in the class GeoTIFF's metadata.
    void SetSelectionRule(const CodeSelection& rule) { treatment_.selection = rule; }
    const Treatment& State() const { return treatment_; }

    // Pass 3: the result as stem.bmp, stem.txt and stem.raw, and for bands that lie on the map
    // stem.tif (its legend stem.tif.aux.xml beside it), stem.csv and stem.qml (those of
    // `files` only; see ResultWriter); then, when `segmentedStem` is not empty and every
    // result file was written, the last band's segment numbers (SegmentedWriter). Every file
    // is put in place with the others or none is (FileSet); a failure names every file of its
    // save that could not be written. The values kept of the bands are let go once the pass
    // has read them.
    Status Save(const std::string& stem, const std::string& segmentedStem,
                ResultFiles files = {});
    // Where every band lies on the map; none when a band carries no georeference.
    std::optional<Georeference> Place() const;

    // ----- the passes shared out among processes -----
    // A job whose passes other processes run over windows of lines, each with a job of its own
    // opened alike (the stretches this one decided given to it), takes their sums in place of
    // its own passes: TakeOwnRanges, the percentile steps of the band's RasterSource,
    // TakeStatistics, TakeCounts, then SaveWindows with the windows' classes.

    // Lines first..first + count - 1 of every band as gray levels and marks of the pixels
    // without data: band b's count x columns bytes at gray + (b - 1) x count x columns, its
    // marks likewise (0 everywhere for a band that cannot lack data). Every block is decoded
    // once.
    Status ReadWindow(int first, int count, uint8_t* gray, uint8_t* marks) const;
    // The bands whose stretch is their own range, still to be found.
    std::vector<int> OwnRangeBands() const;
    // Those bands' least and greatest values with data in lines first..first + count - 1,
    // folded into low[i] and high[i] (i indexing OwnRangeBands).
    Status RangesOfWindow(int first, int count, std::vector<double>& low,
                          std::vector<double>& high) const;
    // A window decoded once for the reads that follow it: of OwnRangeBands, those of 16 bits
    // (StoredBands) are kept by the caller as stored, 2 bytes a pixel (StoredOfWindow, band after
    // band), and give the window's ranges (RangesFromStored, as RangesOfWindow) and then, the
    // stretches known, its gray levels and marks (ReadWindowFrom, as ReadWindow: bands `kept`
    // from `stored`, as StoredBands named them, the others read).
    // (RangesFromStored with no `stored` is RangesOfWindow.)
    std::vector<int> StoredBands() const;
    Status StoredOfWindow(int first, int count, uint8_t* stored) const;
    Status RangesFromStored(int first, int count, const uint8_t* stored, std::vector<double>& low,
                            std::vector<double>& high) const;
    Status ReadWindowFrom(int first, int count, const std::vector<int>& kept,
                          const uint8_t* stored, uint8_t* gray, uint8_t* marks) const;
    // The own ranges of OwnRangeBands, from every window's least and greatest values folded
    // together, as their stretches; refused as ReadBands refuses a band without a range.
    Status TakeOwnRanges(const std::vector<double>& low, const std::vector<double>& high);
    // Band b's raster (null for raw files and bitmaps), for the steps of its percentiles.
    RasterSource* Raster(int band);
    const RasterSource* Raster(int band) const;
    // Some pixel of band b may be without data (its marks are not all 0).
    bool MayLackData(int band) const {
        return band >= 1 && band <= bandCount_ && readers_[band].MayLackData();
    }
    // Each band's stretch, once known (none for 8-bit bands).
    std::vector<std::optional<StretchRange>> Stretches() const;
    // Pass 1's sums over the whole scene in place of ReadBands: refused as ReadBands refuses
    // a band without data.
    Status TakeStatistics(const BandStatistics& statistics);
    // Pass 2's sums over the whole scene in place of CountCodes.
    Status TakeCounts(CodeTally tally);
    // Pass 3 with the classes of every window handed over in place of ClassifyStrips: as Save,
    // window k of `windows` being lines windowFirst[k]..windowFirst[k + 1] - 1. `next(k)` gives
    // window k's classes and, when `segmentedStem` is not empty, the last band's segment
    // numbers (count x columns bytes each), called for k = 0, 1, ... in order; a refusal stops
    // the save with nothing put in place. The class map is compressed on `threads` threads.
    using WindowClasses = std::function<Status(int window, const uint8_t*& classes,
                                               const uint8_t*& segments)>;
    Status SaveWindows(const std::string& stem, const std::string& segmentedStem,
                       ResultFiles files, const std::vector<int>& windowFirst,
                       const WindowClasses& next, int threads = 1);

  private:
    // Every band's statistics taken once pass 1 is over, here or elsewhere.
    Status AcceptStatistics(const BandStatistics& statistics);
    // The statistics counted as the values kept of every band became gray levels; refused
    // (with no text) where a band's were not, and pass 1 then reads the bands through.
    Result<BandStatistics> KeptStatistics() const;
    // The classes handed to `result` (and the segment numbers to `segments`) by `produce`,
    // then every file put in place with the others or none.
    using ClassProducer = std::function<Status(ResultWriter& result, SegmentedWriter* segments)>;
    Status SaveFrom(const std::string& stem, const std::string& segmentedStem, ResultFiles files,
                    int workers, const ClassProducer& produce);

    StreamSettings settings_;
    int bandCount_ = 0;
    ImageSize size_;
    int threads_ = 1;
    BandSet bandSet_;
    std::vector<BandReader> readers_;
    Treatment treatment_;
    RandomBelow random_;
    std::optional<Status> read_;  // the outcome of ReadBands; none before it ran
    std::unique_ptr<FileStrips> strips_;
};

}  // namespace tessera
