// What glTF makes of a section's arrays: positions moved into model space,
// every number finite (JSON cannot hold the others, and readers reject them
// in vertex data), and only the triangles whose corners all exist.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "model/model.h"

namespace ulv {

// Moves `count` positions into model space and makes them finite; returns
// how many numbers were not, and widens [lo, hi] to hold the results. The
// bounds see -0 as +0, so that they do not depend on the order the values
// are met in.
std::uint64_t movePositions(const Transform& transform, float* positions, std::size_t count,
                            float (&lo)[3], float (&hi)[3]);

// Replaces each number that is not finite by 0; returns how many were not.
std::uint64_t zeroNonFinite(float* values, std::size_t count);

// How many of `count` numbers are not finite.
std::uint64_t countNonFinite(const float* values, std::size_t count);

// Triangles (a, b, c each) whose three corners are among the first `vertices`.
std::uint64_t countKept(const std::uint32_t* corners, std::size_t triangles, std::size_t vertices);

// Moves the kept triangles to the front, in order; returns how many there are.
std::size_t keepTriangles(std::uint32_t* corners, std::size_t triangles, std::size_t vertices);

// Triangles by their number among a section's kept ones: runs of first and
// last, in order.
using TriangleRuns = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// Whether a triangle, as written (moved positions a, b, c and their unit
// normals), winds against its normals: its face normal points against the
// sum of its three vertex normals. Where that is undecided (a degenerate
// triangle, normals that cancel, numbers not finite) it is not.
bool windsAgainst(const float* a, const float* b, const float* c, const float* na, const float* nb,
                  const float* nc);

// The kept triangles among `count` (corners a, b, c each, in a section of
// `vertices` vertices) that wind against their normals, numbered from
// `firstKept`, added to `runs`. `positions` and `normals` are as written.
void findAgainst(const std::uint32_t* corners, std::size_t count, std::size_t vertices,
                 const float* positions, const float* normals, std::uint32_t firstKept,
                 TriangleRuns& runs);

// Reverses the triangles in `runs` among `count` kept ones numbered from
// `firstKept`: (a, b, c) becomes (a, c, b), so that each winds as its
// normals say.
void reverseTriangles(std::uint32_t* corners, std::size_t count, std::uint32_t firstKept,
                      const TriangleRuns& runs);

} // namespace ulv
