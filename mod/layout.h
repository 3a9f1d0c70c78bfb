// The model file's byte layout, in one place for the reader, the writer and
// whatever reads a section's arrays again: fixed-size little-endian headers,
// each block after the first found by its 4-byte tag, and each section's
// four arrays right after its header.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace ulv::layout {

// The file header; the version extension follows it only for version 1.9.
inline constexpr std::size_t fileHeaderSize = 24;
inline constexpr std::size_t versionExtensionSize = 24;
inline constexpr std::size_t fileTagAt = 0, minorVersionAt = 4, majorVersionAt = 5,
                             opaqueShortAt = 6, numMeshesAt = 8, sizeAt = 12, fileWordsAt = 16;

inline constexpr bool hasVersionExtension(std::uint8_t minor, std::uint8_t major) {
    return minor == 9 && major == 1;
}

inline constexpr std::size_t tagSize = 4;

// A mesh header after its tag.
inline constexpr std::size_t meshHeaderSize = 76;
inline constexpr std::size_t transformAt = 0, sectionCountAt = 48, meshWordsAt = 52;

// A section header after its tag; the arrays follow it directly.
inline constexpr std::size_t sectionHeaderSize = 56;
inline constexpr std::size_t materialNameAt = 0, opaqueWord1At = 32, faceCountAt = 36,
                             vertexCountAt = 40, triangleCountAt = 44, lodCountAt = 48,
                             opaqueWord2At = 52;

// Per vertex: x, y, z of its position, then of its normal, then u, v; each
// kind is one array for the whole section.
inline constexpr std::size_t positionSize = 12, normalSize = 12, texCoordSize = 8;
inline constexpr std::size_t vertexSize = positionSize + normalSize + texCoordSize;

// Where each array starts, in bytes after the section header, for a section
// of `vertices` vertices.
inline constexpr std::uint64_t positionsAt(std::uint64_t) { return 0; }
inline constexpr std::uint64_t normalsAt(std::uint64_t vertices) { return positionSize * vertices; }
inline constexpr std::uint64_t texCoordsAt(std::uint64_t vertices) {
    return (positionSize + normalSize) * vertices;
}
inline constexpr std::uint64_t trianglesAt(std::uint64_t vertices) { return vertexSize * vertices; }

// A triangle: four 16-bit numbers, the vertices a, b and c, local to the
// section, and a fourth that nothing reads.
inline constexpr std::size_t triangleSize = 8;
inline constexpr std::uint16_t unusedCorner = 0xFFFF; // what the fourth is written as

inline constexpr std::uint64_t arraysSize(std::uint64_t vertices, std::uint64_t triangles) {
    return vertexSize * vertices + triangleSize * triangles;
}

inline std::uint32_t loadU16(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8;
}

inline std::uint32_t loadU32(const std::uint8_t* p) { return loadU16(p) | loadU16(p + 2) << 16; }

inline float loadF32(const std::uint8_t* p) { return std::bit_cast<float>(loadU32(p)); }

inline void storeU16(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void storeU32(std::uint8_t* p, std::uint32_t value) {
    storeU16(p, value);
    storeU16(p + 2, value >> 16);
}

// The three corners of a stored triangle.
inline void loadTriangle(const std::uint8_t* p, std::uint32_t* corners) {
    corners[0] = loadU16(p);
    corners[1] = loadU16(p + 2);
    corners[2] = loadU16(p + 4);
}

} // namespace ulv::layout
