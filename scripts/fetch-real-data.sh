#!/usr/bin/env bash
# Fetches the real scenes of tests/batch/realdata_test.cpp from Debian's archive into a cache
# folder, by default build/real-data in the repository (where every build folder's tests look,
# unless CMake was given -DTESSERA_REAL_DATA=FOLDER):
#   L7_ETMs.tif       six 8-bit bands of a Landsat 7 scene, 349 x 352, UTM (package r-cran-stars)
#   LC08_*_B*.TIF     one 16-bit band per file of a Landsat 8 scene (package r-cran-satellite),
#                     its quality band BQA among them, and LC08_*_MTL.txt, the scene's metadata
# The two packages are downloaded with apt-get download (nothing is installed, root is not
# needed) and unpacked with dpkg-deb in a temporary folder.
#
#   scripts/fetch-real-data.sh [FOLDER]
#
# Does nothing when the files are already there. When they cannot be downloaded (no network,
# no apt-get) it says so on one line and exits 0 without them: the tests on them are skipped.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CACHE="${1:-$ROOT/build/real-data}"
LIST="$CACHE/files.txt"  # written last: the files of a complete fetch

complete() {
    [[ -s $LIST ]] || return 1
    local name
    while read -r name; do
        [[ -f $CACHE/$name ]] || return 1
    done <"$LIST"
}

if complete; then
    exit 0
fi

skip() {
    echo "fetch-real-data.sh: $1; the tests on real scenes will be skipped" \
        "(run scripts/fetch-real-data.sh again when the archive can be reached)"
    exit 0
}

command -v apt-get >/dev/null && command -v dpkg-deb >/dev/null || skip "no apt-get or dpkg-deb"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/tessera-real-data.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

echo "fetch-real-data.sh: downloading r-cran-stars and r-cran-satellite from the Debian archive"
if ! (cd "$WORK" && timeout 600 apt-get download -q -o Acquire::Retries=1 \
        -o Acquire::http::Timeout=30 r-cran-stars r-cran-satellite) >"$WORK/apt.log" 2>&1; then
    why="$(grep -E '^E:' "$WORK/apt.log" | head -n 1 | sed 's/  */ /g' || true)"
    skip "apt-get download failed${why:+ ($why)}"
fi
for package in "$WORK"/*.deb; do
    dpkg-deb -x "$package" "$WORK/unpacked" || skip "dpkg-deb cannot unpack $(basename "$package")"
done

scene="$(find "$WORK/unpacked" -path '*/stars/tif/L7_ETMs.tif' | head -n 1)"
mapfile -t bands < <(find "$WORK/unpacked" \( -path '*/satellite/extdata/LC08_*_B*.TIF' -o \
    -path '*/satellite/extdata/LC08_*_MTL.txt' \) | sort)
[[ -n $scene ]] || skip "r-cran-stars holds no stars/tif/L7_ETMs.tif"
[[ ${#bands[@]} -gt 0 ]] || skip "r-cran-satellite holds no satellite/extdata/LC08_*_B*.TIF"

mkdir -p "$CACHE"
names=()
for file in "$scene" "${bands[@]}"; do
    cp "$file" "$CACHE/"
    names+=("$(basename "$file")")
done
printf '%s\n' "${names[@]}" >"$LIST.new"
mv "$LIST.new" "$LIST"
echo "fetch-real-data.sh: ${#names[@]} files in $CACHE"
