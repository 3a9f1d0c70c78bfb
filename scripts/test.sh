#!/usr/bin/env bash
# Installs what the tests need, then builds and runs the whole suite twice:
# warnings as errors, then under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/need.sh
need cmake g++ make libgtest-dev libbenchmark-dev libtinyobjloader-dev libassimp-dev libcli11-dev \
    libstb-dev libtinygltf-dev clang-format

jobs=$(nproc)

echo "== format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== the Khronos glTF validator"
bash scripts/validator.sh build/npm >/dev/null
modules="$PWD/build/npm/node_modules"

echo "== build and test"
cmake -S . -B build/test -DULVTOOL_WERROR=ON -DULVTOOL_STRICT=ON -DULVTOOL_BENCH=ON \
    -DULVTOOL_GLTF_VALIDATOR="$modules" >/dev/null
cmake --build build/test -j "$jobs"
ctest --test-dir build/test -j "$jobs" --output-on-failure

echo "== build and test under ASan and UBSan"
cmake -S . -B build/asan -DULVTOOL_WERROR=ON -DULVTOOL_STRICT=ON -DULVTOOL_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DULVTOOL_GLTF_VALIDATOR="$modules" >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan -j "$jobs" --output-on-failure

echo "== fuzz the reader and writer for 60 s under ASan and UBSan"
bash scripts/fuzz.sh 60 build/fuzz

echo "== Windows build, tested under Wine"
bash scripts/windows.sh build/win

echo "== release packages, the .deb installed, the library and a project built against it"
bash scripts/package.sh build/test build/win build/packages
