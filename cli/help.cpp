#include "cli/help.h"

#include "convert/textures.h"

namespace ulv {

std::string toolHelp() {
    const std::string separator(1, folderListSeparator);
    // Inputs and outputs by extension, one line each, so that a format is
    // added with a line.
    return "ulvtool converts one model file of the game Ulvane to OBJ or glTF 2.0, and glTF\n"
           "back to a model file.\n"
           "\n"
           "Usage: ulvtool [-v] MODEL [OUTPUT]\n"
           "\n"
           "MODEL   the file to read; its extension, in any case, chooses the format:\n"
           "  .glb    binary glTF 2.0\n"
           "  .gltf   glTF 2.0 as JSON, the files it names in its folder or below\n"
           "          any other extension: a model file (.MOD)\n"
           "OUTPUT  the file to write; its extension, in any case, chooses the format:\n"
           "  .obj    Wavefront OBJ, with its material library (.mtl) beside it; also\n"
           "          any other extension. The default: default.obj in this folder\n"
           "  .glb    binary glTF 2.0, one file with the textures inside\n"
           "  .gltf   glTF 2.0 as JSON, its data and textures in a .bin beside it\n"
           "  .mod    a model file. One already there is the template: what did not\n"
           "          change is kept byte for byte. From glTF, NAME.BMP is written\n"
           "          beside it for each texture that has none\n"
           "-v      print the model's headers while reading it; writing a .mod, how many\n"
           "        sections were kept, changed, added and dropped\n"
           "\n"
           "Existing files are replaced only once the new ones are complete.\n"
           "Textures NAME.BMP are looked up, in any case, in the model's folder, then in\n"
           "the folders listed in the environment variable ULVTOOL_TEXTURES, separated\n"
           "by '" +
           separator +
           "'.\n"
           "\n"
           "Exit status: 0 converted, 1 not (one line says why).\n"
           "ulvtool --version prints the version; man ulvtool says more.\n";
}

std::string toolVersion() { return "ulvtool " ULVTOOL_VERSION; }

} // namespace ulv
