#!/usr/bin/env bash
# Builds the Debian package (scripts/build-deb.sh), installs it into this machine with apt-get,
# runs what it installed as a user would, from another folder and without the build folder
# (the batch tool on the installed samples, the program offscreen, the Python module, the
# manual pages, the menu entry and the QGIS algorithm), then removes and purges it and checks
# that nothing of it is left. Runs apt-get as root, or through sudo for another user.
#
#   scripts/test-deb.sh [BUILD_FOLDER]    (default build-deb)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
if [ "$(id -u)" -eq 0 ]; then SUDO=(); else SUDO=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

if dpkg-query -W -f='${Status}' tessera 2>/dev/null | grep -q "ok installed"; then
    echo "test-deb.sh: the package tessera is installed already; remove it first" >&2
    exit 1
fi
package=$(scripts/build-deb.sh "$build" | tail -n 1)
package=$(cd "$(dirname "$package")" && pwd)/$(basename "$package")
work=$(mktemp -d)
home=$(mktemp -d)
cleanup() {
    # Never leave the package installed, whatever failed: it would stand in for the build.
    "${SUDO[@]}" apt-get remove --purge -y -q tessera >/dev/null 2>&1 || true
    rm -rf "$work" "$home"
}
trap cleanup EXIT

# The package's paths, and which of them are there before it is installed (/usr, /usr/share,
# ...): after the purge, only those may be left.
dpkg-deb --fsys-tarfile "$package" | tar -t | sed -e 's#^\./#/#' -e 's#/$##' | grep -v '^$' \
    | sort > "$work/paths"
while read -r path; do
    [ -e "$path" ] && echo "$path"
done < "$work/paths" > "$work/there-before"

echo "== apt-get install $(basename "$package")"
"${SUDO[@]}" apt-get install -y -q "$package" >/dev/null
dpkg-query -W -f='${Status} ${Version}\n' tessera

fail() {
    echo "test-deb.sh: $*" >&2
    exit 1
}

# Everything runs in a folder of its own, with a fresh home and no PYTHONPATH, as a user would.
cd "$work"
export HOME=$home QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$home
unset PYTHONPATH TESSERA_GDAL_MODULE TESSERA_BATCH QGIS_PLUGINPATH
samples=/usr/share/tessera/samples

echo "== tessera-batch on the installed samples"
[ "$(command -v tessera-batch)" = /usr/bin/tessera-batch ] || fail "tessera-batch is not /usr/bin's"
tessera-batch --quiet --out raw --method segmentation --segments 4 --min-pixels 100 \
    --band $samples/band1.raw --band $samples/band2.raw --band $samples/band3.raw
tessera-batch --quiet --out scene --method equipopulation --segments 3 --min-pixels 50 \
    --bands $samples/scene.tif
for file in raw.bmp raw.raw raw.txt scene.tif scene.tif.aux.xml scene.csv scene.qml; do
    [ -s "$file" ] || fail "tessera-batch wrote no $file"
done

echo "== tessera offscreen"
[ "$(tessera --version)" = "Tessera_V2 2.0" ] || fail "tessera --version: $(tessera --version)"
tessera --help | grep -qx "Sample bands: $samples" || fail "tessera does not find its samples"
tessera --help | grep -qx "Documentation: /usr/share/doc/tessera" ||
    fail "tessera does not find its documentation"
# A short start: the main window comes up and stays until it is told to go.
tessera & program=$!
sleep 3
kill -0 "$program" 2>/dev/null || fail "tessera ended on its own at start"
kill "$program"
wait "$program" 2>/dev/null || true

# Debian's own interpreter, which dist-packages serves (a python3 of pyenv or a venv earlier on
# PATH has a site-packages of its own).
echo "== /usr/bin/python3 -c 'import tessera'"
/usr/bin/python3 - <<'EOF'
import tessera
assert tessera.__file__ == "/usr/lib/python3/dist-packages/tessera/__init__.py", tessera.__file__
# The installed module reads a GeoTIFF through the installed GDAL module.
result = tessera.run("/usr/share/tessera/samples/scene.tif", method="equipopulation",
                     segments=3, min_pixels=50, out="python")
print(result)
EOF
cmp python.tif scene.tif || fail "the Python module and the tool wrote different GeoTIFFs"

echo "== man tessera-batch, man tessera"
[ "$(man -w tessera-batch)" = /usr/share/man/man1/tessera-batch.1.gz ] || fail "no man tessera-batch"
MANWIDTH=80 man tessera-batch 2>/dev/null | grep -q -- "--min-pixels M" || fail "man tessera-batch"
MANWIDTH=80 man tessera 2>/dev/null | grep -q -- "--version" || fail "man tessera"

echo "== the menu entry and its metainfo"
desktop-file-validate /usr/share/applications/tessera.desktop
appstreamcli validate --no-net /usr/share/metainfo/*tessera*.metainfo.xml
[ -f /usr/share/icons/hicolor/48x48/apps/tessera.png ] || fail "no 48x48 icon"

echo "== qgis_process.bin list, for a user who never started QGIS"
if command -v qgis_process.bin >/dev/null 2>&1; then
    qgis_process.bin list > list.txt 2>/dev/null || true
    grep -P "^\ttessera:segmentandcross\t" list.txt || fail "qgis_process does not list the algorithm"
    # QGIS keeps the statistics of a raster it reads beside it (scene.tif.aux.xml): as root it
    # would write them into the installed samples, so it reads a copy.
    cp $samples/scene.tif qgis-scene.tif
    qgis_process.bin run tessera:segmentandcross --BANDS="$work/qgis-scene.tif" --METHOD=1 \
        --SEGMENTS=3 --MIN_PIXELS=50 --OUTPUT="$work/qgis.tif" --TABLE="$work/qgis.csv" \
        > run.txt 2>&1 || { cat run.txt; fail "qgis_process could not run the algorithm"; }
    cmp qgis.csv scene.csv || fail "the algorithm and the tool wrote different class tables"
else
    echo "(QGIS is not installed: only suggested by the package)"
fi

echo "== apt-get remove, then purge"
cd /
"${SUDO[@]}" apt-get remove -y -q tessera >/dev/null
left=$(while read -r path; do [ -f "$path" ] && echo "$path"; done < "$work/paths" || true)
[ -z "$left" ] || fail "files left after the removal: $left"
"${SUDO[@]}" apt-get remove --purge -y -q tessera >/dev/null
left=$(comm -23 "$work/paths" "$work/there-before" |
       while read -r path; do [ -e "$path" ] && echo "$path"; done || true)
[ -z "$left" ] || fail "left after the purge: $left"
dpkg-query -W -f='${Status}\n' tessera 2>/dev/null | grep -q "ok installed" &&
    fail "tessera is still installed"
echo "Installed, run and removed: nothing of the package is left."
