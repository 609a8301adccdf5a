#pragma once
// The files of a save, written the same way by both front ends: the class raster as STEM.bmp
// and STEM.raw, the report STEM.txt, and for bands on the map STEM.tif with its legend, the
// class table STEM.csv and the style STEM.qml; the segment numbers of a band as STEM.bmp,
// STEM.txt and STEM.raw. Each file goes to a temporary name beside its target (the target's
// mode kept, removed on an interrupt) as its lines come, a strip at a time in any order, and
// all are put in place together at the end; a cancelled or failed save leaves nothing of its
// files and the earlier files of those names as they were. A file that cannot be written is
// named in the "CAUTION" text; the others are still saved.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crossing/mapareas.h"
#include "crossing/mapresult.h"
#include "image/bitmapfile.h"
#include "support/progress.h"
#include "support/safefile.h"
#include "support/status.h"
#include "workspace/passes.h"

namespace tessera {

// One "CAUTION" text for every file of a save that could not be written (the earlier files are
// then kept, and none of the save's is left); Ok when none failed.
Status CollectedSaveStatus(const std::vector<std::string>& failedFiles);

// The files of a result to write (the batch tool's --format); the map files only ever for bands
// that lie on the map.
struct ResultFiles {
    bool bitmap = true, report = true, raw = true, geotiff = true, table = true;
    bool style = true;  // STEM.qml (the GeoTIFF's legend, STEM.tif.aux.xml, goes with it)
    bool codes = false;  // STEM_codes.txt: the code list (every code and its digits)
};

// The name of the code list of a result: STEM + "_codes.txt".
inline constexpr const char* kCodeListSuffix = "_codes.txt";

// A raster of one byte a pixel written strip by strip as STEM.bmp (bottom line first, lines
// padded to whole words, the colour table as palette) and STEM.raw (top line first). A raster
// of 16-bit values (`wide`) has only its raw image, two bytes a pixel, little-endian.
class RasterPair {
  public:
    RasterPair(const std::string& stem, ImageSize size, const ColourTable& colours, bool bitmap,
               bool raw, bool wide = false);
    // Lines first..first + count - 1, one after another (`columns` values each); thread-safe.
    void Write(int first, int count, const uint8_t* lines);
    // Syncs both files; several pairs may sync at once.
    void Sync();
    // Adds the bitmap to the files put in place together (as failed when it could not be
    // written).
    void AddBitmap(FileSet& set);
    void AddRaw(FileSet& set);

  private:
    std::string stem_;
    ImageSize size_;
    bool bitmap_, raw_, wide_, bitmapFits_;
    StagedFile bitmapFile_, rawFile_;
    std::vector<uint8_t> padding_;
};

// The result of a crossing: the classes come strip by strip (ClassifyStrips), then Finish
// writes the report and the map's side files and puts everything in place.
class ResultWriter {
  public:
    // `program` is named in the GeoTIFF's metadata; `workers` threads may write at once.
    ResultWriter(const std::string& stem, ImageSize size, const Treatment& treatment,
                 ResultFiles files, const std::string& program, int workers);
    ~ResultWriter();
    ResultWriter(const ResultWriter&) = delete;
    ResultWriter& operator=(const ResultWriter&) = delete;

    // Strip `index` of the classes, lines first..first + count - 1: any order, from any
    // worker; the GeoTIFF takes the strips in their order (a strip waits for those before it).
    void Write(int worker, int index, int first, int count, const uint8_t* classes);
    // A strip that will not come (its pass failed): nothing waits for it.
    void Abandon();
    // Syncs the rasters (with `others`, at once), writes the report, the map's side files and
    // the code list, ends the GeoTIFF, and adds them to `set` in order: bmp, txt, raw, tif, csv,
    // tif.aux.xml, qml, _codes.txt (each that could not be written as failed). `progress` is
    // told of the GeoTIFF's overviews and copy and of the legend, and may cancel each.
    Status Stage(FileSet& set, std::vector<RasterPair*> others = {},
                 Progress& progress = NoProgress());
    // Stage, then every file put in place together, or none.
    Status Finish(std::vector<RasterPair*> others = {}, Progress& progress = NoProgress());

  private:
    struct Map;
    std::string stem_;
    ImageSize size_;
    const Treatment& treatment_;
    ResultFiles files_;
    RasterPair rasters_;
    std::unique_ptr<Map> map_;
    std::unique_ptr<StagedFile> report_, codes_;
    bool reportWritten_ = false, codesWritten_ = false;
};

// The segment numbers of a band as STEM.bmp (segment colours), STEM.txt (long descriptor),
// STEM.raw.
class SegmentedWriter {
  public:
    SegmentedWriter(const std::string& stem, ImageSize size, const ColourTable& colours);
    void Write(int first, int count, const uint8_t* numbers) { rasters_.Write(first, count, numbers); }
    RasterPair& Rasters() { return rasters_; }
    // Adds the files to `set` (bmp, txt, raw), each that could not be written as failed.
    void Stage(FileSet& set);
    Status Finish(Progress& progress = NoProgress());

  private:
    std::string stem_;
    ImageSize size_;
    RasterPair rasters_;
    StagedFile descriptor_;
    bool descriptorWritten_ = false;
};

// The whole class raster of an interactive crossing saved at once, as the batch tool saves
// its strips; `progress` is told at each step (the strips, kStageSaving; then the GeoTIFF's
// overviews and copy and the legend) and may cancel the save in any of them.
Status SaveClasses(const std::string& stem, const Treatment& treatment, ImageSize size,
                   const uint8_t* classes, const std::string& program, Progress& progress);
// The same for a band's segment numbers.
Status SaveSegmentNumbers(const std::string& stem, ImageSize size, const uint8_t* numbers,
                          const ColourTable& colours, Progress& progress);

}  // namespace tessera
