#pragma once
// Masks of a band set: quality or classification bands (a cloud mask, a scene classification)
// whose rule leaves pixels without data in every band, as nodata does.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandreader.h"
#include "bands/rasterband.h"
#include "support/status.h"

namespace tessera {

// Which values of a mask band mask a pixel.
struct MaskRule {
    enum class Kind { NonZero, Bits, Values };
    Kind kind = Kind::NonZero;
    uint64_t bits = 0;           // Bits: masked where any of these bits is set
    std::vector<double> values;  // Values: masked where the band holds one of these
    bool Masks(double value) const;
    // "where it is not 0", "where any of bits 1, 3 and 4 is set", "where it holds 3, 8 or 9".
    std::string Text() const;
};

// "1,3,4": the bits of a Bits rule, each 0..63; a refusal says why.
Result<MaskRule> BitsRule(const std::string& list);
// "3,8,9,10": the values of a Values rule (numbers); a refusal says why.
Result<MaskRule> ValuesRule(const std::string& list);

// The pixels the masks leave without data: a pixel is masked where any mask masks it. Each
// mask's band lies on the band set's grid (BringOntoGrid brings one of another grid).
// A mask as the result files tell it: its file and band (MaskName) and its rule
// (MaskRule::Text()).
struct MaskDescription {
    std::string name;
    std::string rule;
};

class PixelMask : public PixelExclusion {
  public:
    // `name` says which file and band it is, for the report.
    void Add(BandReader band, MaskRule rule, std::string name);
    bool Empty() const { return masks_.empty(); }
    // One line a mask, for the report: "FILE (raster band K), masked where ...".
    std::vector<std::string> Texts() const;
    std::vector<MaskDescription> Descriptions() const;
    Status Mark(int first, int count, int x0, int width, uint8_t* masked) const override;

  private:
    struct Mask {
        BandReader band;
        MaskRule rule;
        std::string name;
    };
    std::vector<Mask> masks_;
};

// How the report names a mask band: its file, and for a raster "(raster band K)" after it.
std::string MaskName(const std::string& path, BandFileType type, int rasterBand);

// Checks that a mask band opened as `mask` can mask bands of `size` lying at `place` (none:
// not on the map): the same coordinate system and grid; refused, naming the file and band.
Status CheckMaskPlace(const BandReader& mask, ImageSize size,
                      const std::optional<Georeference>& place);

}  // namespace tessera
