# Run by the glTF reader's tests in Blender, headless:
#   blender -b --factory-startup --python blender_cube.py -- OUT.glb
# Makes a cube from scratch (location 1, 2, 3; UVs; a material "Painted"
# with a 4x4 image) and exports it as .glb with the exporter's defaults.
import sys

import numpy

# Debian pairs Blender 3.4 with numpy 1.24, which no longer has numpy.bool.
numpy.bool = bool

import bpy

out = sys.argv[sys.argv.index("--") + 1]

bpy.ops.wm.read_factory_settings(use_empty=True)

corners = [(x, y, z) for x in (-1, 1) for y in (-1, 1) for z in (-1, 1)]
faces = [(0, 1, 3, 2), (4, 6, 7, 5), (0, 4, 5, 1), (2, 3, 7, 6), (0, 2, 6, 4), (1, 5, 7, 3)]
mesh = bpy.data.meshes.new("CubeMesh")
mesh.from_pydata(corners, [], faces)
uv = mesh.uv_layers.new(name="UVMap")
for loop in mesh.loops:
    x, y, z = corners[loop.vertex_index]
    uv.data[loop.index].uv = ((x + 1) / 2, (y + z + 2) / 4)
mesh.update()

image = bpy.data.images.new("checker", 4, 4)
image.pixels = [0.5] * (4 * 4 * 4)
image.pack()
material = bpy.data.materials.new("Painted")
material.use_nodes = True
texture = material.node_tree.nodes.new("ShaderNodeTexImage")
texture.image = image
shader = material.node_tree.nodes["Principled BSDF"]
material.node_tree.links.new(texture.outputs["Color"], shader.inputs["Base Color"])
mesh.materials.append(material)

cube = bpy.data.objects.new("Cube", mesh)
cube.location = (1, 2, 3)
bpy.context.scene.collection.objects.link(cube)

bpy.ops.export_scene.gltf(filepath=out)
