#pragma once
// One grid for the bands of a set: bands of one coordinate system whose grids differ (in
// resolution or origin) are brought onto the grid of one of them by nearest neighbour, and a
// region of the scene is cut from every band, as gdalwarp and gdal_translate would make them.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandfacts.h"
#include "bands/rasterband.h"
#include "image/rawfiles.h"
#include "support/status.h"

namespace tessera {

// The region and grid the user chose.
struct GridChoice {
    // In the bands' map coordinates XMIN,YMIN,XMAX,YMAX (as gdal_translate -projwin takes them
    // in another order), or in pixels LINE,COLUMN,LINES,COLUMNS counted from 0 (as -srcwin in
    // another order); at most one of them.
    std::optional<std::array<double, 4>> window;
    std::optional<std::array<int64_t, 4>> windowPixels;
    int gridBand = 0;  // the band whose grid the others are brought onto; 0: the finest
};

// What is known of a band before it is read.
struct BandFacts {
    std::string path;
    int rasterBand = 0;  // 0: a raw image or a bitmap
    ImageSize size;
    std::optional<Georeference> place;
};

// The grid of the band set and how each band is read onto it.
struct GridPlan {
    bool active = false;  // false: every band is read as it is
    int gridBand = 0;
    ImageSize size;
    std::optional<Georeference> place;
    std::vector<std::optional<RasterView>> views;  // per band 0..n-1
    // How a band (or a mask) of these facts is read onto the grid; none: as it is.
    std::optional<RasterView> ViewOf(const BandFacts& band) const;
    std::optional<RasterView> gridView;      // the grid band's own (the window cut from it)
    std::optional<Georeference> gridOwnPlace;  // the grid band's place before the window
};

// The plan that brings bands onto the grid of a band of this size and place (a band already
// accepted): none for a band that lies on no map.
GridPlan PlanOntoGrid(ImageSize size, const std::optional<Georeference>& place);
// A band of this place can be brought onto that grid: both lie on the map in one coordinate
// system, on grids that differ, and neither grid is rotated.
bool CanBringOntoGrid(const std::optional<Georeference>& band,
                      const std::optional<Georeference>& grid);

// The facts of a band's file: its size and place, read without a pixel.
Result<BandFacts> FactsOf(const std::string& path, int rasterBand);

// The plan for bands `bands` (in order) and the choice: refused, naming the file and band,
// for a window outside the scene or empty, a grid band that does not exist or lies on no map.
// Bands in other coordinate systems are left as they are (the loading rule refuses them).
Result<GridPlan> PlanGrid(const std::vector<BandFacts>& bands, const GridChoice& choice);

}  // namespace tessera
