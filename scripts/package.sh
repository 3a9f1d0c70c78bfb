#!/usr/bin/env bash
# Builds the release packages into build/packages (or OUT) and checks them: the
# .tar.gz and .deb of the Linux build, the .zip of the Windows build, each
# holding the tools, the README, the licence and the man pages, and the Blender
# add-on's zip with the ulvtool of the .tar.gz and the .zip. The .deb is
# installed and its ulvtool and ulvbatch convert the sample as the build's
# ulvtool does; the Windows ulvtool.exe and ulvbatch.exe from the .zip do too
# under Wine, with CR LF line ends.
# Then the library is installed into OUT/prefix and the project in
# tests/consumer is built against it and run on the sample.
#   bash scripts/package.sh [LINUX_BUILD [WINDOWS_BUILD [OUT]]]
# (default build/test, build/win, build/packages).
# A build folder that does not exist yet is configured (without tests) first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
linux=${1:-build/test}
windows=${2:-build/win}
out=${3:-build/packages}

source scripts/need.sh
need "${build_packages[@]}" dpkg-dev unzip g++-mingw-w64-x86-64-posix wine64 wine python3

jobs=$(nproc)
[ -f "$linux/CMakeCache.txt" ] || cmake -S . -B "$linux" -DULVTOOL_TESTS=OFF >/dev/null
[ -f "$windows/CMakeCache.txt" ] || cmake -S . -B "$windows" -DULVTOOL_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build "$linux" -j "$jobs"
cmake --build "$windows" -j "$jobs"
linux=$(cd "$linux" && pwd)
windows=$(cd "$windows" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

echo "== packages"
rm -rf "$out"
mkdir -p "$out"
(cd "$linux" && cpack -G "TGZ;DEB" -B "$out" >/dev/null)
(cd "$windows" && cpack -G ZIP -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
one() {
    local found=("$@")
    [ ${#found[@]} -eq 1 ] && [ -f "${found[0]}" ] || {
        echo "expected one package, found: ${found[*]}"
        exit 1
    }
    echo "${found[0]}"
}
tgz=$(one "$out"/ulvtool-*-Linux.tar.gz)
deb=$(one "$out"/ulvtool_*.deb)
zip=$(one "$out"/ulvtool-*-win64.zip)

# The Blender add-on carries the packages' own ulvtool and ulvtool.exe (those
# that the checks below run, stripped as cpack leaves them).
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$linux/CMakeCache.txt")
tools=$(mktemp -d)
tar xzf "$tgz" -C "$tools" "$(basename "$tgz" .tar.gz)/bin/ulvtool"
unzip -q "$zip" "$(basename "$zip" .zip)/ulvtool.exe" -d "$tools"
python3 blender/make_zip.py "$out/ulvtool-blender-$version.zip" "$version" \
    --linux "$tools/$(basename "$tgz" .tar.gz)/bin/ulvtool" \
    --windows "$tools/$(basename "$zip" .zip)/ulvtool.exe"
rm -rf "$tools"
addon=$(one "$out"/ulvtool-blender-*.zip)
ls -l "$out"

# The files in each, exactly: nothing missing, nothing extra.
same() {
    if ! diff <(sort <<<"$2") <(sort <<<"$3"); then
        echo "$1 does not hold what it should (above: < expected, > found)"
        exit 1
    fi
}
name=$(basename "$tgz" .tar.gz)
same "$tgz" "$(printf "$name/%s\n" bin/ulvtool bin/ulvbatch share/doc/ulvtool/README.md \
    share/doc/ulvtool/LICENSE share/man/man1/ulvtool.1 share/man/man1/ulvbatch.1)" \
    "$(tar tzf "$tgz" | grep -v '/$')"
same "$deb" "$(printf "./usr/%s\n" bin/ulvtool bin/ulvbatch share/doc/ulvtool/README.md \
    share/doc/ulvtool/LICENSE share/man/man1/ulvtool.1 share/man/man1/ulvbatch.1)" \
    "$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ {print $6}')"
name=$(basename "$zip" .zip)
same "$zip" "$(printf "$name/%s\n" ulvtool.exe ulvbatch.exe README.md LICENSE ulvtool.1 \
    ulvbatch.1)" "$(unzip -Z1 "$zip" | grep -v '/$')"
same "$addon" "$(printf "io_scene_ulvane/%s\n" __init__.py tool.py blender_manifest.toml LICENSE \
    bin/linux-x86_64/ulvtool bin/windows-x64/ulvtool.exe)" "$(unzip -Z1 "$addon" | grep -v '/$')"
# Blender unpacks it without its mode, which the add-on then sets; other
# unzip tools keep this one.
zipinfo "$addon" io_scene_ulvane/bin/linux-x86_64/ulvtool | grep -q '^-rwxr-xr-x' || {
    echo "the add-on's ulvtool is not marked executable"
    exit 1
}
dpkg-deb -f "$deb" Package Version Depends

# What the build's own tool writes, in a folder of its own.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert() { # TOOL... ; writes sample.obj and sample.mtl in the current folder
    "$@" "$root/examples/sample.mod" sample.obj >/dev/null
}
batch() { # TOOL... ; writes sample.obj and sample.mtl into the folder batch
    "$@" -q "$root/examples/sample.mod" -o batch >/dev/null
}
# The batch tool's files are the single-file tool's.
sameAsTool() { # FOLDER
    cmp "$1/sample.obj" "$1/batch/sample.obj"
    cmp "$1/sample.mtl" "$1/batch/sample.mtl"
}
mkdir "$work/built" "$work/deb" "$work/zip" "$work/consumer"
(cd "$work/built" && convert "$linux/ulvtool")

echo "== the .deb installed"
installed_before=no
dpkg -s ulvtool >/dev/null 2>&1 && installed_before=yes
$sudo dpkg -i "$deb" >/dev/null
(cd "$work/deb" && convert /usr/bin/ulvtool && batch /usr/bin/ulvbatch)
cmp "$work/built/sample.obj" "$work/deb/sample.obj"
cmp "$work/built/sample.mtl" "$work/deb/sample.mtl"
sameAsTool "$work/deb"
for page in ulvtool ulvbatch; do
    [ "$(man -w $page)" = /usr/share/man/man1/$page.1 ]
    man --warnings -l /usr/share/man/man1/$page.1 2>&1 >/dev/null | (! grep .)
done
# Leave the machine as it was.
[ $installed_before = yes ] || $sudo dpkg -r ulvtool >/dev/null
echo "the installed ulvtool and ulvbatch write the same files as the build's ulvtool"

echo "== ulvtool.exe and ulvbatch.exe from the .zip under Wine"
unzip -q "$zip" -d "$work/zip"
exe=$work/zip/$name/ulvtool.exe
for file in "$exe" "$work/zip/$name/ulvbatch.exe"; do
    echo "$(basename "$file") imports" \
        $(x86_64-w64-mingw32-objdump -p "$file" | awk '/DLL Name:/ {print $3}' | sort -f)
done
export WINEDEBUG=-all WINEPREFIX=$windows/wine-prefix
mkdir -p "$WINEPREFIX"
(cd "$work/zip" && convert wine "$exe" && batch wine "$work/zip/$name/ulvbatch.exe")
sameAsTool "$work/zip"
# Exactly the Linux files with CR LF line ends.
sed 's/$/\r/' "$work/built/sample.obj" | cmp - "$work/zip/sample.obj"
sed 's/$/\r/' "$work/built/sample.mtl" | cmp - "$work/zip/sample.mtl"
echo "ulvtool.exe and ulvbatch.exe write the Linux files with CR LF line ends"

echo "== the library installed, and a project built against it"
prefix=$out/prefix
cmake --install "$linux" --prefix "$prefix" >/dev/null
# The public headers alone, free of the internals behind them.
same "$prefix/include" "$(printf "$prefix/include/ulvtool/%s\n" model/model.h model/transform.h \
    mod/reader.h mod/writer.h obj/writer.h gltf/writer.h texture/texture.h convert/outputs.h \
    convert/textures.h convert/write_files.h)" "$(find "$prefix/include" -type f)"
if grep -nE '#include <(windows|unistd|fcntl|sys/)|WriteBehind|InputBuffer|format\.h|input\.h' \
    -r "$prefix/include"; then
    echo "the public headers show internal details (above)"
    exit 1
fi
cmake -S tests/consumer -B "$out/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$out/consumer" -j "$jobs" >/dev/null
(cd "$work/consumer" && "$out/consumer/consumer" "$root/examples/sample.mod" sample.obj)
cmp "$work/built/sample.obj" "$work/consumer/sample.obj"
cmp "$work/built/sample.mtl" "$work/consumer/sample.mtl"
(cd "$work/built" && "$linux/ulvtool" "$root/examples/sample.mod" sample.glb >/dev/null)
cmp "$work/built/sample.glb" "$work/consumer/sample.glb"
echo "the consumer project writes the same files as the tool"
