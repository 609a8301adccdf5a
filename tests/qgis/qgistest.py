"""What the tests of the map results share: the tool, the sources, a headless QGIS, and a clean
skip (status 77, which ctest reports as skipped) where QGIS or GDAL's Python binding is missing."""

import os
import subprocess
import sys

# The plugin is imported from the source tree: no byte code is left there.
sys.dont_write_bytecode = True

SKIPPED = 77
SOURCE = os.environ.get("TESSERA_SOURCE") or os.path.dirname(
    os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOL = os.environ.get("TESSERA_BATCH") or os.path.join(SOURCE, "build", "src", "tessera-batch")
SCENE = os.path.join(SOURCE, "samples", "scene.tif")
PLUGIN = os.path.join(SOURCE, "qgis")


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIPPED)


def need_gdal():
    try:
        from osgeo import gdal  # noqa: F401
    except ImportError:
        skip("GDAL's Python binding is missing (Debian package python3-gdal)")


def need_qgis():
    try:
        import qgis.core  # noqa: F401
    except ImportError:
        skip("QGIS's Python binding is missing (Debian packages qgis, python3-qgis, "
             "qgis-providers)")


def headless(settings):
    """The environment of a QGIS without a screen whose settings live in `settings`."""
    runtime = os.path.join(settings, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    return {"QT_QPA_PLATFORM": "offscreen", "QGIS_CUSTOM_CONFIG_PATH": settings,
            "XDG_RUNTIME_DIR": runtime}


def start_qgis(settings):
    """A headless QGIS whose settings live in `settings` (not the user's profile), with the
    Processing framework loaded."""
    environment = headless(settings)
    os.environ.update(environment)
    from qgis.core import QgsApplication

    QgsApplication.setPrefixPath("/usr", True)
    application = QgsApplication([], False)
    application.initQgis()
    sys.path.append("/usr/share/qgis/python/plugins")
    from processing.core.Processing import Processing

    Processing.initialize()
    return application


def run_tool(*arguments):
    """tessera-batch with these arguments; its exit status and standard error."""
    done = subprocess.run([TOOL] + list(arguments), capture_output=True, text=True)
    return done.returncode, done.stderr


def bitmap_colours(path, count):
    """Entries 1..count of an 8-bit bitmap's palette as '#rrggbb'."""
    with open(path, "rb") as bitmap:
        data = bitmap.read()
    return ["#%02x%02x%02x" % (data[54 + 4 * k + 2], data[54 + 4 * k + 1], data[54 + 4 * k])
            for k in range(1, count + 1)]


def csv_rows(path):
    import csv

    with open(path, newline="") as table:
        return list(csv.DictReader(table))


def label_of(row):
    """A class's label as the class table gives its parts: number, then per band its segment and
    the native values it holds, '(' or ')' at an end open to infinity."""
    parts = []
    band = 1
    while "b%d_segment" % band in row:
        low, high = row["b%d_native_min" % band], row["b%d_native_max" % band]
        if not low:
            held = "(no value)"
        else:
            held = ("(" if low == "-inf" else "[") + low + ", " + high + \
                (")" if high == "inf" else "]")
        parts.append("b%d s%s %s" % (band, row["b%d_segment" % band], held))
        band += 1
    return row["class"] + ": " + " \u00b7 ".join(parts)


def write_geotiff(path, bands, data_type, transform=(500000, 30, 0, 4650000, 0, -30),
                  epsg=32631):
    """A GeoTIFF of the numpy arrays `bands` (lines x columns each)."""
    from osgeo import gdal, osr

    lines, columns = bands[0].shape
    dataset = gdal.GetDriverByName("GTiff").Create(path, columns, lines, len(bands), data_type)
    dataset.SetGeoTransform(transform)
    system = osr.SpatialReference()
    system.ImportFromEPSG(epsg)
    dataset.SetProjection(system.ExportToWkt())
    for index, values in enumerate(bands, start=1):
        dataset.GetRasterBand(index).WriteArray(values)
    dataset = None
