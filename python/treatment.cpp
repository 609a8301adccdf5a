// tessera._core.Treatment: the treatment's state between the passes a dask client drives.
#include "treatment.h"

namespace tessera::python {

void BindTreatment(py::module_& m) {
    py::class_<PyTreatment>(m, "Treatment")
        .def(py::init<>())
        .def("take_statistics", &PyTreatment::TakeStatistics)
        .def("set_place", &PyTreatment::SetPlace)
        .def("set_segmentation", &PyTreatment::SetSegmentation)
        .def("finish_segmentation", &PyTreatment::FinishSegmentation)
        .def("set_native_limits", &PyTreatment::SetNativeLimits)
        .def("set_masks", &PyTreatment::SetMasks)
        .def("read_saved", &PyTreatment::ReadSaved)
        .def("take_saved_segmentation", &PyTreatment::TakeSavedSegmentation)
        .def("take_saved_classes", &PyTreatment::TakeSavedClasses)
        .def("save", &PyTreatment::Save)
        .def("segmentations", &PyTreatment::Segmentations)
        .def("take_counts", &PyTreatment::TakeCounts)
        .def("take_code_counts", &PyTreatment::TakeCodeCounts)
        .def("check_code_table", &PyTreatment::CheckCodeTable)
        .def("select", &PyTreatment::Select, py::arg("keep_all"), py::arg("min_pixels"),
             py::arg("max_classes") = kMaximumClassCount)
        .def("finish_crossing", &PyTreatment::FinishCrossing)
        .def_property_readonly("pixel_count", &PyTreatment::PixelCount)
        .def_property_readonly("selected_codes", &PyTreatment::SelectedCodes)
        .def_property_readonly("counted_codes", &PyTreatment::CountedCodes)
        .def_property_readonly("class_of", &PyTreatment::ClassOf)
        .def_property_readonly("nodata_pixels", &PyTreatment::NodataPixels)
        .def_property_readonly("class_count", &PyTreatment::ClassCount)
        .def_property_readonly("code_count", &PyTreatment::CodeCount)
        .def_property_readonly("size", &PyTreatment::Size)
        .def_property_readonly("class_colours", &PyTreatment::ClassColours)
        .def_property_readonly("segment_colours", &PyTreatment::SegmentColours)
        .def("bands", &PyTreatment::Bands)
        .def("names", &PyTreatment::Names)
        .def("place", &PyTreatment::Place)
        .def("report", &PyTreatment::Report)
        .def("code_list", &PyTreatment::CodeList)
        .def("map_texts", &PyTreatment::MapTexts)
        .def("write_wide_geotiff", &PyTreatment::WriteWideGeoTiff)
        .def("bitmap_header", &PyTreatment::BitmapHeader)
        .def("bitmap_refusal", &PyTreatment::BitmapRefusal)
        .def("class_labels", &PyTreatment::ClassLabels)
        .def("metadata", &PyTreatment::Metadata);
}

}  // namespace tessera::python
