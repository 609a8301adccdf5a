#pragma once
// The pointer read-out on the map: where the centre of the pixel under the pointer lies in the
// bands' coordinate system, for the status bar of the image windows.
#include <array>
#include <string>

#include "segmentation/bandrecord.h"

namespace tessera {

struct MapPoint {
    double x = 0;
    double y = 0;
};

// The centre of pixel (line, column) through GDAL's geotransform: x = t0 + (column + 0.5) t1
// + (line + 0.5) t2, y = t3 + (column + 0.5) t4 + (line + 0.5) t5.
MapPoint PixelCentreOnMap(const std::array<double, 6>& transform, int line, int column);

// A place's read-out, its coordinate system looked at once:
// - geographic: "Lon: 2.350625  Lat: 48.859500 " (degrees, six decimals);
// - projected: "E: 448035.00  N: 5411955.00 " (the system's unit, two decimals);
// - none or another kind: "X: 448035.00  Y: 5411955.00 ".
class MapReadout {
  public:
    explicit MapReadout(const Georeference& place);
    const Georeference& Place() const { return place_; }
    std::string Text(int line, int column) const;

  private:
    enum class Kind { Geographic, Projected, Other };
    Georeference place_;
    Kind kind_ = Kind::Other;
};

}  // namespace tessera
