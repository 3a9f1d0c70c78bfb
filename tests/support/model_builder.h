// Writes .MOD bytes from model records: the sample model, test fixtures and
// benchmark models all come from here.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "model/model.h"

namespace ulv {

using Bytes = std::vector<std::uint8_t>;

// The 24-byte file header, and the version extension for version 1.9.
void appendFileHeader(Bytes& out, const Model& model);
// The 80-byte mesh header, tag included; not its sections.
void appendMeshHeader(Bytes& out, const Mesh& mesh);
// The 60-byte section header, tag included, and its four arrays.
void appendSection(Bytes& out, const MeshSection& section);
// The whole model, every block right after the previous one.
Bytes encodeModel(const Model& model);

void appendU32(Bytes& out, std::uint32_t value);
void appendF32(Bytes& out, float value);

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
