#!/usr/bin/env bash
# Checks the first command as a fresh machine would run it: with the build's
# libraries reported missing by a stand-in dpkg and "installed" by a
# stand-in apt-get, scripts/build.sh must ask for each of them, build both
# tools and no test, and convert the sample.
#   bash scripts/build_test.sh [BUILD_DIR]        (default build/fresh)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/fresh}

fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
missing="libstb-dev libcli11-dev libtinygltf-dev nlohmann-json3-dev"
cat >"$fake/dpkg" <<SCRIPT
#!/bin/sh
[ "\$1" = -s ] && case " $missing " in *" \$2 "*) exit 1 ;; esac
exec /usr/bin/dpkg "\$@"
SCRIPT
cat >"$fake/apt-get" <<SCRIPT
#!/bin/sh
echo "\$*" >>"$fake/apt.log"
SCRIPT
chmod +x "$fake/dpkg" "$fake/apt-get"

rm -rf "$build"
PATH="$fake:$PATH" ULVTOOL_APT_UPDATED= bash scripts/build.sh "$build" >"$fake/out.log" 2>&1 || {
    cat "$fake/out.log"
    echo "scripts/build.sh failed"
    exit 1
}
failed=0
check() { # WHAT, then the command that must succeed
    local what=$1
    shift
    if ! "$@" >/dev/null 2>&1; then
        echo "not so: $what"
        failed=1
    fi
}
check "the package lists refreshed once" test "$(grep -c '^update' "$fake/apt.log")" = 1
for package in $missing; do
    check "$package asked for" grep -q "^install .* $package\b" "$fake/apt.log"
done
check "ulvtool built" test -x "$build/ulvtool"
check "ulvbatch built" test -x "$build/ulvbatch"
check "no test built" test -z "$(find "$build" -name '*_test' -type f)"
check "no test registered" test ! -e "$build/tests/CTestTestfile.cmake"
for file in sample.glb sample.obj sample.mtl wood.BMP metal.BMP glass.BMP; do
    check "$build/sample/$file written" test -s "$build/sample/$file"
done
[ "$failed" = 0 ] && echo "build.sh: packages asked for, both tools built and no test, the sample converted"
exit "$failed"
