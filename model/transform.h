// What a mesh's transform does to its vertices: positions are moved into
// model space; normals are turned with the transform's normal matrix and
// scaled to unit length.
#pragma once

#include <cstddef>

#include "model/model.h"

namespace ulv {

// Moves one position (x, y, z, changed in place) into model space. Computed in
// double precision, left to right, rounded to float once at the end.
void transformPoint(const Transform& transform, float* point);

// transformPoint for `count` points stored one after another, with the very
// same results; one call per array lets the compiler keep the loop tight.
void transformPoints(const Transform& transform, float* points, std::size_t count);

// The normal matrix: the cofactors of the transform's 3x3 part, which are the
// inverse transpose times the determinant; its sign is kept so that a mirror
// does not turn normals inwards. A singular part still gives a direction.
struct NormalMatrix {
    double c[3][3];
};

NormalMatrix normalMatrixOf(const Transform& transform);

// Moves `count` normals (x, y, z each, changed in place) and scales them to
// unit length; false when one of them has no direction (zero or not finite).
bool moveNormals(const NormalMatrix& matrix, float* normals, std::size_t count);

// Whether every normal keeps a direction once moved: the test of moveNormals
// without moving them.
bool normalsHaveDirection(const NormalMatrix& matrix, const float* normals, std::size_t count);

} // namespace ulv
