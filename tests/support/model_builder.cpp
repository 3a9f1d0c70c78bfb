#include "tests/support/model_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace ulv {

void appendU32(Bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void appendF32(Bytes& out, float value) { appendU32(out, std::bit_cast<std::uint32_t>(value)); }

namespace {

void appendU16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

} // namespace

void appendFileHeader(Bytes& out, const Model& model) {
    out.insert(out.end(), model.tag.begin(), model.tag.end());
    out.push_back(model.minorVersion);
    out.push_back(model.majorVersion);
    appendU16(out, model.opaqueShort);
    appendU32(out, model.numMeshes);
    appendU32(out, model.size);
    for (std::uint32_t word : model.opaqueWords)
        appendU32(out, word);
    if (model.minorVersion == 9 && model.majorVersion == 1)
        for (std::uint32_t word : model.versionExtension)
            appendU32(out, word);
}

void appendMeshHeader(Bytes& out, const Mesh& mesh) {
    appendU32(out, MESH_TAG);
    for (float value : mesh.transform.m)
        appendF32(out, value);
    appendU32(out, mesh.sectionCount);
    for (std::uint32_t word : mesh.opaqueWords)
        appendU32(out, word);
}

void appendSection(Bytes& out, const MeshSection& section) {
    appendU32(out, MGRP_TAG);
    out.insert(out.end(), section.materialName.begin(), section.materialName.end());
    for (std::uint32_t word : {section.opaqueWord1, section.faceCount, section.vertexCount,
                               section.triangleCount, section.lodCount, section.opaqueWord2})
        appendU32(out, word);
    for (const auto* array : {&section.positions, &section.normals, &section.texCoords})
        for (float value : *array)
            appendF32(out, value);
    for (std::size_t t = 0; t + 2 < section.indices.size(); t += 3) {
        appendU16(out, section.indices[t]);
        appendU16(out, section.indices[t + 1]);
        appendU16(out, section.indices[t + 2]);
        appendU16(out, 0xFFFF);
    }
}

Bytes encodeModel(const Model& model) {
    Bytes out;
    appendFileHeader(out, model);
    for (const Mesh& mesh : model.meshes) {
        appendMeshHeader(out, mesh);
        for (const MeshSection& section : mesh.sections)
            appendSection(out, section);
    }
    return out;
}

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
