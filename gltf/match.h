// Which triangles of a model file's sections a glTF scene still holds, so
// that sections nobody changed are kept byte for byte. Both sides are seen as
// glTF holds them, in model space; a 3D program's import and export round
// their numbers a little, so corners match within a tolerance.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ulv {

// A section or a primitive as glTF holds it.
struct Form {
    std::string name;                   // its material's; triangles match only under one name
    std::vector<float> positions;       // x, y, z per vertex, in model space
    std::vector<float> normals;         // x, y, z per vertex; empty when it has none
    std::vector<float> texCoords;       // u, v per vertex
    std::vector<std::uint32_t> indices; // a, b, c per triangle, as written
};

// How far apart two numbers may be and still match: positions and texture
// coordinates relative to their size (and at least absolute near 0), normals
// absolutely, being of unit length.
inline constexpr double positionTolerance = 1e-5;
inline constexpr double texCoordTolerance = 1e-5;
inline constexpr double normalTolerance = 2e-3;

// Triangle `t` of `form` by its positions to the bit, whichever corner
// comes first: equal for triangles of the very same positions.
std::uint64_t exactKey(const Form& form, std::size_t t);

// For each triangle of `incoming` (all forms, one after another), the
// triangle of `existing` (numbered likewise) that it matches, or -1: the
// same name, the same corners in the same turn (from any first corner),
// normals compared where both have them. Each existing triangle matches at
// most one incoming one; one of the very same positions is preferred.
std::vector<std::int64_t> matchTriangles(const std::vector<const Form*>& existing,
                                         const std::vector<const Form*>& incoming);

} // namespace ulv
