#pragma once
// How far a long operation has come, and a way for its caller to stop it.
#include <cstdint>

namespace tessera {

class Progress {
  public:
    virtual ~Progress() = default;
    // Called at known points of an operation: `stage` says what is being done ("Counting
    // codes"), `done` of `total` units of it. A false answer cancels the operation, which then
    // leaves everything as it was and says so by its result (`cancelled`).
    virtual bool Step(const char* stage, int64_t done, int64_t total) = 0;
};

// Nobody watching: every step goes on.
Progress& NoProgress();

// The stages the operations report.
inline constexpr const char* kStageLoading = "Loading band";
inline constexpr const char* kStageRange = "Finding the band's minimum and maximum";
inline constexpr const char* kStageNumbering = "Numbering segments";
inline constexpr const char* kStageCounting = "Counting codes";
inline constexpr const char* kStagePainting = "Painting classes";
inline constexpr const char* kStageSaving = "Saving result";
// The stages of a save after its strips: the class GeoTIFF's overviews and its cloud-optimised
// copy, then the class table and the legend files.
inline constexpr const char* kStageOverviews = "Computing the GeoTIFF's overviews";
inline constexpr const char* kStageGeoTiffCopy = "Writing the cloud-optimised GeoTIFF";
inline constexpr const char* kStageLegend = "Writing the class table and the legend";

}  // namespace tessera
