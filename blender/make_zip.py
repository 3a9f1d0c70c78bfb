"""Zips the Blender add-on with the ulvtool executables it carries.

    python3 blender/make_zip.py OUT.zip VERSION [--linux ULVTOOL] [--windows ULVTOOL.EXE]

One folder, io_scene_ulvane/, inside: Install Add-on (Blender 3.4 to 4.x)
takes it as the module io_scene_ulvane, and Blender 4.2 and later as an
extension through its blender_manifest.toml. VERSION is the project's; the
add-on's own must be the same.
"""

import argparse
import ast
import os
import sys
import tomllib
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "io_scene_ulvane")
TOP = "io_scene_ulvane"
# The same bytes for the same files, whenever the zip is made.
WHEN = (1980, 1, 1, 0, 0, 0)


def add(archive, name, data, mode=0o644):
    info = zipfile.ZipInfo(TOP + "/" + name, WHEN)
    info.external_attr = (0o100000 | mode) << 16  # a regular file and its mode
    info.compress_type = zipfile.ZIP_DEFLATED
    archive.writestr(info, data)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def check_versions(version):
    parts = [int(part) for part in version.split(".")]
    parts += [0] * (3 - len(parts))
    with open(os.path.join(SOURCE, "blender_manifest.toml"), "rb") as file:
        manifest = tomllib.load(file)["version"]
    tree = ast.parse(read(os.path.join(SOURCE, "__init__.py")))
    bl_info = next(ast.literal_eval(node.value) for node in tree.body
                   if isinstance(node, ast.Assign)
                   and getattr(node.targets[0], "id", "") == "bl_info")
    wanted = ".".join(map(str, parts))
    if manifest != wanted or list(bl_info["version"]) != parts:
        sys.exit("the add-on's versions (blender_manifest.toml %s, bl_info %s) are not the "
                 "project's %s" % (manifest, bl_info["version"], wanted))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("version")
    parser.add_argument("--linux", help="ulvtool for Linux x86-64")
    parser.add_argument("--windows", help="ulvtool.exe for Windows x64")
    options = parser.parse_args()
    check_versions(options.version)

    with zipfile.ZipFile(options.out, "w") as archive:
        for name in sorted(os.listdir(SOURCE)):
            if name.endswith(".py") or name == "blender_manifest.toml":
                add(archive, name, read(os.path.join(SOURCE, name)))
        add(archive, "LICENSE", read(os.path.join(HERE, "..", "LICENSE")))
        if options.linux:
            add(archive, "bin/linux-x86_64/ulvtool", read(options.linux), 0o755)
        if options.windows:
            add(archive, "bin/windows-x64/ulvtool.exe", read(options.windows), 0o755)


main()
