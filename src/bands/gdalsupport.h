#pragma once
// What every part of the program that calls GDAL shares.

#include <cstdint>

namespace tessera {

// GDAL's own error printing would add lines to the program's one-line refusals: its errors
// are kept (CPLGetLastErrorMsg) but not printed while this lives, in this thread.
class QuietGdalErrors {
  public:
    QuietGdalErrors();
    ~QuietGdalErrors();
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;
};

// Registers GDAL's drivers, once per process.
void RegisterGdalDrivers();

// Bounds GDAL's block cache, which GDAL otherwise lets grow to a share of the machine's memory:
// `bytes`, at least `floor`. The cache is the process's, shared by every open raster.
void BoundRasterCache(int64_t bytes, int64_t floor = int64_t{16} << 20);

}  // namespace tessera
