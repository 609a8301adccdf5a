"""The Python module's build (pyproject.toml): CMake builds the bindings tessera._core and the
GDAL module they load, without the programs, and installs its component "python" (the package
as it is installed anywhere) into the folder setuptools makes the wheel from. setuptools' files
and CMake's build folder (one per Python, kept for the next build) stay under build/wheel,
beside CMake's usual build folder. An editable install (pip install -e) puts the bindings and
the GDAL module into python/tessera.

TESSERA_CMAKE_ARGS adds arguments to CMake's configuration (for example a compiler).
"""
import hashlib
import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
SETUPTOOLS_FOLDER = "build/wheel"
GDAL_MODULE = "libtessera_gdal.so"  # installed beside the bindings, where the core looks first


def project_version():
    """The version of the project() in CMakeLists.txt, the programs' own."""
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(\s*\S+\s+VERSION\s+([0-9.]+)", text).group(1)


def cmake_folder_name():
    """CMake's build folder of this Python: one per version and installation (a virtual
    environment shares its base interpreter's)."""
    base = hashlib.sha1(os.path.realpath(sys.base_prefix).encode()).hexdigest()[:8]
    return f"cmake-{sys.implementation.cache_tag}-{base}"


class CMakeExtension(Extension):
    """An extension that CMake builds: setuptools compiles no source of it."""

    def __init__(self, name):
        super().__init__(name, sources=[])


class BuildWithCMake(build_ext):
    def build_extension(self, extension):
        # <folder the wheel is made from>/tessera/_core....so
        destination = Path(self.get_ext_fullpath(extension.name)).resolve().parents[1]
        build = ROOT / SETUPTOOLS_FOLDER / cmake_folder_name()
        configure = ["cmake", "-S", str(ROOT), "-B", str(build),
                     f"-DPython_EXECUTABLE={sys.executable}", "-DCMAKE_BUILD_TYPE=Release",
                     "-DTESSERA_PYTHON=ON", "-DTESSERA_BUILD_GUI=OFF",
                     "-DTESSERA_BUILD_TESTS=OFF", "-DTESSERA_PYTHON_INSTALL_DIR=."]
        try:  # pybind11 from the build's requirements, wherever pip put it
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:  # the system's (not that of an earlier build's environment)
            configure.append("-Upybind11_DIR")
        if shutil.which("ninja") and not (build / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        configure += shlex.split(os.environ.get("TESSERA_CMAKE_ARGS", ""))
        compile_ = ["cmake", "--build", str(build), "--target", "_core", "tessera_gdal"]
        if "CMAKE_BUILD_PARALLEL_LEVEL" not in os.environ:
            compile_ += ["--parallel", str(os.cpu_count() or 1)]
        install = ["cmake", "--install", str(build), "--component", "python",
                   "--prefix", str(destination)]
        for command in (configure, compile_, install):
            subprocess.run(command, check=True)

    # An editable install copies what build_ext declares into the sources: the GDAL module too.
    def _gdal_module_in_place(self):
        build_py = self.get_finalized_command("build_py")
        built = Path(self.build_lib) / "tessera" / GDAL_MODULE
        return str(built), str(Path(build_py.get_package_dir("tessera")) / GDAL_MODULE)

    def copy_extensions_to_source(self):
        super().copy_extensions_to_source()
        self.copy_file(*self._gdal_module_in_place(), level=self.verbose)

    def get_output_mapping(self):
        mapping = super().get_output_mapping()
        if self.inplace:
            built, in_place = self._gdal_module_in_place()
            mapping[built] = in_place
        return mapping

    def get_outputs(self):
        if self.inplace:
            return list(self.get_output_mapping())
        return super().get_outputs() + [self._gdal_module_in_place()[0]]


(ROOT / SETUPTOOLS_FOLDER).mkdir(parents=True, exist_ok=True)
setup(
    version=project_version(),
    packages=["tessera"],
    package_dir={"": "python"},
    ext_modules=[CMakeExtension("tessera._core")],
    cmdclass={"build_ext": BuildWithCMake},
    options={"build": {"build_base": SETUPTOOLS_FOLDER},
             "egg_info": {"egg_base": SETUPTOOLS_FOLDER}},
    zip_safe=False,
)
