// The model's own fields that glTF has no place for, carried in `extras` so
// that a model file made from the glTF keeps them. Every value is one string
// of hexadecimal numbers: Blender keeps extras as custom properties and
// writes them back, but its integers are 32-bit and signed, and strings
// survive every program. Fields that the model's counts decide (the number of
// meshes and of sections, vertex and triangle counts) are not carried: they
// follow what the file holds.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gltf/arrays.h"
#include "model/model.h"

namespace ulv {

inline constexpr std::string_view headerKey = "ulvane_header";     // on the scene
inline constexpr std::string_view meshKey = "ulvane_mesh";         // on each node
inline constexpr std::string_view sectionsKey = "ulvane_sections"; // on each mesh, or node
inline constexpr std::string_view nameKey = "ulvane_name";         // on each material
inline constexpr std::string_view storedKey = "ulvane_stored";     // on a mesh, or node

// The file header: its tag, versions, opaqueShort, size, opaqueWords and
// versionExtension. The read forms set those fields only, and only when the
// whole text is well formed.
std::string headerExtras(const Model& model);
bool readHeaderExtras(std::string_view text, Model& model);

// A mesh's transform and opaqueWords.
std::string meshExtras(const Mesh& mesh);
bool readMeshExtras(std::string_view text, Mesh& mesh);

// One section of a mesh: its whole material name field, opaqueWord1,
// faceCount, lodCount and opaqueWord2; whether it became a primitive; and
// which of its triangles the writer reversed.
struct SectionEntry {
    MeshSection fields; // without arrays; vertexCount and triangleCount unset
    bool primitive = true;
    TriangleRuns reversed;
    std::uint32_t triangles = 0; // the primitive's, when some were reversed
};

// A mesh's sections in file order, one entry each.
std::string sectionExtras(const std::vector<SectionEntry>& entries);
std::optional<std::vector<SectionEntry>> readSectionExtras(std::string_view text);

// A stored position or normal that going back would not find from the value
// glTF holds (a transform or values at the edge of what floats hold): the
// section, by its number in the mesh, and the vertex.
struct StoredValue {
    std::uint32_t section = 0, vertex = 0;
    bool normal = false;
    float value[3]{};
};
std::string storedExtras(const std::vector<StoredValue>& values);
std::optional<std::vector<StoredValue>> readStoredExtras(std::string_view text);

// A material's name bytes as the model holds them: a program that renames
// materials ("wood.001" where "wood" was taken) loses nothing.
std::string nameExtras(const std::string& name);
std::optional<std::string> readNameExtras(std::string_view text);

} // namespace ulv
