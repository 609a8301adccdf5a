#pragma once
// The gray level and mark of every value a band of whole numbers of at most 16 bits can store,
// worked out once: values kept in such a type then become gray levels by looking them up.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "bands/bandfacts.h"
#include "bands/keptvalues.h"

namespace tessera {

struct GrayConversion;

// Entry i holds what value lowest + i becomes.
struct GrayTable {
    int lowest = 0;
    std::vector<uint8_t> gray, marks;
};

// The table of a band whose values are kept as `kind` (65,536 entries for 16 bits, else 256),
// its values physical with `scaling`, brought to gray levels and marks by `conversion` as
// ValuesToGray brings them.
GrayTable MakeGrayTable(KeptValues::Kind kind, const std::optional<Scaling>& scaling,
                        const GrayConversion& conversion);

// What tells how values of a band become gray levels: its scaling, stretch and nodata value.
GrayKey KeyOfGray(const std::optional<Scaling>& scaling, const GrayConversion& conversion);

// The table one band's reads share, made again when the stretch, the nodata value or the scaling
// it was made for changes. Safe to call from several threads at once.
class GrayTableCache {
  public:
    std::shared_ptr<const GrayTable> Get(KeptValues::Kind kind,
                                         const std::optional<Scaling>& scaling,
                                         const GrayConversion& conversion) const;

  private:
    mutable std::mutex lock_;
    mutable GrayKey madeFor_{};
    mutable std::shared_ptr<const GrayTable> table_;
};

}  // namespace tessera
