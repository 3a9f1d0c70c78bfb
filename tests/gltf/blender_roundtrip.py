# Run by tests/mod_blender_test.cpp in Blender, headless, in one of three ways:
#
#   blender -b --factory-startup --python blender_roundtrip.py -- export DIR NAME...
#     For each DIR/NAME.glb (written by ulvtool), imported afresh each time,
#     exports with the add-on's defaults unless said:
#       NAME_plain.glb    as imported
#       NAME_extras.glb   as imported, export_extras=True
#       NAME_moved.glb    vertex 0 of the object mesh1 moved up by 0.3
#       NAME_face.glb     face 0 of the object mesh0 deleted
#       NAME_added.glb    a new object of two triangles, with mesh0's first material
#       NAME_removed.glb  the object mesh0 deleted
#     and NAME_edits.json saying what each edit did, in glTF's axes (y up).
#
#   blender ... -- scratch OUT.glb
#     Makes a UV sphere, its top in a second material, and exports it.
#
#   blender ... -- load FILE.glb OUT.json
#     Imports FILE.glb and writes what Blender holds: per mesh object its
#     name, triangle count and material names.
import json
import os
import sys

import numpy

# Debian pairs Blender 3.4 with numpy 1.24, which no longer has numpy.bool.
numpy.bool = bool

import bmesh
import bpy


def gltf_axes(v):
    # Blender's z up is glTF's y up.
    return [v[0], v[2], -v[1]]


def fresh(path=None):
    bpy.ops.wm.read_factory_settings(use_empty=True)
    if path:
        bpy.ops.import_scene.gltf(filepath=path)


def export(path, **options):
    bpy.ops.export_scene.gltf(filepath=path, export_format="GLB", **options)


def move_vertex(edits):
    obj = bpy.data.objects["mesh1"]
    mesh = obj.data
    vertex = mesh.vertices[0]
    before = obj.matrix_world @ vertex.co
    vertex.co.z += 0.3
    mesh.update()
    face = next(p for p in mesh.polygons if 0 in p.vertices)
    loop = next(i for i in face.loop_indices if mesh.loops[i].vertex_index == 0)
    u, v = mesh.uv_layers.active.data[loop].uv
    # glTF's v runs down the image, Blender's up.
    edits["moved"] = {
        "object": obj.name,
        "material": mesh.materials[face.material_index].name,
        "from": gltf_axes(before),
        "to": gltf_axes(obj.matrix_world @ vertex.co),
        "uv": [u, 1 - v],
    }


def delete_face(edits):
    obj = bpy.data.objects["mesh0"]
    mesh = obj.data
    bm = bmesh.new()
    bm.from_mesh(mesh)
    bm.faces.ensure_lookup_table()
    face = bm.faces[0]
    edits["face"] = {
        "object": obj.name,
        "material": mesh.materials[face.material_index].name,
        "corners": [gltf_axes(obj.matrix_world @ loop.vert.co) for loop in face.loops],
    }
    bmesh.ops.delete(bm, geom=[face], context="FACES_ONLY")
    bm.to_mesh(mesh)
    bm.free()
    mesh.update()


def add_object(edits):
    corners = [(0, 0, 3), (1, 0, 3), (1, 1, 3), (0, 1, 3)]
    uvs = [(0, 0), (2, 0), (2, 1), (0, 1)]
    faces = [(0, 1, 2), (0, 2, 3)]
    mesh = bpy.data.meshes.new("AddedMesh")
    mesh.from_pydata(corners, [], faces)
    layer = mesh.uv_layers.new(name="UVMap")
    for loop in mesh.loops:
        layer.data[loop.index].uv = uvs[loop.vertex_index]
    material = bpy.data.objects["mesh0"].data.materials[0]
    mesh.materials.append(material)
    mesh.update()
    obj = bpy.data.objects.new("Added", mesh)
    bpy.context.scene.collection.objects.link(obj)
    edits["added"] = {
        "material": material.name,
        "triangles": [
            [gltf_axes(corners[i]) + [uvs[i][0], 1 - uvs[i][1]] for i in face] for face in faces
        ],
    }


def remove_object(edits):
    edits["removed"] = "mesh0"
    bpy.data.objects.remove(bpy.data.objects["mesh0"])


def run_scratch(path):
    fresh()
    bpy.ops.mesh.primitive_uv_sphere_add(
        segments=12, ring_count=6, radius=1, location=(1, 2, 3), rotation=(0.3, 0.2, 0.1),
        scale=(1, 1, 2))
    ball = bpy.context.active_object
    ball.name = "Ball"
    bpy.ops.object.shade_smooth()

    # Blender's rows run up the image: blue at the bottom, red on top.
    image = bpy.data.images.new("stone", 4, 2)
    image.pixels = [0.0, 0.0, 1.0, 1.0] * 4 + [1.0, 0.0, 0.0, 1.0] * 4
    image.pack()
    stone = bpy.data.materials.new("Stone")
    stone.use_nodes = True
    texture = stone.node_tree.nodes.new("ShaderNodeTexImage")
    texture.image = image
    shader = stone.node_tree.nodes["Principled BSDF"]
    stone.node_tree.links.new(texture.outputs["Color"], shader.inputs["Base Color"])
    moss = bpy.data.materials.new("Moss")
    mesh = ball.data
    mesh.materials.append(stone)
    mesh.materials.append(moss)
    # The top cap in the second material.
    for polygon in mesh.polygons:
        polygon.material_index = 1 if polygon.center.z > 0.6 else 0
    mesh.update()
    export(path)


def run_export(folder, names):
    edit_steps = [("moved", move_vertex), ("face", delete_face), ("added", add_object),
                  ("removed", remove_object)]
    for name in names:
        source = os.path.join(folder, name + ".glb")
        fresh(source)
        export(os.path.join(folder, name + "_plain.glb"))
        export(os.path.join(folder, name + "_extras.glb"), export_extras=True)
        edits = {}
        for suffix, step in edit_steps:
            fresh(source)
            step(edits)
            export(os.path.join(folder, name + "_" + suffix + ".glb"))
        with open(os.path.join(folder, name + "_edits.json"), "w") as out:
            json.dump(edits, out)


def run_load(path, out_path):
    fresh(path)
    objects = []
    for obj in bpy.context.scene.objects:
        if obj.type != "MESH":
            continue
        mesh = obj.data
        objects.append({
            "name": obj.name,
            "triangles": sum(len(p.vertices) - 2 for p in mesh.polygons),
            "materials": [m.name if m else "" for m in mesh.materials],
        })
    with open(out_path, "w") as out:
        json.dump({"objects": objects}, out)


args = sys.argv[sys.argv.index("--") + 1:]
if args[0] == "export":
    run_export(args[1], args[2:])
elif args[0] == "scratch":
    run_scratch(args[1])
elif args[0] == "load":
    run_load(args[1], args[2])
else:
    sys.exit("unknown mode " + args[0])
