#!/usr/bin/env bash
# Checks the shape of the product's source folders: every include goes from a
# folder to one below it in the flow (or within the folder), no two files
# include each other however indirectly, and no file is much over 600 lines.
#   bash scripts/layers.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# The flow, top to bottom; folders on one line stand side by side and do
# not include each other.
layers=(
    "cli"
    "batch"
    "convert"
    "mod obj gltf"
    "texture"
    "model"
    "platform"
)
declare -A rank
for i in "${!layers[@]}"; do
    for folder in ${layers[$i]}; do
        rank[$folder]=$i
    done
done

failed=0
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT
for folder in "${!rank[@]}"; do
    for file in $(git ls-files "$folder/*.h" "$folder/*.cpp"); do
        lines=$(wc -l <"$file")
        if [ "$lines" -gt 600 ]; then
            echo "$file: $lines lines; split it by job"
            failed=1
        fi
        while IFS= read -r included; do
            target=${included%%/*}
            [ -n "${rank[$target]+set}" ] || continue
            echo "$file $included" >>"$edges"
            if [ "$target" != "$folder" ] && [ "${rank[$target]}" -le "${rank[$folder]}" ]; then
                echo "$file includes $included: $target is not below $folder"
                failed=1
            fi
        done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
    done
done
# A header and its source file are one unit: x.cpp includes x.h.
if ! sed -E 's/\.(cpp|h) / /; s/\.(cpp|h)$//' "$edges" | awk '$1 != $2' | tsort >/dev/null 2>"$edges.loop"; then
    cat "$edges.loop"
    echo "the includes above form a loop"
    failed=1
fi
rm -f "$edges.loop"
[ "$failed" = 0 ] && echo "layers: every include points down the flow, no loops, no file over 600 lines"
exit "$failed"
