#include "view/mapreadout.h"

#include <ogr_srs_api.h>

#include <cstdio>

namespace tessera {

MapPoint PixelCentreOnMap(const std::array<double, 6>& t, int line, int column) {
    const double x = column + 0.5, y = line + 0.5;
    return {t[0] + x * t[1] + y * t[2], t[3] + x * t[4] + y * t[5]};
}

MapReadout::MapReadout(const Georeference& place) : place_(place) {
    if (place.coordinateSystem.empty()) return;
    OGRSpatialReferenceH system = OSRNewSpatialReference(nullptr);
    // GDAL's geotransform gives x then y in the traditional order: longitude first.
    if (OSRSetFromUserInput(system, place.coordinateSystem.c_str()) == OGRERR_NONE) {
        if (OSRIsGeographic(system)) {
            kind_ = Kind::Geographic;
        } else if (OSRIsProjected(system)) {
            kind_ = Kind::Projected;
        }
    }
    OSRDestroySpatialReference(system);
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
