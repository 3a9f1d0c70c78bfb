// Writes a model as glTF 2.0: binary (.glb, one file) or JSON (.gltf) with
// its arrays and images in a .bin file beside it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "model/model.h"
#include "texture/texture.h"

namespace ulv {

class GltfSource;

enum class GltfResult {
    ok,
    tooLarge, // the data does not fit glTF's 32-bit lengths; nothing was written
    failed,   // a stream or file failed
};

// A .glb states its whole length in 32 bits; the .gltf keeps the same limit
// for its buffer, so both forms take the same models.
inline constexpr std::uint64_t maxGltfSize = 0xFFFFFFFFu;

// Positions are moved into model space exactly as for the OBJ; normals
// follow the transform and are scaled to unit length. `notes` gets a line
// for each kind of thing the file leaves out. A smaller `sizeLimit` lets
// tests reach the limit without writing 4 GiB.
GltfResult writeGlb(const Model& model, const TextureSet& textures, std::ostream& out, Notes& notes,
                    std::uint64_t sizeLimit = maxGltfSize);
GltfResult writeGltf(const Model& model, const TextureSet& textures, std::ostream& json,
                     std::ostream& bin, const std::string& binName, Notes& notes,
                     std::uint64_t sizeLimit = maxGltfSize);

// The same from a source of either form (gltf/source.h).
GltfResult writeGlb(GltfSource& source, const TextureSet& textures, std::ostream& out, Notes& notes,
                    std::uint64_t sizeLimit = maxGltfSize);
GltfResult writeGltf(GltfSource& source, const TextureSet& textures, std::ostream& json,
                     std::ostream& bin, const std::string& binName, Notes& notes,
                     std::uint64_t sizeLimit = maxGltfSize);

// The message for a result other than ok.
const char* messageFor(GltfResult result);

} // namespace ulv
