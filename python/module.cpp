// tessera._core: the core's rules over numpy arrays, the treatment a dask client drives and the
// whole job. Each function converts its arguments, releases the GIL while the core computes,
// and turns a refusal into a Python exception that carries the program's message; no rule is
// decided here.
#include <pybind11/pybind11.h>

namespace tessera::python {
void BindArrays(pybind11::module_& m);
void BindTreatment(pybind11::module_& m);
void BindJob(pybind11::module_& m);
void BindWindowed(pybind11::module_& m);
}  // namespace tessera::python

PYBIND11_MODULE(_core, m) {
    m.doc() = "The rules of Tessera_V2 over numpy arrays (see the tessera package).";
    tessera::python::BindArrays(m);
    tessera::python::BindTreatment(m);
    tessera::python::BindJob(m);
    tessera::python::BindWindowed(m);
}
