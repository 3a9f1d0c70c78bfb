#!/usr/bin/env bash
# What flushing a replaced file costs: the conversion of the 2,000,000-vertex
# model over an earlier OBJ and MTL with and without the flush, alternating,
# each run after a `sync` (bench/flush_cost.cpp).
#   bash bench/flush_cost.sh        (RUNS=31 VERTICES=2000000)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-31}
vertices=${VERTICES:-2000000}

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DULVTOOL_TESTS=OFF -DULVTOOL_BENCH=ON >/dev/null
cmake --build build/bench -j2 --target flush_cost make_model >/dev/null
mkdir -p build/flush-work
cd build/flush-work
../bench/make_model big.mod "$vertices"
../bench/bench/flush_cost big.mod out.obj "$runs"
