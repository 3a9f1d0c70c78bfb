// The model's arrays behind a glTF primitive: stored so that the mesh's
// transform gives back what glTF holds, with flat normals where it has none,
// in sections whose vertices 16 bits can number.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "gltf/extras.h"
#include "gltf/inverse.h"
#include "gltf/reader.h"
#include "model/model.h"
#include "model/transform.h"

namespace ulv {

// A section's triangles number their vertices in 16 bits.
inline constexpr std::size_t maxVertices = 65536;

// A node's world matrix, and what it does to positions and normals.
struct World {
    std::array<double, 16> m{}; // column-major
    bool identity = false;
    NormalMatrix normals{};

    explicit World(const std::array<double, 16>& matrix);
    Transform asTransform() const;
    void position(const float* q, float* out) const;
    void normal(const float* n, float* out) const;
};

// A primitive's arrays, with texture coordinates 0 where it has none.
struct Primitive {
    std::string name; // its material's, 8-bit
    std::int64_t image = -1;
    std::vector<float> positions, normals, texCoords; // in the node's space
    std::vector<std::uint32_t> indices;
    bool hadNormals = true;
    std::size_t vertices() const { return positions.size() / 3; }
    std::size_t triangles() const { return indices.size() / 3; }
};

// Flat normals, as glTF prescribes for a primitive without them: each
// triangle gets its own three vertices with its face's normal.
void makeFlat(Primitive& p);

// How a mesh's stored values come from glTF's: straight, when its transform
// is the node's world matrix; or chosen so that the transform gives back
// what glTF holds in model space.
class Frame {
  public:
    Frame(const World& world, const Transform& transform, bool fromWorld);
    // The stored values the writer kept for section `section` of the mesh
    // (see StoredValue), taken first where they give what glTF holds.
    void useKept(const std::vector<StoredValue>& values, std::uint32_t section);
    // For vertex `vertex` of the primitive, from its value `q` or `n`.
    void storePosition(const float* q, float* out, std::uint32_t vertex);
    // A normal of no direction stays as it is: a section that had none.
    void storeNormal(const float* n, float* out, std::uint32_t vertex);
    // Both for vertices [0, count), on two threads when there are many.
    void storeAll(const float* positions, const float* normals, std::size_t count,
                  float* storedPositions, float* storedNormals);
    std::uint64_t inexact() const { return inexact_; }

  private:
    void storeWorldPosition(const float* w, float* out, std::uint32_t vertex);
    void storePiece(const float* positions, const float* normals, std::size_t first,
                    std::size_t last, float* storedPositions, float* storedNormals);
    const float* keptFor(std::uint32_t vertex, bool normal, const float* target) const;

    const World* world_;
    Transform transform_;
    bool direct_;
    std::optional<PositionInverse> positions_;
    std::optional<NormalInverse> normals_;
    std::unordered_map<std::uint64_t, const StoredValue*> kept_;
    std::atomic<std::uint64_t> inexact_{0}; // values for which no exact stored one was found
};

std::array<char, 32> nameField(const std::string& name);

// A new section's fields, like those of `like` (a section beside it) where
// nothing decides them.
MeshSection fieldsLike(const MeshSection* like, const std::string& name);

// The section's name field: the given one when it names the same material,
// so that bytes after its NUL stay, else the material's name.
void nameSection(MeshSection& s, const std::string& name);

// Sets the counts; faceCount follows triangleCount where it did.
void setCounts(MeshSection& s, bool faceCountFollows);

// (a, b, c) as (a, c, b).
inline void reverseCorners(std::uint32_t* corners) { std::swap(corners[1], corners[2]); }

// Sections of `fields` (its header only, not its arrays) made of the
// triangles `chosen` of a primitive (all when empty), their vertices stored
// through `frame`. `ours`: a primitive of our own, which keeps every vertex
// in order, even those no triangle uses, as long as its numbers fit.
// Otherwise more vertices than 16 bits number are shared out over several
// sections. The primitive may give up its texture coordinates and triangles.
std::vector<MeshSection> sectionsOf(Primitive& p, const std::vector<std::size_t>& chosen, bool ours,
                                    const MeshSection& fields, Frame& frame, bool faceCountFollows);

} // namespace ulv
