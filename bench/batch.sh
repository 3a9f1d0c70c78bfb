#!/usr/bin/env bash
# Measures ulvbatch against a shell loop of ulvtool and prints one row per
# target; exits 1 when a target is missed. Run by bench/run.sh, or alone:
#   bash bench/batch.sh    (RUNS=3 MODELS=1000 BATCH_VERTICES=5000 TINY=100000)
# Times are medians of RUNS runs, the two commands taking turns, so that a busy
# machine slows both.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-3}
models=${MODELS:-1000}
vertices=${BATCH_VERTICES:-5000}
tiny=${TINY:-100000}
build=${BUILD:-build/bench}
work=${WORK:-$build/work}/batch

[ -f "$build/CMakeCache.txt" ] ||
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DULVTOOL_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target ulvtool ulvbatch make_model >/dev/null
tool=$PWD/$build/ulvtool
batch=$PWD/$build/ulvbatch
gen=$PWD/$build/make_model
rm -rf "$work"
mkdir -p "$work"
cd "$work"

now() { echo "${EPOCHREALTIME/./}"; }
seconds() { # COMMAND...: wall seconds of one run, its output discarded
    local start end
    start=$(now)
    "$@" >/dev/null
    end=$(now)
    echo "scale=4; ($end - $start) / 1000000" | bc
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
ratio() { echo "scale=3; $1 / $2" | bc; }
failed=0
row() { printf '| %-34s | %-46s | %-10s | %-4s |\n' "$1" "$2" "$3" "$4"; }
# verdict LIMIT VALUE: sets $result, and $failed on a miss (not in a
# subshell, where that would be lost).
verdict() {
    if [ "$(echo "$2 <= $1" | bc)" = 1 ]; then result=ok; else
        failed=1
        result=MISS
    fi
}
peak_kib() { { /usr/bin/time -f %M "$@" >/dev/null; } 2>&1 | tail -n 1; }

# 1. MODELS models of about VERTICES vertices, three folders deep, extensions
# in mixed case. A handful of distinct models, copied.
for k in 0 1 2 3 4 5 6 7; do "$gen" "m$k.mod" $((vertices + k)) >/dev/null; done
cases=(mod MOD Mod mOd)
: >list
for i in $(seq 0 $((models - 1))); do
    rel=a$((i % 4))/b$((i / 4 % 5))/c$((i / 20 % 5))/model$i.${cases[i % 4]}
    mkdir -p "tree/$(dirname "$rel")"
    cp "m$((i % 8)).mod" "tree/$rel"
    echo "tree/$rel loop/${rel%.*}.obj" >>list
done
model_kib=$(($(stat -c %s m0.mod) / 1024))
# The loop gets its folders made beforehand and reads a ready list: only the
# runs of ulvtool are timed. ulvbatch makes its folders itself.
loop() {
    while read -r model output; do "$tool" "$model" "$output"; done <list
}
loop_times=() batch_times=()
for _ in $(seq "$runs"); do
    rm -rf loop out
    (cd tree && find . -type d -exec mkdir -p ../loop/{} \;)
    loop_times+=("$(seconds loop)")
    batch_times+=("$(seconds "$batch" -q -j 2 tree -o out)")
done
# The two trees hold the same files.
diff -r loop out >/dev/null || {
    echo "ulvbatch and the loop of ulvtool wrote different files"
    exit 1
}
l=$(median "${loop_times[@]}")
b=$(median "${batch_times[@]}")
speed=$(ratio "$b" "$l")
rm -rf out
rss=$(peak_kib "$batch" -q -j 2 tree -o out)
rss_limit=$((2 * model_kib + 64 * 1024))

# 2. Tiny models (a 24-byte header, no meshes): memory with 1,000 and with
# TINY of them, against the list of their paths held as strings (32 bytes
# each, and a heap block for one longer than 15 bytes).
zeros='\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
make_tiny() { # FOLDER COUNT
    local i
    for i in $(seq 0 $(($2 - 1))); do
        [ $((i % 1000)) -ne 0 ] || mkdir -p "$1/f$((i / 1000))"
        printf "$zeros" >"$1/f$((i / 1000))/tiny$i.mod"
    done
}
make_tiny small 1000
make_tiny large "$tiny"
small_kib=$(peak_kib "$batch" -q -j 2 small -o small-out)
start=$(now)
large_kib=$(peak_kib "$batch" -q -j 2 large -o large-out)
large_s=$(echo "scale=2; ($(now) - $start) / 1000000" | bc)
list_kib=$(find large -type f | awk '{n = length($0); b += 32; if (n > 15) b += int((n + 1 + 8 + 15) / 16) * 16}
    END {print int(b / 1024)}')
growth=$((large_kib - small_kib))

echo "$models models of about $vertices vertices (${model_kib} KiB each), median of $runs runs"
echo
row "target" "measured" "limit" ""
row "---" "---" "---" "---"
verdict 0.55 "$speed"
row "ulvbatch -j 2 / loop of ulvtool" "$b s / $l s = $speed" "0.55" "$result"
verdict 1.0 "$(ratio "$rss" "$rss_limit")"
row "peak RSS / (2 models + 64 MiB)" "$rss KiB / $rss_limit KiB" "1.0" "$result"
verdict 1.0 "$(ratio "$growth" "$list_kib")"
row "RSS growth, 1,000 to $tiny tiny" "$growth KiB / $list_kib KiB of paths" "1.0" "$result"
row "$tiny tiny models" "$large_s s, peak $large_kib KiB" "" ""
exit "$failed"
