#!/usr/bin/env bash
# What flushing a replaced file costs: the conversion of the 2,000,000-vertex
# model over an earlier OBJ and MTL by the tool as built and by the same tool
# built without the flush (-DULVTOOL_NO_FLUSH), alternating, each run after a
# `sync`. Prints the median wall time of each and of their paired differences.
#   bash bench/flush_cost.sh        (RUNS=31 VERTICES=2000000)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-31}
vertices=${VERTICES:-2000000}

mkdir -p build/flush-work
cmake -S . -B build/flush-off -DCMAKE_BUILD_TYPE=Release -DULVTOOL_TESTS=OFF \
    -DCMAKE_CXX_FLAGS=-DULVTOOL_NO_FLUSH >/dev/null
cmake --build build/flush-off -j2 --target ulvtool >/dev/null
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DULVTOOL_TESTS=OFF >/dev/null
cmake --build build/bench -j2 --target ulvtool make_model >/dev/null
old=$PWD/build/flush-off/ulvtool
new=$PWD/build/bench/ulvtool
cd build/flush-work
../bench/make_model big.mod "$vertices"
"$new" big.mod out.obj >/dev/null

now() { echo "${EPOCHREALTIME/./}"; }
ms() { # milliseconds of one conversion over out.obj
    sync
    local start end
    start=$(now)
    "$1" big.mod out.obj >/dev/null
    end=$(now)
    echo $(((end - start) / 1000))
}
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
olds=() news=() diffs=()
for _ in $(seq "$runs"); do
    o=$(ms "$old")
    n=$(ms "$new")
    olds+=("$o") news+=("$n") diffs+=($((n - o)))
done
echo "without flush: median $(median "${olds[@]}") ms"
echo "with flush:    median $(median "${news[@]}") ms"
echo "paired difference: median $(median "${diffs[@]}") ms over $runs runs"
