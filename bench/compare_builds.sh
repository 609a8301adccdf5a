#!/usr/bin/env bash
# The 10-band job of two builds of tessera-batch, run in turn (base, new, base again) on one
# synthetic scene, so that the load of a shared machine falls on all of them alike; then the
# median wall and CPU time, peak memory and stage times of each, and their ratios to the base.
# The base run twice shows the noise of the machine: a difference between the builds smaller
# than that between the two base runs is none. The result files of the builds must agree.
#
#   bench/compare_builds.sh BASE_BATCH NEW_BATCH [RUNS] [SIDE]   (default: 16 runs, 8000)
set -euo pipefail
base=$1 new=$2 runs=${3:-16} side=${4:-8000}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$here/make_scene.py" "$work/scene" --bands 10 --lines "$side" --columns "$side" \
    --block-lines 1000 > /dev/null 2>&1
bands=()
for b in 01 02 03 04 05 06 07 08 09 10; do bands+=(--band "$work/scene/band$b.raw"); done
job=(--method segmentation --segments 4 --min-pixels 60000 "${bands[@]}")
cp "$base" "$work/base-again"
for i in $(seq 1 "$runs"); do
    for label in base new base-again; do
        case $label in base) tool=$base ;; new) tool=$new ;; *) tool=$work/base-again ;; esac
        /usr/bin/python3 "$here/measure.py" run --out "$work/run-$label.$i.json" --label "$label" -- \
            "$tool" --out "$work/$label" "${job[@]}" > /dev/null 2>&1
    done
done
/usr/bin/python3 "$here/measure.py" summary "$work"/run-base.*.json "$work"/run-new.*.json \
    "$work"/run-base-again.*.json
for extension in bmp txt raw; do
    cmp "$work/base.$extension" "$work/new.$extension"
done
echo "the result files of both builds agree; load: $(cut -d' ' -f1-3 /proc/loadavg)"
