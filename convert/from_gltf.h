// A glTF file as input: read with the files it names beside it, and the
// textures its images give the model's materials.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "convert/to_mod.h"
#include "gltf/reader.h"
#include "texture/texture.h"

namespace ulv {

// The glTF file at `path` (UTF-8); nothing when it cannot be opened. Throws
// GltfError for a file that is not valid glTF. A .gltf's buffers and images
// are read beside it.
std::optional<GltfScene> readGltfFile(const std::string& path, Notes& notes);

// The scene's images as a glTF writer embeds them, for each material name
// that has one.
TextureSet texturesOf(const GltfScene& scene,
                      const std::map<std::string, std::int64_t>& imageOfName, Notes& notes);

// NAME.BMP for each material name with an image, where no file of that name
// (in any case) is beside `outputPath` yet: the game reads its textures so.
SideFiles texturesToWrite(const GltfScene& scene,
                          const std::map<std::string, std::int64_t>& imageOfName,
                          const std::string& outputPath, Notes& notes);

} // namespace ulv
