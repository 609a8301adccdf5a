"""Every case of tests/data/cases through every front end that takes it: tessera-batch,
tessera.run (and fit_treatment, change) and tessera.dask on the bands' arrays, each against the
case's expected files, byte for byte. A front end that does not take a case yet is reported as
skipped with the reason the case gives.

    cases_test.py                     the cases, as a unittest module
    cases_test.py --regenerate CASE   the case's expected/ written anew by tessera-batch
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import numpy as np

import tessera
from support import BATCH, REAL_DATA, SOURCE, close_cluster, local_cluster

CASES = SOURCE / "tests/data/cases"
cluster = client = None


def setUpModule():
    """tessera.dask runs on a LocalCluster of two worker processes on loopback."""
    global cluster, client
    cluster, client = local_cluster()


def tearDownModule():
    close_cluster(cluster, client)


def load(case):
    with open(CASES / case / "job.json") as file:
        return json.load(file)


def case_names():
    return sorted(p.parent.name for p in CASES.glob("*/job.json"))


def placed(value, folder):
    """@DIR@ in a job's value as the scratch folder."""
    if isinstance(value, str):
        return value.replace("@DIR@", str(folder))
    if isinstance(value, list):
        return [placed(v, folder) for v in value]
    if isinstance(value, dict):
        return {k: placed(v, folder) for k, v in value.items()}
    return value


def source_of(name):
    if name.startswith("real-data/"):
        return REAL_DATA / name.removeprefix("real-data/")
    return SOURCE / name


def missing_inputs(job):
    return [n for n in job["inputs"] if not source_of(n).exists()]


def lay_out(job, folder):
    for name in job["inputs"]:
        shutil.copy(source_of(name), folder)


def arguments(job, folder):
    """tessera-batch's arguments for the job, from the same table of choices as the keywords."""
    choices = placed(job["choices"], folder)
    if job["run"] == "treatment":
        given = tessera._choices_of(placed(job["bands"], folder), choices)
    elif job["run"] == "fit":
        given = [("--fit-treatment", job["treatment"], "")] + tessera._job_choices(choices)
        for scene in job["scenes"]:
            given += [("--scene", "", "")] + tessera._band_set(scene, choices)
    else:
        given = [("--change", job["maps"][0], job["maps"][1])] + tessera._job_choices(choices)
    listed = []
    for option, value, second in given:
        listed += [option] + [v for v in (value, second) if v]
    return listed


def run_batch(job, folder):
    done = subprocess.run([BATCH, "--quiet"] + arguments(job, folder), cwd=folder,
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError(f"tessera-batch: {done.stderr}")


def run_python(job, folder):
    choices = placed(job["choices"], folder)
    if job["run"] == "treatment":
        tessera.run(placed(job["bands"], folder), **choices)
    elif job["run"] == "fit":
        tessera.fit_treatment(job["scenes"], job["treatment"], **choices)
    else:
        tessera.change(job["maps"][0], job["maps"][1], **choices)


def expected_folder(case, job):
    return SOURCE / job["expected"] if "expected" in job else CASES / case / "expected"


class Case(unittest.TestCase):
    """One case in a scratch folder of its own; the job runs with the folder as the current
    one, as a user runs it on the files beside them."""

    case = None

    def setUp(self):
        self.job = load(self.case)
        lacking = missing_inputs(self.job)
        if lacking:
            self.skipTest(f"inputs missing (scripts/fetch-real-data.sh): {lacking[0]}")
        self.folder = Path(tempfile.mkdtemp(prefix=f"tessera-case-{self.case}-"))
        self.addCleanup(shutil.rmtree, self.folder, True)
        lay_out(self.job, self.folder)
        self.inputs = set(os.listdir(self.folder))
        here = os.getcwd()
        os.chdir(self.folder)
        self.addCleanup(os.chdir, here)

    def assertExpectedFiles(self, names=None):
        expected = expected_folder(self.case, self.job)
        for name in names or self.job["compare"]:
            with self.subTest(file=name):
                produced = (self.folder / name).read_bytes()
                wanted = (expected / name).read_bytes()
                if name.endswith(".txt"):
                    produced = produced.replace(str(self.folder).encode(), b"@DIR@")
                self.assertEqual(produced, wanted, f"{self.case}: {name}")
        written = set(os.listdir(self.folder)) - self.inputs
        self.assertLessEqual(set(names or self.job["compare"]), written)

    def test_batch_tool(self):
        run_batch(self.job, self.folder)
        self.assertExpectedFiles()

    def test_python(self):
        run_python(self.job, self.folder)
        self.assertExpectedFiles()

    def test_dask_on_files(self):
        """tessera.dask.run on the cluster, the scene cut into windows of a few lines so that
        every pass sums several windows."""
        import tessera.dask
        choices = placed(self.job["choices"], self.folder)
        if self.job["run"] == "treatment":
            tessera.dask.run(placed(self.job["bands"], self.folder), chunk_lines=16, **choices)
        elif self.job["run"] == "fit":
            tessera.dask.fit_treatment(self.job["scenes"], self.job["treatment"],
                                       chunk_lines=16, **choices)
        else:
            tessera.dask.change(self.job["maps"][0], self.job["maps"][1], **choices)
        self.assertExpectedFiles()

    def test_dask_on_arrays(self):
        if self.job.get("dask") != "arrays":
            self.skipTest(self.job["dask"])
        import dask.array as da
        import tessera.dask
        bands = placed(self.job["bands"], self.folder)
        arrays = []
        for band in bands:
            if band.endswith(".raw"):
                lines, columns = (int(v) for v in Path(band[:-4] + ".txt").read_text().split())
                arrays.append(np.fromfile(band, dtype=np.uint8).reshape(lines, columns))
            else:
                from osgeo import gdal
                dataset = gdal.Open(band)  # kept open while its band is read
                arrays.append(dataset.GetRasterBand(1).ReadAsArray())
        choices = {k: v for k, v in self.job["choices"].items()
                   if k not in ("out", "save_segmented")}
        chunked = [da.from_array(a, chunks=(64, 128)) for a in arrays]
        result = tessera.dask.treat(chunked, names=bands, **choices)
        self.assertGreater(result.classes.numblocks[0], 1)
        expected = expected_folder(self.case, self.job)
        stem = Path(placed(self.job["choices"]["out"], self.folder)).name
        self.assertEqual(np.asarray(result.classes).tobytes(),
                         (expected / (stem + ".raw")).read_bytes())
        self.assertEqual(result.report.replace(str(self.folder), "@DIR@"),
                         (expected / (stem + ".txt")).read_text())


def load_tests(loader, tests, pattern):
    suite = unittest.TestSuite()
    for name in case_names():
        named = type(f"Case_{name.replace('-', '_')}", (Case,), {"case": name})
        suite.addTests(loader.loadTestsFromTestCase(named))
    return suite


def regenerate(case):
    job = load(case)
    if "expected" in job:
        sys.exit(f"{case} keeps its expected files in {job['expected']}")
    folder = Path(tempfile.mkdtemp(prefix="tessera-case-"))
    try:
        lay_out(job, folder)
        run_batch(job, folder)
        expected = CASES / case / "expected"
        shutil.rmtree(expected, True)
        expected.mkdir()
        for name in job["compare"]:
            data = (folder / name).read_bytes()
            if name.endswith(".txt"):
                data = data.replace(str(folder).encode(), b"@DIR@")
            (expected / name).write_bytes(data)
            print(f"{case}/expected/{name}")
    finally:
        shutil.rmtree(folder, True)


if __name__ == "__main__":
    if len(sys.argv) >= 2 and sys.argv[1] == "--regenerate":
        for name in sys.argv[2:] or case_names():
            if "expected" not in load(name):
                regenerate(name)
    else:
        unittest.main()
