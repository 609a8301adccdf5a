// tessera-batch: the whole job of the program without a window.
#include <cstdio>
#include <string>
#include <vector>

#include "bands/gdalsupport.h"
#include "batch/batchjob.h"
#include "batch/batchoptions.h"
#include "support/temporaries.h"

int main(int argc, char** argv) {
    // Ctrl-C or a kill while files are written leaves no temporary file behind, and every
    // result file not yet put in place as it was; the tool then ends with 130 (SIGINT) or 143
    // (SIGTERM).
    tessera::RemoveTemporariesOnInterrupt();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const tessera::Result<tessera::batch::Options> options =
        tessera::batch::ParseOptions(arguments);
    if (!options) {
        return tessera::batch::Fail(tessera::batch::kUsage, options.message);
    }
    if (options.value->help) {
        std::fputs(tessera::batch::UsageText(), stdout);
        return tessera::batch::kDone;
    }
    if (options.value->describe) {
        std::fputs(tessera::batch::DescriptionJson().c_str(), stdout);
        return tessera::batch::kDone;
    }
    const int status = tessera::batch::RunJob(*options.value);
    tessera::EndGdal();
    return status;
}
