#include "mod/reader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iostream>

#include "mod/input.h"
#include "mod/layout.h"
#include "mod/section_hook.h"
#include "platform/huge_pages.h"

namespace ulv {
namespace {

constexpr const char* kNoMesh = "Not a valid model file! Unable to find MESH section!";
constexpr const char* kNoSection =
    "Not a valid model file! Unable to find valid mesh section header!";
constexpr const char* kTruncated = "Not a valid model file! Unexpected end of file!";

using layout::loadF32;
using layout::loadU32;

// Reads a fixed-size header whole; fields are decoded from the bytes.
template <std::size_t N> std::array<std::uint8_t, N> readHeader(InputBuffer& input) {
    std::array<std::uint8_t, N> bytes;
    if (!input.read(bytes.data(), N))
        throw TextError(kTruncated);
    return bytes;
}

void readWords(const std::uint8_t* p, std::uint32_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        out[i] = loadU32(p + 4 * i);
}

// Arrays grow a chunk at a time, so that a count the input cannot back is
// never turned into an allocation; the size is reserved when it is known to fit.
template <typename T> void prepare(InputBuffer& input, std::vector<T>& out, std::size_t count) {
    out.clear();
    if (input.remaining() && count > out.capacity()) {
        out = std::vector<T>();
        out.reserve(count);
        adviseHugePages(out.data(), count * sizeof(T), true);
    }
}

// Floats as stored; on a little-endian host the bytes already are the values.
void readFloats(InputBuffer& input, std::vector<float>& out, std::size_t count) {
    prepare(input, out, count);
    const std::size_t perChunk = 4 * input.chunkSize() / sizeof(float);
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(perChunk, count - done);
        out.resize(done + n);
        if (!input.read(out.data() + done, n * sizeof(float)))
            throw TextError(kTruncated);
        done += n;
    }
    if constexpr (std::endian::native != std::endian::little)
        for (float& value : out)
            value = loadF32(reinterpret_cast<const std::uint8_t*>(&value));
}

// The fourth number of each triangle is dropped.
void readIndices(InputBuffer& input, std::vector<std::uint32_t>& out, std::size_t triangles) {
    prepare(input, out, 3 * triangles);
    const std::size_t perChunk = input.chunkSize() / layout::triangleSize;
    for (std::size_t done = 0; done < triangles;) {
        const std::size_t n = std::min(perChunk, triangles - done);
        const std::uint8_t* p = input.take(layout::triangleSize * n);
        if (!p)
            throw TextError(kTruncated);
        out.resize(3 * (done + n));
        std::uint32_t* dst = out.data() + 3 * done;
        for (std::size_t t = 0; t < n; ++t, p += layout::triangleSize, dst += 3)
            layout::loadTriangle(p, dst);
        done += n;
    }
}

void say(std::ostream& dump, const char* label, std::uint32_t value) {
    dump << label << value << std::endl;
}

Mesh readMeshHeader(InputBuffer& input, std::ostream* dump) {
    const auto bytes = readHeader<layout::meshHeaderSize>(input);
    Mesh mesh;
    mesh.tag = MESH_TAG;
    for (std::size_t k = 0; k < 12; ++k)
        mesh.transform.m[k] = loadF32(bytes.data() + layout::transformAt + 4 * k);
    mesh.sectionCount = loadU32(bytes.data() + layout::sectionCountAt);
    readWords(bytes.data() + layout::meshWordsAt, mesh.opaqueWords.data(), mesh.opaqueWords.size());
    if (dump) {
        *dump << "Transformation matrix: " << std::endl;
        const auto& m = mesh.transform.m;
        for (std::size_t r = 0; r < 4; ++r)
            *dump << "[ " << m[3 * r] << " " << m[3 * r + 1] << " " << m[3 * r + 2] << "]"
                  << std::endl;
        say(*dump, "Num mesh sections: ", mesh.sectionCount);
    }
    return mesh;
}

// `spare`: arrays whose memory may be reused.
MeshSection readSection(InputBuffer& input, std::ostream* dump, MeshSection& spare) {
    const auto bytes = readHeader<layout::sectionHeaderSize>(input);
    MeshSection section;
    swapArrays(section, spare);
    section.tag = MGRP_TAG;
    std::memcpy(section.materialName.data(), bytes.data() + layout::materialNameAt,
                section.materialName.size());
    section.opaqueWord1 = loadU32(bytes.data() + layout::opaqueWord1At);
    section.faceCount = loadU32(bytes.data() + layout::faceCountAt);
    section.vertexCount = loadU32(bytes.data() + layout::vertexCountAt);
    section.triangleCount = loadU32(bytes.data() + layout::triangleCountAt);
    section.lodCount = loadU32(bytes.data() + layout::lodCountAt);
    section.opaqueWord2 = loadU32(bytes.data() + layout::opaqueWord2At);
    if (dump) {
        say(*dump, "Num faces: ", section.faceCount);
        say(*dump, "Num verts:", section.vertexCount);
        say(*dump, "Num triangles: ", section.triangleCount);
        say(*dump, "Num LODs: ", section.lodCount);
    }
    // Counts come from the file: refuse those the rest of the file cannot
    // hold before allocating for them.
    const std::uint64_t vertices = section.vertexCount;
    const std::uint64_t triangles = section.triangleCount;
    const std::optional<std::uint64_t> left = input.remaining();
    if (left && layout::arraysSize(vertices, triangles) > *left)
        throw TextError(kTruncated);
    readFloats(input, section.positions, 3 * vertices);
    readFloats(input, section.normals, 3 * vertices);
    readFloats(input, section.texCoords, 2 * vertices);
    readIndices(input, section.indices, triangles);
    return section;
}

Model read(InputBuffer& input, std::ostream* dump, const SectionHook* onSection = nullptr,
           ModelPlaces* places = nullptr) {
    const auto header = readHeader<layout::fileHeaderSize>(input);
    Model model;
    MeshSection spare;
    std::memcpy(model.tag.data(), header.data() + layout::fileTagAt, model.tag.size());
    model.minorVersion = header[layout::minorVersionAt];
    model.majorVersion = header[layout::majorVersionAt];
    model.opaqueShort =
        static_cast<std::uint16_t>(layout::loadU16(header.data() + layout::opaqueShortAt));
    model.numMeshes = loadU32(header.data() + layout::numMeshesAt);
    model.size = loadU32(header.data() + layout::sizeAt);
    readWords(header.data() + layout::fileWordsAt, model.opaqueWords.data(),
              model.opaqueWords.size());
    if (dump) {
        say(*dump, "Minor version: ", model.minorVersion);
        say(*dump, "Major version: ", model.majorVersion);
        say(*dump, "numMeshes: ", model.numMeshes);
        say(*dump, "size: ", model.size);
    }
    if (layout::hasVersionExtension(model.minorVersion, model.majorVersion)) {
        const auto extension = readHeader<layout::versionExtensionSize>(input);
        readWords(extension.data(), model.versionExtension.data(), model.versionExtension.size());
    }
    if (places)
        places->headerEnd = input.position();
    for (std::uint32_t i = 0; i < model.numMeshes; ++i) {
        if (!findTag(input, MESH_TAG))
            throw TextError(kNoMesh);
        const std::uint64_t meshAt = input.position() - layout::tagSize;
        Mesh& mesh = model.meshes.emplace_back(readMeshHeader(input, dump));
        if (places)
            places->meshes.push_back({meshAt, input.position(), {}});
        for (std::uint32_t j = 0; j < mesh.sectionCount; ++j) {
            if (!findTag(input, MGRP_TAG))
                throw TextError(kNoSection);
            const std::uint64_t sectionAt = input.position() - layout::tagSize;
            const std::uint64_t arraysAt = input.position() + layout::sectionHeaderSize;
            MeshSection& section = mesh.sections.emplace_back(readSection(input, dump, spare));
            if (places)
                places->meshes.back().sections.push_back({sectionAt, input.position()});
            if (onSection) {
                (*onSection)(mesh, section, arraysAt);
                swapArrays(section, spare); // spare's arrays are empty here
            }
        }
    }
    return model;
}

} // namespace

Model readModel(std::istream& stream) { return readModel(stream, verbose ? &std::cout : nullptr); }

Model readModel(const std::uint8_t* data, std::size_t size) {
    return readModel(data, size, verbose ? &std::cout : nullptr);
}

Model readModel(std::istream& stream, std::ostream* dump) {
    InputBuffer input(stream);
    return read(input, dump);
}

Model readModel(std::istream& stream, std::ostream* dump, const SectionHook& onSection) {
    InputBuffer input(stream);
    return read(input, dump, &onSection);
}

Model readModel(const std::uint8_t* data, std::size_t size, std::ostream* dump) {
    InputBuffer input(data, size);
    return read(input, dump);
}

Model readModel(InputBuffer& input, std::ostream* dump) { return read(input, dump); }

Model readModel(const std::uint8_t* data, std::size_t size, ModelPlaces& places) {
    InputBuffer input(data, size);
    return read(input, nullptr, nullptr, &places);
}

} // namespace ulv
