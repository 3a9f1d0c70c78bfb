#!/usr/bin/env bash
# Peak memory (maximum resident set, from /usr/bin/time) of the Release tool
# next to the size of its input: small files that claim huge counts, and a
# large valid model, each from a file and through a pipe (where the reader
# cannot know the length in advance).
#   bash bench/memory.sh [BUILD_DIR [VERTICES]]   (defaults: build/release, 2000000)
# The build folder is configured and brought up to date first.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
vertices=${2:-2000000}

source scripts/need.sh
need time
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 2 --target ulvtool make_model >/dev/null
tool=$(realpath "$build/ulvtool")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Little-endian 32-bit word as printf escapes.
le32() {
    printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) \
        $((($1 >> 16) & 255)) $((($1 >> 24) & 255))
}
zeros() { printf '\\x00%.0s' $(seq "$1"); }
header() { printf 'ULVM\\x00\\x02\\x00\\x00%s%s%s' "$(le32 "$1")" "$(le32 0)" "$(zeros 8)"; }
mesh() {
    local one='\x00\x00\x80\x3f' nil='\x00\x00\x00\x00'
    printf 'HSEM%s%s%s%s%s' "$one$nil$nil$nil$one$nil" "$nil$nil$one" "$nil$nil$nil" \
        "$(le32 "$1")" "$(zeros 24)"
}
# A section claiming VERTICES and TRIANGLES, followed by one vertex and one
# triangle of data.
section() {
    printf 'PRGMwood%s%s%s%s%s%s%s' "$(zeros 28)" "$(le32 0)" "$(le32 1)" "$(le32 "$1")" \
        "$(le32 "$2")" "$(le32 1)" "$(le32 0)"
    zeros 40
}
make() { printf '%b' "$2" >"$work/$1.mod"; }

huge=4294967295
make no-meshes "$(header 0)"
make meshes "$(header $huge)$(mesh 0)"
make sections "$(header 1)$(mesh $huge)$(section 1 1)"
make vertices "$(header 1)$(mesh 1)$(section $huge 1)"
make triangles "$(header 1)$(mesh 1)$(section 1 $huge)"
make all-counts "$(header $huge)$(mesh $huge)$(section $huge $huge)"
"$build/make_model" "$work/large.mod" "$vertices"
"$build/make_model" "$work/gap.mod" 1000 $((64 << 20))

# Runs the tool on one input, from the file or, with "pipe", from standard
# input through a pipe; prints one row of the table.
measure() {
    local name=$1 how=${2:-file} status=0
    local input="$work/$name.mod"
    local bytes
    bytes=$(stat -c %s "$input")
    cd "$work"
    if [ "$how" = pipe ]; then
        cat "$input" | /usr/bin/time -f %M -o "$work/rss" "$tool" /dev/stdin out.obj >"$work/said" ||
            status=$?
    else
        /usr/bin/time -f %M -o "$work/rss" "$tool" "$input" out.obj >"$work/said" || status=$?
    fi
    cd - >/dev/null
    local rss said
    rss=$(tail -n 1 "$work/rss")
    said=$(head -n 1 "$work/said")
    printf '%-18s %-5s %12s %8s %10s  %s\n' "$name" "$how" "$bytes" "$status" "$rss" "${said:-(converted)}"
    rm -f "$work/out.obj" "$work/out.mtl"
}

printf '%-18s %-5s %12s %8s %10s  %s\n' case from "input bytes" status "peak KiB" message
for name in no-meshes meshes sections vertices triangles all-counts; do
    measure "$name"
done
measure vertices pipe
measure all-counts pipe
measure gap
measure large
measure large pipe
