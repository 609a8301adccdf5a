"""The module as pip installs it, from a wheel or by pip install . (scripts/test-wheel.sh runs
these with the environment's interpreter and TESSERA_INSTALLED=1, before the other module tests,
which then take the installed package too): the package comes from the environment, not from
the sources or a build; it carries its GDAL module and loads that one; its libraries link only
the system's.

Elsewhere (ctest, with the build's package on PYTHONPATH) they are skipped."""
import os
import re
import subprocess
import sys
import sysconfig
import unittest
from pathlib import Path

from support import SOURCE, ScratchCase, run_batch

INSTALLED = os.environ.get("TESSERA_INSTALLED") == "1"


def package_folder():
    return Path(sysconfig.get_paths()["platlib"]).resolve() / "tessera"


@unittest.skipUnless(INSTALLED, "the installed module is tested by scripts/test-wheel.sh")
class InstalledModule(ScratchCase):
    def test_the_package_comes_from_the_environment_whole(self):
        import tessera
        import tessera._core
        import tessera.dask
        folder = package_folder()
        self.assertTrue(folder.is_relative_to(Path(sys.prefix).resolve()), folder)
        self.assertFalse(folder.is_relative_to(SOURCE.resolve()), folder)
        for module in (tessera, tessera._core, tessera.dask):
            with self.subTest(module=module.__name__):
                self.assertEqual(Path(module.__file__).resolve().parent, folder)
        self.assertEqual(sorted(p.name for p in folder.glob("*.so")),
                         [Path(tessera._core.__file__).name, "libtessera_gdal.so"])

    def test_its_libraries_link_the_systems_and_nothing_in_a_build(self):
        libraries = sorted(package_folder().glob("*.so"))
        self.assertEqual(len(libraries), 2)
        for library in libraries:
            with self.subTest(library=library.name):
                dynamic = subprocess.run(["readelf", "-d", library], capture_output=True,
                                         text=True, check=True).stdout
                for paths in re.findall(r"\((?:RPATH|RUNPATH)\)[^\[]*\[([^\]]*)\]", dynamic):
                    for path in paths.split(":"):
                        self.assertTrue(path.startswith("$ORIGIN"), dynamic)
                linked = subprocess.run(["ldd", library], capture_output=True, text=True,
                                        check=True).stdout
                self.assertNotIn("not found", linked)
                found = re.findall(r"=> (/\S+)", linked)
                self.assertTrue(found, linked)
                for path in found:
                    self.assertFalse(Path(path).resolve().is_relative_to(SOURCE.resolve()),
                                     linked)
                if library.name == "libtessera_gdal.so":
                    self.assertRegex(linked, r"libgdal\.so\.\d+ => /")

    def test_a_raster_loads_the_gdal_module_beside_the_bindings(self):
        """In a process of its own, without TESSERA_GDAL_MODULE: the job on a GeoTIFF loads
        the package's GDAL module (not the build's nor an installed program's) and writes the
        batch tool's files."""
        job = ("import sys, tessera\n"
               "tessera.run(bands=sys.argv[1], method='equipopulation', segments=3,\n"
               "            min_pixels=50, out=sys.argv[2])\n"
               "print(open('/proc/self/maps').read())\n")
        scene = SOURCE / "samples/scene.tif"
        environment = {k: v for k, v in os.environ.items() if k != "TESSERA_GDAL_MODULE"}
        done = subprocess.run([sys.executable, "-c", job, scene, self.dir / "py"],
                              capture_output=True, text=True, env=environment, cwd=self.dir)
        self.assertEqual(done.returncode, 0, done.stderr)
        loaded = {line.split(maxsplit=5)[-1] for line in done.stdout.splitlines()
                  if line.endswith("/libtessera_gdal.so")}
        self.assertEqual(loaded, {str(package_folder() / "libtessera_gdal.so")})
        run_batch(["--out", self.dir / "tool", "--method", "equipopulation", "--segments", 3,
                   "--min-pixels", 50, "--bands", scene])
        self.assertSameFiles(self.dir / "py", self.dir / "tool",
                             [".bmp", ".raw", ".txt", ".csv", ".tif.aux.xml", ".qml"])


if __name__ == "__main__":
    unittest.main()
