// The in-memory model: one record per block of a .MOD file, every field kept
// in file order, also those nothing interprets, so a model can be written
// back byte for byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ulv {

inline constexpr std::uint32_t MESH_TAG = 0x4D455348; // "HSEM" on disk
inline constexpr std::uint32_t MGRP_TAG = 0x4D475250; // "PRGM" on disk

// Twelve floats m0..m11, four rows of three: the images of the x, y and z
// axes, then the translation.
struct Transform {
    std::array<float, 12> m{};
};

struct MeshSection {
    std::uint32_t tag = 0;
    std::array<char, 32> materialName{}; // NUL-padded, not necessarily terminated
    std::uint32_t opaqueWord1 = 0;
    std::uint32_t faceCount = 0;
    std::uint32_t vertexCount = 0;
    std::uint32_t triangleCount = 0;
    std::uint32_t lodCount = 0;
    std::uint32_t opaqueWord2 = 0;
    std::vector<float> positions;       // x, y, z per vertex
    std::vector<float> normals;         // x, y, z per vertex
    std::vector<float> texCoords;       // u, v per vertex
    std::vector<std::uint32_t> indices; // a, b, c per triangle, local to the section
};

struct Mesh {
    std::uint32_t tag = 0;
    Transform transform;
    std::uint32_t sectionCount = 0;
    std::array<std::uint32_t, 6> opaqueWords{};
    std::vector<MeshSection> sections;
};

struct Model {
    std::array<char, 4> tag{};
    std::uint8_t minorVersion = 0;
    std::uint8_t majorVersion = 0;
    std::uint16_t opaqueShort = 0;
    std::uint32_t numMeshes = 0;
    std::uint32_t size = 0;
    std::array<std::uint32_t, 2> opaqueWords{};
    std::array<std::uint32_t, 6> versionExtension{}; // on disk only for version 1.9
    std::vector<Mesh> meshes;
};

// The reader's only exception: a fixed message and nothing else.
class TextError {
  public:
    explicit constexpr TextError(const char* message) noexcept : message_(message) {}
    constexpr const char* what() const noexcept { return message_; }

  private:
    const char* message_;
};

// Lines for the console about what a conversion leaves out or changes
// (textures that could not be used, triangles with a corner past their
// section's vertices, ...); they do not make it fail.
using Notes = std::vector<std::string>;

// Set by "-v" before a read starts; makes the reader dump the headers.
extern bool verbose;

// The material name: the bytes up to the first NUL, at most 32.
std::string materialNameOf(const MeshSection& section);

// 8-bit text such as a material name in UTF-8, bytes 0x80-0xFF read as
// Latin-1, which the game's Windows code page matches closely enough.
std::string latin1ToUtf8(std::string_view text);

// How many vertices and triangles a section's arrays hold. The counts drive
// the writers; the array sizes only cap them, so that a model built by hand
// with short arrays is never read out of bounds.
std::size_t vertexLimit(const MeshSection& section);
std::size_t faceLimit(const MeshSection& section);

// Trades the four arrays of two sections, so that their memory is reused.
void swapArrays(MeshSection& a, MeshSection& b);

} // namespace ulv
