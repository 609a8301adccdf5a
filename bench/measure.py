#!/usr/bin/python3
"""Wall time and peak memory of one command, memory warm-up, and the summary of many runs.

    measure.py run --out RESULT.json [--label NAME] -- COMMAND ARGS...
    measure.py warmup [--gib G]
    measure.py summary RESULT.json ...

`run` starts COMMAND as this process's only child, timestamps every line it writes to stderr
(the progress and stage lines of the tools), and records its wall time, exit status, peak
resident memory and page faults (getrusage(RUSAGE_CHILDREN): ru_maxrss, ru_minflt + ru_majflt;
as this process has no other child, they are that command's). Run it as a fresh process for every measurement.

`warmup` fills and frees G GiB in a throwaway process: on these machines memory that has sat
idle is slow when first touched again, which would be charged to whichever tool runs first.

`summary` prints, per label, the median wall time, CPU time (user + system) and peak memory and
the median time of each stage, then the ratios of the other labels to the first. On a machine
shared with other work the CPU time is the steadier figure: wall time also counts the waits
for a core.
"""
import argparse
import json
import re
import resource
import statistics
import subprocess
import sys
import time


def run(args):
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        sys.exit("measure.py run: no command given")
    lines = []
    start = time.perf_counter()
    child = subprocess.Popen(command, stderr=subprocess.PIPE, stdout=subprocess.DEVNULL)
    for raw in child.stderr:
        lines.append([time.perf_counter() - start, raw.decode("utf-8", "replace").rstrip("\n")])
    status = child.wait()
    wall = time.perf_counter() - start
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    peak_kib = usage.ru_maxrss  # KiB on Linux
    cpu = usage.ru_utime + usage.ru_stime
    faults = usage.ru_minflt + usage.ru_majflt
    result = {"label": args.label or command[0], "command": command, "status": status,
              "wall_s": wall, "cpu_s": cpu, "peak_kib": peak_kib, "faults": faults,
              "stderr": lines}
    with open(args.out, "w") as f:
        json.dump(result, f, indent=1)
    print(f"{result['label']}: {wall:.3f} s wall, {cpu:.3f} s CPU, {peak_kib / 1024:.1f} MiB, "
          f"{faults} page faults, exit {status}",
          file=sys.stderr)
    if status != 0:
        for _, line in lines[-5:]:
            print("    " + line, file=sys.stderr)
    return 0 if status == 0 else 1


WARMUP_CODE = """
import sys
gib = float(sys.argv[1])
chunk = 256 << 20
blocks = []
for _ in range(max(1, int(gib * 4))):
    blocks.append(b"\\x5a" * chunk)  # written, so every page is really touched
"""


def warmup(gib):
    subprocess.run([sys.executable, "-c", WARMUP_CODE, str(gib)], check=True)


# Stages of tessera-batch from its progress lines: the stage named here ends when the line
# that starts with the key arrives.
BATCH_MARKS = [("tessera-batch: segmenting", "load bands"),
               ("tessera-batch: crossing", "segment"),
               ("tessera-batch: saving", "codes+classes"),
               ("tessera-batch: done", "save")]
STAGE_LINE = re.compile(r"^numpy_job: (.+?)\s+([0-9.]+) s$")


def stages_of(result):
    """Stage name -> seconds, from the stage lines (numpy_job) or progress lines (batch)."""
    stages = {}
    lines = result["stderr"]
    timed = [(STAGE_LINE.match(text), t) for t, text in lines]
    timed = [(m.group(1), float(m.group(2)), t) for m, t in timed if m]
    if timed:
        first_name, first_seconds, first_time = timed[0]
        stages["start-up"] = max(first_time - first_seconds, 0.0)
        for name, seconds, _ in timed:
            if name != "total":
                stages[name] = seconds
        last_time = timed[-1][2]
        stages["exit"] = max(result["wall_s"] - last_time, 0.0)
        return stages
    previous = 0.0
    for key, name in BATCH_MARKS:
        hits = [t for t, text in lines if text.startswith(key)]
        if not hits:
            return {}
        stages[name] = hits[0] - previous
        previous = hits[0]
    stages["exit"] = max(result["wall_s"] - previous, 0.0)
    return stages


def summary(paths):
    by_label = {}
    for path in paths:
        with open(path) as f:
            result = json.load(f)
        by_label.setdefault(result["label"], []).append(result)
    medians = {}
    for label, results in by_label.items():
        good = [r for r in results if r["status"] == 0]
        if not good:
            print(f"{label}: no successful run")
            continue
        wall = statistics.median(r["wall_s"] for r in good)
        cpu = statistics.median(r["cpu_s"] for r in good)
        peak = statistics.median(r["peak_kib"] for r in good) / 1024
        faults = statistics.median(r.get("faults", 0) for r in good)
        medians[label] = (wall, cpu, peak)
        walls = ", ".join(f"{r['wall_s']:.2f}" for r in good)
        print(f"{label}: median wall {wall:.3f} s (runs: {walls}), median CPU {cpu:.3f} s, "
              f"median peak memory {peak:.1f} MiB, median page faults {faults:.0f}, "
              f"{len(good)}/{len(results)} runs")
        per_stage = {}
        for r in good:
            for name, seconds in stages_of(r).items():
                per_stage.setdefault(name, []).append(seconds)
        for name, values in per_stage.items():
            print(f"    {name:<20} {statistics.median(values):8.3f} s")
    labels = list(medians)
    for other in labels[1:]:
        base_wall, base_cpu, base_peak = medians[labels[0]]
        wall, cpu, peak = medians[other]
        print(f"{other} / {labels[0]}: wall time x {wall / base_wall:.2f}, "
              f"CPU time x {cpu / base_cpu:.2f}, peak memory x {peak / base_peak:.2f}")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="what", required=True)
    one = commands.add_parser("run")
    one.add_argument("--out", required=True)
    one.add_argument("--label")
    one.add_argument("command", nargs=argparse.REMAINDER)
    warm = commands.add_parser("warmup")
    warm.add_argument("--gib", type=float, default=3.0)
    summarise = commands.add_parser("summary")
    summarise.add_argument("results", nargs="+")
    args = parser.parse_args()
    if args.what == "run":
        return run(args)
    if args.what == "warmup":
        warmup(args.gib)
        return 0
    return summary(args.results)


if __name__ == "__main__":
    sys.exit(main())
