// The whole job from Python: keywords read through the job's one table of choices, run, and
// a refusal raised as the exception of its kind.
#include "job/job.h"

#include "job/choices.h"
#include "support/safefile.h"
#include "treatment.h"

namespace tessera::python {

namespace {

job::JobOutcome RunOptions(job::Options options) {
    options.quiet = true;
    options.progress = false;
    job::JobOutcome outcome;
    {
        py::gil_scoped_release release;
        outcome = job::Run(options);
    }
    if (!outcome.Done()) RaiseRefusal(outcome.kind, outcome.message);
    return outcome;
}

PyTreatment RunJob(const std::vector<std::string>& arguments) {
    const Result<job::Options> parsed = job::ParseOptions(arguments);
    if (!parsed) RaiseRefusal(job::Refusal::Usage, parsed.message);
    return PyTreatment(RunOptions(*parsed.value));
}

std::vector<job::Given> GivenOf(
    const std::vector<std::tuple<std::string, std::string, std::string>>& given);

// The job the keywords describe, given as (option, value, second value) in their order.
PyTreatment RunChoices(
    const std::vector<std::tuple<std::string, std::string, std::string>>& given) {
    const Result<job::Options> described = job::DescribeJob(GivenOf(given), job::Speaker::Python);
    if (!described) RaiseRefusal(job::Refusal::Usage, described.message);
    return PyTreatment(RunOptions(*described.value));
}

// The table of choices, for the keywords of tessera.run and their documentation.
py::list ChoiceTable() {
    py::list table;
    for (const job::Choice& option : job::OptionTable()) {
        py::dict one;
        one["option"] = option.name;
        one["keyword"] = job::Spelled(job::Speaker::Python, option.name);
        one["value"] = option.value ? py::object(py::str(option.value)) : py::none();
        one["type"] = option.type;
        one["scope"] = option.scope;
        one["minimum"] = option.minimum;
        one["maximum"] = option.maximum;
        one["default"] =
            option.defaultValue ? py::object(py::str(option.defaultValue)) : py::none();
        py::list choices;
        for (const job::OptionChoice& choice : option.choices) choices.append(choice.value);
        one["choices"] = choices;
        one["help"] = option.help;
        table.append(one);
    }
    return table;
}

py::dict OptionsDict(const job::Options& options);

py::dict ParseOptions(const std::vector<std::string>& arguments) {
    const Result<job::Options> parsed = job::ParseOptions(arguments);
    if (!parsed) RaiseValue(parsed.message);
    return OptionsDict(*parsed.value);
}

std::vector<job::Given> GivenOf(
    const std::vector<std::tuple<std::string, std::string, std::string>>& given) {
    std::vector<job::Given> choices;
    for (const auto& [option, value, second] : given) choices.push_back({option, value, second});
    return choices;
}

py::dict DescribeJob(const std::vector<std::tuple<std::string, std::string, std::string>>& given) {
    const Result<job::Options> described = job::DescribeJob(GivenOf(given), job::Speaker::Python);
    if (!described) RaiseRefusal(job::Refusal::Usage, described.message);
    return OptionsDict(*described.value);
}

py::dict OptionsDict(const job::Options& options) {
    py::list bands;
    for (const job::BandOptions& band : options.bands) {
        py::dict one;
        one["path"] = band.path;
        one["method"] = band.type;
        one["segments"] = band.segments;
        one["limits"] = band.limits;
        one["all_bands"] = band.allBands;
        Stretch stretch;
        if (band.stretch) stretch = std::pair{band.stretch->minimum, band.stretch->maximum};
        one["stretch"] = stretch;
        one["nodata"] = band.nodata;
        one["percentiles"] = band.percentiles;
        one["scale"] = band.scale;
        one["offset"] = band.offset;
        one["native_limits"] = band.nativeLimits.has_value();
        bands.append(one);
    }
    py::dict result;
    result["out"] = options.out;
    result["keep_all"] = options.keepAll;
    result["min_pixels"] = options.minPixels;
    result["bands"] = bands;
    result["masks"] = options.masks.size();
    return result;
}

// Files written by name (by GDAL through rasterio, or by Python) and put in place as one set,
// all or nothing, as the program's own saves are.
class PyStagedFiles {
  public:
    // A temporary name beside `target` to write the file to.
    std::string Stage(const std::string& target) {
        auto name = std::make_unique<StagedName>();
        if (!name->Open(target)) Raise(PyExc_OSError, "the file " + target + " cannot be written");
        staged_.emplace_back(target, std::move(name));
        return staged_.back().second->Temporary();
    }
    // Every staged file over its target, or none; OSError naming the files that failed.
    void Commit() {
        FileSet set;
        for (auto& [target, name] : staged_) set.Add(target, *name);
        std::vector<std::string> failed;
        bool done = false;
        {
            py::gil_scoped_release release;
            done = set.Commit(failed);
        }
        staged_.clear();
        if (!done) {
            std::string names;
            for (const std::string& name : failed) names += (names.empty() ? "" : ", ") + name;
            Raise(PyExc_OSError,
                  "the files " + names + " could not be written; none of this save was kept");
        }
    }
    // The staged files removed, none put in place.
    void Discard() { staged_.clear(); }

  private:
    std::vector<std::pair<std::string, std::unique_ptr<StagedName>>> staged_;
};

}  // namespace

// A refusal in Python's words: the exception of its kind, with the sentence on one line.
void RaiseRefusal(job::Refusal kind, const std::string& message) {
    const std::string text = job::OneLine(message);
    switch (kind) {
        case job::Refusal::NotFound:
            Raise(PyExc_FileNotFoundError, text);
        case job::Refusal::NotWritten:
            Raise(PyExc_OSError, text);
        case job::Refusal::Cancelled:
            Raise(PyExc_KeyboardInterrupt, text);
        default:
            RaiseValue(text);
    }
}

void BindJob(py::module_& m) {
    py::class_<PyStagedFiles>(m, "StagedFiles")
        .def(py::init<>())
        .def("stage", &PyStagedFiles::Stage)
        .def("commit", &PyStagedFiles::Commit)
        .def("discard", &PyStagedFiles::Discard);
    m.def("parse_options", &ParseOptions,
          "tessera-batch's arguments read as the tool reads them; ValueError with its text.");
    m.def("band_of_name", [](const std::string& name) {
        const job::BandNamed band = job::BandOfName(name);
        return std::pair{band.path, band.rasterBand};
    });
    m.def("run_job", &RunJob,
          "The whole job of tessera-batch on these arguments; the treatment it ran.");
    m.def("run_choices", &RunChoices,
          "The whole job these choices describe ((option, value, second value) in their order, "
          "refusals worded for Python); the treatment it ran.");
    m.def("describe_job", &DescribeJob,
          "The job these choices describe, as parse_options gives it; ValueError worded for "
          "Python.");
    m.def("choices", &ChoiceTable, "The job's choices: option, keyword, type, scope, help.");
}

}  // namespace tessera::python
