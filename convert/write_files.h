// Writing a model to the files an output path names, replacing existing
// files only once all the new ones are complete; on failure everything is
// left as it was.
#pragma once

#include <string>

#include "convert/outputs.h"
#include "gltf/writer.h"
#include "model/model.h"

namespace ulv {

// `outputPath` and the library beside it (see mtlPathFor), and any
// `sideFiles` beside them; false on failure.
bool writeObj(Model model, const std::string& outputPath, const SideFiles& sideFiles = {});

// .glb or .gltf (with its .bin) by the extension of `outputPath`, textures
// looked up in `textureFolder`.
GltfResult writeGltf(const Model& model, const std::string& outputPath,
                     const std::string& textureFolder, Notes& notes);

// The same from a source of either form, with its textures.
GltfResult writeGltf(GltfSource& source, const TextureSet& textures, const std::string& outputPath,
                     Notes& notes);

} // namespace ulv
