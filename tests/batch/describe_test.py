"""tessera-batch --describe against the tool itself: every option of the usage text is
described, every described option is one the tool takes, and the ranges and choices described
are the ones the tool accepts (a value just beyond a range is a usage error, the range's ends
and every choice are not), so that a program building its form from the description (the QGIS
plugin) offers what the tool takes."""

import concurrent.futures
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "qgis"))
import qgistest  # noqa: E402

USAGE_ERROR = 2


class Description(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        done = subprocess.run([qgistest.TOOL, "--describe"], capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
        cls.description = json.loads(done.stdout)
        cls.options = {option["name"]: option for option in cls.description["options"]}
        cls.folder = tempfile.TemporaryDirectory()
        for band in (1, 2):
            stem = os.path.join(cls.folder.name, "band%d" % band)
            with open(stem + ".raw", "wb") as raw:
                raw.write(bytes((band * k) % 256 for k in range(64)))
            with open(stem + ".txt", "w") as descriptor:
                descriptor.write("8\n8\n")

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def band_files(self):
        return [os.path.join(self.folder.name, "band%d.raw" % band) for band in (1, 2)]

    def run_with(self, name, value):
        """A small job of two raw bands with `name value` given where it belongs (--method and
        --segments for every band); the exit status and standard error."""
        defaults = {"--method": "segmentation", "--segments": "2"}
        arguments = ["--out", os.path.join(self.folder.name, "r"), "--quiet"]
        if name in defaults:
            defaults[name] = value
        else:
            arguments += [name, value]
        bands = []
        for band in self.band_files():
            bands += ["--band", band]
            if defaults["--method"] == "definition":  # its segments' limits after each band
                bands += ["--segments", "1", "--limits", "255"]
        for option, given in defaults.items():
            arguments += [option, given]
        done = subprocess.run([qgistest.TOOL] + arguments + bands, capture_output=True,
                              text=True)
        return done.returncode, done.stderr

    def test_every_option_of_the_usage_text_is_described_and_taken(self):
        usage = subprocess.run([qgistest.TOOL, "--help"], capture_output=True, text=True,
                               check=True).stdout
        named = set(re.findall(r"(?<![\w-])--[a-z][a-z-]+", usage))
        self.assertEqual(named, set(self.options))
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            runs = pool.map(lambda name: subprocess.run([qgistest.TOOL, "--out", "x", name],
                                                        capture_output=True, text=True),
                            self.options)
        for (name, option), done in zip(self.options.items(), runs):
            self.assertNotIn("unknown option", done.stderr, name)
            if option["value"] is not None:
                self.assertEqual(USAGE_ERROR, done.returncode, name)
                self.assertIn(name + " needs a value", done.stderr)

    def test_ranges_are_those_the_tool_takes(self):
        ranged = [o for o in self.options.values() if "minimum" in o or "maximum" in o]
        self.assertTrue(ranged)
        for option in ranged:
            name = option["name"]
            for end in ("minimum", "maximum"):
                if end not in option:
                    continue
                status, errors = self.run_with(name, str(option[end]))
                self.assertNotEqual(USAGE_ERROR, status, (name, end, errors))
                beyond = option[end] + (1 if end == "maximum" else -1)
                status, errors = self.run_with(name, str(beyond))
                self.assertEqual(USAGE_ERROR, status, (name, beyond))
                self.assertIn(name, errors)

    def test_every_choice_is_taken_and_no_other(self):
        chosen = [o for o in self.options.values() if o.get("choices")]
        self.assertEqual({"--method", "--format"}, {o["name"] for o in chosen})
        for option in chosen:
            for choice in option["choices"]:
                status, errors = self.run_with(option["name"], choice["value"])
                self.assertNotEqual(USAGE_ERROR, status, (choice, errors))
            status, errors = self.run_with(option["name"], "none-of-them")
            self.assertEqual(USAGE_ERROR, status, option["name"])

    def test_the_defaults_are_the_tools(self):
        self.assertEqual({"minimum": 2, "maximum": 32}, self.description["bands"])
        job = ["--quiet", "--method", "equipopulation", "--segments", "2", "--bands",
               qgistest.SCENE]
        made = {}
        for stem, given in (("unsaid", []),
                            ("said", ["--min-pixels", str(self.options["--min-pixels"]["default"]),
                                      "--format", self.options["--format"]["default"]])):
            out = os.path.join(self.folder.name, stem)
            os.makedirs(out)
            subprocess.run([qgistest.TOOL, "--out", os.path.join(out, "r")] + given + job,
                           check=True)
            made[stem] = {}
            for name in os.listdir(out):
                with open(os.path.join(out, name), "rb") as made_file:
                    made[stem][name] = made_file.read()
        self.assertEqual(sorted(made["unsaid"]), sorted(made["said"]))
        self.assertEqual(made["unsaid"]["r.raw"], made["said"]["r.raw"])


if __name__ == "__main__":
    unittest.main()
