// A reader form for writers that want each section once, as it is read, and
// not the whole model in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <utility>

#include "model/model.h"

namespace ulv {

// `arraysAt`: where the section's arrays start, in bytes from where reading
// began. After the call the reader takes the arrays back and reuses their
// memory for the next section, so the returned model holds every header and
// material name but empty arrays.
using SectionHook =
    std::function<void(const Mesh& mesh, MeshSection& section, std::uint64_t arraysAt)>;

Model readModel(std::istream& stream, std::ostream* dump, const SectionHook& onSection);

// Trades the four arrays of two sections, so that their memory is reused.
inline void swapArrays(MeshSection& a, MeshSection& b) {
    std::swap(a.positions, b.positions);
    std::swap(a.normals, b.normals);
    std::swap(a.texCoords, b.texCoords);
    std::swap(a.indices, b.indices);
}

} // namespace ulv
