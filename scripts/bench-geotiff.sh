#!/usr/bin/env bash
# The GeoTIFF benchmark: tessera-batch on synthetic tiled DEFLATE GeoTIFF scenes read through
# GDAL (bench/make_geotiff.cpp makes them).
#
#   scripts/bench-geotiff.sh [--size S] [--bands B] [--runs R] [--large S] [--large-runs R]
#                            [--tile T] [--warmup-gib G] [--keep]
#
# 1. Interleaving: B bands (default 6) of S x S (default 4000) as one pixel-interleaved file and
#    as one band-interleaved file (--bands FILE), R runs of each (default 3), alternating and
#    taking turns at going first; the class files of the two are compared byte for byte; then
#    the medians of wall time, CPU time, peak memory (max RSS) and page faults of each, and the
#    ratios pixel / band.
# 2. Large: 10 bands of S x S (default 20000, 0: skipped) as ten single-band files (--band ten
#    times), the class GeoTIFF and table written with the rest, R runs (default 1).
# Every run: --method segmentation --segments 4 --min-pixels 1000 --progress, each preceded by a
# memory warm-up of G GiB (default 3, 0: none); each must exit 0. Tiles of T x T (default 256).
# The inputs' sizes are printed with each case. The scenes have just been written, so they are
# read from the page cache. Files go to a temporary folder, removed at the end unless --keep.
# The large case needs some 6 GiB of disk and minutes: run it on an otherwise quiet machine.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PYTHON="${PYTHON:-/usr/bin/python3}"  # bench/measure.py needs the standard library only
SIZE=4000
BANDS=6
RUNS=3
LARGE=20000
LARGE_RUNS=1
TILE=256
WARMUP_GIB=3
KEEP=0
JOB=(--method segmentation --segments 4 --min-pixels 1000 --progress)

while [[ $# -gt 0 ]]; do
    case "$1" in
        --size) SIZE="$2"; shift 2 ;;
        --bands) BANDS="$2"; shift 2 ;;
        --runs) RUNS="$2"; shift 2 ;;
        --large) LARGE="$2"; shift 2 ;;
        --large-runs) LARGE_RUNS="$2"; shift 2 ;;
        --tile) TILE="$2"; shift 2 ;;
        --warmup-gib) WARMUP_GIB="$2"; shift 2 ;;
        --keep) KEEP=1; shift ;;
        -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
        *) echo "bench-geotiff.sh: unknown option $1" >&2; exit 2 ;;
    esac
done

cd "$ROOT"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSERA_BUILD_GUI=OFF \
    -DTESSERA_BUILD_TESTS=OFF >/dev/null
ninja -C build-release -j2 tessera-batch tessera-make-geotiff
BATCH="$ROOT/build-release/src/tessera-batch"
MAKE_GEOTIFF="$ROOT/build-release/bench/tessera-make-geotiff"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/tessera-bench-geotiff.XXXXXX")"
if [[ $KEEP -eq 0 ]]; then
    trap 'rm -rf "$WORK"' EXIT
else
    echo "bench-geotiff.sh: files kept in $WORK"
fi

MEASURE=("$PYTHON" "$ROOT/bench/measure.py")
failures=0
mismatches=0
compared=0

warmup() {
    if [[ $WARMUP_GIB != 0 ]]; then "${MEASURE[@]}" warmup --gib "$WARMUP_GIB"; fi
}

# measured LABEL RESULT.json ARGS...: one measured run of tessera-batch; a failure is counted.
measured() {
    local label="$1" result="$2"
    shift 2
    warmup
    if ! "${MEASURE[@]}" run --out "$result" --label "$label" -- "$BATCH" "$@"; then
        echo "bench-geotiff.sh: $label: tessera-batch failed (see above)" >&2
        failures=$((failures + 1))
    fi
}

# human_size BYTES: in MiB, or KiB under 1 MiB.
human_size() {
    awk -v b="$1" 'BEGIN { if (b < 1048576) printf "%.1f KiB", b / 1024;
                           else printf "%.1f MiB", b / 1048576 }'
}

# inputs LABEL BANDS SIZE FILE...: the sizes of the files holding BANDS bands of SIZE x SIZE,
# and how much smaller they are than the values.
inputs() {
    local label="$1" bands="$2" side="$3" total=0 bytes file
    shift 3
    local listed=()
    for file in "$@"; do
        bytes=$(stat -c %s "$file")
        total=$((total + bytes))
        listed+=("$(basename "$file") $(human_size "$bytes")")
    done
    local values=$((bands * side * side * 2)) files=""
    if [[ $# -gt 1 ]]; then files=" in $# files"; fi
    echo "  $label input: $(human_size "$total")$files for" \
        "$(human_size "$values") of UInt16 values (DEFLATE x" \
        "$(awk -v v="$values" -v t="$total" 'BEGIN { printf "%.2f", v / t }'))"
    if [[ $# -gt 1 ]]; then
        echo "    $(IFS=,; echo "${listed[*]}" | sed 's/,/, /g')"
    fi
}

# Room for the large scene (its values at most, as if not compressed) and its results.
if [[ $LARGE -gt 0 ]]; then
    need=$((10 * LARGE * LARGE * 2 + 3 * LARGE * LARGE))
    free=$(df --output=avail -B1 "$WORK" | tail -1)
    if [[ $free -lt $need ]]; then
        echo "bench-geotiff.sh: $(human_size "$free") free in $WORK, the large case may need" \
            "$(human_size "$need")" >&2
        exit 1
    fi
fi

if [[ $SIZE -gt 0 ]]; then
    echo
    echo "=== interleaving: $BANDS bands of $SIZE x $SIZE, tiles of $TILE, DEFLATE;" \
        "pixel- against band-interleaved, $RUNS runs each ==="
    for layout in pixel band; do
        "$MAKE_GEOTIFF" "$WORK/$layout" --layout "$layout" --bands "$BANDS" --size "$SIZE" \
            --tile "$TILE"
    done
    inputs "pixel-interleaved" "$BANDS" "$SIZE" "$WORK/pixel/scene-pixel.tif"
    inputs "band-interleaved" "$BANDS" "$SIZE" "$WORK/band/scene-band.tif"
    pixel_results=()
    band_results=()
    for run in $(seq 1 "$RUNS"); do
        failed_before=$failures
        order=(pixel band)
        if [[ $((run % 2)) -eq 0 ]]; then order=(band pixel); fi
        for layout in "${order[@]}"; do
            measured "$layout-interleaved" "$WORK/$layout-$run.json" \
                --out "$WORK/$layout/classes" "${JOB[@]}" \
                --bands "$WORK/$layout/scene-$layout.tif"
        done
        pixel_results+=("$WORK/pixel-$run.json")
        band_results+=("$WORK/band-$run.json")
        # The same values in both files: the same classes (the reports name other files).
        if [[ $failures -eq $failed_before ]]; then
            compared=$((compared + 1))
            for ext in raw bmp tif csv; do
                if ! cmp -s "$WORK/pixel/classes.$ext" "$WORK/band/classes.$ext"; then
                    echo "bench-geotiff.sh: run $run: the .$ext outputs differ" >&2
                    mismatches=$((mismatches + 1))
                fi
            done
        fi
        rm -f "$WORK"/pixel/classes.* "$WORK"/band/classes.*
    done
    echo
    echo "--- $BANDS bands of $SIZE x $SIZE: medians over $RUNS runs" \
        "(the ratios: pixel- / band-interleaved) ---"
    "${MEASURE[@]}" summary "${band_results[@]}" "${pixel_results[@]}"
    rm -rf "$WORK/pixel" "$WORK/band"
fi

if [[ $LARGE -gt 0 ]]; then
    scene="$WORK/large"
    echo
    echo "=== large: 10 bands of $LARGE x $LARGE, tiles of $TILE, DEFLATE, one file per band;" \
        "$LARGE_RUNS run(s) ==="
    "$MAKE_GEOTIFF" "$scene" --layout separate --bands 10 --size "$LARGE" --tile "$TILE"
    files=("$scene"/band*.tif)
    inputs "separate files" 10 "$LARGE" "${files[@]}"
    band_args=()
    for file in "${files[@]}"; do band_args+=(--band "$file"); done
    results=()
    for run in $(seq 1 "$LARGE_RUNS"); do
        measured "separate files" "$WORK/large-$run.json" --out "$WORK/large-classes" \
            "${JOB[@]}" "${band_args[@]}"
        results+=("$WORK/large-$run.json")
        for ext in tif csv; do
            if [[ ! -s "$WORK/large-classes.$ext" ]]; then
                echo "bench-geotiff.sh: run $run: no large-classes.$ext written" >&2
                failures=$((failures + 1))
            fi
        done
        written=()
        for file in "$WORK"/large-classes.*; do
            written+=("$(basename "$file") $(human_size "$(stat -c %s "$file")")")
        done
        classes=0
        if [[ -s "$WORK/large-classes.csv" ]]; then
            classes=$(($(wc -l <"$WORK/large-classes.csv") - 1))
        fi
        echo "  written: $(IFS=,; echo "${written[*]}" | sed 's/,/, /g'); $classes classes"
        rm -f "$WORK"/large-classes.*
    done
    echo
    echo "--- 10 bands of $LARGE x $LARGE: medians over $LARGE_RUNS run(s) ---"
    "${MEASURE[@]}" summary "${results[@]}"
    rm -rf "$scene"
fi

echo
if [[ $mismatches -eq 0 && $compared -gt 0 ]]; then
    echo "Class files identical (.raw, .bmp, .tif, .csv) from both interleavings in all" \
        "$compared runs compared."
elif [[ $mismatches -ne 0 ]]; then
    echo "CLASS FILES DIFFER: $mismatches mismatches (see above)."
fi
if [[ $failures -ne 0 ]]; then echo "FAILED: $failures failures (see above)."; fi
[[ $mismatches -eq 0 && $failures -eq 0 ]]
