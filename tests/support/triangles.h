// Triangles as a 3D program shows them: corners in model space with their
// u/v, and the material, so that a model file and glTF files can be compared
// whatever their vertex order, triangle order, meshes and sections. The glTF
// side is read with tinygltf, not with the tool's own reader.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "model/model.h"

namespace ulv {

struct Corner {
    std::array<double, 3> position{};
    std::array<double, 2> uv{};
    std::array<double, 3> normal{}; // unit length; zero where there is none
};

struct Triangle {
    std::string material;          // the model's 8-bit name, or glTF's UTF-8 one ("" for none)
    std::size_t group = 0;         // the mesh's number, or the glTF node's in scene order
    std::array<Corner, 3> corners; // in turn order
};

using Triangles = std::vector<Triangle>;

// Each mesh's triangles with its transform applied as transformPoint does;
// no normals.
Triangles trianglesOf(const Model& model);

// The default scene's triangles in world space (normals moved with the
// inverse transpose), read with tinygltf. A file it cannot read, or
// anything not plain triangles of float attributes, fails the test.
Triangles trianglesOfGltf(const std::filesystem::path& path);

// Matches each triangle of `actual` with one of `expected`: the same
// material, the same corners in turn from any first corner, positions and
// u/v within `tolerance` of their size (at least 1). Returns the triangles
// left over on either side, a few of each, or "" when all match.
std::string unmatched(const Triangles& expected, const Triangles& actual, double tolerance);

// How far a program moved the numbers of `before` on the way to `after`:
// the largest difference over matched corners (positions and u/v relative to
// their size, normals absolute). Triangles match as for unmatched(), with
// the loose `tolerance`; `left` counts those of `before` that found none.
struct Drift {
    double position = 0, normal = 0, uv = 0;
    std::size_t left = 0;
};
Drift driftOf(const Triangles& before, const Triangles& after, double tolerance);

} // namespace ulv
