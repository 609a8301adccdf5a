#!/usr/bin/env bash
# The benchmark: tessera-batch against a plain numpy script doing the same job, on synthetic
# scenes, then the per-stage timing of the whole treatment over the core (tessera-bench).
#
#   scripts/bench.sh [--lines L] [--columns C] [--bands "10 4"] [--runs R] [--segments N]
#                    [--warmup-gib G] [--large S] [--large-runs R] [--no-stages] [--keep]
#
# For each band count: a scene of L x C raw bands is written to a temporary folder; the two
# tools run alternately R times each, every run preceded by a memory warm-up; the outputs of
# every pair of runs are compared byte for byte; then the medians of wall time, peak memory,
# page faults and stage times are printed with the speed ratio. Then tessera-batch alone on 10
# bands of S x S (default 20000, 0: skipped; the scene is made 64 lines at a time, so that
# making it needs little memory either). The minimum class size is 15000 pixels scaled to the
# picture's area. Heavy: run it on an otherwise quiet machine.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PYTHON="${PYTHON:-/usr/bin/python3}"  # the interpreter that has Debian's numpy
LINES=4000
COLUMNS=4000
BANDS="10 4"
RUNS=5
SEGMENTS=4
WARMUP_GIB=3
STAGES=1
KEEP=0
LARGE=20000
LARGE_RUNS=2

while [[ $# -gt 0 ]]; do
    case "$1" in
        --lines) LINES="$2"; shift 2 ;;
        --columns) COLUMNS="$2"; shift 2 ;;
        --size) LINES="$2"; COLUMNS="$2"; shift 2 ;;
        --bands) BANDS="$2"; shift 2 ;;
        --runs) RUNS="$2"; shift 2 ;;
        --segments) SEGMENTS="$2"; shift 2 ;;
        --warmup-gib) WARMUP_GIB="$2"; shift 2 ;;
        --large) LARGE="$2"; shift 2 ;;
        --large-runs) LARGE_RUNS="$2"; shift 2 ;;
        --no-stages) STAGES=0; shift ;;
        --keep) KEEP=1; shift ;;
        -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
        *) echo "bench.sh: unknown option $1" >&2; exit 2 ;;
    esac
done

"$PYTHON" -c 'import numpy' 2>/dev/null || {
    echo "bench.sh: $PYTHON has no numpy (apt-get install python3-numpy)" >&2
    exit 1
}

cd "$ROOT"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSERA_BUILD_GUI=OFF \
    -DTESSERA_BUILD_TESTS=OFF >/dev/null
ninja -C build-release -j2 tessera-batch tessera-bench
BATCH="$ROOT/build-release/src/tessera-batch"
STAGE_BENCH="$ROOT/build-release/bench/tessera-bench"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/tessera-bench.XXXXXX")"
if [[ $KEEP -eq 0 ]]; then
    trap 'rm -rf "$WORK"' EXIT
else
    echo "bench.sh: files kept in $WORK"
fi

MIN_PIXELS=$(( 15000 * LINES * COLUMNS / 16000000 ))
MEASURE=("$PYTHON" "$ROOT/bench/measure.py")
mismatches=0

for bands in $BANDS; do
    scene="$WORK/scene$bands"
    echo
    echo "=== $bands bands of $LINES x $COLUMNS, $SEGMENTS segments, minimum $MIN_PIXELS pixels ==="
    "$PYTHON" "$ROOT/bench/make_scene.py" "$scene" --bands "$bands" --lines "$LINES" \
        --columns "$COLUMNS" 2>/dev/null
    band_args=()
    for file in "$scene"/band*.raw; do band_args+=(--band "$file"); done
    job=(--method segmentation --segments "$SEGMENTS" --min-pixels "$MIN_PIXELS" "${band_args[@]}")
    results=()
    for run in $(seq 1 "$RUNS"); do
        "${MEASURE[@]}" warmup --gib "$WARMUP_GIB"
        "${MEASURE[@]}" run --out "$WORK/batch$bands-$run.json" --label tessera-batch -- \
            "$BATCH" --out "$scene/batch" --format bmp,txt,raw,codes "${job[@]}"
        "${MEASURE[@]}" warmup --gib "$WARMUP_GIB"
        "${MEASURE[@]}" run --out "$WORK/numpy$bands-$run.json" --label numpy_job.py -- \
            "$PYTHON" "$ROOT/bench/numpy_job.py" --out "$scene/numpy" "${job[@]}"
        results+=("$WORK/batch$bands-$run.json" "$WORK/numpy$bands-$run.json")
        for ext in raw bmp txt; do
            if ! cmp -s "$scene/batch.$ext" "$scene/numpy.$ext"; then
                echo "bench.sh: run $run: the .$ext outputs differ" >&2
                mismatches=$((mismatches + 1))
            fi
        done
        if ! cmp -s "$scene/batch_codes.txt" "$scene/numpy_codes.txt"; then
            echo "bench.sh: run $run: the code lists differ" >&2
            mismatches=$((mismatches + 1))
        fi
        rm -f "$scene"/batch.* "$scene"/numpy.* "$scene"/batch_codes.txt "$scene"/numpy_codes.txt
    done
    echo
    echo "--- $bands bands: medians over $RUNS runs ---"
    "${MEASURE[@]}" summary "${results[@]}"
    rm -rf "$scene"
done

if [[ $LARGE -gt 0 ]]; then
    scene="$WORK/large"
    large_min=$(( 15000 * LARGE * LARGE / 16000000 ))
    echo
    echo "=== 10 bands of $LARGE x $LARGE, $SEGMENTS segments, minimum $large_min pixels:" \
        "tessera-batch alone ==="
    "$PYTHON" "$ROOT/bench/make_scene.py" "$scene" --bands 10 --lines "$LARGE" \
        --columns "$LARGE" --block-lines 64 2>/dev/null
    band_args=()
    for file in "$scene"/band*.raw; do band_args+=(--band "$file"); done
    results=()
    for run in $(seq 1 "$LARGE_RUNS"); do
        "${MEASURE[@]}" warmup --gib "$WARMUP_GIB"
        "${MEASURE[@]}" run --out "$WORK/large-$run.json" --label tessera-batch -- \
            "$BATCH" --out "$scene/batch" --method segmentation --segments "$SEGMENTS" \
            --min-pixels "$large_min" "${band_args[@]}"
        results+=("$WORK/large-$run.json")
        rm -f "$scene"/batch.*
    done
    echo
    echo "--- 10 bands of $LARGE x $LARGE: medians over $LARGE_RUNS runs ---"
    "${MEASURE[@]}" summary "${results[@]}"
    rm -rf "$scene"
fi

echo
if [[ $mismatches -eq 0 ]]; then
    echo "Outputs identical (.raw, .bmp, .txt, _codes.txt) in every run."
else
    echo "OUTPUTS DIFFER: $mismatches mismatches (see above)."
fi

if [[ $STAGES -eq 1 ]]; then
    echo
    echo "=== tessera-bench: stages of the whole treatment over the core ==="
    bench_args=(--lines "$LINES" --columns "$COLUMNS" --segments "$SEGMENTS")
    for bands in $BANDS; do bench_args+=(--bands "$bands"); done
    "${MEASURE[@]}" warmup --gib "$WARMUP_GIB"
    "$STAGE_BENCH" "${bench_args[@]}"
fi
[[ $mismatches -eq 0 ]]
