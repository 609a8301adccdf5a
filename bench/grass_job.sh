#!/usr/bin/env bash
# The job of `tessera-batch --method segmentation --segments 4 --min-pixels M` done with GRASS
# (Debian's grass-core), as a GRASS user would write it: the peer of the compressed-scene
# benchmark.
#
#   bench/grass_job.sh external|import OUT.tif M BAND.tif ...
#
# The bands are linked (r.external) or imported (r.in.gdal) into a temporary location made from
# the first band; each is cut into 4 equal-width segments between its own minimum and maximum
# over the pixels with data (r.univar, r.mapcalc); the segmented bands are crossed (r.cross), the
# codes of at most M pixels dropped (r.stats, r.reclass) and the classes written as a DEFLATE
# GeoTIFF (r.out.gdal). It prints the time of each step to stderr.
set -euo pipefail
mode="$1"; out="$2"; minimum="$3"; shift 3
command -v grass >/dev/null || { echo "grass_job.sh needs Debian's grass-core" >&2; exit 77; }
work="$(mktemp -d "${TMPDIR:-/tmp}/grass-job.XXXXXX")"
trap 'rm -rf "$work"' EXIT
steps="$work/steps.sh"
{
    echo 'set -euo pipefail'
    echo 'export GRASS_OVERWRITE=1 GRASS_VERBOSE=0'
    echo 'stamp() { echo "grass_job: $1 $(date +%s.%N)" >&2; }'
    echo 'stamp start'
    i=0
    segmented=()
    for band in "$@"; do
        i=$((i + 1))
        if [[ "$mode" == external ]]; then
            echo "r.external -o input='$band' output=b$i"
        else
            echo "r.in.gdal -o input='$band' output=b$i"
        fi
        segmented+=("s$i")
    done
    echo 'stamp read'
    echo 'g.region raster=b1'
    for j in $(seq 1 "$i"); do
        echo "eval \$(r.univar -g map=b$j | grep -E '^(min|max)=')"
        echo "r.mapcalc expression=\"s$j = if(isnull(b$j), null(), min(4, int((b$j - \$min) * 4.0 / (\$max - \$min + 1)) + 1))\""
    done
    echo 'stamp segments'
    echo "r.cross input=$(IFS=,; echo "${segmented[*]}") output=codes"
    echo 'stamp cross'
    echo "r.stats -cn input=codes | awk -v m=$minimum '\$2 > m { print \$1 \" = \" ++k } END { print \"* = NULL\" }' > '$work/rules'"
    echo "r.reclass input=codes output=classes rules='$work/rules'"
    echo 'stamp select'
    echo "r.out.gdal -c input=classes output='$out' format=GTiff type=Byte createopt=COMPRESS=DEFLATE,TILED=YES nodata=255"
    echo 'stamp save'
} > "$steps"
grass --tmp-location "$1" --exec bash "$steps"
