// Where everything goes in a glTF file: which sections become primitives,
// which materials and images there are, and where each array lies in the
// binary buffer. Settled from the headers and the sections' facts before
// anything is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gltf/examine.h"
#include "model/model.h"
#include "texture/texture.h"

namespace ulv {

// A section that has at least one vertex and one kept triangle.
struct Primitive {
    std::size_t mesh = 0;          // its mesh's number
    std::size_t sectionNumber = 0; // in the whole model
    std::uint32_t vertices = 0;
    std::uint32_t triangles = 0;    // kept
    std::uint32_t allTriangles = 0; // kept or not
    bool hasNormals = true;
    const TriangleRuns* reversed = nullptr;           // of its facts
    const std::vector<StoredValue>* stored = nullptr; // of its facts
    float min[3]{}, max[3]{};
    std::int64_t material = -1;
    std::uint64_t positionAt = 0, normalAt = 0, texCoordAt = 0, indexAt = 0; // in their views
};

struct View {
    std::uint64_t offset = 0, length = 0;
    std::uint32_t target = 0; // 0: none (images)
    std::uint32_t stride = 0; // given for vertex data, which several accessors share
};

struct Layout {
    std::vector<Primitive> primitives;
    std::vector<std::size_t> firstPrimitive; // per mesh, and one past the last
    std::vector<std::size_t> firstSection;   // per mesh: its first section's number in the model
    std::vector<std::string> materials;      // names, in order of first use
    std::vector<std::int64_t> textureOfMaterial;
    std::vector<std::size_t> images; // indices into the TextureSet, in order of first use
    std::vector<std::uint64_t> imageAt;
    View positions, normals, texCoords, indices;
    std::uint64_t binarySize = 0;
};

// Adds a line to `notes` for each kind of thing the file leaves out.
Layout plan(const Model& model, const std::vector<SectionFacts>& facts, const TextureSet& textures,
            Notes& notes);

} // namespace ulv
