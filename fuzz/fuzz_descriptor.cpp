// The descriptor reader on arbitrary text, and a raw band of the size it gives (when small).
#include "bands/bandfiles.h"
#include "fuzzfiles.h"
#include "image/rawfiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzing::WriteScratch("band.txt", data, size);
    const tessera::DescriptorRead descriptor = tessera::ReadDescriptor(path);
    if (descriptor.outcome != tessera::DescriptorRead::Read) return 0;
    if (!tessera::CheckImageSize(descriptor.size)) return 0;
    if (int64_t{descriptor.size.lines} * descriptor.size.columns > (1 << 16)) return 0;
    const std::string raw = fuzzing::WriteScratch("band.raw", data, size);
    tessera::LoadRawBand(raw, descriptor.size);
    return 0;
}
