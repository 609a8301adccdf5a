#include "bands/ui/typehint.h"

namespace tessera {

std::string TypeListHint(const std::string& chosenEntry, const std::string& rawEntry) {
    return "\nThe file type list of the dialog decides how a file is read: it says " + chosenEntry +
           ". Choose " + rawEntry + " there to read a raw image.";
}

std::string RasterTypeHint(const std::string& refusal, const std::string& chosenEntry,
                           const std::string& rawEntry) {
    // GDAL's words for a file no driver takes ("not recognized as a supported file format",
    // "as being in a supported file format" in later versions).
    if (refusal.find("not recognized as") == std::string::npos) return {};
    return TypeListHint(chosenEntry, rawEntry);
}

}  // namespace tessera
