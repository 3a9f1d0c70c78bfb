#!/usr/bin/env bash
# Installs the Khronos glTF validator (npm, pinned) under a build folder and
# prints the path of the Node script that runs it.
#   bash scripts/validator.sh [FOLDER]        (default build/npm)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-build/npm}
version=2.0.0-dev.3.10

# The machine's own Node.js comes with npm; Debian's are the fallback.
if ! command -v npm >/dev/null; then
    source scripts/need.sh
    need nodejs npm >&2
fi

if [ "$(node -p "require('./$folder/node_modules/gltf-validator/package.json').version" 2>/dev/null)" != "$version" ]; then
    mkdir -p "$folder"
    npm install --silent --no-audit --no-fund --prefix "$folder" "gltf-validator@$version" >&2
fi
echo "$PWD/tests/gltf/validate.js"
