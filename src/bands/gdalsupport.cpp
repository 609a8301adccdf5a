#include "bands/gdalsupport.h"

#include <cpl_error.h>
#include <gdal.h>

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

}  // namespace tessera
