// The treatment reader on arbitrary text: refused with a sentence, or read and written again
// the same way twice.
#include <cstdlib>
#include <string>

#include "workspace/treatmentfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const tessera::Result<tessera::SavedTreatment> read = tessera::ParseTreatment(text, "t.json");
    if (!read) {
        if (read.message.empty()) std::abort();
        return 0;
    }
    const std::string written = tessera::TreatmentJson(*read.value);
    const tessera::Result<tessera::SavedTreatment> again =
        tessera::ParseTreatment(written, "t.json");
    if (!again || tessera::TreatmentJson(*again.value) != written) std::abort();
    return 0;
}
