// glTF from a model file without holding the model's arrays: each section is
// examined as it is read, and read again from the file when its data is
// written. Memory stays near one section's arrays, and the data is written
// from memory that is warm instead of from freshly mapped pages.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "export/gltf_writer.h"

namespace ulv {

// What a section's arrays held once moved into model space.
struct SectionFacts {
    std::uint64_t arraysAt = 0;  // bytes from where reading began; for a skimmed model
    float min[3]{}, max[3]{};    // of the positions
    std::uint64_t nonFinite = 0; // numbers in positions and texture coordinates
    std::uint64_t kept = 0;      // triangles whose corners all exist
    bool normalsOk = true;       // every normal has a direction
};

struct SkimmedModel {
    Model model;                        // headers and names, no arrays
    std::vector<SectionFacts> sections; // in file order
};

// Reads a model as readModel does, throwing TextError on the same faults, but
// keeps only what the glTF writer needs from its arrays.
SkimmedModel skimModel(std::istream& stream, std::ostream* dump);

// Sink forms: the skimmed model's arrays are read again from `stream`, in
// which reading began at `start`; they fail when the stream no longer holds
// what it held.
GltfResult writeGlb(const SkimmedModel& skimmed, std::istream& stream, std::streamoff start,
                    const TextureSet& textures, std::ostream& out, Notes& notes);
GltfResult writeGltf(const SkimmedModel& skimmed, std::istream& stream, std::streamoff start,
                     const TextureSet& textures, std::ostream& json, std::ostream& bin,
                     const std::string& binName, Notes& notes);

// Path form, .glb or .gltf by the extension of `outputPath`, textures looked
// up in `textureFolder`; a failure leaves any existing files as they were.
GltfResult writeGltf(SkimmedModel skimmed, std::istream& stream, std::streamoff start,
                     const std::string& outputPath, const std::string& textureFolder, Notes& notes);

} // namespace ulv
