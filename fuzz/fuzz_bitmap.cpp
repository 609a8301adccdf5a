// The bitmap reader and the bitmap band rule on arbitrary bytes; a bitmap that is read must
// survive a write and a second read unchanged.
#include <cstdlib>

#include "bands/bandfiles.h"
#include "fuzzfiles.h"
#include "image/bitmapfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzing::WriteScratch("input.bmp", data, size);
    tessera::Result<tessera::BitmapData> bitmap = tessera::ReadBitmapFile(path);
    tessera::LoadBitmapBand(path);
    if (!bitmap) return 0;
    const tessera::BitmapData& read = *bitmap.value;
    const tessera::ImageKind kind =
        read.bytesPerPixel == 3 ? tessera::ColourKind : tessera::PaletteKind;
    const std::string copy = fuzzing::ScratchFolder() + "/copy.bmp";
    if (tessera::WriteBitmapFile(copy, read.rows, read.width, read.height, kind,
                                 tessera::GrayRamp()) != 0) {
        return 0;
    }
    tessera::Result<tessera::BitmapData> again = tessera::ReadBitmapFile(copy);
    if (!again || !(again.value->rows == read.rows)) std::abort();
    return 0;
}
