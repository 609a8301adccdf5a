"""The program as a desktop application: its menu entry and metainfo as the desktop's own
validators read them, its manual pages as man renders them, and the installed layout run
without the build folder.

Environment: TESSERA_BUILD (the build folder), TESSERA_SOURCE (the sources), TESSERA_METAINFO.
"""
import filecmp
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

BUILD = os.environ["TESSERA_BUILD"]
SOURCE = os.environ["TESSERA_SOURCE"]
METAINFO = os.environ["TESSERA_METAINFO"]
BATCH = os.path.join(BUILD, "src", "tessera-batch")
MAN = os.path.join(BUILD, "packaging", "man")


def run(arguments, **kwargs):
    return subprocess.run(arguments, capture_output=True, text=True, **kwargs)


class DesktopEntry(unittest.TestCase):
    def test_the_validators_pass_the_entry_and_the_metainfo(self):
        desktop = os.path.join(SOURCE, "packaging", "tessera.desktop")
        checked = run(["desktop-file-validate", desktop])
        self.assertEqual((0, ""), (checked.returncode, checked.stdout + checked.stderr))
        checked = run(["appstreamcli", "validate", "--no-net", "--pedantic", METAINFO])
        self.assertEqual(0, checked.returncode, checked.stdout + checked.stderr)
        self.assertNotIn("W:", checked.stdout)

    def test_the_metainfo_launches_the_entry_and_shows_the_readmes_picture(self):
        with open(METAINFO, encoding="utf-8") as metainfo:
            text = metainfo.read()
        self.assertIn('<launchable type="desktop-id">tessera.desktop</launchable>', text)
        # The picture's own size, read by the build from docs/main-window.png.
        self.assertRegex(text, r'<image type="source" width="683" height="657">https://\S+/'
                               r'docs/main-window\.png</image>')
        with open(os.path.join(SOURCE, "packaging", "tessera.desktop"), encoding="utf-8") as e:
            entry = dict(line.split("=", 1) for line in e.read().splitlines() if "=" in line)
        self.assertEqual("tessera", entry["Exec"])
        self.assertEqual("tessera", entry["Icon"])
        self.assertEqual(["Science", "Geography", "Qt"], entry["Categories"].rstrip(";").split(";"))

    def test_the_icon_is_rendered_at_every_size_from_its_svg(self):
        for size in (16, 22, 24, 32, 48, 64, 128, 256):
            path = os.path.join(BUILD, "packaging", "icons", "%dx%d" % (size, size), "tessera.png")
            with open(path, "rb") as png:
                head = png.read(24)
            self.assertEqual(b"\x89PNG", head[:4], path)
            self.assertEqual((size, size), (int.from_bytes(head[16:20], "big"),
                                            int.from_bytes(head[20:24], "big")), path)


class ManualPages(unittest.TestCase):
    def render(self, page):
        """The page as man shows it on an 80-column terminal, and groff's warnings."""
        environment = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8", MAN_KEEP_FORMATTING="")
        shown = run(["man", "--warnings=w", "-l", page], env=environment)
        self.assertEqual(0, shown.returncode, shown.stderr)
        self.assertEqual("", shown.stderr, page)
        checked = run(["groff", "-ww", "-man", "-Tutf8", "-z", page], env=environment)
        self.assertEqual((0, ""), (checked.returncode, checked.stderr), page)
        return re.sub(".\b", "", shown.stdout)

    def test_both_pages_render_without_a_warning(self):
        for page in ("tessera.1", "tessera-batch.1"):
            text = self.render(os.path.join(MAN, page))
            self.assertIn("SEE ALSO", text)

    def test_the_batch_page_says_what_help_and_describe_say(self):
        text = self.render(os.path.join(MAN, "tessera-batch.1"))
        flat = " ".join(re.sub("\u2010\n *", "", text).split())
        description = json.loads(run([BATCH, "--describe"], check=True).stdout)
        for option in description["options"]:
            head = option["name"] + (" " + option["value"] if option.get("value") else "")
            self.assertIn(head + " " + " ".join(option["help"].split()), flat, head)
            for choice in option.get("choices", []):
                self.assertIn(choice["value"] + " " + choice["label"], flat)
        for status, meaning in description["exit_status"].items():
            self.assertIn(status + " " + meaning, flat)
        # The synopsis is --help's usage, line for line.
        usage = run([BATCH, "--help"], check=True).stdout.split("\n\n")[0]
        for line in usage.splitlines()[1:]:
            self.assertIn("\n       " + line[len("Usage: "):] + "\n", text)
        self.assertIn("\n       " + usage.splitlines()[0][len("Usage: "):] + "\n", text)


class InstalledLayout(unittest.TestCase):
    """The build installed under a prefix of its own, as the package lays it out, and run
    from another folder: the tool finds its GDAL module, the program its samples and
    documentation, all under that prefix."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="tessera-installed-")
        environment = dict(os.environ, DESTDIR=cls.scratch)
        run(["cmake", "--install", BUILD, "--prefix", "/usr"], env=environment, check=True)
        cls.prefix = os.path.join(cls.scratch, "usr")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch)

    def test_the_tool_takes_its_gdal_module_from_the_prefix_and_writes_the_builds_files(self):
        samples = os.path.join(self.prefix, "share", "tessera", "samples")
        self.assertEqual(sorted(f for f in os.listdir(os.path.join(SOURCE, "samples"))
                                if f.endswith((".raw", ".txt", ".bmp", ".tif"))),
                         sorted(os.listdir(samples)))
        job = ["--out", "classes", "--method", "equipopulation", "--segments", "3",
               "--min-pixels", "50", "--bands", os.path.join(samples, "scene.tif")]
        with tempfile.TemporaryDirectory() as installed, tempfile.TemporaryDirectory() as built:
            # The loader says which files it opens.
            done = run([os.path.join(self.prefix, "bin", "tessera-batch")] + job, cwd=installed,
                       env=dict(os.environ, LD_DEBUG="files"))
            self.assertEqual(0, done.returncode, done.stderr[-2000:])
            opened = re.findall(r"file=(\S*libtessera_gdal\.so)", done.stderr)
            self.assertEqual([os.path.join(self.prefix, "lib", "tessera", "libtessera_gdal.so")],
                             sorted(set(opened)))
            run([BATCH] + job, cwd=built, check=True)
            written = sorted(os.listdir(built))
            self.assertIn("classes.tif", written)
            self.assertEqual(written, sorted(os.listdir(installed)))
            match, mismatch, errors = filecmp.cmpfiles(built, installed, written, shallow=False)
            self.assertEqual(([], []), (mismatch, errors))

    def test_the_program_names_its_installed_samples_and_documentation(self):
        shown = run([os.path.join(self.prefix, "bin", "tessera"), "--help"], cwd=self.scratch,
                    check=True).stdout
        self.assertIn("\nSample bands: %s/share/tessera/samples\n" % self.prefix, shown)
        self.assertIn("\nDocumentation: %s/share/doc/tessera\n" % self.prefix, shown)
        for document in ("README.md", "docs/main-window.png", "docs/treatment.md"):
            self.assertTrue(os.path.isfile(os.path.join(self.prefix, "share", "doc", "tessera",
                                                        document)), document)
        version = run([os.path.join(self.prefix, "bin", "tessera"), "--version"], check=True)
        self.assertEqual("Tessera_V2 2.0\n", version.stdout)

    def test_the_qgis_plugin_lies_where_debians_qgis_looks(self):
        plugins = os.path.join(self.prefix, "share", "qgis", "python", "plugins")
        self.assertEqual(["tessera_processing"], os.listdir(plugins))
        self.assertEqual(sorted(f for f in os.listdir(os.path.join(SOURCE, "qgis",
                                                                    "tessera_processing"))
                                if f != "__pycache__"),
                         sorted(os.listdir(os.path.join(plugins, "tessera_processing"))))
        self.assertTrue(os.path.isfile(os.path.join(self.prefix, "share", "QGIS", "QGIS3",
                                                    "startup.py")))


if __name__ == "__main__":
    unittest.main()
