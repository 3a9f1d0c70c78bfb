// A model to write as glTF, in one of two forms: held in memory, or headers
// and facts held while the arrays are read again from the file they came
// from when their turn comes. The writer sees only this interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "gltf/examine.h"
#include "model/model.h"

namespace ulv {

enum class VertexArray { positions, normals, texCoords };

class GltfSource {
  public:
    virtual ~GltfSource() = default;

    // Every header and material name; the arrays only in the held form.
    virtual const Model& model() const = 0;
    // What each section's arrays hold, in file order.
    virtual const std::vector<SectionFacts>& facts() const = 0;

    // Vertices [first, first + count) of the section numbered `section` in
    // the model: 3 floats each of positions or normals, 2 of texture
    // coordinates, as stored. False when they cannot be had.
    virtual bool vertices(std::size_t section, VertexArray kind, std::uint64_t first,
                          std::size_t count, float* out) = 0;
    // Triangles [first, first + count) of a section: corners a, b, c each.
    virtual bool triangles(std::size_t section, std::uint64_t first, std::size_t count,
                           std::uint32_t* out) = 0;
};

// The held form: a model in memory, examined when constructed.
class HeldModel final : public GltfSource {
  public:
    explicit HeldModel(const Model& model);

    const Model& model() const override { return model_; }
    const std::vector<SectionFacts>& facts() const override { return facts_; }
    bool vertices(std::size_t section, VertexArray kind, std::uint64_t first, std::size_t count,
                  float* out) override;
    bool triangles(std::size_t section, std::uint64_t first, std::size_t count,
                   std::uint32_t* out) override;

  private:
    const Model& model_;
    std::vector<SectionFacts> facts_;
    std::vector<const MeshSection*> sections_; // in file order
};

} // namespace ulv
