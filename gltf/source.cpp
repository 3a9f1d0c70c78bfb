#include "gltf/source.h"

#include <algorithm>

namespace ulv {

HeldModel::HeldModel(const Model& model) : model_(model), facts_(examineModel(model)) {
    for (const Mesh& mesh : model.meshes)
        for (const MeshSection& section : mesh.sections)
            sections_.push_back(&section);
}

bool HeldModel::vertices(std::size_t section, VertexArray kind, std::uint64_t first,
                         std::size_t count, float* out) {
    const MeshSection& s = *sections_[section];
    const std::size_t width = kind == VertexArray::texCoords ? 2 : 3;
    const std::vector<float>& values = kind == VertexArray::positions ? s.positions
                                       : kind == VertexArray::normals ? s.normals
                                                                      : s.texCoords;
    if (first + count > values.size() / width)
        return false;
    std::copy_n(values.data() + width * first, width * count, out);
    return true;
}

bool HeldModel::triangles(std::size_t section, std::uint64_t first, std::size_t count,
                          std::uint32_t* out) {
    const std::vector<std::uint32_t>& indices = sections_[section]->indices;
    if (first + count > indices.size() / 3)
        return false;
    std::copy_n(indices.data() + 3 * first, 3 * count, out);
    return true;
}

} // namespace ulv
