"""Import and export Ulvane .MOD models in Blender through ulvtool and glTF."""

import os
import shutil
import tempfile

import bpy
from bpy.props import BoolProperty, CollectionProperty, StringProperty
from bpy_extras.io_utils import ExportHelper, ImportHelper, axis_conversion, orientation_helper

from . import tool

bl_info = {
    "name": "Ulvane model format (.mod)",
    "author": "ulvtool developers",
    "version": (0, 1, 0),
    "blender": (3, 4, 0),
    "location": "File > Import-Export > Ulvane model (.mod)",
    "description": "Import and export Ulvane .MOD models with ulvtool",
    "category": "Import-Export",
}

# The custom property that keeps where each imported object came from. Not
# "ulvane_": those keys belong to the model's own fields, which ulvtool reads.
SOURCE_KEY = "ulvtool_source"

# What Blender's glTF importer may add to the open file, removed again when
# an import fails part of the way.
_DATA = ("objects", "meshes", "materials", "images", "textures", "node_groups", "cameras",
         "lights", "armatures", "actions", "worlds", "collections")

# glTF's axes as Blender's glTF importer turns them: the default here.
_GLTF_FORWARD, _GLTF_UP = "-Z", "Y"

# The properties, made here rather than in the classes' annotations, where
# flake8 would take their strings for names of types.
_TOOL_PATH = StringProperty(
    name="ulvtool",
    description="The ulvtool executable, or its folder, for when the add-on carries none for "
                "this system. Empty or not found: the first ulvtool on PATH",
    subtype='FILE_PATH',
)
_MOD_GLOB = StringProperty(default="*.mod", options={'HIDDEN'})
# Not remembered between runs: a dropped file must not bring back the last
# import's files.
_FILEPATH = StringProperty(subtype='FILE_PATH', options={'SKIP_SAVE'})
_FILES = CollectionProperty(type=bpy.types.OperatorFileListElement, options={'HIDDEN', 'SKIP_SAVE'})
_DIRECTORY = StringProperty(subtype='DIR_PATH', options={'HIDDEN', 'SKIP_SAVE'})
_TEXTURES_FOLDER = StringProperty(
    name="Textures folder",
    description="Where NAME.BMP is looked for when the model's folder has none",
    subtype='DIR_PATH',
)
_USE_SELECTION = BoolProperty(
    name="Selected Objects",
    description="Export the selected objects only",
    default=False,
)


class UlvanePreferences(bpy.types.AddonPreferences):
    # __package__ is io_scene_ulvane as an add-on, bl_ext.REPO.io_scene_ulvane
    # as an extension.
    bl_idname = __package__

    tool_path: _TOOL_PATH

    def draw(self, context):
        self.layout.prop(self, "tool_path")


def _find_tool(context):
    addon = context.preferences.addons.get(__package__)
    preference = addon.preferences.tool_path if addon and addon.preferences else ""
    return tool.find_tool(os.path.dirname(os.path.abspath(__file__)),
                          bpy.path.abspath(preference) if preference else "")


def _copy(value):
    return value.to_dict() if hasattr(value, "to_dict") else (
        value.to_list() if hasattr(value, "to_list") else value)


class _Snapshot:
    """What an import may change, to put back when it fails."""

    def __init__(self, context):
        self.ids = {name: set(getattr(bpy.data, name)) for name in _DATA}
        scene = context.scene
        self.scene = scene
        self.scene_props = {key: _copy(scene[key]) for key in scene.keys()}
        self.engine = scene.render.engine
        self.view_layer = context.view_layer
        self.selected = [obj for obj in self.view_layer.objects if obj.select_get()]
        self.active = self.view_layer.objects.active

    def added(self, name):
        return [block for block in getattr(bpy.data, name) if block not in self.ids[name]]

    def restore(self):
        for name in _DATA:
            blocks = getattr(bpy.data, name)
            for block in self.added(name):
                blocks.remove(block)
        scene = self.scene
        for key in list(scene.keys()):
            if key not in self.scene_props:
                del scene[key]
        for key, value in self.scene_props.items():
            scene[key] = value
        scene.render.engine = self.engine
        for obj in self.view_layer.objects:
            obj.select_set(obj in self.selected)
        self.view_layer.objects.active = self.active


def _reason(error):
    """One line from what bpy.ops raised for Blender's glTF operator."""
    lines = [line.strip() for line in str(error).splitlines() if line.strip()]
    if lines and lines[0].startswith("Error: "):
        lines[0] = lines[0][len("Error: "):]
    if not lines:
        return type(error).__name__
    if not lines[0].startswith("Python: Traceback"):
        return lines[0]
    # Blender cuts a traceback short in the exception; the console has it whole.
    for line in reversed(lines):
        name = line.split(":", 1)[0]
        if ":" in line and name.isidentifier() and name.endswith(("Error", "Exception")):
            return line
    return "a Python error (its traceback is in the system console)"


def _numpy_bool():
    """Blender 3.4's glTF add-on uses numpy.bool, which numpy 1.24 removed (and
    Debian 12 pairs the two): give back the alias it was."""
    try:
        import numpy
    except ImportError:
        return
    if "bool" not in vars(numpy):  # not hasattr: numpy 1.24 warns when asked
        numpy.bool = bool


def _gltf_available(kind):
    return hasattr(bpy.types, "%s_SCENE_OT_gltf" % kind)


def _ready_tool(operator, context, kind):
    """ulvtool's path when Blender's glTF operator of `kind` ("IMPORT" or
    "EXPORT") and ulvtool can both be had; else None, with the error
    reported."""
    if not _gltf_available(kind):
        operator.report({'ERROR'}, "Blender's glTF add-on (glTF 2.0 format) is not enabled")
        return None
    try:
        return _find_tool(context)
    except tool.ToolError as error:
        operator.report({'ERROR'}, str(error))
        return None


@orientation_helper(axis_forward=_GLTF_FORWARD, axis_up=_GLTF_UP)
class ImportUlvane(bpy.types.Operator, ImportHelper):
    """Load Ulvane .MOD models"""
    bl_idname = "import_scene.ulvane_mod"
    bl_label = "Import Ulvane model"
    bl_options = {'REGISTER', 'UNDO'}

    filename_ext = ".mod"
    filter_glob: _MOD_GLOB
    filepath: _FILEPATH
    files: _FILES
    directory: _DIRECTORY
    textures_folder: _TEXTURES_FOLDER

    def draw(self, context):
        layout = self.layout
        layout.use_property_split = True
        layout.prop(self, "axis_forward")
        layout.prop(self, "axis_up")
        layout.prop(self, "textures_folder")

    def invoke(self, context, event):
        # Dropped on the viewport (Blender 4.1 and later): the files are given.
        if self.directory and self.files:
            if hasattr(ImportHelper, "invoke_popup"):
                return self.invoke_popup(context)
            return context.window_manager.invoke_props_dialog(self)
        return ImportHelper.invoke(self, context, event)

    def paths(self):
        names = [item.name for item in self.files if item.name]
        if names:
            folder = self.directory or os.path.dirname(self.filepath)
            return [os.path.join(folder, name) for name in names]
        return [self.filepath] if self.filepath else []

    def execute(self, context):
        paths = [os.path.abspath(bpy.path.abspath(path)) for path in self.paths()]
        if not paths:
            self.report({'ERROR'}, "No model file given")
            return {'CANCELLED'}
        ulvtool = _ready_tool(self, context, "IMPORT")
        if ulvtool is None:
            return {'CANCELLED'}
        folder = bpy.path.abspath(self.textures_folder) if self.textures_folder else ""
        env = tool.textures_env(os.path.abspath(folder) if folder else "", os.environ)

        temp = tempfile.mkdtemp(prefix="ulvane-")
        try:
            # Every model converted before anything is imported: one that fails
            # leaves the scene as it was.
            converted = []
            for number, path in enumerate(paths):
                glb = os.path.join(temp, "%d.glb" % number)
                try:
                    status, lines = tool.run(ulvtool, [path, glb], env)
                except tool.ToolError as error:
                    self.report({'ERROR'}, str(error))
                    return {'CANCELLED'}
                if status != 0:
                    self.report({'ERROR'}, "%s: %s" % (os.path.basename(path),
                                                       tool.failure(status, lines)))
                    return {'CANCELLED'}
                for line in lines:
                    self.report({'WARNING'}, "%s: %s" % (os.path.basename(path), line))
                converted.append((path, glb))
            return self.load(context, converted)
        finally:
            shutil.rmtree(temp, ignore_errors=True)

    def load(self, context, converted):
        snapshot = _Snapshot(context)
        imported = []
        _numpy_bool()
        try:
            for path, glb in converted:
                before = set(bpy.data.objects)
                bpy.ops.import_scene.gltf(filepath=glb)
                new = [obj for obj in bpy.data.objects if obj not in before]
                for obj in new:
                    obj[SOURCE_KEY] = path
                imported += new
        except Exception as error:  # whatever Blender's importer raised, undo it all
            snapshot.restore()
            self.report({'ERROR'}, "Blender's glTF importer failed on %s: %s"
                        % (os.path.basename(path), _reason(error)))
            return {'CANCELLED'}

        correction = (axis_conversion(from_forward=self.axis_forward, from_up=self.axis_up)
                      @ axis_conversion(from_forward=_GLTF_FORWARD, from_up=_GLTF_UP).inverted())
        if correction != correction.Identity(3):
            correction = correction.to_4x4()
            for obj in imported:
                if obj.parent is None:
                    obj.matrix_world = correction @ obj.matrix_world
        for obj in imported:
            obj.select_set(True)
        return {'FINISHED'}


class ExportUlvane(bpy.types.Operator, ExportHelper):
    """Save the scene or the selection as an Ulvane .MOD model; an existing model keeps what
    did not change"""
    bl_idname = "export_scene.ulvane_mod"
    bl_label = "Export Ulvane model"
    bl_options = {'REGISTER'}

    filename_ext = ".mod"
    filter_glob: _MOD_GLOB
    # ExportHelper would turn NAME.MOD into NAME.mod: see tool.mod_path.
    check_extension = None

    use_selection: _USE_SELECTION

    def check(self, context):
        name = os.path.basename(self.filepath)
        if name and tool.mod_path(self.filepath) != self.filepath:
            self.filepath = tool.mod_path(self.filepath)
            return True
        return False

    def execute(self, context):
        target = tool.mod_path(os.path.abspath(bpy.path.abspath(self.filepath)))
        ulvtool = _ready_tool(self, context, "EXPORT")
        if ulvtool is None:
            return {'CANCELLED'}
        objects = context.selected_objects if self.use_selection else context.scene.objects
        if not any(obj.type == 'MESH' for obj in objects):
            # An empty model written over a real one would drop all of it.
            self.report({'ERROR'}, "Nothing to export: no mesh %s"
                        % ("selected" if self.use_selection else "in the scene"))
            return {'CANCELLED'}

        _numpy_bool()
        temp = tempfile.mkdtemp(prefix="ulvane-")
        try:
            glb = os.path.join(temp, "export.glb")
            try:
                bpy.ops.export_scene.gltf(
                    filepath=glb, export_format='GLB', use_selection=self.use_selection,
                    export_extras=True, export_apply=True, export_yup=True,
                    export_draco_mesh_compression_enable=False, export_animations=False,
                    export_cameras=False, export_lights=False)
            except RuntimeError as error:
                self.report({'ERROR'}, "Blender's glTF exporter failed: %s" % _reason(error))
                return {'CANCELLED'}
            try:
                # -v: the section counts
                status, lines = tool.run(ulvtool, ["-v", glb, target])
            except tool.ToolError as error:
                self.report({'ERROR'}, str(error))
                return {'CANCELLED'}
            if status != 0:
                self.report({'ERROR'}, tool.failure(status, lines))
                return {'CANCELLED'}
            counts = tool.section_counts(lines)
            name = os.path.basename(target)
            for line in tool.notes(lines):
                self.report({'WARNING'}, "%s: %s" % (name, line))
            if counts is None:
                self.report({'WARNING'}, "Exported %s; ulvtool gave no section counts" % name)
            else:
                self.report({'INFO'}, "Exported %s: sections %d kept, %d changed, %d added, "
                            "%d dropped" % ((name,) + counts))
            return {'FINISHED'}
        finally:
            shutil.rmtree(temp, ignore_errors=True)


def menu_import(self, context):
    self.layout.operator(ImportUlvane.bl_idname, text="Ulvane model (.mod)")


def menu_export(self, context):
    self.layout.operator(ExportUlvane.bl_idname, text="Ulvane model (.mod)")


classes = [UlvanePreferences, ImportUlvane, ExportUlvane]

# Dropping a .mod on the viewport imports it, where Blender has file handlers (4.1 on).
if hasattr(bpy.types, "FileHandler"):
    class IO_FH_ulvane_mod(bpy.types.FileHandler):
        bl_idname = "IO_FH_ulvane_mod"
        bl_label = "Ulvane model"
        bl_import_operator = "import_scene.ulvane_mod"
        bl_file_extensions = ".mod"

        @classmethod
        def poll_drop(cls, context):
            return context.area is not None and context.area.type == 'VIEW_3D'

    classes.append(IO_FH_ulvane_mod)


def register():
    for cls in classes:
        bpy.utils.register_class(cls)
    bpy.types.TOPBAR_MT_file_import.append(menu_import)
    bpy.types.TOPBAR_MT_file_export.append(menu_export)


def unregister():
    bpy.types.TOPBAR_MT_file_export.remove(menu_export)
    bpy.types.TOPBAR_MT_file_import.remove(menu_import)
    for cls in reversed(classes):
        bpy.utils.unregister_class(cls)
