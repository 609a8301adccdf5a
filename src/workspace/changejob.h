#pragma once
// The change between two class maps of one grid, streamed strip by strip in bounded memory:
// a first pass counts the pixels of every pair of classes, a second writes the change map and
// gathers the areas. The files (STEM.csv, STEM.tif with STEM.tif.aux.xml and STEM.qml,
// STEM.txt) are staged beside their targets and put in place together.
#include <memory>
#include <optional>
#include <string>

#include "bands/bandreader.h"
#include "crossing/changemap.h"
#include "support/status.h"

namespace tessera {

class ChangeJob {
  public:
    // Both maps opened and compared: refused, with the sentence that says why, when one cannot
    // be read as a raster, when either carries no georeference, or when their grids differ.
    Status Open(const std::string& from, const std::string& to);
    // The pairs of classes that occur (refused beyond 254 pairs, or when a read fails).
    Status Count();
    const ChangeTable& Table() const { return table_; }
    // The files; a failure names every file that could not be written, and none is left.
    Status Save(const std::string& stem);

  private:
    // Strips of both maps, 255 where a pixel has no class: `visit(first, count, from, to)`;
    // of 16-bit maps, 16-bit classes and 65535.
    template <class Visit>
    Status ForEachStrip(const Visit& visit) const;
    template <class Visit>
    Status ForEachWideStrip(const Visit& visit) const;
    template <class Visit>
    Status ForEachClassStrip(const Visit& visit) const {
        return wide_ ? ForEachWideStrip(visit) : ForEachStrip(visit);
    }

    std::string fromPath_, toPath_;
    BandReader from_, to_;
    ImageSize size_;
    Georeference place_;
    ChangeTable table_;
    bool wide_ = false;  // 16-bit class maps
};

}  // namespace tessera
