// Reader forms for callers inside the library: writers that want each
// section once, as it is read, and not the whole model in memory; and a read
// through an input of the caller's, such as one with small chunks.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <vector>

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

// Where a model's blocks lie, in bytes from where reading began: each
// block's tag, the end of its header, and for a section the end of its
// arrays. What lies between blocks is what the reader skipped.
struct SectionPlace {
    std::uint64_t begin = 0, end = 0;
};
struct MeshPlace {
    std::uint64_t begin = 0, headerEnd = 0;
    std::vector<SectionPlace> sections;
};
struct ModelPlaces {
    std::uint64_t headerEnd = 0; // with the version extension
    std::vector<MeshPlace> meshes;
};

Model readModel(const std::uint8_t* data, std::size_t size, ModelPlaces& places);

} // namespace ulv
