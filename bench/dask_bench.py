#!/usr/bin/python3
"""tessera.dask on a LocalCluster against tessera-batch on the same scene.

    PYTHONPATH=build/python bench/dask_bench.py FOLDER [--size 8000] [--bands 10] [--runs 2]
                                                [--chunks 2048,1024] [--batch PATH]
                                                [--files 512,1024] [--clusters 2x1,1x2]

--files L: tessera.dask.run on the files in windows of L lines (0: its default), on each cluster of --clusters
(WORKERSxTHREADS); its time is the job's, the cluster's start excluded, and its files must be
the tool's, byte for byte.

Makes (once) B bands of S x S UInt16 in tiles of 512 (tessera-make-geotiff, separate files,
nodata 0 and a nodata border), then runs, alternating, R times each: tessera-batch --threads 2
and tessera.dask.treat + write with chunks of C x C (each a whole number of tiles), every run
under perf stat -e task-clock,page-faults and /usr/bin/time -v. Both write STEM.tif, .csv,
.txt; the class GeoTIFFs' pixels must be the same. Prints per case the median wall time, CPU
time, page faults and peak memory (the tool's max RSS; for dask the client's and each
worker's own peak), the dask passes' times, and the overhead per chunk: the extra time of the
finer chunking divided by its extra chunks. The load of the machine (uptime) is printed before
and after. Run by hand, never by ctest.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
JOB = ["--method", "segmentation", "--segments", "4", "--min-pixels", "1000"]


def measured(command, env=None):
    """Runs `command` under perf stat and /usr/bin/time -v: wall, task-clock, page faults,
    max RSS, and what the command printed last on stdout (a JSON line, for dask runs)."""
    with tempfile.TemporaryDirectory() as scratch:
        perf = Path(scratch, "perf.txt")
        rusage = Path(scratch, "time.txt")
        start = time.perf_counter()
        done = subprocess.run(["perf", "stat", "-x,", "-e", "task-clock,page-faults", "-o",
                               str(perf), "/usr/bin/time", "-v", "-o", str(rusage)] + command,
                              capture_output=True, text=True, env=env)
        wall = time.perf_counter() - start
        if done.returncode != 0:
            sys.exit(f"failed: {' '.join(command)}\n{done.stderr}")
        counters = {}
        for line in perf.read_text().splitlines():
            fields = line.split(",")
            if len(fields) > 2 and fields[2] in ("task-clock", "page-faults"):
                counters[fields[2]] = float(fields[0])
        peak = 0
        for line in rusage.read_text().splitlines():
            if "Maximum resident set size" in line:
                peak = int(line.split(":")[1]) / 1024
        last = done.stdout.strip().splitlines()[-1] if done.stdout.strip() else "{}"
        return dict(wall=wall, cpu=counters.get("task-clock", 0) / 1000,
                    faults=counters.get("page-faults", 0), rss=peak, own=json.loads(last))


def counting_bytes(client):
    """The bytes this client sends its scheduler (graphs, keys, messages), per pass: each
    persist or compute of tessera.dask is a pass, named by its tasks; the bytes sent between
    one's start and the next one's are the first one's. The results of the passes go from
    the workers to this client, not through the scheduler."""
    import distributed

    import tessera.dask
    passes = []

    def name_of(items):
        key = str(getattr(items[0], "key", "") if items else "")
        key = key.strip("('")
        if key.startswith("tessera-"):
            return key.split("-")[1]
        return {"_fold_ranges": "range", "_add_arrays": "statistics",
                "_add_code_counts": "counts", "_merge_searches": "percentiles"}.get(
                    key.split("-")[0], key.split("-")[0])

    def note(items):
        # A persist returns before its graph is sent: a moment for it to go (6 passes, some
        # 0.1 s in all, counted in the job's time).
        time.sleep(0.02)
        sent = client.scheduler_comm.byte_count
        if passes:
            passes[-1][1] = sent - passes[-1][1]
        passes.append([name_of(items), sent])

    for method in ("persist", "compute"):
        original = getattr(tessera.dask._Computing, method)

        def wrapped(self, *items, _original=original):
            note(items)
            return _original(self, *items)
        setattr(tessera.dask._Computing, method, wrapped)
    original_compute = distributed.Client.compute

    def client_compute(self, collections, *rest, **keywords):
        note(collections if isinstance(collections, list) else [collections])
        return original_compute(self, collections, *rest, **keywords)
    distributed.Client.compute = client_compute

    def finished():
        time.sleep(0.1)
        if passes:
            passes[-1][1] = client.scheduler_comm.byte_count - passes[-1][1]
        return {name: sent for name, sent in passes}
    return finished


def window_lines(arguments):
    """The lines of tessera.dask.run's windows for --chunk (0: its default, a row of the bench
    scene's 512-line tiles), in whole rows of tiles."""
    lines = arguments.chunk or 512
    return max(1, (lines + 256) // 512) * 512


def dask_files(arguments):
    """One tessera.dask.run job on the files in this process (the measured command)."""
    import resource

    from distributed import Client, LocalCluster

    import tessera.dask
    files = sorted(Path(arguments.folder).glob("band*.tif"))[:arguments.bands]
    os.environ.setdefault("GDAL_CACHEMAX", "64")
    workers, threads = (int(n) for n in arguments.cluster.split("x"))
    with LocalCluster(n_workers=workers, threads_per_worker=threads, processes=True,
                      host="127.0.0.1", dashboard_address=None) as cluster, \
            Client(cluster) as client:
        finished = counting_bytes(client)
        started = time.perf_counter()
        tessera.dask.run([str(f) for f in files], method="segmentation", segments=4,
                         min_pixels=1000, out=arguments.out, formats="tif,txt,csv",
                         chunk_lines=arguments.chunk or None)
        treated = time.perf_counter()
        sent = finished()
        peaks = client.run(lambda: resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024)
        cpu = client.run(lambda: sum(resource.getrusage(resource.RUSAGE_SELF)[:2]))
    print(json.dumps(dict(treat=treated - started, write=0.0,
                          chunks=-(-arguments.size // window_lines(arguments)),
                          workers=sorted(peaks.values()), worker_cpu=sum(cpu.values()),
                          sent=sent,
                          client=resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024)))


def dask_run(arguments):
    """One tessera.dask job in this process (the measured command of a dask case)."""
    import resource

    import rioxarray
    from distributed import Client, LocalCluster

    import tessera.dask
    chunk = arguments.chunk
    files = sorted(Path(arguments.folder).glob("band*.tif"))
    # GDAL's block cache defaults to 5 % of the machine's memory in every worker process, which
    # a chunk read whole never reuses: bounded, as tessera-batch bounds its own.
    os.environ.setdefault("GDAL_CACHEMAX", "64")
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        started = time.perf_counter()
        bands = [rioxarray.open_rasterio(f, chunks=(1, chunk, chunk), lock=False)
                 for f in files]
        result = tessera.dask.treat(bands, method="segmentation", segments=4, min_pixels=1000,
                                    names=[str(f) for f in files])
        treated = time.perf_counter()
        tessera.dask.write(result, arguments.out)
        written = time.perf_counter()
        workers = client.run(lambda: resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024)
        cpu = client.run(lambda: sum(resource.getrusage(resource.RUSAGE_SELF)[:2]))
        chunks = result.classes.data.npartitions
    print(json.dumps(dict(treat=treated - started, write=written - treated, chunks=chunks,
                          workers=sorted(workers.values()), worker_cpu=sum(cpu.values()),
                          client=resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--size", type=int, default=8000)
    parser.add_argument("--bands", type=int, default=10)
    parser.add_argument("--runs", type=int, default=2)
    parser.add_argument("--chunks", default="2048,1024")
    parser.add_argument("--batch", default=str(ROOT / "build/src/tessera-batch"))
    parser.add_argument("--make", default=str(ROOT / "build/bench/tessera-make-geotiff"))
    parser.add_argument("--files", default="512,1024")
    parser.add_argument("--clusters", default="2x1,1x2")
    parser.add_argument("--dask-files", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--cluster", default="2x1", help=argparse.SUPPRESS)
    parser.add_argument("--dask-run", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--chunk", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--out", help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.dask_run:
        return dask_run(arguments)
    if arguments.dask_files:
        return dask_files(arguments)

    folder = Path(arguments.folder)
    if not (folder / f"band{arguments.bands:02d}.tif").exists():
        folder.mkdir(parents=True, exist_ok=True)
        subprocess.run([arguments.make, str(folder), "--layout", "separate", "--bands",
                        str(arguments.bands), "--size", str(arguments.size), "--tile", "512"],
                       check=True)
    files = sorted(folder.glob("band*.tif"))[:arguments.bands]
    print("load before:", subprocess.run(["uptime"], capture_output=True, text=True).stdout.strip())
    env = dict(os.environ, PYTHONPATH=str(ROOT / "build/python"))
    cases = {"tessera-batch": [arguments.batch, "--quiet", "--threads", "2", "--out",
                               str(folder / "batch"), "--format", "tif,txt,csv"] + JOB +
             [a for f in files for a in ("--band", str(f))]}
    for cluster in filter(None, arguments.clusters.split(",")):
        for lines in (int(c) for c in filter(None, arguments.files.split(","))):
            cases[f"run {cluster} {lines}"] = [
                sys.executable, str(Path(__file__).resolve()), str(folder), "--dask-files",
                "--bands", str(arguments.bands), "--size", str(arguments.size),
                "--cluster", cluster, "--chunk", str(lines),
                "--out", str(folder / f"run{cluster}-{lines}")]
    for chunk in (int(c) for c in filter(None, arguments.chunks.split(","))):
        cases[f"dask {chunk}"] = [sys.executable, str(Path(__file__).resolve()), str(folder),
                                  "--dask-run", "--chunk", str(chunk), "--out",
                                  str(folder / f"dask{chunk}")]
    runs = {name: [] for name in cases}
    for _ in range(arguments.runs):
        for name, command in cases.items():
            runs[name].append(measured(command, env))
            print(f"  {name}: {runs[name][-1]['wall']:.1f} s", flush=True)
    print("load after:", subprocess.run(["uptime"], capture_output=True, text=True).stdout.strip())

    import numpy as np
    import rasterio
    with rasterio.open(folder / "batch.tif") as tool:
        expected = tool.read(1)
    for name in cases:
        if name.startswith("run"):
            _, cluster, lines = name.split()
            for extension in (".tif", ".txt", ".csv"):
                mine = (folder / f"run{cluster}-{lines}{extension}").read_bytes()
                tool = (folder / f"batch{extension}").read_bytes()
                if extension == ".txt":
                    mine = mine.replace(f"run{cluster}-{lines}".encode(), b"batch")
                if mine != tool:
                    sys.exit(f"{name}: {extension} differs from tessera-batch's")
        if name.startswith("dask"):
            with rasterio.open(folder / f"dask{name.split()[1]}.tif") as mine:
                if not np.array_equal(mine.read(1), expected):
                    sys.exit(f"{name}: the classes differ from tessera-batch's")
    print(f"{'case':<14} {'wall s':>7} {'cpu s':>7} {'faults':>9} {'max RSS MiB':>12}"
          "   dask: chunks, treat s, write s, worker peak MiB, client MiB")
    medians = {}
    for name, measures in runs.items():
        median = {k: statistics.median(m[k] for m in measures)
                  for k in ("wall", "cpu", "faults", "rss")}
        medians[name] = median
        own = measures[-1]["own"]
        extra = ""
        if own:
            extra = (f"   {own['chunks']}, {statistics.median(m['own']['treat'] for m in measures):.1f},"
                     f" {statistics.median(m['own']['write'] for m in measures):.1f},"
                     f" {', '.join(f'{w:.0f}' for w in own['workers'])}, {own['client']:.0f}")
        print(f"{name:<14} {median['wall']:7.1f} {median['cpu']:7.1f} {median['faults']:9.0f}"
              f" {median['rss']:12.0f}{extra}")
    for name, measures in runs.items():
        if name.startswith("run"):
            job = statistics.median(m["own"]["treat"] for m in measures)
            print(f"{name}: the job alone {job:.1f} s = "
                  f"{job / medians['tessera-batch']['wall']:.2f} x tessera-batch's wall time; "
                  f"workers' CPU {measures[-1]['own']['worker_cpu']:.1f} s; sent to the "
                  "scheduler: " + ", ".join(f"{step} {sent / 1024:.0f} KiB" for step, sent in
                                             measures[-1]["own"]["sent"].items()))
        if name.startswith("dask"):
            print(f"{name}: treat + write {medians[name]['wall']:.1f} s in "
                  f"{measures[-1]['own']['chunks']} chunks; workers' CPU "
                  f"{measures[-1]['own']['worker_cpu']:.1f} s")
    for cluster in filter(None, arguments.clusters.split(",")):
        files = [n for n in runs if n.startswith(f"run {cluster} ")]
        if len(files) >= 2:
            jobs = {n: statistics.median(m["own"]["treat"] for m in runs[n]) for n in files}
            counts = {n: runs[n][-1]["own"]["chunks"] for n in files}
            few, many = min(files, key=counts.get), max(files, key=counts.get)
            extra = (jobs[many] - jobs[few]) / max(counts[many] - counts[few], 1)
            print(f"{cluster}: overhead per window {1000 * extra:.0f} ms "
                  f"({counts[few]} against {counts[many]} windows, about 6 tasks a window)")
    dask_cases = [n for n in runs if n.startswith("dask")]
    if len(dask_cases) >= 2:
        coarse, fine = dask_cases[0], dask_cases[-1]
        chunks = [runs[n][-1]["own"]["chunks"] for n in (coarse, fine)]
        extra = medians[fine]["wall"] - medians[coarse]["wall"]
        print(f"overhead per chunk: {extra:.1f} s over {chunks[1] - chunks[0]} more chunks = "
              f"{1000 * extra / max(chunks[1] - chunks[0], 1):.0f} ms a chunk (4 graphs: range, "
              "histograms, counts, write)")


if __name__ == "__main__":
    main()
