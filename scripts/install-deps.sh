#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Runs apt-get as root, or through sudo for another user.
set -euo pipefail

# QGIS and GDAL's Python binding serve the tests of the map results and of the QGIS plugin;
# pybind11 and Python's headers build the Python module, which dask, distributed, rasterio and
# rioxarray serve (tessera.dask and its tests); setuptools, wheel, pybind11's Python package,
# build, pip and venv make the module's wheel and install it (pip install ., scripts/test-wheel.sh);
# jsonschema checks saved treatments against docs/treatment.schema.json; rsvg-convert renders the
# program's icon, desktop-file-validate and appstreamcli check its menu entry and metainfo, man
# and groff render its manual pages; nlohmann-json reads the JSON documents.
packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev libopengl-dev
          libgtest-dev googletest fonts-dejavu-core ccache libgdal-dev libproj-dev
          python3-gdal python3-numpy qgis python3-qgis qgis-providers
          pybind11-dev python3-dev python3-dask python3-distributed python3-rasterio
          python3-rioxarray python3-setuptools python3-wheel python3-pybind11 python3-build
          python3-pip python3-venv python3-jsonschema
          desktop-file-utils appstream librsvg2-bin man-db groff-base nlohmann-json3-dev "$@")

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    SUDO=()
else
    SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
