// tessera-bench-rasterload: times the interactive program's loading of raster bands, through the
// function its open command calls (Workspace::LoadBand, the raster question answered as
// proposed), band by band.
//
//   tessera-bench-rasterload BAND.tif ...
//
// Run it under /usr/bin/time for the peak memory, alternating with another build to compare.
#include <chrono>
#include <cstdio>

#include "workspace/workspace.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tessera-bench-rasterload BAND.tif ...\n");
        return 2;
    }
    tessera::Workspace ws;
    ws.BeginBandSet(argc - 1);
    for (int b = 1; b < argc; ++b) {
        tessera::BandLoadOptions options;
        options.askRaster = [](const tessera::BandLoadOptions::RasterQuestion& proposed) {
            return std::optional<tessera::BandLoadOptions::RasterQuestion>(proposed);
        };
        const auto start = std::chrono::steady_clock::now();
        const tessera::Status loaded =
            ws.LoadBand(b, argv[b], tessera::BandFileType::Raster, options);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("band %d: %.3f s%s%s\n", b, took.count(), loaded ? "" : ": ",
                    loaded ? "" : loaded.message.c_str());
        if (!loaded) return 1;
    }
    return 0;
}
