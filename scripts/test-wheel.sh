#!/usr/bin/env bash
# The Python module as a user installs it, offline, with Debian's setuptools, wheel, pybind11
# and build (scripts/install-deps.sh):
#  1. python3 -m build --wheel --no-isolation makes the wheel (CMake builds it under build/wheel);
#  2. the wheel goes into a fresh virtual environment that sees the system's packages (numpy,
#     dask, distributed, rasterio, rioxarray), where the module's tests run against it, with
#     nothing on PYTHONPATH;
#  3. pip install --no-build-isolation . goes into another, checked by
#     tests/python/installed_test.py.
# The tests compare with the batch tool of the build folder given (build/ by default, which
# scripts/test.sh makes). Each step is bounded in time; the environments are removed after.
#
#   scripts/test-wheel.sh [BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:-build}" && pwd)
python=${TESSERA_WHEEL_PYTHON:-/usr/bin/python3}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tessera-wheel.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
unset PYTHONPATH TESSERA_GDAL_MODULE

# A step's output is kept in a log and shown only when it fails.
step() {
    local limit=$1 name=$2
    shift 2
    echo "-- $name"
    if ! timeout --kill-after=10 "$limit" "$@" >"$scratch/step.log" 2>&1; then
        tail -n 60 "$scratch/step.log"
        echo "test-wheel: $name failed (or took more than $limit s)" >&2
        exit 1
    fi
}

# The module's tests run from their own folder (where no package of the sources is importable),
# followed by the interpreter of an environment and the test modules.
module_tests=(env -C "$root/tests/python" TESSERA_INSTALLED=1 TESSERA_SOURCE="$root"
              TESSERA_BATCH="$build/src/tessera-batch"
              TESSERA_REAL_DATA="${TESSERA_REAL_DATA:-$root/build/real-data}"
              PYTHONDONTWRITEBYTECODE=1)

step 1800 "wheel: python3 -m build --wheel --no-isolation" \
    "$python" -m build --wheel --no-isolation --outdir "$scratch/dist" .
wheel=$(find "$scratch/dist" -name 'tessera-*.whl')
echo "   $(basename "$wheel")"

step 300 "a virtual environment with the wheel" \
    sh -c '"$1" -m venv --system-site-packages "$2" && "$2/bin/pip" install --no-index "$3"' \
    sh "$python" "$scratch/wheel-env" "$wheel"
step 1200 "the module's tests on the installed wheel" \
    "${module_tests[@]}" "$scratch/wheel-env/bin/python" -m unittest -v \
        installed_test functions_test run_test dask_test cases_test
grep -E "^(Ran|OK|FAILED)" "$scratch/step.log"

step 1800 "pip install --no-build-isolation . into another" \
    sh -c '"$1" -m venv --system-site-packages "$2" &&
           "$2/bin/pip" install --no-index --no-build-isolation .' \
    sh "$python" "$scratch/pip-env"
step 300 "the module installed by pip" \
    "${module_tests[@]}" "$scratch/pip-env/bin/python" -m unittest -v installed_test
grep -E "^(Ran|OK|FAILED)" "$scratch/step.log"
