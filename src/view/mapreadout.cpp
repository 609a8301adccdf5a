#include "view/mapreadout.h"

#include <cstdio>

#include "bands/gdalapi.h"
#include "bands/gdalsupport.h"

namespace tessera {

MapPoint PixelCentreOnMap(const std::array<double, 6>& t, int line, int column) {
    const double x = column + 0.5, y = line + 0.5;
    return {t[0] + x * t[1] + y * t[2], t[3] + x * t[4] + y * t[5]};
}

MapReadout::MapReadout(const Georeference& place) : place_(place) {
    if (place.coordinateSystem.empty()) return;
    // Without the GDAL module the system cannot be read: plain X and Y.
    const GdalApi* gdal = Gdal();
    if (gdal == nullptr) return;
    // GDAL's geotransform gives x then y in the traditional order: longitude first.
    if (void* system = gdal->readSystem(place.coordinateSystem.c_str(), 1)) {
        GdalSystemFacts facts;
        gdal->systemFacts(system, &facts);
        if (facts.geographic) {
            kind_ = Kind::Geographic;
        } else if (facts.projected) {
            kind_ = Kind::Projected;
        }
        gdal->freeSystem(system);
    }
}

std::string MapReadout::Text(int line, int column) const {
    const MapPoint point = PixelCentreOnMap(place_.transform, line, column);
    char text[128];
    switch (kind_) {
        case Kind::Geographic:
            std::snprintf(text, sizeof text, "Lon: %.6f  Lat: %.6f ", point.x, point.y);
            break;
        case Kind::Projected:
            std::snprintf(text, sizeof text, "E: %.2f  N: %.2f ", point.x, point.y);
            break;
        case Kind::Other:
            std::snprintf(text, sizeof text, "X: %.2f  Y: %.2f ", point.x, point.y);
            break;
    }
    return text;
}

}  // namespace tessera
