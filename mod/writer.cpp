#include "mod/writer.h"

#include <bit>
#include <ostream>

#include "mod/layout.h"

namespace ulv {

void appendU32(Bytes& out, std::uint32_t value) {
    std::uint8_t bytes[4];
    layout::storeU32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

void appendF32(Bytes& out, float value) { appendU32(out, std::bit_cast<std::uint32_t>(value)); }

namespace {

void appendU16(Bytes& out, std::uint32_t value) {
    std::uint8_t bytes[2];
    layout::storeU16(bytes, value);
    out.insert(out.end(), bytes, bytes + 2);
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
    if (layout::hasVersionExtension(model.minorVersion, model.majorVersion))
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
        appendU16(out, layout::unusedCorner);
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

bool writeModel(const Model& model, std::ostream& out) {
    Bytes block;
    const auto flush = [&] {
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(block.size()));
        block.clear();
    };
    appendFileHeader(block, model);
    for (const Mesh& mesh : model.meshes) {
        appendMeshHeader(block, mesh);
        for (const MeshSection& section : mesh.sections) {
            appendSection(block, section);
            if (block.size() >= (std::size_t{1} << 20))
                flush();
        }
    }
    flush();
    out.flush();
    return bool(out);
}

} // namespace ulv
