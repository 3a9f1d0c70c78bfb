#!/usr/bin/env bash
# Measures the converter against the least any converter must do, and prints
# one row per target; exits 1 when a target is missed. Every figure is a ratio
# of two commands run side by side, median of RUNS runs, so a busy machine
# slows both.
#   bash bench/run.sh            (RUNS=5 VERTICES=2000000 by default)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-5}
vertices=${VERTICES:-2000000}
build=${BUILD:-build/bench}
work=${WORK:-$build/work}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DULVTOOL_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target ulvtool make_model write_floor >/dev/null
tool=$PWD/$build/ulvtool
gen=$PWD/$build/make_model
floor=$PWD/$build/write_floor
mkdir -p "$work"
cd "$work"

now() { echo "${EPOCHREALTIME/./}"; }
# Wall seconds of one run of a command, its output discarded.
seconds() {
    local start end
    start=$(now)
    "$@" >/dev/null
    end=$(now)
    echo "scale=4; ($end - $start) / 1000000" | bc
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
ratio() { echo "scale=3; $1 / $2" | bc; }
# within LIMIT VALUE: 1 when VALUE <= LIMIT
within() { [ "$(echo "$2 <= $1" | bc)" = 1 ]; }

failed=0
row() { # target, figure, limit, verdict
    # verdict runs in a subshell, so a miss is counted here.
    if [ "$4" = MISS ]; then failed=1; fi
    printf '| %-34s | %-46s | %-10s | %-4s |\n' "$1" "$2" "$3" "$4"
}
verdict() { if within "$1" "$2"; then echo ok; else failed=1; echo MISS; fi; }

"$gen" big.mod "$vertices"
"$gen" big4.mod $((4 * vertices))
"$gen" gap.mod 1000 200000000
"$gen" many.mod 300000 0 3 100000
input=$(stat -c %s big.mod)

# 1. End to end against the floor: the OBJ's size in ready text, handed to the
# kernel in 4 MiB writes. Both write a new file, as nothing is there.
rm -f out.obj out.mtl
"$tool" big.mod out.obj >/dev/null
output=$(stat -c %s out.obj)
tool_times=() floor_times=()
for _ in $(seq "$runs"); do
    rm -f out.obj out.mtl floor.obj
    tool_times+=("$(seconds "$tool" big.mod out.obj)")
    floor_times+=("$(seconds "$floor" floor.obj "$output")")
done
rm -f floor.obj
t=$(median "${tool_times[@]}")
f=$(median "${floor_times[@]}")
e2e=$(ratio "$t" "$f")

# 2. Peak memory against the input size.
rm -f out.obj out.mtl
rss_kib=$( { /usr/bin/time -f %M "$tool" big.mod out.obj >/dev/null; } 2>&1 | tail -n 1)
limit_kib=$(echo "(1.3 * $input / 1024) + 48 * 1024" | bc)
limit_kib=${limit_kib%.*}

# 3. The tag search over 200 MB of filler against cat of the same file.
gap_times=() cat_times=()
for _ in $(seq "$runs"); do
    rm -f gap.obj gap.mtl
    gap_times+=("$(seconds "$tool" gap.mod gap.obj)")
    cat_times+=("$(seconds sh -c 'cat gap.mod > /dev/null')")
done
g=$(median "${gap_times[@]}")
k=$(median "${cat_times[@]}")
gap=$(ratio "$g" "$k")

# 4. Four times the model.
big4_times=() big1_times=()
for _ in $(seq "$runs"); do
    rm -f out4.obj out4.mtl out.obj out.mtl
    big4_times+=("$(seconds "$tool" big4.mod out4.obj)")
    big1_times+=("$(seconds "$tool" big.mod out.obj)")
done
t4=$(median "${big4_times[@]}")
t1=$(median "${big1_times[@]}")
scale=$(ratio "$t4" "$t1")
rm -f out4.obj out4.mtl

# 5. 100,000 sections with as many materials; and a tiny model.
many_times=() tiny_times=() true_times=()
"$gen" tiny.mod 3
for _ in $(seq "$runs"); do
    many_times+=("$(seconds "$tool" many.mod many.obj)")
    tiny_times+=("$(seconds "$tool" tiny.mod tiny.obj)")
    true_times+=("$(seconds /bin/true)")
done
m=$(median "${many_times[@]}")
tiny=$(median "${tiny_times[@]}")
nothing=$(median "${true_times[@]}")
cpu=$( { /usr/bin/time -f %P "$tool" big.mod out.obj >/dev/null; } 2>&1 | tail -n 1)

# 6. Binary glTF against copying the model through memory, which reads and
# writes about as many bytes as the conversion must; and its peak memory.
glb_times=() dd_times=()
for _ in $(seq "$runs"); do
    rm -f out.glb copy.mod
    glb_times+=("$(seconds "$tool" big.mod out.glb)")
    dd_times+=("$(seconds dd if=big.mod of=copy.mod bs=4M status=none)")
done
rm -f copy.mod
gl=$(median "${glb_times[@]}")
dd=$(median "${dd_times[@]}")
glb_ratio=$(ratio "$gl" "$dd")
glb_rss_kib=$( { /usr/bin/time -f %M "$tool" big.mod out.glb >/dev/null; } 2>&1 | tail -n 1)

# 7. The way back: the model's .glb to a new model file, against copying the
# .glb; and its peak memory against the .glb's size.
"$tool" big.mod back.glb >/dev/null
glb_input=$(stat -c %s back.glb)
back_times=() copy_times=()
for _ in $(seq "$runs"); do
    rm -f back.mod copy.glb
    back_times+=("$(seconds "$tool" back.glb back.mod)")
    copy_times+=("$(seconds dd if=back.glb of=copy.glb bs=4M status=none)")
done
rm -f copy.glb back.mod
bk=$(median "${back_times[@]}")
cp_=$(median "${copy_times[@]}")
back_ratio=$(ratio "$bk" "$cp_")
back_rss_kib=$( { /usr/bin/time -f %M "$tool" back.glb back.mod >/dev/null; } 2>&1 | tail -n 1)
back_limit_kib=$(echo "(2.5 * $glb_input / 1024) + 48 * 1024" | bc)
back_limit_kib=${back_limit_kib%.*}

echo "Input $(echo "scale=1; $input / 1048576" | bc) MiB, OBJ $(echo "scale=1; $output / 1048576" | bc) MiB, $vertices vertices, median of $runs runs"
echo
row "target" "measured" "limit" ""
row "---" "---" "---" "---"
row "end to end / write floor" "$t s / $f s = $e2e" "3.0" "$(verdict 3.0 "$e2e")"
row "peak RSS / (1.3 input + 48 MiB)" "$rss_kib KiB / $limit_kib KiB" "1.0" "$(verdict 1.0 "$(ratio "$rss_kib" "$limit_kib")")"
row "200 MB gap / cat of the file" "$g s / $k s = $gap" "3.0" "$(verdict 3.0 "$gap")"
row "4x model / 1x model" "$t4 s / $t1 s = $scale" "4.4" "$(verdict 4.4 "$scale")"
row "100,000 sections and materials" "$m s" "1.0 s" "$(verdict 1.0 "$m")"
row ".glb / dd of the model" "$gl s / $dd s = $glb_ratio" "3.0" "$(verdict 3.0 "$glb_ratio")"
row ".glb peak RSS / (1.3 input + 48 MiB)" "$glb_rss_kib KiB / $limit_kib KiB" "1.0" "$(verdict 1.0 "$(ratio "$glb_rss_kib" "$limit_kib")")"
row "glb -> mod / dd of the .glb" "$bk s / $cp_ s = $back_ratio" "4.0" "$(verdict 4.0 "$back_ratio")"
row "glb -> mod peak RSS / (2.5 glb + 48 MiB)" "$back_rss_kib KiB / $back_limit_kib KiB" "1.0" "$(verdict 1.0 "$(ratio "$back_rss_kib" "$back_limit_kib")")"
row "CPU use, end to end" "$cpu of one core" "" ""
row "3-vertex model / /bin/true" "$tiny s / $nothing s" "" ""

# The batch tool's figures, from the top of the source tree (the folder this
# script left for $work).
echo
(cd "$OLDPWD" && BUILD=$build bash bench/batch.sh) || failed=1
exit "$failed"
