// Writes model records as the bytes of a model file, every field as the
// reader reads it, each block right after the one before.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "model/model.h"

namespace ulv {

using Bytes = std::vector<std::uint8_t>;

// The file header, and the version extension for version 1.9.
void appendFileHeader(Bytes& out, const Model& model);
// The mesh header, tag included; not its sections.
void appendMeshHeader(Bytes& out, const Mesh& mesh);
// The section header, tag included, and its four arrays; a triangle's fourth
// number, which the reader drops, is written as 0xFFFF.
void appendSection(Bytes& out, const MeshSection& section);
// The whole model.
Bytes encodeModel(const Model& model);
// The whole model into `out`, a section at a time; false when it failed.
bool writeModel(const Model& model, std::ostream& out);

void appendU32(Bytes& out, std::uint32_t value);
void appendF32(Bytes& out, float value);

} // namespace ulv
