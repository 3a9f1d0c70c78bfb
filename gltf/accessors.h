// Accessors decoded into floats and indices, every count and offset checked
// against its buffer view and buffer before anything is allocated.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gltf/document.h"

namespace ulv {

// What decoding may allocate in all, counted in 4-byte numbers: 64 times the
// input's size (the file and what was fetched for it) plus 16 MiB. Stored
// data decodes to at most 12 times its size (8-bit strip indices into
// triangles, quantized values into floats); the rest leaves room for meshes
// shared by a few dozen nodes and primitives, and for small files whose
// accessors without a buffer view hold zeros. A file claiming more is refused
// before the memory is taken.
class DecodeBudget {
  public:
    explicit DecodeBudget(std::uint64_t inputBytes);
    void take(std::uint64_t numbers);

  private:
    std::uint64_t left_; // bytes
};

enum class Attribute { position, normal, texCoord };

const tg::Accessor& accessorAt(const GltfDocument& doc, int index);

// The bytes of buffer view `index`, checked to lie within its buffer; `user`
// names what refers to it in messages.
ByteRange viewBytes(const GltfDocument& doc, std::int64_t index, const std::string& user);

// POSITION or NORMAL (3 floats per element) or a TEXCOORD (2), as glTF and,
// when `doc.quantized`, KHR_mesh_quantization allow them to be stored.
// `semantic` names it in messages.
std::vector<float> readAttribute(const GltfDocument& doc, int index, Attribute attribute,
                                 const std::string& semantic, DecodeBudget& budget);

// A primitive's indices, unchecked against its vertices.
std::vector<std::uint32_t> readIndices(const GltfDocument& doc, int index, DecodeBudget& budget);

} // namespace ulv
