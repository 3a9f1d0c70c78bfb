#!/usr/bin/env bash
# The first command on a fresh machine: installs the Debian packages the
# build needs (see scripts/need.sh; as root or through sudo), builds ulvtool
# and ulvbatch, and no tests, in build (or BUILD_DIR), and converts the
# bundled sample into BUILD_DIR/sample: sample.glb with its textures inside,
# and sample.obj with sample.mtl and the textures beside it.
#   bash scripts/build.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

source scripts/need.sh
need "${build_packages[@]}"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target ulvtool ulvbatch

out=$build/sample
mkdir -p "$out"
"$build/ulvtool" examples/sample.mod "$out/sample.glb"
"$build/ulvbatch" -q examples -o "$out"
echo "Built $build/ulvtool and $build/ulvbatch; the sample converted into $out:"
(cd "$out" && ls)
