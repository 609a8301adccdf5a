"""What the Python tests share: where the build and the data are, the batch tool run as a
program, the golden job, a synthetic scene, and file comparisons."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import numpy as np

SOURCE = Path(os.environ.get("TESSERA_SOURCE", Path(__file__).resolve().parents[2]))
BATCH = os.environ.get("TESSERA_BATCH", str(SOURCE / "build/src/tessera-batch"))
REAL_DATA = Path(os.environ.get("TESSERA_REAL_DATA", SOURCE / "build/real-data"))
GOLDEN = SOURCE / "tests/data/golden-samples"


def one_line(text):
    """A message as the batch tool prints it on its one line."""
    return " ".join(text.split())


def in_python_words(message):
    """A message of the batch tool with its options named as tessera.run's keywords."""
    import tessera
    keywords = {c["option"]: k for k, c in tessera._CHOICES.items()}
    keywords["--band"] = "bands"
    return re.sub(r"(?<![\w-])--[a-z][a-z-]*", lambda m: keywords.get(m.group(0), m.group(0)),
                  message)


def local_cluster():
    """A LocalCluster of two single-threaded worker processes on loopback, and its client;
    close both with close_cluster."""
    from distributed import Client, LocalCluster
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                           dashboard_address=None)
    return cluster, Client(cluster)


def close_cluster(cluster, client):
    client.close()
    cluster.close()


def run_batch(arguments, check=True):
    """tessera-batch on these arguments: its exit status and its message (without its
    "tessera-batch: " prefix)."""
    done = subprocess.run([BATCH, "--quiet"] + [str(a) for a in arguments], capture_output=True,
                          text=True)
    if check and done.returncode != 0:
        raise AssertionError(f"tessera-batch failed ({done.returncode}): {done.stderr}")
    return done.returncode, done.stderr.strip().removeprefix("tessera-batch: ")


class ScratchCase(unittest.TestCase):
    """A test with a scratch folder of its own, removed after it."""

    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="tessera-python-"))
        self.addCleanup(shutil.rmtree, self.dir, True)

    def copy_samples(self):
        for file in (SOURCE / "samples").iterdir():
            shutil.copy(file, self.dir)

    def assertSameFiles(self, produced, expected, extensions):
        for extension in extensions:
            with self.subTest(file=extension):
                self.assertEqual(Path(str(produced) + extension).read_bytes(),
                                 Path(str(expected) + extension).read_bytes())

    def assertRaisesTheToolsMessage(self, exception, arguments, call):
        """`call` raises `exception` with the message tessera-batch prints for `arguments`,
        its options named as Python's keywords ("min_pixels" for --min-pixels)."""
        status, message = run_batch(arguments, check=False)
        self.assertNotEqual(status, 0, message)
        with self.assertRaises(exception) as raised:
            call()
        self.assertEqual(one_line(str(raised.exception)), in_python_words(message))
        return raised.exception


def golden_choices(folder):
    """The golden job's choices, as tessera.run takes them, on the samples copied to `folder`."""
    return dict(
        bands=[f"{folder}/band1.raw", f"{folder}/band2.raw", f"{folder}/band3.raw",
               f"{folder}/band4.raw", f"{folder}/band1.bmp"],
        method=["segmentation", "equipopulation", "definition", "segmentation",
                "equipopulation"],
        segments=[4, 3, 3, 2, 2], limits=[None, None, [60, 120, 255], None, None],
        min_pixels=100)


def read_raw_band(path):
    """A raw sample band with its descriptor, as an array of (lines, columns)."""
    path = Path(path)
    lines, columns = (int(v) for v in path.with_suffix(".txt").read_text().split()[:2])
    return np.fromfile(path, dtype=np.uint8).reshape(lines, columns)


def read_bitmap_band(path):
    """An 8-bit bitmap band (stored bottom line first, lines padded to whole words)."""
    data = Path(path).read_bytes()
    offset = int.from_bytes(data[10:14], "little")
    columns = int.from_bytes(data[18:22], "little", signed=True)
    lines = int.from_bytes(data[22:26], "little", signed=True)
    stride = (columns + 3) // 4 * 4
    rows = np.frombuffer(data, dtype=np.uint8, count=stride * lines, offset=offset)
    return rows.reshape(lines, stride)[::-1, :columns].copy()


def bitmap_palette(path):
    """The colour table of an 8-bit bitmap as 256 x 3 red, green, blue."""
    data = Path(path).read_bytes()
    entries = np.frombuffer(data, dtype=np.uint8, count=1024, offset=54).reshape(256, 4)
    return entries[:, [2, 1, 0]]


def write_scene(path, lines=2000, columns=2000, bands=4, seed=7):
    """A 4-band UInt16 GeoTIFF of smooth correlated fields with noise (UTM 31N, 30 m), stored in
    strips of 100 lines, pixel-interleaved: every chunk of whole strips is aligned to its blocks.
    """
    import rasterio
    from rasterio.transform import from_origin
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:lines, 0:columns].astype(np.float32)
    fields = [np.sin(x / (97 + 31 * k) + k) * np.cos(y / (131 + 17 * k) - k) for k in range(3)]
    with rasterio.open(path, "w", driver="GTiff", width=columns, height=lines, count=bands,
                       dtype="uint16", crs="EPSG:32631",
                       transform=from_origin(440000, 5000000, 30, 30), blockysize=100,
                       interleave="pixel") as target:
        for b in range(bands):
            mix = sum(((b + k) % 3 + 1) * f for k, f in enumerate(fields))
            noise = rng.normal(0, 0.15, size=(lines, columns)).astype(np.float32)
            values = (mix + noise - mix.min()) * (9000 / (mix.max() - mix.min() + 1)) + 1000
            target.write(values.astype(np.uint16), b + 1)


# Land-cover scenes of 3 segments a band: a stretch of 0..10200 (reflectance x 10000, as L2A
# products store it) and the gray upper limits of the three segments.
COVER_STRETCH = (0, 10200)
COVER_LIMITS = [84, 169, 255]


def write_land_covers(path, bands, patterns, lines, columns, seed, block, speckles=0):
    """A UInt16 GeoTIFF on a UTM grid of 10 m pixels: blocks of `block` x `block` pixels, each
    of one of `patterns` covers (a segment per band), with noise that never crosses a segment's
    limits, and `speckles` pixels of a cover of their own. Returns the values."""
    import rasterio
    from rasterio.transform import from_origin
    rng = np.random.default_rng(seed)
    covers = rng.integers(0, 3, size=(patterns, bands))
    # Reflectances in the middle of each segment's native range (gray 42, 127, 212).
    centre = np.array([1680, 5080, 8480])
    blocks = rng.integers(0, patterns, size=(lines // block, columns // block))
    cover_of_pixel = np.kron(blocks, np.ones((block, block), dtype=int))
    data = centre[covers[cover_of_pixel]].transpose(2, 0, 1)
    if speckles:
        for y, x in zip(rng.integers(0, lines, speckles), rng.integers(0, columns, speckles)):
            data[:, y, x] = centre[rng.integers(0, 3, size=bands)]
    data = (data + rng.integers(-600, 600, size=data.shape)).astype(np.uint16)
    with rasterio.open(path, "w", driver="GTiff", width=columns, height=lines, count=bands,
                       dtype="uint16", crs="EPSG:32631",
                       transform=from_origin(600000, 5400000, 10, 10)) as file:
        file.write(data)
    return data


def cover_digits(data):
    """Every pixel's segment number 0..2 in each band, as the stretch and limits give it."""
    gray = np.floor((data.astype(np.float64) - COVER_STRETCH[0]) * 255.0 /
                    (COVER_STRETCH[1] - COVER_STRETCH[0]) + 0.5).clip(0, 255)
    return np.searchsorted(np.array(COVER_LIMITS), gray, side="left")
