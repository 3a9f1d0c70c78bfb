// Writes a Model as glTF 2.0: binary (.glb, one file) or JSON (.gltf) with its
// arrays and images in a .bin file beside it.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "model/model.h"
#include "texture/texture.h"

namespace ulv {

enum class OutputFormat { obj, glb, gltf };

// The format an output path asks for: its extension .glb or .gltf, in any
// case; OBJ for anything else.
OutputFormat outputFormatFor(const std::string& outputPath);

// The buffer file beside a .gltf: the path with its extension replaced by ".bin".
std::string binPathFor(const std::string& gltfPath);

enum class GltfResult {
    ok,
    tooLarge, // the data does not fit glTF's 32-bit lengths; nothing was written
    failed,   // a stream or file failed
};

// Lines for the console about what the file leaves out (textures that could
// not be used, triangles with a corner past their section's vertices); the
// conversion still succeeds.
using Notes = std::vector<std::string>;

// Sink forms. Positions are moved into model space exactly as for the OBJ;
// normals follow the transform and are scaled to unit length.
GltfResult writeGlb(Model model, const TextureSet& textures, std::ostream& out, Notes& notes);
GltfResult writeGltf(Model model, const TextureSet& textures, std::ostream& json, std::ostream& bin,
                     const std::string& binName, Notes& notes);

// Path form: .glb or .gltf by the extension of `outputPath`, textures looked
// up in `textureFolder`. Existing files are replaced only once all new ones
// are complete; otherwise everything is left as it was.
GltfResult writeGltf(Model model, const std::string& outputPath, const std::string& textureFolder,
                     Notes& notes);

// The message for a result other than ok.
const char* messageFor(GltfResult result);

} // namespace ulv
