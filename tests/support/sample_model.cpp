#include "tests/support/sample_model.h"

#include <cmath>

#include "tests/support/model_builder.h"

namespace ulv {
namespace {

using Point = std::array<float, 3>;

// Flat pieces of a section: each its own vertices, all with its normal, its
// triangles wound counter-clockwise seen from where the normal points.
struct Builder {
    std::vector<float> positions, normals, texCoords;
    std::vector<std::uint32_t> indices;

    // `corners` counter-clockwise with their u, v; a fan from the first.
    void polygon(std::initializer_list<std::pair<Point, std::array<float, 2>>> corners,
                 const Point& normal) {
        const auto base = static_cast<std::uint32_t>(positions.size() / 3);
        for (const auto& [p, uv] : corners) {
            positions.insert(positions.end(), p.begin(), p.end());
            normals.insert(normals.end(), normal.begin(), normal.end());
            texCoords.insert(texCoords.end(), uv.begin(), uv.end());
        }
        for (std::uint32_t k = 1; k + 1 < corners.size(); ++k)
            indices.insert(indices.end(), {base, base + k, base + k + 1});
    }

    // A rectangle from its bottom left corner along `across` and `up`; the
    // texture's top row at the top, repeated `repeat` times across.
    void rectangle(const Point& bottomLeft, const Point& across, const Point& up,
                   const Point& normal, float repeat) {
        const auto at = [&](float a, float b) {
            return Point{bottomLeft[0] + a * across[0] + b * up[0],
                         bottomLeft[1] + a * across[1] + b * up[1],
                         bottomLeft[2] + a * across[2] + b * up[2]};
        };
        polygon({{at(0, 0), {0, 1}},
                 {at(1, 0), {repeat, 1}},
                 {at(1, 1), {repeat, 0}},
                 {at(0, 1), {0, 0}}},
                normal);
    }

    MeshSection section(std::string_view material) const {
        return makeSection(material, positions, normals, texCoords, indices);
    }
};

// The walls of a house two units wide, one and a half deep and 1.2 high,
// standing on y = 0 with y up, as glTF has it.
MeshSection walls() {
    Builder b;
    b.rectangle({-1, 0, 0.75f}, {2, 0, 0}, {0, 1.2f, 0}, {0, 0, 1}, 2);
    b.rectangle({1, 0, 0.75f}, {0, 0, -1.5f}, {0, 1.2f, 0}, {1, 0, 0}, 1.5f);
    b.rectangle({1, 0, -0.75f}, {-2, 0, 0}, {0, 1.2f, 0}, {0, 0, -1}, 2);
    b.rectangle({-1, 0, -0.75f}, {0, 0, 1.5f}, {0, 1.2f, 0}, {-1, 0, 0}, 1.5f);
    return b.section("wood");
}

MeshSection door() {
    Builder b;
    b.rectangle({-0.25f, 0, 0.76f}, {0.5f, 0, 0}, {0, 0.8f, 0}, {0, 0, 1}, 1);
    return b.section("metal");
}

// The roof at half its size, for a mesh that doubles it: eaves at y = 0
// overhanging the walls, the ridge along x.
constexpr float eave = 0.475f, ridge = 0.35f, halfLength = 0.55f;

Point slopeNormal(float side) {
    const float length = std::sqrt(eave * eave + ridge * ridge);
    return {0, eave / length, side * ridge / length};
}

MeshSection gables() {
    Builder b;
    for (const float side : {1.0f, -1.0f}) {
        const float x = 0.5f * side, z = 0.375f * side;
        b.polygon({{{x, 0, z}, {0, 1}}, {{x, 0, -z}, {1.5f, 1}}, {{x, ridge, 0}, {0.75f, 0.42f}}},
                  {side, 0, 0});
    }
    return b.section("wood");
}

MeshSection slopes() {
    Builder b;
    for (const float side : {1.0f, -1.0f}) {
        const float x = halfLength * side, z = eave * side;
        b.polygon({{{-x, 0, z}, {0, 1}},
                   {{x, 0, z}, {4, 1}},
                   {{x, ridge, 0}, {4, 0}},
                   {{-x, ridge, 0}, {0, 0}}},
                  slopeNormal(side));
    }
    return b.section("metal");
}

// A skylight a little above the slope that faces -z here, +z once turned.
MeshSection skylight() {
    Builder b;
    const Point n = slopeNormal(-1);
    const auto onSlope = [&](float x, float t) {
        return Point{x + 0.004f * n[0], ridge * t + 0.004f * n[1], -eave * (1 - t) + 0.004f * n[2]};
    };
    b.polygon({{onSlope(0.3f, 0.25f), {0, 1}},
               {onSlope(0.05f, 0.25f), {1, 1}},
               {onSlope(0.05f, 0.65f), {1, 0}},
               {onSlope(0.3f, 0.65f), {0, 0}}},
              n);
    return b.section("glass");
}

} // namespace

Model sampleModel() {
    // A half turn about y, scaled by 2, moved up onto the walls.
    const Transform roof{{-2, 0, 0, 0, 2, 0, 0, 0, -2, 0, 1.2f, 0}};
    Model model = makeModel({makeMesh(identityTransform, {walls(), door()}),
                             makeMesh(roof, {gables(), slopes(), skylight()})},
                            9, 1);
    model.size = 0;
    return model;
}

} // namespace ulv
