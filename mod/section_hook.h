// Reader forms for callers inside the library: writers that want each
// section once, as it is read, and not the whole model in memory; and a read
// through an input of the caller's, such as one with small chunks.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>

#include "mod/input.h"
#include "model/model.h"

namespace ulv {

// `arraysAt`: where the section's arrays start, in bytes from where reading
// began. After the call the reader takes the arrays back and reuses their
// memory for the next section, so the returned model holds every header and
// material name but empty arrays.
using SectionHook =
    std::function<void(const Mesh& mesh, MeshSection& section, std::uint64_t arraysAt)>;

Model readModel(std::istream& stream, std::ostream* dump, const SectionHook& onSection);

Model readModel(InputBuffer& input, std::ostream* dump);

} // namespace ulv
