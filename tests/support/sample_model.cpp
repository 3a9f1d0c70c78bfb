#include "tests/support/sample_model.h"

#include "tests/support/model_builder.h"

namespace ulv {
namespace {

// Three faces of a unit cube (each face its own four vertices, so that every
// vertex has the face's normal), starting at face `first` of six.
MeshSection cubeFaces(std::string_view material, int first) {
    static const float normals[6][3] = {{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                        {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};
    std::vector<float> positions, normalArray, texCoords;
    std::vector<std::uint32_t> indices;
    for (int face = first; face < first + 3; ++face) {
        const float* n = normals[face];
        // Two axes spanning the face.
        const int axis = face / 2;
        const int u = (axis + 1) % 3;
        const int v = (axis + 2) % 3;
        const auto base = static_cast<std::uint32_t>(positions.size() / 3);
        const float corners[4][2] = {{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}};
        for (const auto& corner : corners) {
            float p[3];
            p[axis] = 0.5f * n[axis];
            p[u] = corner[0];
            p[v] = corner[1];
            positions.insert(positions.end(), p, p + 3);
            normalArray.insert(normalArray.end(), n, n + 3);
            texCoords.push_back(corner[0] + 0.5f);
            texCoords.push_back(corner[1] + 0.5f);
        }
        indices.insert(indices.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
    }
    return makeSection(material, positions, normalArray, texCoords, indices);
}

MeshSection roof() {
    return makeSection("glass",
                       {-0.5f, -0.5f, 0.5f, 0.5f, -0.5f, 0.5f, 0.5f, 0.5f, 0.5f, -0.5f, 0.5f, 0.5f,
                        0.0f, 0.0f, 1.25f},
                       {-0.57735f, -0.57735f, 0.57735f, 0.57735f, -0.57735f, 0.57735f, 0.57735f,
                        0.57735f, 0.57735f, -0.57735f, 0.57735f, 0.57735f, 0.0f, 0.0f, 1.0f},
                       {0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 0.5f, 0.5f},
                       {0, 1, 4, 1, 2, 4, 2, 3, 4, 3, 0, 4});
}

} // namespace

Model sampleModel() {
    // Quarter turn about z, scaled by 2, moved to (10, 20, 30).
    const Transform turned{{0, 2, 0, -2, 0, 0, 0, 0, 2, 10, 20, 30}};
    Model model =
        makeModel({makeMesh(identityTransform, {cubeFaces("wood", 0), cubeFaces("metal", 3)}),
                   makeMesh(turned, {cubeFaces("wood", 0), roof()})},
                  9, 1);
    model.size = 0;
    return model;
}

} // namespace ulv
