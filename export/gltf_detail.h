// The glTF writers with the size limit as a parameter, so that tests reach it
// without writing 4 GiB.
#pragma once

#include <cstdint>

#include "export/gltf_writer.h"

namespace ulv {

GltfResult writeGlb(Model model, const TextureSet& textures, std::ostream& out, Notes& notes,
                    std::uint64_t sizeLimit);
GltfResult writeGltf(Model model, const TextureSet& textures, std::ostream& json, std::ostream& bin,
                     const std::string& binName, Notes& notes, std::uint64_t sizeLimit);

} // namespace ulv
