#!/usr/bin/env bash
# The compressed-scene benchmark: one scene of B bands (default 7) of S x S (default 8000) in four
# forms, with tessera-batch beside the rasterio + numpy script (bench/rasterio_job.py) and one
# plain decode of every tile on both cores (two gdal_translate -of MEM at once), R rounds
# (default 3), alternating and taking turns at going first:
#   A  the bands as separate UInt16 GeoTIFFs, tiled 512 x 512, DEFLATE, with a nodata border
#      (bench/make_geotiff.cpp);
#   B  the same bands as one pixel-interleaved GeoTIFF;
#   C  the same bands as 8-bit GeoTIFFs, tiled and DEFLATE (gdal_translate -ot Byte -scale);
#   R  C's bands as raw files with their descriptors.
# tessera-batch also runs on A with every decoded value spilled to a file (--keep-memory 0).
# The job: --method segmentation --segments 4 --min-pixels 1000. The classes of every run on one
# scene are compared (those of A, B, C and R are the same scene's only for A and B; C and R are
# another's). Then the medians of wall time, CPU time, peak memory and page faults, and the
# ratios (bench/measure.py). The load average is printed beside them.
#
#   scripts/bench-compressed.sh [--size S] [--bands B] [--runs R] [--folder F] [--grass]
#
# --grass adds GRASS (bench/grass_job.sh, Debian's grass-core) on A, its bands linked
# (r.external) and imported (r.in.gdal).
#
# The scene takes some 1.3 GiB of disk at 8000 x 8000 and a minute to make; --folder F keeps it
# there (made once, then reused).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PYTHON=/usr/bin/python3
SIZE=8000
BANDS=7
RUNS=3
FOLDER=""
GRASS=0
JOB=(--method segmentation --segments 4 --min-pixels 1000 --progress)

while [[ $# -gt 0 ]]; do
    case "$1" in
        --size) SIZE="$2"; shift 2 ;;
        --bands) BANDS="$2"; shift 2 ;;
        --runs) RUNS="$2"; shift 2 ;;
        --folder) FOLDER="$2"; shift 2 ;;
        --grass) GRASS=1; shift ;;
        -h|--help) sed -n '2,24p' "$0"; exit 0 ;;
        *) echo "bench-compressed.sh: unknown option $1" >&2; exit 2 ;;
    esac
done

cd "$ROOT"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSERA_BUILD_GUI=OFF \
    -DTESSERA_BUILD_TESTS=OFF >/dev/null
ninja -C build-release -j2 tessera-batch tessera-make-geotiff
BATCH="$ROOT/build-release/src/tessera-batch"
MAKE_GEOTIFF="$ROOT/build-release/bench/tessera-make-geotiff"
MEASURE=("$PYTHON" "$ROOT/bench/measure.py")

if [[ -z "$FOLDER" ]]; then
    FOLDER="$(mktemp -d "${TMPDIR:-/tmp}/tessera-bench-compressed.XXXXXX")"
    trap 'rm -rf "$FOLDER"' EXIT
fi
SCENE="$FOLDER/scene-$SIZE-$BANDS"
mkdir -p "$SCENE/A" "$SCENE/B" "$SCENE/C" "$SCENE/R" "$FOLDER/out" "$FOLDER/spill"
rm -f "$FOLDER"/out/*.json  # the summary is of this run's measurements only
if [[ ! -e "$SCENE/made" ]]; then
    "$MAKE_GEOTIFF" "$SCENE/A" --layout separate --bands "$BANDS" --size "$SIZE" --tile 512
    "$MAKE_GEOTIFF" "$SCENE/B" --layout pixel --bands "$BANDS" --size "$SIZE" --tile 512
    for tif in "$SCENE"/A/band*.tif; do
        name="$(basename "$tif" .tif)"
        gdal_translate -q -ot Byte -scale 1 20000 1 255 -co TILED=YES -co BLOCKXSIZE=512 \
            -co BLOCKYSIZE=512 -co COMPRESS=DEFLATE "$tif" "$SCENE/C/$name.tif"
        gdal_translate -q -of ENVI "$SCENE/C/$name.tif" "$SCENE/R/$name.img"
        mv "$SCENE/R/$name.img" "$SCENE/R/$name.raw"
        rm -f "$SCENE/R/$name.hdr" "$SCENE/R/$name.img.aux.xml"
        printf '%s\n%s\n' "$SIZE" "$SIZE" > "$SCENE/R/$name.txt"
    done
    touch "$SCENE/made"
fi
du -sh "$SCENE"/A "$SCENE"/B "$SCENE"/C "$SCENE"/R

bands_of() { for f in "$SCENE/$1"/band*.$2; do printf -- '--band\n%s\n' "$f"; done; }
mapfile -t A < <(bands_of A tif)
mapfile -t C < <(bands_of C tif)
mapfile -t R < <(bands_of R raw)
B=(--bands "$SCENE/B/scene-pixel.tif")

declare -A COMMANDS
COMMANDS[batch-A]="$BATCH ${JOB[*]} --out $FOLDER/out/batch-A ${A[*]}"
COMMANDS[batch-A-spilled]="env TMPDIR=$FOLDER/spill $BATCH ${JOB[*]} --keep-memory 0 --out $FOLDER/out/batch-A-spilled ${A[*]}"
COMMANDS[batch-B]="$BATCH ${JOB[*]} --out $FOLDER/out/batch-B ${B[*]}"
COMMANDS[batch-C]="$BATCH ${JOB[*]} --out $FOLDER/out/batch-C ${C[*]}"
COMMANDS[batch-R]="$BATCH ${JOB[*]} --out $FOLDER/out/batch-R ${R[*]}"
COMMANDS[rasterio-A]="$PYTHON $ROOT/bench/rasterio_job.py --segments 4 --min-pixels 1000 --out $FOLDER/out/rasterio-A ${A[*]}"
COMMANDS[rasterio-B]="$PYTHON $ROOT/bench/rasterio_job.py --segments 4 --min-pixels 1000 --out $FOLDER/out/rasterio-B ${B[*]}"
COMMANDS[rasterio-C]="$PYTHON $ROOT/bench/rasterio_job.py --segments 4 --min-pixels 1000 --out $FOLDER/out/rasterio-C ${C[*]}"
# Every tile of A decoded once on both cores: the files shared out between two gdal_translate
# at a time.
DECODE_ONE="" DECODE_TWO="" turn=0
for f in "$SCENE"/A/band*.tif; do
    if (( turn++ % 2 == 0 )); then DECODE_ONE+="gdal_translate -q -of MEM $f x; "
    else DECODE_TWO+="gdal_translate -q -of MEM $f x; "; fi
done
COMMANDS[decode-A]="sh -c '( $DECODE_ONE ) & ( $DECODE_TWO ) & wait'"
LABELS=(batch-A rasterio-A decode-A batch-A-spilled batch-B rasterio-B batch-C rasterio-C batch-R)
if [[ $GRASS -eq 1 ]]; then
    # GRASS on A only, linking the files and importing them: it takes minutes a run.
    COMMANDS[grass-external-A]="$ROOT/bench/grass_job.sh external $FOLDER/out/grass-external-A.tif 1000 $SCENE/A/band*.tif"
    COMMANDS[grass-import-A]="$ROOT/bench/grass_job.sh import $FOLDER/out/grass-import-A.tif 1000 $SCENE/A/band*.tif"
    LABELS+=(grass-external-A grass-import-A)
fi

for round in $(seq 1 "$RUNS"); do
    # Each round starts at another label, so that none is always first after a warm-up.
    shift_by=$(( (round - 1) % ${#LABELS[@]} ))
    ordered=("${LABELS[@]:$shift_by}" "${LABELS[@]:0:$shift_by}")
    for label in "${ordered[@]}"; do
        "${MEASURE[@]}" warmup --gib 2
        eval "${MEASURE[@]} run --out $FOLDER/out/$label-$round.json --label $label -- ${COMMANDS[$label]}"
        if [[ -n "$(ls -A "$FOLDER/spill")" ]]; then echo "a temporary file was left" >&2; exit 1; fi
    done
    echo "round $round done; load: $(cut -d' ' -f1-3 /proc/loadavg)"
done

for pair in "batch-A rasterio-A" "batch-A batch-A-spilled" "batch-A batch-B" "batch-C rasterio-C" "batch-C batch-R"; do
    set -- $pair
    cmp "$FOLDER/out/$1.raw" "$FOLDER/out/$2.raw" && echo "$1 and $2: the same classes"
done
"${MEASURE[@]}" summary "$FOLDER"/out/*.json
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
