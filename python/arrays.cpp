// tessera._core's functions over numpy blocks and its Plan: the pure passes of the treatment,
// the GIL released while the core computes.
#include "plan.h"

namespace tessera::python {

void BindArrays(py::module_& m) {
    m.def(
        "value_type", [](const py::dtype& dtype) { return ValueTypeName(TypeOf(dtype)); },
        "GDAL's name of the type of a band held in this dtype; ValueError for a dtype no band "
        "takes.");
    m.def(
        "gray_levels",
        [](const py::array& block, std::optional<double> nodata, Stretch stretch) {
            const ArrayBand band = MakeArrayBand(TypeOf(block.dtype()), nodata, StretchOf(stretch));
            if (band.Stretched() && !band.stretch)
                RaiseValue("a band of " + std::string(ValueTypeName(band.type)) +
                           " values needs its stretch (MIN, MAX)");
            const ImageSize size = BlockSize(block);
            py::array_t<uint8_t> gray = Plane(size), marks = Plane(size);
            const ValueBlock values{block.data()};
            uint8_t* g = gray.mutable_data();
            uint8_t* k = marks.mutable_data();
            {
                py::gil_scoped_release release;
                BlockToGray(band, values, Cells(size), g, k);
            }
            return py::make_tuple(gray, marks);
        },
        py::arg("block"), py::arg("nodata") = py::none(), py::arg("stretch") = py::none());
    m.def(
        "own_stretch",
        [](const std::string& name, int rasterBand, double low, double high,
           std::optional<double> nodata, const std::string& type, Stretch scaling) {
            const ArrayBand band = BandOf({type, nodata, std::nullopt, scaling, std::nullopt});
            const StretchRange range =
                Take(OwnStretch(name, std::max(rasterBand, 1), low, high, band.nodata,
                                band.Floating(), type, band.scaling));
            return std::pair{range.minimum, range.maximum};
        },
        "The stretch of a band from its own range over its pixels with data; ValueError, with "
        "the batch tool's text, for a band without data or of one value.",
        py::arg("name"), py::arg("raster_band"), py::arg("low"), py::arg("high"),
        py::arg("nodata"), py::arg("type"), py::arg("scaling") = py::none());
    // The percentile search of a band held in blocks: a finder, its ranks once the first pass
    // has counted every block, then the stretch; each refused as the batch tool refuses it.
    m.def("new_percentile_finder", [](const std::string& type, Stretch scaling,
                                      std::pair<double, double> percentiles) {
        return ArrayOf(NewPercentileFinder(PercentileBandOf(type, scaling, percentiles)).Numbers());
    });
    m.def("rank_percentiles", [](const std::string& name, int rasterBand,
                                 const BandDescription& description,
                                 std::pair<double, double> percentiles,
                                 const Int64Array& numbers) {
        RankFinder finder = FinderOf(numbers);
        const ArrayBand band = BandOf(description);
        if (!RankPercentiles(
                PercentileBandOf(std::get<0>(description), std::get<3>(description), percentiles),
                finder))
            RaiseRefusal(job::Refusal::Input,
                         RasterRefusal(name, std::max(rasterBand, 1),
                                       AllNodataReason(band.nodata, band.Floating())));
        return ArrayOf(finder.Numbers());
    });
    m.def("percentile_stretch", [](const std::string& name, int rasterBand, const std::string& type,
                                   Stretch scaling, std::pair<double, double> percentiles,
                                   const Int64Array& numbers) {
        Result<StretchRange> found = PercentileStretchFound(
            PercentileBandOf(type, scaling, percentiles), FinderOf(numbers));
        if (!found)
            RaiseRefusal(job::Refusal::Input,
                         job::InWordsOf(job::Speaker::Python,
                                        RasterRefusal(name, std::max(rasterBand, 1), found.message)));
        return std::pair{found.value->minimum, found.value->maximum};
    });
    m.def("parse_percentiles", [](const std::string& text) -> std::optional<std::pair<double, double>> {
        const std::optional<Result<PercentileRange>> parsed = ParsePercentiles(text);
        if (!parsed) return std::nullopt;
        const PercentileRange range = Take(*parsed);
        return std::pair{range.low, range.high};
    }, "The two percentiles of a stretch such as \"2%,98%\" (none for a text of no percentiles).");
    m.def("mask_text", [](const MaskGiven& mask, const std::string& name) {
        return name + ", " + MaskOf(mask).rule.Text();
    }, "A mask's line of the report: its name and its rule.");
    m.def("check_stretch",
          [](const std::string& name, int rasterBand, double minimum, double maximum) {
              Check(CheckStretch(name, std::max(rasterBand, 1), StretchRange{minimum, maximum}));
          });
    m.def(
        "limits",
        [](const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& histogram,
           int method, int segments, const std::vector<int32_t>& typed) {
            CheckMethod(method);
            Check(CheckSegmentCount(segments));
            const Histogram counts = HistogramOf(histogram);
            BandRecord record;
            tessera::SetBandSegmentation(record, counts, RangeOfHistogram(counts), method, segments,
                                         typed);
            const auto [type, count, lower, upper] = SegmentationOf(record);
            return py::make_tuple(ArrayOf(lower), ArrayOf(upper));
        },
        py::arg("histogram"), py::arg("method"), py::arg("segments"),
        py::arg("typed") = std::vector<int32_t>{});
    m.def("select_codes",
          [](const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& counts,
             bool keepAll, int64_t minimum) {
              return ArrayOf(
                  SelectedOf(std::vector<int64_t>(counts.data(), counts.data() + counts.size()),
                             keepAll, minimum));
          });
    m.def("size_mismatch_text", [](int band, std::pair<int, int> size, std::pair<int, int> first) {
        return ArraySizeMismatchText(band, ImageSize{size.first, size.second},
                                     ImageSize{first.first, first.second});
    });
    m.def("block_mismatch_text", &BlockMismatchText);
    m.def("colour_tables", [] {
        RandomBelow random;
        const ColourTable segments = BuildSegmentColourTable(random);
        const ColourTable classes = BuildClassColourTable(random);
        return py::make_tuple(ColourArray(segments), ColourArray(classes));
    });
    m.def("code_list", [](const std::vector<int32_t>& segmentCounts) {
        std::vector<int32_t> counts{0};
        counts.insert(counts.end(), segmentCounts.begin(), segmentCounts.end());
        return MultiTabText(Take(BuildCodeTable(counts)));
    });
    m.def("code_table_lines",
          [](const std::vector<int32_t>& segmentCounts,
             const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& counts) {
              std::vector<int32_t> segments{0};
              segments.insert(segments.end(), segmentCounts.begin(), segmentCounts.end());
              const CodeTable table = Take(BuildCodeTable(segments));
              std::vector<int64_t> pixels(counts.data(), counts.data() + counts.size());
              if (pixels.size() != static_cast<size_t>(table.CodeCount) + 1)
                  RaiseValue("give the pixels of every code 0.." + std::to_string(table.CodeCount));
              return CodeTableLines(table, pixels);
          });
    m.def(
        "area_parts",
        [](const py::array& classes, int firstLine, int lines, int columns,
           const std::vector<double>& transform, const std::string& system) {
            const ImageSize block = BlockSize(classes);
            const ValueType type = TypeOf(classes.dtype());
            if (type != ValueType::Byte && type != ValueType::UInt16)
                RaiseValue("classes are bytes, or 16-bit beyond 250 classes");
            const std::optional<Georeference> place = PlaceOf(transform, system);
            std::vector<uint64_t> parts;
            {
                py::gil_scoped_release release;
                const CellAreas cells(ImageSize{lines, columns}, *place);
                ClassAreas areas(cells);
                for (int y = 0; y < block.lines; ++y) {
                    const size_t at = static_cast<size_t>(y) * block.columns;
                    if (type == ValueType::Byte)
                        areas.AddLine(firstLine + y, static_cast<const uint8_t*>(classes.data()) + at,
                                      block.columns);
                    else
                        areas.AddLine(firstLine + y, static_cast<const uint16_t*>(classes.data()) + at,
                                      block.columns);
                }
                parts = areas.Parts();
            }
            return ArrayOf(parts);
        },
        "ClassAreas of the lines of a block of the class raster, as words to add up (512 of "
        "byte classes, 131072 of 16-bit ones).");
    m.def("add_area_parts",
          [](const py::array_t<uint64_t, py::array::c_style | py::array::forcecast>& a,
             const py::array_t<uint64_t, py::array::c_style | py::array::forcecast>& b) {
              return ArrayOf(ClassAreas::SumOfParts(AreaWords(a), AreaWords(b)));
          });
    m.attr("MAXIMUM_CLASSES") = kMaximumClassCount;
    m.attr("MAXIMUM_BANDS") = kMaximumJobBands;
    m.attr("NO_CLASS") = NoClass;
    m.attr("NO_WIDE_CLASS") = NoWideClass;
    m.attr("NO_SEGMENT") = NoSegment;

    py::class_<PyPlan>(m, "Plan")
        .def(
            py::init<std::vector<BandDescription>, std::vector<Segmenting>, std::vector<uint64_t>,
                     std::vector<MaskGiven>>(),
            py::arg("bands"), py::arg("segmentations") = std::vector<Segmenting>{},
            py::arg("selected") = std::vector<uint64_t>{},
            py::arg("masks") = std::vector<MaskGiven>{})
        .def_property_readonly("band_count", &PyPlan::BandCount)
        .def_property_readonly("code_count", &PyPlan::CodeCount)
        .def_property_readonly("sparse", &PyPlan::Sparse)
        .def("statistics", &PyPlan::Statistics)
        .def("ranges", &PyPlan::Ranges)
        .def("counts", &PyPlan::Counts)
        .def("code_counts", &PyPlan::CodeCounts)
        .def("codes", &PyPlan::Codes)
        .def("classes", &PyPlan::Classes)
        .def("segment_numbers", &PyPlan::SegmentNumbers)
        .def("count_percentiles", &PyPlan::CountPercentiles)
        .def(py::pickle([](const PyPlan& plan) { return plan.State(); },
                        [](const py::tuple& state) {
                            return PyPlan(state[0].cast<std::vector<BandDescription>>(),
                                          state[1].cast<std::vector<Segmenting>>(),
                                          state[2].cast<std::vector<uint64_t>>(),
                                          state[3].cast<std::vector<MaskGiven>>());
                        }));
}

}  // namespace tessera::python
