#pragma once
// What every part of the program that calls GDAL shares.

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

}  // namespace tessera
