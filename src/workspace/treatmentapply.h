#pragma once
// A saved treatment applied to another band set of as many bands, the one way the window, the
// job and Python apply one. Nothing is computed from the new bands' own values: the stretches
// and gray limits are the saved ones, a code keeps its class number and colour, and no colour
// is drawn, so that the class files of two scenes compare byte for byte.
#include <string>

#include "bands/bandset.h"
#include "segmentation/bandrecord.h"
#include "support/status.h"
#include "workspace/passes.h"
#include "workspace/treatmentfile.h"

namespace tessera {

// Refuses a band set of another band count than the treatment's.
Status CheckTreatmentBandCount(const SavedTreatment& saved, const std::string& path, int bandCount);
// Refuses band b (of `file`, data type `dataType`) where the saved stretch would not apply:
// a band of 8 bits where the treatment stretches one of more, or the other way round.
Status CheckTreatmentBand(const SavedTreatment& saved, const std::string& path, int band,
                          const std::string& file, const std::string& dataType);

// Takes the saved methods, counts and gray limits into the records of a band set read
// (GatherStatistics done): nothing is computed from its histograms.
void TakeSavedSegmentation(Treatment& treatment, const SavedTreatment& saved);
// The same into records 1..bandCount.
void TakeSavedSegmentation(BandRecord* records, int bandCount, const SavedTreatment& saved);
// A band loaded again for a saved treatment takes its stretch, scale and nodata value, whatever
// its own, and no percentiles.
void TakeSavedLoading(BandLoadOptions& options, const SavedBand& kept);
// After the count: the saved classes (a code keeps its class number) and colours, and the
// selection rule, without a draw; the report then names `path` and counts the pixels of codes
// in no class. Refused when the treatment's code table is not the one segmented.
Status TakeSavedClasses(Treatment& treatment, const SavedTreatment& saved, const std::string& path);

}  // namespace tessera
