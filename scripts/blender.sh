#!/usr/bin/env bash
# Tests the Blender add-on (blender/io_scene_ulvane): flake8 on its Python and
# the test scripts, then headless Blender installs the add-on's zip as a user
# would and runs blender/tests/test_addon.py on it.
#   bash scripts/blender.sh [BUILD_DIR [ZIP]]
# BUILD_DIR (default build/addon) gives the ulvtool the tests compare with; it
# is configured (without tests) and built when it is not there. Without ZIP,
# the add-on is zipped with that ulvtool as its Linux executable.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/addon}
zip=${2:-}

source scripts/need.sh
need blender python3 python3-numpy flake8 cmake g++ make libstb-dev libcli11-dev libtinygltf-dev \
    nlohmann-json3-dev

echo "== flake8"
flake8 --max-line-length=100 blender

echo "== ulvtool"
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DULVTOOL_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target ulvtool
build=$(cd "$build" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "$zip" ]; then
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    zip=$work/ulvtool-blender-$version.zip
    python3 blender/make_zip.py "$zip" "$version" --linux "$build/ulvtool"
fi
zip=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")

echo "== the add-on in Blender"
# Blender's user folders and the temporary files in $work, so the run neither
# touches the user's Blender nor misses a temporary file the add-on left.
mkdir -p "$work/scripts" "$work/config" "$work/tmp" "$work/fixtures"
start=$SECONDS
# The system's folders only on PATH: no other Python may stand in for Blender's.
status=0
env PATH=/usr/sbin:/usr/bin:/sbin:/bin TMPDIR="$work/tmp" \
    BLENDER_USER_SCRIPTS="$work/scripts" BLENDER_USER_CONFIG="$work/config" \
    blender -b --factory-startup --python-exit-code 1 \
    --python blender/tests/test_addon.py -- "$zip" "$build/ulvtool" "$work/fixtures" || status=$?
echo "Blender ran the add-on's tests in $((SECONDS - start)) s"
exit $status
