#pragma once
// The whole treatment of a band set without holding the bands in memory: every band is read
// strip by strip, twice or three times, and nothing is kept per pixel of the scene. Pass 1
// gathers each band's histogram; pass 2 numbers the segments through the 256-entry tables,
// forms the codes and counts them; after the selection, pass 3 forms the codes again, classes
// them and writes the rasters strip by strip. Strips are shared among threads, each counting
// into its own table, summed at the end: the results do not depend on the thread count.
//
// Every rule comes from the same core functions as the interactive program's Workspace, so
// every file written is byte for byte the one the interactive program writes for the same
// choices, and every refusal has the same text.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bands/bandfiles.h"
#include "bands/bandreader.h"
#include "crossing/codetable.h"
#include "crossing/crossing.h"
#include "image/guitools.h"
#include "segmentation/bandrecord.h"
#include "support/randombelow.h"
#include "support/status.h"
#include "workspace/workspace.h"

namespace tessera {

class LineGroup;

struct StreamSettings {
    int threads = 0;     // 0: one per core of the machine
    int stripLines = 0;  // lines read at a time; 0: chosen from the band width
};

// The thread count and strip height the settings give for bands of `columns` columns.
int ThreadsOf(const StreamSettings& settings);
int StripLinesOf(const StreamSettings& settings, int columns);

// Bytes the streamed treatment needs besides its code tables, whatever the number of lines:
// the strips of every thread.
int64_t StreamedMemoryNeed(ImageSize size, int bandCount, const StreamSettings& settings);

// The files of a result to write (the batch tool's --format); the map files only ever for bands
// that lie on the map.
struct ResultFiles {
    bool bitmap = true, report = true, raw = true, geotiff = true, table = true;
    bool style = true;  // STEM.qml (the GeoTIFF's legend, STEM.tif.aux.xml, goes with it)
};

class StreamedJob {
  public:
    explicit StreamedJob(StreamSettings settings = {});
    ~StreamedJob();
    StreamedJob(const StreamedJob&) = delete;
    StreamedJob& operator=(const StreamedJob&) = delete;

    // The start of a band set of `bandCount` bands (2..10).
    void BeginBandSet(int bandCount);
    // Band b: the checks of Workspace::LoadBand, with the same texts. The band's file stays
    // open for the passes. A check of memory, when asked for, estimates what this treatment
    // needs, not the interactive one.
    Status LoadBand(int band, const std::string& path, BandFileType type, BandLoadOptions options);
    // Pass 1, once every band is loaded: the stretches the bands take from their own range,
    // then every band's gray range and histogram, all bands read together strip by strip.
    // Refused as Workspace::LoadBand refuses a band without data or a file that cannot be read.
    // SetSegmentation and FinishSegmentation run it when it has not run.
    Status ReadBands();
    ImageSize Size() const { return size_; }
    GrayRange Range(int band) const { return ranges_[band]; }

    // As Workspace::SetSegmentation.
    void SetSegmentation(int band, int type, int count, const std::vector<int32_t>& typedUpper);
    // As Workspace::FinishSegmentation: the code table (refused with the same texts), the code
    // list beside band 1's file, the segment colours. The code list is written by a thread of
    // its own while the bands are crossed; it is complete before any result file is.
    Status FinishSegmentation();
    const CodeTable& Table() const { return table_; }

    // Pass 2: the pixel count of every code, PixelCount[0..N] (entry 0: pixels without a code).
    Status CountCodes();
    const std::vector<int64_t>& PixelCount() const { return pixelCount_; }

    // As Workspace::FinishCrossing: the class colours and each code's class.
    Status FinishCrossing(std::vector<int32_t> selectedCodes);
    int ClassCount() const { return classCount_; }
    // The rule that chose the codes, told in the class GeoTIFF's metadata.
    void SetSelectionRule(const CodeSelection& rule) { selection_ = rule; }

    // Pass 3: the result as stem.bmp, stem.txt and stem.raw, and for bands that lie on the map
    // stem.tif (its legend stem.tif.aux.xml beside it), stem.csv and stem.qml, as
    // Workspace::SaveResult writes them (those of `files` only);
    // then, when `segmentedStem` is not empty and every result file was written, the last
    // band's segment numbers as Workspace::SaveSegmented writes them. A failure names every
    // file of its save that could not be written; nothing of a failed file is left.
    Status Save(const std::string& stem, const std::string& segmentedStem,
                ResultFiles files = {});
    // Where every band lies on the map; none when a band carries no georeference.
    std::optional<Georeference> Place() const;

  private:
    void FinishCodeList();
    // Runs work(worker, strip) for every strip, the strips shared among the threads, until one
    // is refused: then the refusal of the first strip refused. Throws std::bad_alloc when a
    // worker ran out of memory.
    Status ForEachStrip(int stripCount, const std::function<Status(int worker, int strip)>& work);
    // The same for strips begin..end - 1, read from their files or the line group.
    Status ForEachStripOf(int begin, int end,
                          const std::function<Status(int worker, int strip)>& work);
    // Reads a row of blocks of every band at a time (group_) when a band's file is stored in
    // rows of blocks taller than a strip; strips then divide such a row.
    void PlanLineGroups();
    // The stretches the bands take from their own range.
    Status ChooseStretches();

    StreamSettings settings_;
    int bandCount_ = 0;
    ImageSize size_;
    int stripLines_ = 1;
    int threads_ = 1;
    Workspace checks_;  // the loading rule: sizes of the bands opened so far
    std::vector<BandReader> readers_;
    std::vector<BandRecord> records_;
    std::vector<Histogram> histograms_;
    std::vector<GrayRange> ranges_;
    CodeTable table_;
    std::vector<CodeContribution> grayContributions_;  // 1..n, by gray level
    std::vector<SegmentLookup> lookups_;               // 1..n
    RandomBelow random_;
    ColourTable segmentColours_{};
    ColourTable classColours_{};
    std::vector<int64_t> pixelCount_;
    std::optional<int64_t> nodataPixels_;  // none when no band has a nodata value
    std::vector<int32_t> selectedCodes_;
    std::optional<CodeSelection> selection_;
    std::vector<uint8_t> classOf_;
    int classCount_ = 0;
    std::optional<Status> read_;  // the outcome of ReadBands; none before it ran
    std::unique_ptr<LineGroup> group_;
    std::thread codeListWriter_;
};

}  // namespace tessera
