#include "bands/gdalsupport.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>

#include <algorithm>
#include <mutex>

namespace tessera {

QuietGdalErrors::QuietGdalErrors() {
    CPLPushErrorHandler(CPLQuietErrorHandler);
}

QuietGdalErrors::~QuietGdalErrors() {
    CPLPopErrorHandler();
}

void RegisterGdalDrivers() {
    static std::once_flag registered;
    std::call_once(registered, [] { GDALAllRegister(); });
}

void BoundRasterCache(int64_t bytes, int64_t floor) {
    // A cache the user sets through GDAL's own setting is the user's choice.
    if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) != nullptr) return;
    GDALSetCacheMax64(std::max(bytes, floor));
}

}  // namespace tessera
