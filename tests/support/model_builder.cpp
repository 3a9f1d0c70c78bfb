#include "tests/support/model_builder.h"

#include <algorithm>
#include <cstring>

namespace ulv {

MeshSection makeSection(std::string_view material, std::vector<float> positions,
                        std::vector<float> normals, std::vector<float> texCoords,
                        std::vector<std::uint32_t> indices) {
    MeshSection section;
    section.tag = MGRP_TAG;
    std::memcpy(section.materialName.data(), material.data(),
                std::min(material.size(), section.materialName.size()));
    section.vertexCount = static_cast<std::uint32_t>(positions.size() / 3);
    section.triangleCount = static_cast<std::uint32_t>(indices.size() / 3);
    section.faceCount = section.triangleCount;
    section.lodCount = 1;
    section.positions = std::move(positions);
    section.normals = std::move(normals);
    section.texCoords = std::move(texCoords);
    section.indices = std::move(indices);
    return section;
}

Mesh makeMesh(const Transform& transform, std::vector<MeshSection> sections) {
    Mesh mesh;
    mesh.tag = MESH_TAG;
    mesh.transform = transform;
    mesh.sectionCount = static_cast<std::uint32_t>(sections.size());
    mesh.sections = std::move(sections);
    return mesh;
}

Model makeModel(std::vector<Mesh> meshes, std::uint8_t minor, std::uint8_t major) {
    Model model;
    model.tag = {'U', 'L', 'V', 'M'};
    model.minorVersion = minor;
    model.majorVersion = major;
    model.numMeshes = static_cast<std::uint32_t>(meshes.size());
    model.meshes = std::move(meshes);
    return model;
}

} // namespace ulv
