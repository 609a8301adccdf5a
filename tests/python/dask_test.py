"""tessera.dask on a LocalCluster of 2 workers (processes, on loopback): the classes, counts,
colours, report and map files are tessera-batch's, byte for byte, whatever the chunks; a
Landsat scene with nodata values and stretches; and the refusals, which write nothing."""
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import dask.array as da
import numpy as np
import rasterio
import rioxarray

import tessera
import tessera.dask
from support import (BATCH, REAL_DATA, ScratchCase, close_cluster, in_python_words, local_cluster,
                     run_batch, write_scene)

cluster = client = scene_dir = None


def setUpModule():
    global cluster, client, scene_dir
    scene_dir = Path(tempfile.mkdtemp(prefix="tessera-dask-"))
    write_scene(scene_dir / "scene.tif")
    run_batch(["--out", scene_dir / "tool", "--method", "equipopulation", "--segments", 4,
               "--min-pixels", 2000, "--band", f"{scene_dir}/scene.tif:1", "--band",
               f"{scene_dir}/scene.tif:2", "--method", "segmentation", "--segments", 5,
               "--band", f"{scene_dir}/scene.tif:3", "--stretch", "1500,9000", "--band",
               f"{scene_dir}/scene.tif:4"])
    cluster, client = local_cluster()


def tearDownModule():
    close_cluster(cluster, client)
    shutil.rmtree(scene_dir, True)


SCENE_CHOICES = dict(method=["equipopulation", "segmentation", "equipopulation",
                             "equipopulation"],
                     segments=[4, 5, 4, 4], stretch=[None, None, (1500, 9000), None],
                     min_pixels=2000)


class SameAsTheBatchTool(ScratchCase):
    def treat_and_compare(self, chunks):
        scene = rioxarray.open_rasterio(scene_dir / "scene.tif", chunks=chunks)
        result = tessera.dask.treat(scene, **SCENE_CHOICES)
        # An xarray scene gives an xarray result, its data the lazy classes.
        self.assertIsInstance(result.classes.data, da.Array)
        self.assertEqual(result.classes.data.numblocks, scene.data.numblocks[1:])
        tool = np.fromfile(scene_dir / "tool.raw", dtype=np.uint8).reshape(2000, 2000)
        self.assertEqual(result.classes.values.tobytes(), tool.tobytes())
        self.assertEqual(result.report, (scene_dir / "tool.txt").read_text())
        tessera.dask.write(result, self.dir / "dask", formats="tif,csv,qml,txt,raw,bmp")
        self.assertSameFiles(self.dir / "dask", scene_dir / "tool",
                             [".txt", ".csv", ".tif.aux.xml", ".qml", ".raw", ".bmp"])
        with rasterio.open(self.dir / "dask.tif") as mine, \
                rasterio.open(scene_dir / "tool.tif") as theirs:
            self.assertEqual(mine.read(1).tobytes(), theirs.read(1).tobytes())
            self.assertEqual(mine.colormap(1), theirs.colormap(1))
            self.assertEqual((mine.crs, mine.transform, mine.nodata),
                             (theirs.crs, theirs.transform, theirs.nodata))
            self.assertEqual(mine.overviews(1), theirs.overviews(1))
        return result

    def test_16_chunks(self):
        result = self.treat_and_compare((4, 500, 500))
        self.assertEqual(result.classes.data.numblocks, (4, 4))
        # The counts and colours of the job itself, as tessera.run answers them.
        job = tessera.run(bands=[f"{scene_dir}/scene.tif:{b}" for b in range(1, 5)],
                          out=self.dir / "run", **SCENE_CHOICES)
        self.assertEqual(result.counts.tolist(), job.counts.tolist())
        self.assertEqual(result.selected_codes.tolist(), job.selected_codes.tolist())
        self.assertEqual(result.colours.tolist(), job.colours.tolist())
        self.assertGreater(result.class_count, 20)

    def test_an_xarray_scene_gives_classes_on_its_coordinates(self):
        scene = rioxarray.open_rasterio(scene_dir / "scene.tif", chunks=(4, 1000, 1000))
        result = tessera.dask.treat(scene, **SCENE_CHOICES)
        classes = result.classes
        self.assertEqual(classes.dims, ("y", "x"))
        self.assertEqual(classes.x.values.tolist(), scene.x.values.tolist())
        self.assertEqual(classes.y.values.tolist(), scene.y.values.tolist())
        self.assertEqual((classes.rio.crs, classes.rio.transform(), classes.rio.nodata),
                         (scene.rio.crs, scene.rio.transform(), 255))
        # The labels and colours of the legend beside the tool's GeoTIFF.
        with rasterio.open(scene_dir / "tool.tif") as theirs:
            colours = theirs.colormap(1)
        count = result.class_count
        self.assertEqual(classes.attrs["class_colours"],
                         ["#%02x%02x%02x" % colours[k][:3] for k in range(1, count + 1)])
        legend = (scene_dir / "tool.tif.aux.xml").read_text()
        self.assertEqual(len(classes.attrs["class_labels"]), count)
        for label in classes.attrs["class_labels"]:
            self.assertIn(label.replace("&", "&amp;").replace("<", "&lt;"), legend)
        # rioxarray writes it as a GeoTIFF on the scene's place, with the tool's pixels.
        classes.rio.to_raster(self.dir / "rio.tif")
        with rasterio.open(self.dir / "rio.tif") as mine, \
                rasterio.open(scene_dir / "tool.tif") as theirs:
            self.assertEqual(mine.read(1).tobytes(), theirs.read(1).tobytes())
            self.assertEqual((mine.crs, mine.transform, mine.nodata),
                             (theirs.crs, theirs.transform, theirs.nodata))
        tessera.dask.write(result, self.dir / "dask")
        self.assertSameFiles(self.dir / "dask", scene_dir / "tool", [".txt", ".csv", ".qml"])

    def test_a_write_that_fails_keeps_the_earlier_set_whole(self):
        scene = rioxarray.open_rasterio(scene_dir / "scene.tif", chunks=(4, 1000, 1000))
        result = tessera.dask.treat(scene, **SCENE_CHOICES)
        earlier = {}
        for suffix in (".tif", ".txt", ".csv", ".tif.aux.xml"):
            (self.dir / ("dask" + suffix)).write_bytes(b"earlier " + suffix.encode())
            earlier[suffix] = b"earlier " + suffix.encode()
        (self.dir / "dask.qml").mkdir()  # no file can take its name
        with self.assertRaisesRegex(OSError, "dask.qml"):
            tessera.dask.write(result, self.dir / "dask")
        for suffix, content in earlier.items():
            self.assertEqual((self.dir / ("dask" + suffix)).read_bytes(), content)
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()),
                         sorted(["dask" + s for s in earlier] + ["dask.qml"]))

    def test_a_big_endian_band_is_read_as_the_numbers_it_holds(self):
        data = rioxarray.open_rasterio(scene_dir / "scene.tif").values
        names = [f"{scene_dir}/scene.tif:{b}" for b in range(1, 5)]
        swapped = [data[b].astype(data.dtype.newbyteorder(">")) for b in range(4)]
        self.assertTrue(all(not a.dtype.isnative for a in swapped))
        result = tessera.dask.treat([da.from_array(a, chunks=1000) for a in swapped],
                                    names=names, **SCENE_CHOICES)
        self.assertEqual(result.report, (scene_dir / "tool.txt").read_text())

    def test_3_uneven_chunks(self):
        result = self.treat_and_compare({"band": 4, "y": (900, 700, 400), "x": 2000})
        self.assertEqual(result.classes.data.numblocks, (3, 1))

    def test_bands_as_separate_arrays_with_their_names(self):
        data = rioxarray.open_rasterio(scene_dir / "scene.tif", chunks=(4, 1000, 700)).data
        names = [f"{scene_dir}/scene.tif:{b}" for b in range(1, 5)]
        result = tessera.dask.treat([data[b] for b in range(4)], names=names, **SCENE_CHOICES)
        self.assertEqual(result.report, (scene_dir / "tool.txt").read_text())
        self.assertIsNone(result.crs)


@unittest.skipUnless((REAL_DATA / "files.txt").exists(),
                     "the real scenes are not fetched (scripts/fetch-real-data.sh)")
class LandsatScene(ScratchCase):
    def test_nodata_values_and_stretches_of_a_landsat_8_scene(self):
        files = [next(REAL_DATA.glob(f"LC08_*_B{b}.TIF")) for b in (2, 3, 4, 5)]
        for file in files:
            shutil.copy(file, self.dir)
        files = [self.dir / f.name for f in files]
        # Band 2 without its darkest value, band 3 stretched as given, the rest on their own
        # ranges; the files declare -32768 as nodata.
        darkest = int(rasterio.open(files[0]).read(1).min())
        run_batch(["--out", self.dir / "tool", "--method", "equipopulation", "--segments", 3,
                   "--min-pixels", 5, "--band", files[0], "--nodata", darkest, "--band",
                   files[1], "--stretch", "7000,16000", "--band", files[2], "--band", files[3]])
        bands = [rioxarray.open_rasterio(f, chunks=(1, 15, 15)) for f in files]
        result = tessera.dask.treat(bands, method="equipopulation", segments=3, min_pixels=5,
                                    nodata=[darkest, None, None, None],
                                    stretch=[None, (7000, 16000), None, None])
        self.assertEqual(result.classes.data.numblocks, (3, 3))
        self.assertIn("Nodata value : %d" % darkest, result.report)
        self.assertEqual(result.report, (self.dir / "tool.txt").read_text())
        tessera.dask.write(result, self.dir / "dask")
        self.assertSameFiles(self.dir / "dask", self.dir / "tool", [".txt", ".csv",
                                                                    ".tif.aux.xml"])
        with rasterio.open(self.dir / "dask.tif") as mine:
            self.assertEqual(mine.read(1).tobytes(), (self.dir / "tool.raw").read_bytes())

    def test_a_byte_scene_with_a_nodata_gray_level(self):
        scene = REAL_DATA / "L7_ETMs.tif"
        run_batch(["--out", self.dir / "tool", "--method", "segmentation", "--segments", 3,
                   "--min-pixels", 30, "--nodata", 255, "--bands", scene])
        result = tessera.dask.treat(rioxarray.open_rasterio(scene, chunks=(6, 120, 349)),
                                    segments=3, min_pixels=30, nodata=255)
        self.assertGreater(result.nodata_pixels, 0)
        self.assertEqual(result.report, (self.dir / "tool.txt").read_text())
        self.assertEqual(result.classes.values.tobytes(),
                         (self.dir / "tool.raw").read_bytes())


class ArraysAsTheToolReadsFiles(ScratchCase):
    """Masks, scale and offset, percentiles and saved treatments on arrays, each checked against
    an independent reading of the same pixels."""

    def scene(self):
        return rioxarray.open_rasterio(scene_dir / "scene.tif", chunks=(1, 500, 700))

    def test_a_mask_leaves_its_pixels_without_data_in_every_band(self):
        # Masked by bits 0 and 2 of a quality array; the same pixels given the nodata value in
        # every band give the same classes.
        scene = self.scene()
        quality = np.random.default_rng(5).integers(0, 16, size=scene.shape[1:]).astype(np.uint8)
        masked = (quality & 0b101) != 0
        result = tessera.dask.treat(scene, mask=da.from_array(quality, chunks=(500, 700)),
                                    mask_bits=[0, 2], mask_names=["quality.tif (raster band 1)"],
                                    **SCENE_CHOICES)
        values = scene.values.copy()
        values[:, masked] = 0
        marked = tessera.dask.treat(da.from_array(values, chunks=(1, 500, 700)), nodata=0,
                                    **SCENE_CHOICES)
        classes = np.asarray(result.classes)
        self.assertEqual(classes.tobytes(), np.asarray(marked.classes).tobytes())
        self.assertTrue(np.all(classes[masked] == 255))
        self.assertIn("quality.tif (raster band 1), masked where any of bits 0 and 2 is set",
                      result.report)
        self.assertIn(f"Pixels masked (with data in every band) : {int(masked.sum())} ",
                      result.report)
        self.assertNotIn("does not cover", result.report)

    def test_scale_and_offset_from_the_attributes_or_the_keywords(self):
        # Physical values worked out by numpy, as Float64 bands, are stretched alike.
        scene = self.scene()
        stored = scene.values
        physical = da.from_array(stored * 2.0e-5 - 0.1, chunks=(1, 500, 700))
        choices = dict(method="equipopulation", segments=3, min_pixels=500)
        wanted = np.asarray(tessera.dask.treat(physical, **choices).classes)
        scene.attrs.update(scale_factor=2.0e-5, add_offset=-0.1)
        by_attributes = tessera.dask.treat(scene, **choices)
        by_keywords = tessera.dask.treat(self.scene(), scale=2.0e-5, offset=-0.1, **choices)
        for result in (by_attributes, by_keywords):
            self.assertEqual(np.asarray(result.classes).tobytes(), wanted.tobytes())
            self.assertIn("Float64", tessera.dask.treat(physical, **choices).report)
        self.assertEqual(by_attributes.report, by_keywords.report)

    def test_percentiles_are_numpy_s(self):
        scene = self.scene()
        result = tessera.dask.treat(scene, stretch="2%,98%", segments=3, min_pixels=500)
        for b, band in enumerate(result.treatment.bands()):
            values = scene.values[b].astype(np.float64)
            self.assertEqual(band[2], tuple(np.percentile(values, [2, 98])), f"band {b + 1}")
            self.assertEqual(band[4], (2.0, 98.0))

    def test_a_treatment_saved_from_arrays_is_the_tool_s_and_applies(self):
        names = [f"{scene_dir}/scene.tif:{b}" for b in range(1, 5)]
        choices = dict(method="segmentation", segments=3, min_pixels=300)
        tessera.run(names, out=str(self.dir / "tool"), save_treatment=str(self.dir / "tool.json"),
                    **choices)
        result = tessera.dask.treat(self.scene(), names=names,
                                    save_treatment=str(self.dir / "arrays.json"), **choices)
        self.assertEqual((self.dir / "arrays.json").read_bytes(),
                         (self.dir / "tool.json").read_bytes())
        again = tessera.dask.treat(self.scene(), names=names,
                                   apply_treatment=str(self.dir / "arrays.json"))
        self.assertEqual(np.asarray(again.classes).tobytes(),
                         np.asarray(result.classes).tobytes())
        self.assertIn("Treatment applied : ", again.report)
        with self.assertRaisesRegex(ValueError, "arrays.json"):
            tessera.dask.treat(self.scene()[:3], apply_treatment=str(self.dir / "arrays.json"))


def write_band(path, data, nodata, blocks, scale=None, offset=None):
    """A GeoTIFF of data's bands (bands, lines, columns): tiled when blocks is a tile size, else
    in strips of that many lines, pixel-interleaved."""
    bands, lines, columns = data.shape
    layout = dict(tiled=True, blockxsize=blocks, blockysize=blocks) if blocks >= 16 \
        else dict(blockysize=-blocks, interleave="pixel")
    from rasterio.transform import from_origin
    with rasterio.open(path, "w", driver="GTiff", width=columns, height=lines, count=bands,
                       dtype=data.dtype, nodata=nodata, crs="EPSG:32631",
                       transform=from_origin(440000, 5000000, 30, 30), compress="deflate",
                       **layout) as target:
        target.write(data)
        if scale is not None:
            target.scales = [scale] * bands
            target.offsets = [offset] * bands


class StoredWindows(ScratchCase):
    """A window's bands of 16 bits kept as stored, decoded once: their range and gray levels
    are those of the window read from the file, whatever the layout, the sign, the nodata
    value, the scale and the masks; and a run on them gives the batch tool's files."""

    def scenes(self):
        rng = np.random.default_rng(11)
        lines, columns = 300, 260
        signed = rng.integers(-3000, 3000, size=(2, lines, columns), dtype=np.int16)
        signed[:, :40, :] = -9999  # a nodata border
        signed[1, 100:110, 50:60] = 32767
        write_band(self.dir / "signed.tif", signed, -9999, 64, scale=0.01, offset=-5.0)
        unsigned = rng.integers(0, 65535, size=(2, lines, columns), dtype=np.uint16)
        unsigned[:, :, :7] = 0
        write_band(self.dir / "unsigned.tif", unsigned, 0, -50)
        mask = np.zeros((1, lines, columns), dtype=np.uint8)
        mask[0, 150:200, 100:220] = 3
        write_band(self.dir / "mask.tif", mask, None, 64)
        masked = dict(mask=str(self.dir / "mask.tif"), mask_values=[3])
        return {"signed, scaled, tiled": ([f"{self.dir}/signed.tif:1",
                                           f"{self.dir}/signed.tif:2"], masked),
                "unsigned, pixel-interleaved strips": (str(self.dir / "unsigned.tif"), {})}

    def test_stored_windows_read_as_the_file(self):
        from tessera import _core
        from tessera.dask import _choices_of
        for name, (bands, extra) in self.scenes().items():
            with self.subTest(scene=name):
                given = _choices_of(bands, dict(method="segmentation", segments=4,
                                                out=str(self.dir / "x"), **extra))
                # A task's job reads the window; the driver takes the ranges.
                reader, driver = _core.WindowedJob(given, []), _core.WindowedJob(given, [])
                kept = reader.stored_bands()
                self.assertEqual(kept, [1, 2])
                low, high = driver.ranges(0, 300)
                driver.take_ranges(list(low), list(high))
                stretched = _core.WindowedJob(given, driver.stretches())
                # Windows of whole blocks, and windows that cut across them.
                for first, count in ((0, 64), (64, 128), (256, 44), (10, 37), (250, 50)):
                    stored = reader.stored(first, count)
                    for mine, file in zip(reader.ranges_from(first, count, stored),
                                          reader.ranges(first, count)):
                        np.testing.assert_array_equal(mine, file)
                    for mine, file in zip(stretched.read_from(first, count, kept, stored),
                                          stretched.read(first, count)):
                        np.testing.assert_array_equal(mine, file)

    def test_a_run_on_stored_windows_gives_the_tools_files(self):
        for name, (bands, extra) in self.scenes().items():
            with self.subTest(scene=name):
                out = self.dir / name.split(",")[0]
                arguments = ["--method", "segmentation", "--segments", "4", "--min-pixels", "50"]
                if extra:
                    arguments += ["--mask", extra["mask"], "--mask-values", "3"]
                if isinstance(bands, str):
                    arguments += ["--bands", bands]
                else:
                    for band in bands:
                        arguments += ["--band", band]
                run_batch(arguments + ["--out", f"{out}-tool"])
                tessera.dask.run(bands, method="segmentation", segments=4, min_pixels=50,
                                 out=str(out), chunk_lines=64, **extra)
                self.assertSameFiles(out, f"{out}-tool",
                                     [".txt", ".raw", ".bmp", ".csv", ".tif.aux.xml", ".qml"])


class RefusalsOnFiles(ScratchCase):
    """tessera.run and tessera.dask.run refuse bad input alike: one sentence naming the file,
    the exception of its kind, and nothing written."""

    def refused_alike(self, bands, exception, pattern, **choices):
        for run in (tessera.run, tessera.dask.run):
            with self.subTest(run=run.__module__, pattern=pattern):
                with self.assertRaisesRegex(exception, pattern):
                    run(bands, out=str(self.dir / "out"), method="segmentation", segments=3,
                        min_pixels=10, **choices)
                self.assertEqual([p.name for p in self.dir.iterdir() if p.name.startswith("out")],
                                 [])

    def test_masks_windows_and_treatments_that_do_not_fit(self):
        import rasterio
        scene = str(self.dir / "scene.tif")
        write_scene(scene, lines=300, columns=400)
        other = str(self.dir / "other-crs.tif")
        with rasterio.open(scene) as source:
            profile = dict(source.profile, count=1, crs="EPSG:32632")
            with rasterio.open(other, "w", **profile) as target:
                target.write(source.read(1), 1)
        self.refused_alike(scene, ValueError, "other-crs.tif.*another coordinate system",
                           mask=other)
        self.refused_alike(scene, ValueError, "scene.tif", window_pixels=(500, 0, 10, 10))
        two = str(self.dir / "saved-two.json")
        tessera.run([f"{scene}:1", f"{scene}:2"], out=str(self.dir / "two"), segments=3,
                    min_pixels=10, save_treatment=two)
        for name in os.listdir(self.dir):
            if name.startswith("two."):
                os.remove(self.dir / name)
        for run in (tessera.run, tessera.dask.run):
            with self.subTest(run=run.__module__):
                with self.assertRaisesRegex(ValueError, "saved-two.json.*2 bands"):
                    run(scene, out=str(self.dir / "out"), apply_treatment=two)

    def test_a_file_the_workers_cannot_read(self):
        # The header reads, the strips past the first half do not: the driver opens the job and
        # a worker meets the fault, named as the batch tool names it.
        scene = self.dir / "cut.tif"
        write_scene(scene, lines=400, columns=300)
        os.truncate(scene, scene.stat().st_size * 6 // 10)
        done = subprocess.run([BATCH, "--bands", str(scene), "--out", str(self.dir / "tool"),
                               "--method", "segmentation", "--segments", "3", "--quiet"],
                              capture_output=True, text=True)
        self.assertEqual(3, done.returncode)
        self.assertIn("cut.tif band 1 cannot be loaded: GDAL cannot read its line 201",
                      done.stderr)
        # On the cluster, the first window that fails to read is the one named: a line of the
        # strips past the cut either way.
        self.refused_alike(str(scene), ValueError,
                           "cut.tif band 1 cannot be loaded: GDAL cannot read its line [23]01")


class Refusals(ScratchCase):
    """Each refused before a pass runs, or by the pass that finds it; nothing is written."""

    def bands(self, shape=(60, 80), chunks=(30, 40), dtype=np.uint16, count=3):
        rng = np.random.default_rng(3)
        return [da.from_array(rng.integers(100, 4000, size=shape).astype(dtype), chunks=chunks)
                for _ in range(count)]

    def tearDown(self):
        self.assertEqual(list(self.dir.iterdir()), [])

    def test_refusals_name_the_band_in_python_words(self):
        bands = self.bands()
        for given, message in (
                ([bands[0], np.zeros((60, 80), dtype=object)], "^band 2: a band of object "
                 "values cannot be segmented"),
                ([bands[0], np.asarray(bands[1])[:30]], "^band 2 holds 30 x 80 pixels"),
                (bands[:1], "^bands holds 1 array: give 2 to 32$")):
            with self.subTest(message=message):
                with self.assertRaisesRegex(ValueError, message):
                    tessera.dask.treat(given)
        with self.assertRaisesRegex(ValueError, r"^band 2: the stretch 500,10 needs a MIN "
                                                r"lower than its MAX\.$"):
            tessera.dask.treat(bands, stretch=[None, (500, 10), None])

    def test_arrays_of_different_shapes(self):
        bands = self.bands()
        bands[2] = bands[2][:, :70]
        with self.assertRaisesRegex(ValueError, r"^band 3 holds 60 x 70 pixels .*band 1 60 x 80"):
            tessera.dask.treat(bands)

    def test_chunks_that_disagree(self):
        bands = self.bands()
        bands[1] = bands[1].rechunk((20, 40))
        with self.assertRaisesRegex(ValueError, "^the blocks of band 2 are not those of band 1 "
                                                r"\(in lines"):
            tessera.dask.treat(bands)

    def test_an_unsupported_dtype(self):
        bands = self.bands()
        bands[0] = bands[0].astype(np.complex64)
        with self.assertRaisesRegex(ValueError, "^band 1: a band of complex64 values cannot be "
                                                "segmented"):
            tessera.dask.treat(bands)

    def test_a_method_name_or_segment_count_out_of_range(self):
        with self.assertRaisesRegex(ValueError, "^unknown method 'kmeans'"):
            tessera.dask.treat(self.bands(), method="kmeans")
        _, message = run_batch(["--out", "x", "--method", "segmentation", "--segments", 0,
                                "--band", "a", "--band", "b"], check=False)
        with self.assertRaises(ValueError) as raised:
            tessera.dask.treat(self.bands(), segments=0)
        self.assertEqual(str(raised.exception), in_python_words(message))

    def test_a_band_count_out_of_range(self):
        with self.assertRaisesRegex(ValueError, "bands holds 1 arrays?: give 2 to 32"):
            tessera.dask.treat(self.bands(count=1))

    def test_more_than_250_classes(self):
        with self.assertRaisesRegex(ValueError, "^--keep-all would make 1000 classes, more than "
                                                "250"):
            tessera.dask.treat(self.bands(), segments=10, keep_all=True)
        with self.assertRaisesRegex(ValueError, "codes have more than 0 pixels, more than the "
                                                "250 classes allowed"):
            tessera.dask.treat(self.bands(), segments=10)

    def test_more_classes_as_asked_are_16_bit_and_written_so(self):
        result = tessera.dask.treat(self.bands(), segments=10, keep_all=True, max_classes=1000)
        self.assertEqual(1000, result.class_count)
        classes = np.asarray(result.classes)
        self.assertEqual(np.uint16, classes.dtype)
        # Every code kept: class k is code k, so the classes are the codes with pixels.
        held = np.flatnonzero(np.asarray(result.counts)[1:]) + 1
        self.assertEqual(held.tolist(), sorted(set(classes.ravel().tolist())))
        self.assertGreater(held.max(), 255)
        with self.assertRaisesRegex(ValueError, "^--keep-all would make 1000 classes, more than "
                                                "999"):
            tessera.dask.treat(self.bands(), segments=10, keep_all=True, max_classes=999)
        # Written on a map: the 16-bit classes, 65535 for none, a colour for each class.
        out = Path(tempfile.mkdtemp(prefix="tessera-wide-"))
        self.addCleanup(shutil.rmtree, out, True)
        tessera.dask.write(result, out / "wide", crs="EPSG:32631",
                           transform=(600000, 10, 0, 5400000, 0, -10))
        with rasterio.open(out / "wide.tif") as written:
            self.assertEqual(("uint16", 65535), (written.dtypes[0], written.nodata))
            np.testing.assert_array_equal(written.read(1), classes)
            self.assertEqual(tuple(int(c) for c in result.colours[1000]) + (255,),
                             written.colormap(1)[1000])
        rows = (out / "wide.csv").read_text().splitlines()
        self.assertEqual(1001, len(rows))
        # Off the map, the raw classes and the report only.
        tessera.dask.write(result, out / "plain", formats=["raw", "txt"])
        self.assertEqual(classes.astype("<u2").tobytes(), (out / "plain.raw").read_bytes())
        self.assertEqual(result.report, (out / "plain.txt").read_text())
        self.assertEqual(sorted(os.listdir(out)),
                         ["plain.raw", "plain.txt"] +
                         ["wide" + e for e in (".csv", ".qml", ".tif", ".tif.aux.xml", ".txt")])

    def test_a_band_whose_every_pixel_is_without_data(self):
        bands = self.bands()
        bands[1] = da.full((60, 80), 7, dtype=np.uint16, chunks=(30, 40))
        with self.assertRaisesRegex(ValueError, "^The raster b band 1 cannot be loaded: every "
                                                "pixel holds its nodata value 7, which leaves"):
            tessera.dask.treat(bands, nodata=[None, 7, None], names=["a", "b", "c"])

    def test_an_attribute_scale_of_0(self):
        import xarray
        bands = [xarray.DataArray(b, dims=("y", "x"), attrs={"scale_factor": 0.0})
                 for b in self.bands()]
        with self.assertRaisesRegex(ValueError, "^the attributes scale_factor 0 and add_offset 0 "
                                                "give no physical values"):
            tessera.dask.treat(bands)

    def test_masks_that_do_not_lie_on_the_bands(self):
        bands = self.bands()
        for mask, message in (
                (np.zeros((60, 81), dtype=np.uint8), r"^mask 1: it holds 60 x 81 pixels, the "
                 r"bands 60 x 80: a mask lies on the bands' pixels$"),
                (da.zeros((60, 80), dtype=np.uint8, chunks=(20, 40)), r"^mask 1: it is cut into "
                 r"the chunks \(20, 20, 20\) x \(40, 40\), the bands into \(30, 30\) x "
                 r"\(40, 40\): give it the bands' chunks$"),
                (np.zeros((60, 80), dtype=np.float32), "^mask 1: a mask holds whole numbers, "
                 "not float32$")):
            with self.subTest(message=message):
                with self.assertRaisesRegex(ValueError, message):
                    tessera.dask.treat(bands, mask=mask)
        with self.assertRaisesRegex(ValueError, "64"):
            tessera.dask.treat(bands, mask=np.zeros((60, 80), dtype=np.uint8), mask_bits=[64])

    def test_choices_of_a_job_on_files(self):
        for keyword, value in (("window", (0, 0, 10, 10)), ("grid", "b.tif"),
                               ("out", "result")):
            with self.subTest(keyword=keyword):
                with self.assertRaisesRegex(ValueError, f"^{keyword} is a choice of a job on "
                                                        "files: "):
                    tessera.dask.treat(self.bands(), **{keyword: value})

    def test_writing_classes_that_lie_on_no_map(self):
        result = tessera.dask.treat(self.bands(), segments=3)
        with self.assertRaisesRegex(ValueError, "lie on no map"):
            tessera.dask.write(result, self.dir / "out")


if __name__ == "__main__":
    unittest.main()
