#!/usr/bin/env bash
# The compressed scene at the decode limit: tessera-batch on scene A (bands in files of their
# own) and B (the same bands in one pixel-interleaved file), beside the bare decode of A's
# tiles on both cores (two gdal_translate -of MEM at once, the files shared out between them)
# and the rasterio + numpy peer, in turn, RUNS times, so that the load falls on all alike.
# Then, per run, each one's wall time, CPU time and peak memory, and the ratios of the goals:
# the peer / A, A / the bare decode, B / A. Every run's files must be the peer's classes.
#
#   bench/decode_limit.sh TESSERA_BATCH FOLDER [RUNS] [BANDS]    (default: 2 runs, 7 bands)
#
# FOLDER holds band01.tif ... (UInt16, tiled, DEFLATE, with a nodata value, as
# bench/dask_bench.py's scenes); B is made there once (sceneB.tif) from the first BANDS bands.
set -euo pipefail
if [ "${1:-}" = --decode ]; then
    # Every tile of the files decoded once, the files shared out between two at once.
    shift
    one=() two=() i=0
    for band in "$@"; do
        if ((i++ % 2 == 0)); then one+=("$band"); else two+=("$band"); fi
    done
    (for band in "${one[@]}"; do gdal_translate -q -of MEM "$band" /vsimem/one; done) &
    (for band in "${two[@]}"; do gdal_translate -q -of MEM "$band" /vsimem/two; done) &
    wait
    exit 0
fi
tool=$1 folder=$2 runs=${3:-2} count=${4:-7}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bands=()
for i in $(seq 1 "$count"); do bands+=("$(printf '%s/band%02d.tif' "$folder" "$i")"); done
sceneB=$folder/sceneB.tif
if [ ! -f "$sceneB" ]; then
    gdalbuildvrt -q -separate "$work/b.vrt" "${bands[@]}"
    gdal_translate -q -co TILED=YES -co BLOCKXSIZE=512 -co BLOCKYSIZE=512 -co COMPRESS=DEFLATE \
        -co INTERLEAVE=PIXEL -co NUM_THREADS=2 "$work/b.vrt" "$sceneB"
fi
job=(--threads 2 --format tif,txt,csv --method segmentation --segments 4 --min-pixels 1000)
bandArgs=()
for band in "${bands[@]}"; do bandArgs+=(--band "$band"); done
measure() {  # label command...: "label wall cpu peak-MiB"
    local label=$1
    shift
    /usr/bin/time -f "$label %e %U %S %M" -o "$work/time" "$@" > /dev/null 2> "$work/err" ||
        { cat "$work/err" >&2; exit 1; }
    awk '{printf "%s %.2f %.2f %.0f\n", $1, $2, $3 + $4, $5 / 1024}' "$work/time"
}
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-4s %-8s %7s %7s %9s\n' run what wall cpu peak-MiB
for run in $(seq 1 "$runs"); do
    {
        measure A "$tool" --out "$work/a" "${job[@]}" "${bandArgs[@]}"
        measure decode "$here/decode_limit.sh" --decode "${bands[@]}"
        measure B "$tool" --out "$work/b" "${job[@]}" --bands "$sceneB"
        measure peer /usr/bin/python3 "$here/rasterio_job.py" --out "$work/peer" --segments 4 \
            --min-pixels 1000 "${bandArgs[@]}"
    } > "$work/run"
    awk -v run="$run" '{printf "%-4s %-8s %7.2f %7.2f %9s\n", run, $1, $2, $3, $4}' "$work/run"
    awk -v load="$(cut -d' ' -f1-3 /proc/loadavg)" '{wall[$1] = $2}
        END {printf "     peer / A %.2f, A / decode %.2f, B / A %.3f (load %s)\n",
             wall["peer"] / wall["A"], wall["A"] / wall["decode"], wall["B"] / wall["A"], load}' \
        "$work/run"
    # The same classes everywhere: B's are A's, and so are the peer's.
    gdal_translate -q -of ENVI "$work/a.tif" "$work/a.map"
    gdal_translate -q -of ENVI "$work/b.tif" "$work/b.map"
    cmp "$work/a.map" "$work/b.map"
    cmp "$work/a.csv" "$work/b.csv"
    cmp "$work/a.map" "$work/peer.raw"
done
