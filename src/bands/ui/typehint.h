#pragma once
// What a refusal adds for a file read as the open dialog's file type list said, when the file
// is perhaps a raw image: how to read it as one instead.
#include <string>

namespace tessera {

// "\nThe file type list of the dialog decides how a file is read: it says CHOSEN. Choose RAW
// there to read a raw image.", of the list's entries `chosenEntry` and `rawEntry`.
std::string TypeListHint(const std::string& chosenEntry, const std::string& rawEntry);

// The hint a refusal of a file that GDAL recognises as no raster format takes, for a file read
// as a raster because the list said `chosenEntry` ("GeoTIFF"). Empty for any other refusal.
std::string RasterTypeHint(const std::string& refusal, const std::string& chosenEntry,
                           const std::string& rawEntry);

}  // namespace tessera
