#pragma once
// What every part of the program that calls GDAL shares: the GDAL module, loaded on first use,
// and GDAL's error printing and block cache.
//
// GDAL, OGR and PROJ are called only from the GDAL module, libtessera_gdal.so (bands/gdal/),
// through the table of bands/gdalapi.h. The module is opened with dlopen the first time a
// raster band is opened, a map file written, a coordinate system read or an area measured on
// an ellipsoid, never before: a job on raw files and bitmaps does not load GDAL. It is looked
// for (support/sharedmodule.h):
//  - at the path in TESSERA_GDAL_MODULE, when that is set (and nowhere else);
//  - beside the shared object that holds the core, when the core is not in the program (the
//    Python module's, installed in its package);
//  - beside the program, then in <program's folder>/../lib/tessera/ where it is installed;
//  - where the build put it (the build tree);
//  - by its name alone, through the dynamic loader's search path.
// When it cannot be loaded, what needs GDAL is refused with GdalUnavailable()'s words.

#include <cstdint>
#include <string>

namespace tessera {

struct GdalApi;

// The module's file name.
inline constexpr const char* kGdalModuleFile = "libtessera_gdal.so";

// The GDAL module's table, loaded on the first call (once per process, whatever the threads);
// null when it cannot be loaded.
const GdalApi* Gdal();
// Whether the module has been loaded; never loads it.
bool GdalLoaded();
// Ends GDAL in a program that uses it no more, every dataset closed: its drivers, caches and
// the threads it started (those that compress the tiles of the class GeoTIFF), so that none of
// them is still running while the program exits. Nothing when the module was never loaded.
void EndGdal();
// Why it could not be loaded: "GDAL's module libtessera_gdal.so cannot be loaded (WHY)", WHY
// in dlerror()'s words; empty when it is loaded.
std::string GdalUnavailable();

// GDAL's own error printing would add lines to the program's one-line refusals: its errors
// are kept (CPLGetLastErrorMsg) but not printed while this lives, in this thread. Nothing
// while the module is not loaded.
class QuietGdalErrors {
  public:
    QuietGdalErrors();
    ~QuietGdalErrors();
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;

  private:
    const GdalApi* gdal_;
};

// Registers GDAL's drivers, once per process (loading the module).
void RegisterGdalDrivers();

// Bounds GDAL's block cache, which GDAL otherwise lets grow to a share of the machine's memory:
// `bytes`, at least `floor`. The cache is the process's, shared by every open raster. Before
// the module is loaded the bound is kept, and set when it is.
void BoundRasterCache(int64_t bytes, int64_t floor = int64_t{16} << 20);

}  // namespace tessera
