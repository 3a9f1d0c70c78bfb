#!/usr/bin/env bash
# Installs what the tests need, then builds and runs the whole suite twice:
# warnings as errors, then under AddressSanitizer and UndefinedBehaviorSanitizer;
# the writers' and the batch tool's tests also under ThreadSanitizer. Then the
# fuzzers, the Windows build under Wine, the first command as a fresh machine
# runs it, the release packages (the .deb installed to try it, and removed
# again), and the Blender add-on from the packages' zip.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/need.sh
need "${build_packages[@]}" libgtest-dev libbenchmark-dev libtinyobjloader-dev libassimp-dev \
    clang-format strace blender

jobs=$(nproc)

echo "== format and layers"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
bash scripts/layers.sh

echo "== the Khronos glTF validator"
bash scripts/validator.sh build/npm >/dev/null
modules="$PWD/build/npm/node_modules"

echo "== build and test"
cmake -S . -B build/test -DULVTOOL_TESTS=ON -DULVTOOL_WERROR=ON -DULVTOOL_STRICT=ON -DULVTOOL_BENCH=ON \
    -DULVTOOL_GLTF_VALIDATOR="$modules" >/dev/null
cmake --build build/test -j "$jobs"
ctest --test-dir build/test -j "$jobs" --output-on-failure

echo "== build and test under ASan and UBSan"
cmake -S . -B build/asan -DULVTOOL_TESTS=ON -DULVTOOL_WERROR=ON -DULVTOOL_STRICT=ON -DULVTOOL_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DULVTOOL_GLTF_VALIDATOR="$modules" >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan -j "$jobs" --output-on-failure

echo "== the writers' and the batch tool's tests under ThreadSanitizer"
cmake -S . -B build/tsan -DULVTOOL_TESTS=ON -DULVTOOL_WERROR=ON -DULVTOOL_STRICT=ON -DULVTOOL_TSAN=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DULVTOOL_GLTF_VALIDATOR="$modules" >/dev/null
tsan_tests="writer_test writer_reference_test gltf_writer_test gltf_stream_test gltf_cli_test batch_test \
    interrupt_test"
# shellcheck disable=SC2086
cmake --build build/tsan -j "$jobs" --target ulvtool ulvbatch $tsan_tests
# gltf_cli_test and batch_test run the tools, built with ThreadSanitizer too:
# a race ends them with a failure status the tests see.
for test in $tsan_tests; do
    TSAN_OPTIONS=halt_on_error=1 "build/tsan/tests/$test"
done

echo "== fuzz the reader and writers for 60 s, the texture decoder for 30 s, the glTF reader for 60 s, under ASan and UBSan"
bash scripts/fuzz.sh 60 build/fuzz

echo "== Windows build, tested under Wine"
bash scripts/windows.sh build/win

echo "== the first command as a fresh machine runs it (its packages reported missing)"
bash scripts/build_test.sh build/fresh

echo "== release packages, the .deb installed, the library and a project built against it"
bash scripts/package.sh build/test build/win build/packages

echo "== the Blender add-on: the packages' zip installed in headless Blender"
addon=(build/packages/ulvtool-blender-*.zip) # one: package.sh checks it
bash scripts/blender.sh build/test "${addon[0]}"
