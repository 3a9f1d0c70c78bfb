// Model records for the sample model, test fixtures and benchmark models,
// written as model files by the library's own writer.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "mod/writer.h"
#include "model/model.h"

namespace ulv {

// A section whose counts match its arrays; faceCount and lodCount are made up.
MeshSection makeSection(std::string_view material, std::vector<float> positions,
                        std::vector<float> normals, std::vector<float> texCoords,
                        std::vector<std::uint32_t> indices);
// A mesh whose sectionCount matches its sections.
Mesh makeMesh(const Transform& transform, std::vector<MeshSection> sections);
// Version 2.0 unless given; numMeshes matches the meshes.
Model makeModel(std::vector<Mesh> meshes, std::uint8_t minor = 0, std::uint8_t major = 2);

inline constexpr Transform identityTransform{{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}};

} // namespace ulv
