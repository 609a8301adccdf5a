"""tessera-batch as Processing sees it: where it is, what it takes (tessera-batch --describe),
and a run that reports its stages and stops cleanly when cancelled."""

import json
import os
import queue
import re
import shutil
import subprocess
import threading

# The provider setting that names the tool (Processing > Options > Providers > Tessera_V2), as
# QGIS stores it; the environment variable of the same name comes next, then PATH.
SETTING = "TESSERA_BATCH"
SETTING_KEY = "Processing/Configuration/" + SETTING
PROGRAM = "tessera-batch"
# What every line the tool writes on standard error begins with.
PREFIX = PROGRAM + ": "


def find_tool(configured=""):
    """The tool's path: the setting, then $TESSERA_BATCH, then PATH; None when none is there."""
    for candidate in (configured, os.environ.get(SETTING, "")):
        if candidate and os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    return shutil.which(PROGRAM)


def describe(tool):
    """The tool's own description of its options (a dict); None when it gives none."""
    try:
        done = subprocess.run([tool, "--describe"], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=60, check=True)
        return json.loads(done.stdout)
    except (OSError, ValueError, subprocess.SubprocessError):
        return None


def option(description, name):
    for entry in description["options"]:
        if entry["name"] == name:
            return entry
    raise KeyError(name)


_LOADED = re.compile(r"loaded band (\d+) of (\d+)$")


def stage_progress(stage):
    """The share of the job (0 to 100) done when the tool reports `stage`; None for a line
    that is no stage (an error)."""
    loaded = _LOADED.match(stage)
    if loaded:
        return 40.0 * int(loaded.group(1)) / max(int(loaded.group(2)), 1)
    if stage == "segmenting":
        return 45.0
    if stage == "crossing":
        return 55.0
    if stage.startswith("saving "):
        return 65.0
    if stage.startswith("done: "):
        return 100.0
    return None


class Outcome:
    def __init__(self, status, errors, cancelled):
        self.status = status        # the tool's exit status (143 once stopped by SIGTERM)
        self.errors = errors        # its lines that are no stage, without the prefix
        self.cancelled = cancelled  # the feedback asked to stop it


def run(arguments, feedback):
    """Runs the tool, its stages shown on `feedback`; a cancel sends it SIGTERM, on which it
    removes its temporary files and ends."""
    process = subprocess.Popen(arguments, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True, encoding="utf-8",
                               errors="replace")
    lines = queue.Queue()

    def read():
        for line in process.stderr:
            lines.put(line.rstrip("\n"))

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    errors = []
    cancelled = False
    while True:
        if not cancelled and feedback is not None and feedback.isCanceled():
            cancelled = True
            process.terminate()
        try:
            line = lines.get(timeout=0.05)
        except queue.Empty:
            if process.poll() is not None and not reader.is_alive() and lines.empty():
                break
            continue
        text = line[len(PREFIX):] if line.startswith(PREFIX) else line
        share = stage_progress(text)
        if share is None:
            errors.append(text)
        elif feedback is not None and not cancelled:
            feedback.setProgressText(text)
            feedback.setProgress(share)
    status = process.wait()
    reader.join()
    process.stderr.close()
    return Outcome(status, errors, cancelled)
