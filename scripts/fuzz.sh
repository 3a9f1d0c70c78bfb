#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan and UBSan and runs each
# for a bounded time, starting from the corpus kept in
# tests/fuzz/corpus/TARGET: fuzz_model (reader and writers) for SECONDS,
# fuzz_texture (BMP to PNG) for half that, fuzz_gltf (the glTF reader) for
# SECONDS.
# Any crash, leak, sanitizer report, hang or excess allocation fails the run
# and leaves the input under BUILD/findings/.
#   bash scripts/fuzz.sh [SECONDS [BUILD_DIR]]      (defaults: 60, build/fuzz)
# The kept corpus is refreshed from a longer run's BUILD/corpus/TARGET with
#   BUILD/tests/fuzz/fuzz_TARGET -merge=1 NEW_DIR tests/fuzz/corpus/TARGET BUILD/corpus/TARGET
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build/fuzz}

source scripts/need.sh
need clang libclang-rt-14-dev cmake make libstb-dev libtinygltf-dev nlohmann-json3-dev

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DULVTOOL_FUZZ=ON -DULVTOOL_TESTS=OFF -DULVTOOL_WERROR=ON >/dev/null
cmake --build "$build" -j 2 --target fuzz_model fuzz_texture fuzz_gltf make_seeds make_gltf_seeds

# Seeds are made afresh each run; what the fuzzer finds is added to the
# corpus in the build folder, so a later run starts where this one stopped.
rm -rf "$build/seeds" "$build/gltf_seeds"
mkdir -p "$build/seeds" "$build/gltf_seeds" "$build/corpus/model" "$build/corpus/texture" \
    "$build/corpus/gltf" "$build/findings"
"$build/tests/fuzz/make_seeds" "$build/seeds"
"$build/tests/fuzz/make_gltf_seeds" "$build/gltf_seeds"
cp examples/sample.mod "$build/seeds/"

# fuzz TARGET SECONDS [SEED_DIR|OPTION]...
fuzz() {
    local target=$1 time=$2
    shift 2
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/tests/fuzz/fuzz_$target" "$build/corpus/$target" "tests/fuzz/corpus/$target" "$@" \
        -timeout=10 -max_total_time="$time" -print_final_stats=1 \
        -artifact_prefix="$build/findings/" 2>"$build/fuzz_$target.log" || {
        status=$?
        tail -n 60 "$build/fuzz_$target.log"
        echo "fuzz: finding in fuzz_$target, input saved in $build/findings/" >&2
        exit "$status"
    }
    grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added|stat::peak_rss_mb)' \
        "$build/fuzz_$target.log"
    echo "fuzz_$target: no findings in $time s"
}

# Models up to 16 KiB: the writer's output grows linearly with the input, so
# this also bounds what one input can make it write. No single allocation of
# 64 MiB or more, and no input slower than 10 s.
fuzz model "$seconds" "$build/seeds" -dict=tests/fuzz/model.dict -max_len=16384 -malloc_limit_mb=64
# BMP files up to 64 KiB: the pixels must be in the file, so the image and
# its PNG stay within a few MiB.
fuzz texture $((seconds / 2)) -max_len=65536 -malloc_limit_mb=64
# glTF files up to 64 KiB. Decoding may take 64 times the input plus 16 MiB,
# so no single array reaches 64 MiB; tinygltf's records of the JSON stay
# well below that too.
fuzz gltf "$seconds" "$build/gltf_seeds" -dict=tests/fuzz/gltf.dict -max_len=65536 -malloc_limit_mb=64
