// glTF from a model file without holding the model's arrays: each section is
// examined as it is read, and read again from the file when its data is
// written. Memory stays near one section's arrays, and the data is written
// from memory that is warm instead of from freshly mapped pages.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "gltf/source.h"
#include "gltf/writer.h"
#include "mod/array_reader.h"

namespace ulv {

struct SkimmedModel {
    Model model;                         // headers and names, no arrays
    std::vector<SectionFacts> sections;  // in file order
    std::vector<std::uint64_t> arraysAt; // per section, from where reading began
};

// Reads a model as readModel does, throwing TextError on the same faults, but
// keeps only what the glTF writer needs from its arrays.
SkimmedModel skimModel(std::istream& stream, std::ostream* dump);

// The read-twice form of a glTF source: the skimmed model's arrays are read
// again from `stream`, in which reading began at `start`. Writing fails when
// the stream no longer holds what it held.
class SkimmedSource final : public GltfSource {
  public:
    SkimmedSource(const SkimmedModel& skimmed, std::istream& stream, std::streamoff start);

    const Model& model() const override { return skimmed_.model; }
    const std::vector<SectionFacts>& facts() const override { return skimmed_.sections; }
    bool vertices(std::size_t section, VertexArray kind, std::uint64_t first, std::size_t count,
                  float* out) override;
    bool triangles(std::size_t section, std::uint64_t first, std::size_t count,
                   std::uint32_t* out) override;

  private:
    const SkimmedModel& skimmed_;
    ArrayReader reader_;
};

GltfResult writeGlb(const SkimmedModel& skimmed, std::istream& stream, std::streamoff start,
                    const TextureSet& textures, std::ostream& out, Notes& notes);
GltfResult writeGltf(const SkimmedModel& skimmed, std::istream& stream, std::streamoff start,
                     const TextureSet& textures, std::ostream& json, std::ostream& bin,
                     const std::string& binName, Notes& notes);

} // namespace ulv
