#include "bands/graytable.h"

#include <bit>

#include "bands/graylevels.h"
#include "bands/stretch.h"

namespace tessera {

GrayTable MakeGrayTable(KeptValues::Kind kind, const std::optional<Scaling>& scaling,
                        const GrayConversion& conversion) {
    const bool wide = kind == KeptValues::Kind::U16 || kind == KeptValues::Kind::I16;
    const bool isSigned = kind == KeptValues::Kind::I8 || kind == KeptValues::Kind::I16;
    const int entries = wide ? 65536 : 256;
    GrayTable table;
    table.lowest = isSigned ? -entries / 2 : 0;
    std::vector<double> values(static_cast<size_t>(entries));
    for (int i = 0; i < entries; ++i) values[static_cast<size_t>(i)] = table.lowest + i;
    if (scaling)
        for (double& value : values) value = PhysicalValue(value, *scaling);
    table.gray.resize(values.size());
    table.marks.resize(values.size());
    ValuesToGray(values.data(), values.size(), conversion, table.gray.data(), table.marks.data());
    return table;
}

GrayKey KeyOfGray(const std::optional<Scaling>& scaling, const GrayConversion& conversion) {
    const auto bits = [](double value) { return std::bit_cast<uint64_t>(value); };
    const std::optional<StretchRange>& stretch = conversion.stretch;
    const std::optional<double>& nodata = conversion.nodata;
    return {stretch.has_value(),
            stretch ? bits(stretch->minimum) : 0,
            stretch ? bits(stretch->maximum) : 0,
            nodata.has_value(),
            nodata ? bits(*nodata) : 0,
            scaling.has_value(),
            scaling ? bits(scaling->scale) : 0,
            scaling ? bits(scaling->offset) : 0};
}

std::shared_ptr<const GrayTable> GrayTableCache::Get(KeptValues::Kind kind,
                                                     const std::optional<Scaling>& scaling,
                                                     const GrayConversion& conversion) const {
    GrayKey key = KeyOfGray(scaling, conversion);
    const std::lock_guard<std::mutex> lock(lock_);
    if (table_ && madeFor_ == key) return table_;
    table_ = std::make_shared<const GrayTable>(MakeGrayTable(kind, scaling, conversion));
    madeFor_ = key;
    return table_;
}

}  // namespace tessera
