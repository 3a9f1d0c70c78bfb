"""The add-on in Blender, installed from its zip as a user would.

    blender -b --factory-startup --python-exit-code 1 --python test_addon.py -- ZIP ULVTOOL WORK

ZIP is the add-on's zip, ULVTOOL the build's own tool (for the reference
.glb), WORK an empty folder for the fixtures. TMPDIR should be a folder of its
own: the add-on's temporary folders are looked for there after each run.
"""

import contextlib
import glob
import importlib
import json
import os
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy

# Debian pairs Blender 3.4 with numpy 1.24, which no longer has numpy.bool,
# and Blender's glTF importer still uses it.
numpy.bool = bool

import addon_utils  # noqa: E402 (after the numpy fix, as Blender's modules are)
import bpy  # noqa: E402

ZIP, ULVTOOL, WORK = sys.argv[sys.argv.index("--") + 1:][:3]
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
MODULE = "io_scene_ulvane"
# What ulvtool's extras on the scene, nodes, meshes and materials start with.
EXTRAS = "ulvane_"


# --- fixtures ---------------------------------------------------------------

def fixture(folder, model=True, textures=True, name="sample.mod"):
    """A copy of the sample in WORK/FOLDER, with or without its BMPs."""
    path = os.path.join(WORK, folder)
    os.makedirs(path, exist_ok=True)
    if model:
        shutil.copyfile(os.path.join(EXAMPLES, "sample.mod"), os.path.join(path, name))
    if textures:
        for bmp in glob.glob(os.path.join(EXAMPLES, "*.[bB][mM][pP]")):
            shutil.copyfile(bmp, os.path.join(path, os.path.basename(bmp)))
    return os.path.join(path, name)


def fake_tool(name, lines, status):
    """A stand-in for ulvtool that keeps its arguments and the .glb it was given."""
    path = os.path.join(WORK, "fake", name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    seen = os.path.join(WORK, "fake", name + ".seen")
    with open(path, "w") as script:
        script.write("#!/bin/sh\n")
        script.write('printf "%%s\\n" "$@" > "%s.args"\n' % seen)
        script.write('/bin/cp "$2" "%s.glb"\n' % seen)
        for line in lines:
            script.write("echo %s\n" % shlex.quote(line))
        script.write("exit %d\n" % status)
    os.chmod(path, 0o755)
    return path, seen


def read_glb(path):
    with open(path, "rb") as file:
        data = file.read()
    length, kind = struct.unpack_from("<II", data, 12)
    assert kind == 0x4E4F534A, "no JSON chunk in " + path
    return json.loads(data[20:20 + length])


def reference_glb(model):
    out = os.path.join(WORK, "reference.glb")
    subprocess.run([ULVTOOL, model, out], check=True, stdout=subprocess.DEVNULL)
    return out


def mod_blocks(path):
    """The .MOD file's blocks in order: header, then each mesh and section."""
    with open(path, "rb") as file:
        data = file.read()
    size = 24 + (24 if data[4] == 9 and data[5] == 1 else 0)
    blocks = [("header", data[:size])]
    at = size
    while at < len(data):
        tag = data[at:at + 4]
        if tag == b"HSEM":
            size = 80
        elif tag == b"PRGM":
            vertices, triangles = struct.unpack_from("<II", data, at + 44)
            size = 60 + vertices * 32 + triangles * 8
        else:
            raise AssertionError("%s: unknown block %r at %d" % (path, tag, at))
        if at + size > len(data):
            raise AssertionError("%s: block at %d runs past the end" % (path, at))
        blocks.append(("mesh" if tag == b"HSEM" else "section", data[at:at + size]))
        at += size
    return blocks


# --- Blender's state --------------------------------------------------------

def clean():
    for kind in ("objects", "meshes", "materials", "images", "textures", "node_groups",
                 "cameras", "lights", "collections"):
        blocks = getattr(bpy.data, kind)
        for block in list(blocks):
            blocks.remove(block)
    scene = bpy.context.scene
    for key in list(scene.keys()):
        del scene[key]


def plain(value):
    if hasattr(value, "to_dict"):
        return value.to_dict()
    if hasattr(value, "to_list"):
        return value.to_list()
    return value


def world_points(obj, rounding=4):
    return sorted(tuple(round(c, rounding) for c in obj.matrix_world @ v.co)
                  for v in obj.data.vertices)


def faces(obj, rounding=4):
    """Each face as its material and its corners in the world, in their turn
    (from the least corner): the geometry, however the vertices are shared."""
    found = []
    for polygon in obj.data.polygons:
        corners = [tuple(round(c + 0.0, rounding) for c in obj.matrix_world @
                         obj.data.vertices[v].co) for v in polygon.vertices]
        first = corners.index(min(corners))
        slot = obj.material_slots[polygon.material_index] if obj.material_slots else None
        found.append((slot.material.name if slot and slot.material else None,
                      corners[first:] + corners[:first]))
    return sorted(found)


def textures_of(material):
    if not material.node_tree:
        return []
    return sorted(tuple(node.image.size) for node in material.node_tree.nodes
                  if node.type == 'TEX_IMAGE' and node.image)


def summary():
    """What the tests compare: objects, their geometry, materials and images."""
    objects = {}
    for obj in bpy.data.objects:
        objects[obj.name] = {
            "type": obj.type,
            "vertices": len(obj.data.vertices) if obj.type == 'MESH' else None,
            "faces": len(obj.data.polygons) if obj.type == 'MESH' else None,
            "materials": [slot.material.name if slot.material else None
                          for slot in obj.material_slots],
            "points": world_points(obj) if obj.type == 'MESH' else None,
        }
    materials = {m.name: textures_of(m) for m in bpy.data.materials}
    return {"objects": objects, "materials": materials}


def state():
    """Everything a failed import must leave as it was."""
    scene = bpy.context.scene
    return {
        "summary": summary(),
        "data": {kind: sorted(b.name for b in getattr(bpy.data, kind))
                 for kind in ("objects", "meshes", "materials", "images", "textures",
                              "collections", "actions")},
        "scene": {key: plain(scene[key]) for key in scene.keys()},
        "engine": scene.render.engine,
        "selected": sorted(o.name for o in bpy.context.view_layer.objects if o.select_get()),
        "active": getattr(bpy.context.view_layer.objects.active, "name", None),
    }


def addon():
    return sys.modules[MODULE]


def preferences():
    return bpy.context.preferences.addons[MODULE].preferences


@contextlib.contextmanager
def tool_setup(preference="", bundled=True):
    """The bundled tool hidden or not, and the preference set, for a while."""
    bin_dir = os.path.join(os.path.dirname(addon().__file__), "bin")
    hidden = bin_dir + ".hidden"
    if not bundled:
        os.rename(bin_dir, hidden)
    preferences().tool_path = preference
    try:
        yield
    finally:
        preferences().tool_path = ""
        if not bundled:
            os.rename(hidden, bin_dir)


class Run:
    """One operator run: its result, its reports, its error.

    The error is the one bpy.ops raises with the operator's error report.
    The other reports are read from what Blender prints of them in background
    mode ("Info: ...", "Warning: ..."), the process's own output caught for
    the run.
    """

    KINDS = {"Info": 'INFO', "Warning": 'WARNING'}

    def __init__(self, operator, **arguments):
        self.error = None
        sys.stdout.flush()
        with tempfile.TemporaryFile(dir=WORK) as caught:
            saved = os.dup(1)
            os.dup2(caught.fileno(), 1)
            try:
                self.result = operator(**arguments)
            except RuntimeError as error:  # how bpy.ops passes on an error report
                self.result = {'CANCELLED'}
                self.error = str(error).rstrip("\n")
            finally:
                sys.stdout.flush()
                os.dup2(saved, 1)
                os.close(saved)
            caught.seek(0)
            self.output = caught.read().decode("utf-8", "replace")
        sys.stdout.write(self.output)  # still in the log
        self.reports = []
        for line in self.output.splitlines():
            kind, _, message = line.partition(": ")
            if kind in self.KINDS:
                self.reports.append((self.KINDS[kind], message))
        self.leftovers = glob.glob(os.path.join(tempfile.gettempdir(), "ulvane-*"))

    def messages(self, kind):
        return [message for each, message in self.reports if each == kind]


def import_mod(**arguments):
    return Run(bpy.ops.import_scene.ulvane_mod, **arguments)


def export_mod(**arguments):
    return Run(bpy.ops.export_scene.ulvane_mod, **arguments)


class Case(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        clean()
        os.environ.pop("ULVTOOL_TEXTURES", None)

    def imported(self, run):
        self.assertEqual(run.result, {'FINISHED'}, run.error)
        self.assertEqual(run.leftovers, [])

    def cancelled(self, run, *words):
        self.assertEqual(run.result, {'CANCELLED'})
        self.assertEqual(run.leftovers, [])
        self.assertRegex(run.error or "", r"^Error: [^\n]+$")  # one line
        for word in words:
            self.assertIn(word, run.error)
        return run.error


# --- import -----------------------------------------------------------------

class Import(Case):
    def test_sample_as_blenders_gltf_importer_reads_the_tools_glb(self):
        glb = reference_glb(os.path.join(EXAMPLES, "sample.mod"))
        bpy.ops.import_scene.gltf(filepath=glb)
        expected = summary()
        clean()
        self.imported(import_mod(filepath=os.path.join(EXAMPLES, "sample.mod")))
        self.assertEqual(summary(), expected)

        # And the counts as the .glb itself has them.
        gltf = read_glb(glb)
        got = summary()
        self.assertEqual(sorted(got["objects"]), sorted(node["name"] for node in gltf["nodes"]))
        self.assertEqual(sorted(got["materials"]), sorted(m["name"] for m in gltf["materials"]))
        for material in gltf["materials"]:
            self.assertEqual(len(got["materials"][material["name"]]), 1, material["name"])
        for node in (n for n in gltf["nodes"] if "mesh" in n):
            primitives = gltf["meshes"][node["mesh"]]["primitives"]
            triangles = sum(gltf["accessors"][p["indices"]]["count"] // 3 for p in primitives)
            vertices = sum(gltf["accessors"][p["attributes"]["POSITION"]]["count"]
                           for p in primitives)
            self.assertEqual(got["objects"][node["name"]]["faces"], triangles, node["name"])
            self.assertEqual(got["objects"][node["name"]]["vertices"], vertices, node["name"])

    def test_numpy_without_bool(self):
        # As Debian 12 pairs them: numpy 1.24 has no numpy.bool, which Blender
        # 3.4's glTF importer uses.
        del numpy.bool
        try:
            self.imported(import_mod(filepath=os.path.join(EXAMPLES, "sample.mod")))
            self.assertIs(numpy.bool, bool)
        finally:
            numpy.bool = bool

    def test_source_path_on_each_object(self):
        model = fixture("source")
        self.imported(import_mod(filepath=model))
        self.assertTrue(bpy.data.objects)
        for obj in bpy.data.objects:
            self.assertEqual(obj.get(addon().SOURCE_KEY), model, obj.name)

    def test_model_fields_from_the_extras(self):
        model = os.path.join(EXAMPLES, "sample.mod")
        gltf = read_glb(reference_glb(model))
        self.imported(import_mod(filepath=model))
        scene = gltf["scenes"][gltf.get("scene", 0)]
        kinds = [("scene", scene, bpy.context.scene)]
        kinds += [("node " + n["name"], n, bpy.data.objects[n["name"]]) for n in gltf["nodes"]]
        kinds += [("mesh " + m["name"], m, bpy.data.objects[n["name"]].data)
                  for n in gltf["nodes"] if "mesh" in n for m in [gltf["meshes"][n["mesh"]]]]
        kinds += [("material " + m["name"], m, bpy.data.materials[m["name"]])
                  for m in gltf["materials"]]
        for what, element, block in kinds:
            with self.subTest(what):
                extras = element.get("extras", {})
                self.assertTrue(extras, "ulvtool wrote no extras")
                self.assertEqual([k for k in extras if not k.startswith(EXTRAS)], [])
                got = {k: plain(block[k]) for k in block.keys() if k.startswith(EXTRAS)}
                self.assertEqual(got, extras)

    def test_two_files_at_once(self):
        first = fixture("two", name="first.mod")
        second = fixture("two", textures=False, name="second.mod")
        self.imported(import_mod(directory=os.path.dirname(first),
                                 files=[{"name": "first.mod"}, {"name": "second.mod"}]))
        sources = sorted(obj[addon().SOURCE_KEY] for obj in bpy.data.objects)
        nodes = len(read_glb(reference_glb(first))["nodes"])
        self.assertEqual(sources, [first] * nodes + [second] * nodes)
        self.assertEqual(sorted(o.name for o in bpy.context.selected_objects),
                         sorted(o.name for o in bpy.data.objects))

    def sample_materials(self):
        self.imported(import_mod(filepath=os.path.join(EXAMPLES, "sample.mod")))
        materials = summary()["materials"]
        self.assertTrue(all(materials.values()), materials)
        clean()
        return materials

    def test_textures_missing_are_left_out_with_a_warning(self):
        expected = self.sample_materials()
        run = import_mod(filepath=fixture("bare", textures=False))
        self.imported(run)
        materials = summary()["materials"]
        self.assertEqual(sorted(materials), sorted(expected))
        self.assertEqual([m for m, images in materials.items() if images], [])
        # ulvtool's line for each texture left out
        warnings = run.messages('WARNING')
        self.assertEqual(len(warnings), len(expected), run.reports)
        for warning in warnings:
            self.assertRegex(warning, r"^sample\.mod: .*left out")

    def test_textures_folder(self):
        expected = self.sample_materials()
        textures = os.path.dirname(fixture("textures", model=False))
        run = import_mod(filepath=fixture("bare", textures=False), textures_folder=textures)
        self.imported(run)
        self.assertEqual(summary()["materials"], expected)
        self.assertEqual(run.messages('WARNING'), [])

    def test_axes(self):
        model = os.path.join(EXAMPLES, "sample.mod")
        self.imported(import_mod(filepath=model))
        default = {o.name: world_points(o) for o in bpy.data.objects}
        # From Blender's (a, b, c) for glTF's axes to what the axes give.
        rows = [
            ("-Z", "Y", lambda a, b, c: (a, b, c)),
            ("Y", "Z", lambda a, b, c: (a, c, -b)),  # the model's own numbers
            ("X", "Y", lambda a, b, c: (-b, a, c)),
        ]
        for forward, up, turn in rows:
            with self.subTest(forward=forward, up=up):
                clean()
                self.imported(import_mod(filepath=model, axis_forward=forward, axis_up=up))
                for name, points in default.items():
                    expected = sorted(tuple(round(c + 0.0, 4) for c in turn(*p)) for p in points)
                    got = [tuple(c + 0.0 for c in p)
                           for p in world_points(bpy.data.objects[name])]
                    self.assertEqual(got, expected, name)

    def test_failures_change_nothing(self):
        # A scene with something in it, selected, and an engine the glTF
        # importer would change.
        self.imported(import_mod(filepath=os.path.join(EXAMPLES, "sample.mod")))
        bpy.context.scene["kept"] = 1
        bpy.context.scene.render.engine = 'BLENDER_WORKBENCH'
        first, *_, last = meshes()
        for obj in bpy.data.objects:
            obj.select_set(obj == last)
        bpy.context.view_layer.objects.active = first

        good = fixture("fail", name="good.mod")
        with open(os.path.join(EXAMPLES, "sample.mod"), "rb") as file:
            head = file.read(60)
        with open(os.path.join(WORK, "fail", "short.mod"), "wb") as file:
            file.write(head)
        before = state()
        rows = [
            ("a model cut short", {"filepath": os.path.join(WORK, "fail", "short.mod")},
             None, ["short.mod", "Not a valid model file"]),
            ("no such file", {"filepath": os.path.join(WORK, "fail", "none.mod")},
             None, ["none.mod", "Unable to open the requested file"]),
            ("the second of two broken",
             {"directory": os.path.join(WORK, "fail"),
              "files": [{"name": "good.mod"}, {"name": "short.mod"}]},
             None, ["short.mod", "Not a valid model file"]),
            ("Blender's importer failing on its first object", {"filepath": good},
             1, ["glTF importer failed on good.mod: ValueError: injected fault"]),
            ("Blender's importer failing on the second file",
             {"directory": os.path.join(WORK, "fail"),
              "files": [{"name": "good.mod"}, {"name": "good.mod"}]},
             3, ["glTF importer failed on good.mod: ValueError: injected fault"]),
        ]
        for name, arguments, fail_at, words in rows:
            with self.subTest(name):
                with importer_failing_at(fail_at):
                    run = import_mod(**arguments)
                self.cancelled(run, *words)
                self.assertEqual(state(), before)


@contextlib.contextmanager
def importer_failing_at(call):
    """Blender's glTF importer raising as it makes its CALL-th object (None: never)."""
    from io_scene_gltf2.blender.imp.gltf2_blender_node import BlenderNode
    original = BlenderNode.create_object
    calls = []

    def create_object(gltf, vnode_id):
        calls.append(vnode_id)
        if len(calls) == call:
            raise ValueError("injected fault")
        return original(gltf, vnode_id)

    if call is not None:
        BlenderNode.create_object = staticmethod(create_object)
    try:
        yield
    finally:
        BlenderNode.create_object = staticmethod(original)


# --- finding the tool -------------------------------------------------------

class FindingTheTool(Case):
    def test_where_ulvtool_is_found(self):
        find = addon().tool.find_tool
        root = os.path.join(WORK, "find")

        def executable(path, mode=0o755):
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as file:
                file.write("#!/bin/sh\n")
            os.chmod(path, mode)
            return path

        bundled = os.path.join(root, "addon", "bin", "linux-x86_64", "ulvtool")
        preferred = os.path.join(root, "preferred", "ulvtool")
        on_path = os.path.join(root, "path", "ulvtool")
        rows = [
            # (bundled?, preference, on PATH?, expected)
            ("bundled first", True, preferred, True, bundled),
            ("then the preference", False, preferred, True, preferred),
            ("the preference as a folder", False, os.path.dirname(preferred), False, preferred),
            ("then PATH", False, "", True, on_path),
            ("PATH after a preference that is not there", False, root + "/gone", True, on_path),
        ]
        for name, has_bundled, preference, has_path, expected in rows:
            with self.subTest(name):
                shutil.rmtree(root, ignore_errors=True)
                if has_bundled:
                    executable(bundled)
                executable(preferred)
                if has_path:
                    executable(on_path)
                self.assertEqual(find(os.path.join(root, "addon"), preference,
                                      os.path.dirname(on_path), "linux", "x86_64"), expected)

        with self.subTest("the bundled one unpacked without its execute bits"):
            shutil.rmtree(root, ignore_errors=True)
            executable(bundled, 0o644)
            self.assertEqual(find(os.path.join(root, "addon"), "", "", "linux", "x86_64"),
                             bundled)
            self.assertEqual(os.stat(bundled).st_mode & 0o777, 0o755)

        with self.subTest("the Windows one"):
            exe = executable(os.path.join(root, "addon", "bin", "windows-x64", "ulvtool.exe"))
            self.assertEqual(find(os.path.join(root, "addon"), "", "", "win32", "AMD64"), exe)

    def test_the_installed_zip_runs_its_own_tool(self):
        # Nothing on PATH or in the preferences: the bundled tool must do, also
        # without its execute bits, as Blender's unzipping leaves it.
        self.assertIsNone(shutil.which("ulvtool"))
        self.assertEqual(preferences().tool_path, "")
        os.chmod(addon().tool.bundled_path(os.path.dirname(addon().__file__)), 0o644)
        self.imported(import_mod(filepath=os.path.join(EXAMPLES, "sample.mod")))
        self.assertTrue(bpy.data.objects)

    def test_missing_tool_names_where_it_looked(self):
        bundled = addon().tool.bundled_path(os.path.dirname(addon().__file__))
        model = os.path.join(EXAMPLES, "sample.mod")
        gone = os.path.join(WORK, "no-such-ulvtool")
        rows = [
            ("import", lambda: import_mod(filepath=model), "", "no path set"),
            ("import, a preference that is not there", lambda: import_mod(filepath=model),
             gone, gone),
            ("export", lambda: export_mod(filepath=os.path.join(WORK, "missing.mod")), "",
             "no path set"),
        ]
        for name, run, preference, words in rows:
            with self.subTest(name):
                clean()
                before = state()
                with tool_setup(preference, bundled=False):
                    message = self.cancelled(run(), "ulvtool not found", bundled, words, "PATH")
                self.assertEqual(state(), before, message)
                self.assertFalse(os.path.exists(os.path.join(WORK, "missing.mod")))


# --- export -----------------------------------------------------------------

def import_sample(folder="export"):
    """A copy of the sample, imported; returns the copy's path."""
    model = fixture(folder)
    run = import_mod(filepath=model)
    assert run.result == {'FINISHED'}, run.error
    return model


def meshes():
    """The mesh objects by name (mesh0, mesh1, ... in the model's order), two at least."""
    found = sorted((o for o in bpy.data.objects if o.type == 'MESH'),
                   key=lambda o: (len(o.name), o.name))
    assert len(found) > 1, "these tests need a sample of two meshes or more"
    return found


class ExportOptions(Case):
    """What the add-on hands ulvtool, seen by a stand-in that keeps it."""

    def test_the_gltf_and_the_command_line(self):
        import_sample()
        first = meshes()[0]
        names = sorted(o.name for o in meshes())
        triangles = len(first.data.polygons)
        first.location = (1, 2, 3)
        first.modifiers.new("twice", 'ARRAY').count = 2
        first["kept"] = "yes"
        counts = "Sections: 3 kept, 1 changed, 0 added, 2 dropped"
        note = "17 positions or normals stored as near as their mesh's transform allows"
        fake, seen = fake_tool("counts", [note, counts], 0)
        target = os.path.join(WORK, "export", "OUT.MOD")

        with tool_setup(fake, bundled=False):
            run = export_mod(filepath=target)
        self.assertEqual(run.result, {'FINISHED'}, run.error)
        self.assertEqual(run.leftovers, [])
        self.assertEqual(run.messages('INFO'),
                         ["Exported OUT.MOD: sections 3 kept, 1 changed, 0 added, 2 dropped"])
        self.assertEqual(run.messages('WARNING'), ["OUT.MOD: " + note])  # said, not swallowed
        with open(seen + ".args") as file:
            arguments = file.read().splitlines()
        self.assertEqual(arguments[0], "-v")
        self.assertTrue(arguments[1].endswith(".glb"))
        self.assertEqual(arguments[2:], [target])  # .MOD kept as given

        gltf = read_glb(seen + ".glb")
        nodes = {node["name"]: node for node in gltf["nodes"]}
        self.assertEqual(sorted(nodes), names)
        node = nodes[first.name]
        self.assertEqual(node.get("extras", {}).get("kept"), "yes")  # custom properties on
        self.assertEqual([round(c, 5) for c in node["translation"]], [1, 3, -2])  # Y up
        primitives = gltf["meshes"][node["mesh"]]["primitives"]
        self.assertEqual({p.get("mode", 4) for p in primitives}, {4})  # triangles
        self.assertEqual(sum(gltf["accessors"][p["indices"]]["count"] for p in primitives),
                         2 * 3 * triangles)  # the modifier applied

    def test_selection_and_names(self):
        import_sample()
        last = meshes()[-1]
        fake, seen = fake_tool("plain", [], 0)
        rows = [
            ("the selection", {"use_selection": True}, "out.mod", "out.mod", [last.name]),
            ("the scene", {}, "name", "name.mod", [o.name for o in meshes()]),
        ]
        for name, options, given, written, nodes in rows:
            with self.subTest(name):
                for obj in bpy.data.objects:
                    obj.select_set(obj == last)
                with tool_setup(fake, bundled=False):
                    run = export_mod(filepath=os.path.join(WORK, "export", given), **options)
                self.assertEqual(run.result, {'FINISHED'}, run.error)
                # No counts from the tool: said, not made up.
                self.assertEqual(run.messages('WARNING'),
                                 ["Exported %s; ulvtool gave no section counts" % written])
                with open(seen + ".args") as file:
                    self.assertEqual(file.read().splitlines()[2],
                                     os.path.join(WORK, "export", written))
                self.assertEqual(sorted(n["name"] for n in read_glb(seen + ".glb")["nodes"]),
                                 nodes)

    def test_failures_write_nothing(self):
        model = import_sample()
        with open(model, "rb") as file:
            original = file.read()
        failing, _ = fake_tool("failing", ["Minor version: 9", "Unable to write the output file"],
                               1)
        rows = [
            ("ulvtool failing", failing, {"filepath": model}, ["Unable to write the output file"]),
            ("nothing selected", failing,
             {"filepath": os.path.join(WORK, "export", "new.mod"), "use_selection": True},
             ["Nothing to export", "selected"]),
            # The real ulvtool, in a folder that is not there.
            ("no such folder", "", {"filepath": os.path.join(WORK, "nowhere", "new.mod")}, []),
        ]
        for name, tool, arguments, words in rows:
            with self.subTest(name):
                for obj in bpy.data.objects:
                    obj.select_set(False)
                if tool:
                    with tool_setup(tool, bundled=False):
                        run = export_mod(**arguments)
                else:
                    run = export_mod(**arguments)
                self.cancelled(run, *words)
                with open(model, "rb") as file:
                    self.assertEqual(file.read(), original)
                self.assertFalse(os.path.exists(os.path.join(WORK, "export", "new.mod")))
                self.assertFalse(os.path.exists(os.path.join(WORK, "nowhere")))


class ExportWithUlvtool(Case):
    """glTF back to .MOD through the real tool."""

    def exported(self, **arguments):
        run = export_mod(**arguments)
        self.assertEqual(run.result, {'FINISHED'}, run.error)
        self.assertEqual(run.leftovers, [])
        return run

    def counts(self, run):
        infos = run.messages('INFO')
        self.assertEqual(len(infos), 1, run.reports)
        return infos[0].split(": ", 1)[1]

    def test_to_a_new_file(self):
        model = import_sample()
        expected = summary()
        for name in expected["objects"]:
            expected["objects"][name]["faces"] = faces(bpy.data.objects[name])
        target = os.path.join(WORK, "export", "new.mod")
        self.exported(filepath=target)
        self.assertEqual([kind for kind, _ in mod_blocks(target)],
                         [kind for kind, _ in mod_blocks(model)])
        clean()
        self.imported(import_mod(filepath=target))
        got = summary()
        self.assertEqual(got["materials"], expected["materials"])
        self.assertEqual(sorted(got["objects"]), sorted(expected["objects"]))
        for name, obj in expected["objects"].items():
            self.assertEqual(faces(bpy.data.objects[name]), obj["faces"], name)

    def test_onto_the_original_unchanged(self):
        model = import_sample()
        with open(model, "rb") as file:
            original = file.read()
        sections = sum(kind == "section" for kind, _ in mod_blocks(model))
        run = self.exported(filepath=model)
        with open(model, "rb") as file:
            self.assertEqual(file.read(), original)
        self.assertEqual(self.counts(run),
                         "sections %d kept, 0 changed, 0 added, 0 dropped" % sections)

    def test_a_moved_vertex_changes_its_section_only(self):
        model = import_sample()
        before = mod_blocks(model)
        # A vertex of the model's last section: in the last mesh, on a face
        # with that section's material (its name, at offset 4 of the block).
        last = meshes()[-1]
        material = before[-1][1][4:36].split(b"\0")[0].decode("latin-1")
        slots = [i for i, slot in enumerate(last.material_slots)
                 if slot.material and slot.material.name == material]
        self.assertEqual(len(slots), 1, "one section of %s in %s" % (material, last.name))
        face = [p for p in last.data.polygons if p.material_index == slots[0]][0]
        last.data.vertices[face.vertices[0]].co.x += 0.25
        moved = {obj.name: faces(obj) for obj in meshes()}
        run = self.exported(filepath=model)
        after = mod_blocks(model)
        self.assertEqual([kind for kind, _ in after], [kind for kind, _ in before])
        changed = [i for i, (old, new) in enumerate(zip(before, after)) if old != new]
        self.assertEqual(changed, [len(before) - 1])
        sections = sum(kind == "section" for kind, _ in before)
        self.assertEqual(self.counts(run), "sections %d kept, 1 changed, 0 added, 0 dropped"
                         % (sections - 1))
        # The changed section holds the vertex where it was moved to.
        clean()
        self.imported(import_mod(filepath=model))
        self.assertEqual({obj.name: faces(obj) for obj in meshes()}, moved)

    def test_the_selection(self):
        import_sample()
        first = meshes()[0]
        for obj in bpy.data.objects:
            obj.select_set(obj == first)
        target = os.path.join(WORK, "export", "selected.mod")
        self.exported(filepath=target, use_selection=True)
        kinds = [kind for kind, _ in mod_blocks(target)]
        self.assertEqual(kinds.count("mesh"), 1)


# --- the add-on itself ------------------------------------------------------

class Registration(Case):
    def test_disable_and_enable(self):
        menus = (bpy.types.TOPBAR_MT_file_import, bpy.types.TOPBAR_MT_file_export)

        def present():
            return (hasattr(bpy.types, "IMPORT_SCENE_OT_ulvane_mod"),
                    hasattr(bpy.types, "EXPORT_SCENE_OT_ulvane_mod"),
                    [any(getattr(f, "__module__", "") == MODULE for f in m._dyn_ui_initialize())
                     for m in menus])

        self.assertEqual(present(), (True, True, [True, True]))
        bpy.ops.preferences.addon_disable(module=MODULE)
        try:
            self.assertEqual(present(), (False, False, [False, False]))
        finally:
            bpy.ops.preferences.addon_enable(module=MODULE)
        self.assertEqual(present(), (True, True, [True, True]))

    def test_as_an_extension(self):
        # Blender 4.2 and later load an extension as bl_ext.REPO.MODULE, with
        # its preferences under that name: what 3.4 can show of it.
        root = os.path.join(WORK, "extensions")
        repo = os.path.join(root, "bl_ext", "user_default")
        shutil.copytree(os.path.dirname(addon().__file__), os.path.join(repo, MODULE))
        for folder in (os.path.dirname(repo), repo):
            open(os.path.join(folder, "__init__.py"), "w").close()
        name = "bl_ext.user_default." + MODULE
        gone = os.path.join(WORK, "gone", "ulvtool")
        bpy.ops.preferences.addon_disable(module=MODULE)
        sys.path.insert(0, root)
        entry = bpy.context.preferences.addons.new()
        entry.module = name
        module = None
        try:
            module = importlib.import_module(name)
            module.register()
            self.assertEqual(type(entry.preferences).bl_idname, name)
            self.imported(import_mod(filepath=os.path.join(EXAMPLES, "sample.mod")))
            clean()
            entry.preferences.tool_path = gone
            os.rename(os.path.join(repo, MODULE, "bin"), os.path.join(repo, MODULE, "bin.hidden"))
            self.cancelled(import_mod(filepath=os.path.join(EXAMPLES, "sample.mod")),
                           "not at %s (the add-on's preferences)" % gone,
                           os.path.join(repo, MODULE, "bin"))
        finally:
            if module:
                module.unregister()
            bpy.context.preferences.addons.remove(entry)
            for loaded in [m for m in sys.modules if m.startswith("bl_ext")]:
                del sys.modules[loaded]
            sys.path.remove(root)
            bpy.ops.preferences.addon_enable(module=MODULE)


def install():
    bpy.ops.preferences.addon_install(filepath=os.path.abspath(ZIP), overwrite=True)
    bpy.ops.preferences.addon_enable(module=MODULE)
    loaded, enabled = addon_utils.check(MODULE)
    assert loaded and enabled, "the add-on did not enable"
    where = os.path.dirname(sys.modules[MODULE].__file__)
    scripts = bpy.utils.user_resource('SCRIPTS')
    assert where.startswith(scripts), "%s is not the installed copy (under %s)" % (where, scripts)
    bundled = sys.modules[MODULE].tool.bundled_path(where)
    print("installed %s into %s; the bundled tool %s its execute bits" % (
        ZIP, where, "kept" if os.access(bundled, os.X_OK) else "lost"))


def main():
    install()
    # Only what the add-on carries, never a ulvtool that happens to be on PATH.
    os.environ["PATH"] = os.path.join(WORK, "empty-path")
    os.makedirs(os.environ["PATH"], exist_ok=True)
    suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(case) for case in (
        Import, FindingTheTool, ExportOptions, ExportWithUlvtool, Registration))
    names = [(type(test).__name__, test._testMethodName) for case in suite for test in case]
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)

    # One line each, apart from Blender's own output above.
    failed = {getattr(test, "test_case", test)._testMethodName
              for test, _ in result.failures + result.errors}
    for case, name in names:
        outcome = "ok"
        if name in failed:
            outcome = "FAILED"
        print("%s.%s: %s" % (case, name, outcome))
    print("%d passed, %d failed" % (len(names) - len(failed), len(failed)))
    sys.stdout.flush()
    sys.exit(1 if failed or not names else 0)


main()
