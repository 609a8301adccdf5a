"""How long a headless QGIS takes to load a 16-bit class map with its style and draw it, by the
number of classes: with STEM.qml as tessera-batch writes it (paletted up to 10,000 classes, an
interpolated ramp through 256 of the classes past it), and with a style of one entry a class,
paletted or an exact pseudocolour ramp.

    PYTHONPATH=build/python /usr/bin/python3 bench/qgis_load.py [CLASSES ...]  (default: 2000 12000)

Each map is made by tessera-batch from a 12-band scene of 8 x 8 blocks of random land covers,
crossed with 3 segments a band and every code kept. Times are the median of three loads
(layer, style, one 1024 x 1024 render), in seconds.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

SOURCE = Path(__file__).resolve().parents[1]
BATCH = os.environ.get("TESSERA_BATCH", str(SOURCE / "build/src/tessera-batch"))
sys.path.insert(0, str(SOURCE / "tests/python"))
from wide_test import LIMITS, STRETCH, write_sentinel_like  # noqa: E402


def make_map(folder, classes):
    """A map of about `classes` classes (random covers of 8 x 8 blocks: some covers repeat)."""
    side = int(np.ceil(np.sqrt(classes * 1.25)) * 8)
    write_sentinel_like(folder / "scene.tif", patterns=classes * 4, lines=side, columns=side)
    subprocess.run([BATCH, "--quiet", "--out", folder / "map", "--method", "definition",
                    "--segments", "3", "--stretch", f"{STRETCH[0]},{STRETCH[1]}",
                    "--min-pixels", "0", "--max-classes", "65534", "--format", "tif,qml",
                    "--bands", folder / "scene.tif", "--limits", ",".join(map(str, LIMITS))],
                   check=True)
    style = (folder / "map.qml").read_text()
    return folder / "map.tif", style


def every_class_style(path, renderer):
    """A style of one entry a class, with the file's colours: "paletted", or "exact" for a
    pseudocolour renderer whose ramp passes exactly through every class colour."""
    from osgeo import gdal
    dataset = gdal.Open(str(path))
    band = dataset.GetRasterBand(1)
    count = band.ComputeRasterMinMax()[1]
    table = band.GetColorTable()
    entries = []
    for k in range(1, int(count) + 1):
        red, green, blue = table.GetColorEntry(k)[:3]
        entries.append(f'value="{k}" color="#{red:02x}{green:02x}{blue:02x}" alpha="255" '
                       f'label="{k}"')
    head = ("<!DOCTYPE qgis PUBLIC 'http://mrcc.com/qgis.dtd' 'SYSTEM'>\n"
            "<qgis version=\"3.22.0\" styleCategories=\"Symbology\">\n  <pipe>\n")
    transparency = ("      <rasterTransparency><singleValuePixelList><pixelListEntry "
                    "min=\"65535\" max=\"65535\" percentTransparent=\"100\"/>"
                    "</singleValuePixelList></rasterTransparency>\n")
    if renderer == "paletted":
        body = ("    <rasterrenderer type=\"paletted\" band=\"1\" opacity=\"1\">\n" +
                transparency + "      <colorPalette>\n" +
                "".join(f"        <paletteEntry {e}/>\n" for e in entries) +
                "      </colorPalette>\n")
    else:
        body = ("    <rasterrenderer type=\"singlebandpseudocolor\" band=\"1\" opacity=\"1\" "
                f"classificationMin=\"1\" classificationMax=\"{len(entries)}\">\n" +
                transparency + "      <rastershader><colorrampshader colorRampType=\"EXACT\" "
                f"classificationMode=\"1\" minimumValue=\"1\" maximumValue=\"{len(entries)}\">\n" +
                "".join(f"        <item {e}/>\n" for e in entries) +
                "      </colorrampshader></rastershader>\n")
    return head + body + "    </rasterrenderer>\n  </pipe>\n</qgis>\n"


def load_and_draw(path, style_path):
    from qgis.core import QgsMapSettings, QgsMapRendererSequentialJob, QgsRasterLayer
    from qgis.PyQt.QtCore import QSize

    start = time.perf_counter()
    layer = QgsRasterLayer(str(path), "classes")
    message, loaded = layer.loadNamedStyle(str(style_path))
    if not loaded:
        raise RuntimeError(message)
    settings = QgsMapSettings()
    settings.setLayers([layer])
    settings.setExtent(layer.extent())
    settings.setOutputSize(QSize(1024, 1024))
    job = QgsMapRendererSequentialJob(settings)
    job.start()
    job.waitForFinished()
    return time.perf_counter() - start, layer.renderer().type()


def main():
    counts = [int(a) for a in sys.argv[1:]] or [2000, 12000]
    with tempfile.TemporaryDirectory() as settings:
        os.environ.update({"QT_QPA_PLATFORM": "offscreen", "QGIS_CUSTOM_CONFIG_PATH": settings,
                           "XDG_RUNTIME_DIR": settings})
        from qgis.core import QgsApplication
        QgsApplication.setPrefixPath("/usr", True)
        application = QgsApplication([], False)
        application.initQgis()
        for classes in counts:
            with tempfile.TemporaryDirectory() as scratch:
                folder = Path(scratch)
                path, style = make_map(folder, classes)
                (folder / "paletted.qml").write_text(every_class_style(path, "paletted"))
                (folder / "exact.qml").write_text(every_class_style(path, "exact"))
                shown = "ramp" if "singlebandpseudocolor" in style else "paletted"
                print(f"{classes} classes asked ({style.count(' value=')} entries in STEM.qml, "
                      f"{shown})")
                for name in ("map", "paletted", "exact"):
                    runs = [load_and_draw(path, folder / f"{name}.qml") for _ in range(3)]
                    label = "STEM.qml" if name == "map" else f"every class, {name}"
                    print(f"  {label} ({runs[0][1]}): "
                          f"{statistics.median(r[0] for r in runs):.3f} s")
        application.exitQgis()


if __name__ == "__main__":
    main()
