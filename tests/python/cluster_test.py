"""tessera.dask.run as a cluster runs it: a worker killed in the middle of each pass in turn, and
a scheduler and workers started as separate processes through dask's own command line. Every
run must give the batch tool's files, byte for byte. Everything runs on loopback, bounded in
time, and every process started here is stopped."""
import os
import signal
import socket
import subprocess
import sys
import unittest

from support import BATCH, ScratchCase, run_batch, write_scene

import tessera.dask

FILES = (".bmp", ".raw", ".txt", ".tif", ".tif.aux.xml", ".csv", ".qml")
# The steps of a run, by the names of their tasks.
PASSES = ("stored", "range", "percentiles0", "gray", "statistics", "counts", "classes")


def batch_arguments(scene, out, percentiles):
    arguments = ["--method", "equipopulation", "--segments", "3", "--min-pixels", "2000"]
    if percentiles:
        arguments += ["--stretch", "2%,98%"]
    return arguments + ["--bands", scene, "--out", out]


def keywords(percentiles):
    chosen = dict(method="equipopulation", segments=3, min_pixels=2000)
    if percentiles:
        chosen["stretch"] = "2%,98%"
    return chosen


class KillOnce:
    """A worker plugin: the worker that starts the first task of the named step kills its own
    process (SIGKILL), in the middle of that pass; the marker file makes it happen once, even
    on the workers the nanny starts again."""

    def __init__(self, step, marker):
        self.step, self.marker = step, marker

    def setup(self, worker):
        pass

    def teardown(self, worker):
        pass

    def transition(self, key, start, finish, **kwargs):
        if finish != "executing" or not str(key).startswith(f"tessera-{self.step}-"):
            return
        try:
            os.close(os.open(self.marker, os.O_CREAT | os.O_EXCL | os.O_WRONLY))
        except FileExistsError:
            return
        self.kill()

    def kill(self):
        os.kill(os.getpid(), signal.SIGKILL)


class KillScheduler(KillOnce):
    """A worker plugin: the worker that starts the first task of the named step kills the
    scheduler's process (its pid in `pid_file`), in the middle of that pass."""

    def __init__(self, step, marker, pid_file):
        super().__init__(step, marker)
        self.pid_file = pid_file

    def kill(self):
        with open(self.pid_file) as file:
            os.kill(int(file.read()), signal.SIGKILL)


class LostWorker(ScratchCase):
    """A LocalCluster with nannies: a worker killed in the middle of a pass is started again,
    what it held is computed again from the graph, and the files are those of the batch tool.
    Each pass has a cluster of its own, so that no kill leaves anything for the next."""

    def test_a_worker_killed_in_each_pass(self):
        from distributed import Client, LocalCluster
        scene = str(self.dir / "scene.tif")
        write_scene(scene, lines=1200, columns=1200)
        for percentiles in (False, True):
            run_batch(batch_arguments(scene, str(self.dir / f"batch{percentiles}"), percentiles))
        for step in PASSES:
            percentiles = step == "percentiles0"
            with self.subTest(step=step), \
                    LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                 host="127.0.0.1", dashboard_address=None) as cluster, \
                    Client(cluster) as client:
                marker = self.dir / f"killed-{step}"
                client.register_worker_plugin(KillOnce(step, str(marker)), name="kill")
                out = self.dir / f"lost-{step}"
                tessera.dask.run(scene, out=str(out), chunk_lines=100, **keywords(percentiles))
                self.assertTrue(marker.exists(), f"no worker died in the {step} pass")
                self.assertSameFiles(out, self.dir / f"batch{percentiles}", FILES)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class CommandLineCluster(ScratchCase):
    """A scheduler and three single-threaded workers started by `dask scheduler` and
    `dask worker` as processes of their own; the client connects by address."""

    def start(self, *arguments):
        process = subprocess.Popen([sys.executable, "-m", "dask", *arguments],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        self.addCleanup(self.stop, process)
        return process

    @staticmethod
    def stop(process):
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGTERM)
            try:
                process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()

    def start_cluster(self, workers):
        """A scheduler on a free port and single-threaded workers: its address and process."""
        port = free_port()
        address = f"tcp://127.0.0.1:{port}"
        scheduler = self.start("scheduler", "--host", "127.0.0.1", "--port", str(port),
                               "--no-dashboard")
        for _ in range(workers):
            self.start("worker", address, "--nworkers", "1", "--nthreads", "1",
                       "--no-dashboard", "--local-directory", str(self.dir / "workers"))
        return address, scheduler

    def test_masks_and_a_window_on_three_workers(self):
        from distributed import Client
        address, _ = self.start_cluster(3)
        scene = str(self.dir / "scene.tif")
        write_scene(scene, lines=600, columns=700)
        mask = str(self.dir / "mask.tif")
        write_scene(mask, lines=600, columns=700, bands=1, seed=3)
        window = ["--window-pixels", "50,40,500,600"]
        batch = ["--method", "segmentation", "--segments", "3", "--min-pixels", "500",
                 "--mask", mask, "--mask-values", "1000,1001,1002,1003,1004,1005"]
        run_batch(batch + window + ["--bands", scene, "--out", str(self.dir / "batch")])
        with Client(address, timeout=60) as client:
            client.wait_for_workers(3, timeout=60)
            # The workers import the module as their environment has it: none was handed to
            # them here.
            places = client.run(lambda: __import__("tessera").__file__)
            self.assertEqual(len(places), 3)
            tessera.dask.run(scene, method="segmentation", segments=3, min_pixels=500,
                             mask=mask, mask_values=[1000, 1001, 1002, 1003, 1004, 1005],
                             window_pixels=(50, 40, 500, 600), out=str(self.dir / "dask"),
                             chunk_lines=100)
        self.assertSameFiles(self.dir / "dask", self.dir / "batch", FILES)

    def test_a_scheduler_killed_in_a_pass_stops_the_job_and_writes_nothing(self):
        # Killed as the classes are computed, the last pass before the files are written: the
        # job stops with a ConnectionError that says so, and no result file is in place.
        from distributed import Client
        address, scheduler = self.start_cluster(2)
        scene = str(self.dir / "scene.tif")
        write_scene(scene, lines=600, columns=700)
        (self.dir / "scheduler.pid").write_text(str(scheduler.pid))
        with Client(address, timeout=60) as client:
            client.wait_for_workers(2, timeout=60)
            client.register_worker_plugin(
                KillScheduler("classes", str(self.dir / "killed"), str(self.dir / "scheduler.pid")),
                name="kill-scheduler")
            with self.assertRaisesRegex(ConnectionError, r"^the cluster's scheduler \(tcp://"
                                        r"127\.0\.0\.1:\d+\) was lost before the job ended; "
                                        r"no result file was written$"):
                tessera.dask.run(scene, method="segmentation", segments=3, min_pixels=500,
                                 out=str(self.dir / "dask"), chunk_lines=100)
        self.assertTrue((self.dir / "killed").exists())
        self.assertEqual(sorted(p.name for p in self.dir.iterdir() if p.name.startswith("dask")),
                         [])


if __name__ == "__main__":
    unittest.main()
