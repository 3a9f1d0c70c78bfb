#!/usr/bin/env bash
# Cross-builds the Windows executables with MinGW-w64, checks that they need
# no DLL beside them, and runs the test suite on them under Wine.
#   bash scripts/windows.sh [BUILD_DIR]        (default build/win)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/win}

source scripts/need.sh
need cmake make g++-mingw-w64-x86-64-posix wine64 wine googletest libcli11-dev libstb-dev \
    libtinygltf-dev nlohmann-json3-dev

jobs=$(nproc)

echo "== Windows build"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DULVTOOL_WERROR=ON -DULVTOOL_STRICT=ON >/dev/null
cmake --build "$build" -j "$jobs"

# Linked statically: the only DLLs they may name are those of Windows itself.
for exe in ulvtool.exe ulvbatch.exe; do
    imports=$(x86_64-w64-mingw32-objdump -p "$build/$exe" | awk '/DLL Name:/ {print $3}')
    for dll in $imports; do
        case "${dll,,}" in
        kernel32.dll | msvcrt.dll | user32.dll | shell32.dll | advapi32.dll) ;;
        *)
            echo "$exe needs $dll, which Windows does not have"
            exit 1
            ;;
        esac
    done
    echo "$exe imports only" $imports
done

echo "== Windows tests under Wine"
# The prefix the toolchain file gives the tests, made once here: ready before
# the first test starts, and one server kept for all of them (it ends by
# itself 30 seconds after the last).
export WINEDEBUG=-all
WINEPREFIX="$(cd "$build" && pwd)/wine-prefix"
export WINEPREFIX
mkdir -p "$WINEPREFIX"
wineserver -p30 2>/dev/null || true # already running
wineboot -i >/dev/null 2>&1
ctest --test-dir "$build" -j "$jobs" --output-on-failure
