#!/usr/bin/env bash
# Renders the sample as the add-on imports it into blender/sample.png (the
# README's picture), or OUT: Blender's Workbench engine under a virtual X
# display with Mesa's software OpenGL, on a machine without a screen or GPU.
#   bash blender/render_sample.sh [BUILD_DIR [OUT]]     (default build/addon)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/addon}
out=${2:-blender/sample.png}

source scripts/need.sh
need blender python3-numpy xvfb xauth libgl1-mesa-dri cmake g++ make libstb-dev libcli11-dev \
    libtinygltf-dev nlohmann-json3-dev

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DULVTOOL_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target ulvtool >/dev/null
# The system's folders only on PATH: no other Python may stand in for Blender's.
env PATH=/usr/sbin:/usr/bin:/sbin:/bin LIBGL_ALWAYS_SOFTWARE=1 \
    xvfb-run -a -s "-screen 0 1280x1024x24" \
    blender -b --factory-startup --python-exit-code 1 --python blender/render_sample.py -- \
    "$out" examples/sample.mod "$build/ulvtool"
