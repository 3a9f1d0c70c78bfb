"""Renders a model as the add-on imports it: Workbench, textured solid shading.

    blender -b --factory-startup --python blender/render_sample.py -- OUT.png [MODEL [ULVTOOL]]

MODEL defaults to examples/sample.mod; ULVTOOL to the one the add-on finds
(its own copy, its preferences, PATH). Workbench needs OpenGL: on a machine
without a display, run it under xvfb-run (blender/render_sample.sh does).
"""

import math
import os
import sys

import numpy

# Debian pairs Blender 3.4 with numpy 1.24, which no longer has numpy.bool,
# and Blender's glTF importer still uses it.
numpy.bool = bool

import addon_utils  # noqa: E402 (after the numpy fix, as Blender's modules are)
import bpy  # noqa: E402
from mathutils import Euler, Vector  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
arguments = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
if not arguments:
    sys.exit("usage: blender -b --python render_sample.py -- OUT.png [MODEL [ULVTOOL]]")
out = os.path.abspath(arguments[0])
model = os.path.abspath(arguments[1] if len(arguments) > 1
                        else os.path.join(HERE, "..", "examples", "sample.mod"))

# The add-on from this folder, as it is in the repository.
sys.path.insert(0, HERE)
addon_utils.enable("io_scene_ulvane", default_set=True)
if len(arguments) > 2:
    bpy.context.preferences.addons["io_scene_ulvane"].preferences.tool_path = arguments[2]

for obj in list(bpy.data.objects):
    bpy.data.objects.remove(obj)
if bpy.ops.import_scene.ulvane_mod(filepath=model) != {'FINISHED'}:
    sys.exit("the import failed")

# Small textures: each texel shows as the square it is.
for material in bpy.data.materials:
    for node in material.node_tree.nodes if material.node_tree else []:
        if node.type == 'TEX_IMAGE':
            node.interpolation = 'Closest'

scene = bpy.context.scene
points = [obj.matrix_world @ Vector(corner) for obj in scene.objects if obj.type == 'MESH'
          for corner in obj.bound_box]
if not points:
    sys.exit("%s has nothing to show" % model)
camera = bpy.data.objects.new("camera", bpy.data.cameras.new("camera"))
scene.collection.objects.link(camera)
scene.camera = camera
scene.render.resolution_x, scene.render.resolution_y = 640, 400
scene.render.resolution_percentage = 100
# Orthographic, from the front right and a little above, fitted to the model
# whatever its size: its corners as the camera sees them give the frame.
turn = Euler((math.radians(62), 0, math.radians(35))).to_matrix()
seen = [turn.transposed() @ p for p in points]
low = Vector(min(p[i] for p in seen) for i in range(3))
high = Vector(max(p[i] for p in seen) for i in range(3))
extent = high - low
width = max(extent.x, extent.y * scene.render.resolution_x / scene.render.resolution_y, 1e-3)
camera.data.type = 'ORTHO'
camera.data.ortho_scale = width * 1.15
camera.data.clip_start = 0.01 * width
camera.data.clip_end = extent.z + 2 * width
camera.rotation_euler = turn.to_euler()
camera.location = turn @ Vector(((low.x + high.x) / 2, (low.y + high.y) / 2, high.z + width))

scene.render.engine = 'BLENDER_WORKBENCH'
scene.display.shading.light = 'STUDIO'
scene.display.shading.color_type = 'TEXTURE'
scene.display.render_aa = '8'
scene.display_settings.display_device = 'sRGB'
scene.view_settings.view_transform = 'Standard'
# No dither noise: flat colours keep the PNG small.
scene.render.dither_intensity = 0
# No date or render time in the file: the same model gives the same bytes.
for setting in dir(scene.render):
    if setting.startswith("use_stamp"):
        setattr(scene.render, setting, False)
scene.render.image_settings.file_format = 'PNG'
scene.render.image_settings.color_mode = 'RGB'
scene.render.image_settings.compression = 100
scene.render.filepath = out
bpy.ops.render.render(write_still=True)
print("wrote", out)
