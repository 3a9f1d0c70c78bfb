#include "model/model.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace ulv {

bool verbose = false;

std::string materialNameOf(const MeshSection& section) {
    const char* name = section.materialName.data();
    const void* nul = std::memchr(name, '\0', section.materialName.size());
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - name)
                                   : section.materialName.size();
    return std::string(name, length);
}

std::string latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | byte >> 6);
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

std::size_t vertexLimit(const MeshSection& section) {
    return std::min({std::size_t{section.vertexCount}, section.positions.size() / 3,
                     section.normals.size() / 3, section.texCoords.size() / 2});
}

std::size_t faceLimit(const MeshSection& section) {
    return std::min(std::size_t{section.triangleCount}, section.indices.size() / 3);
}

void swapArrays(MeshSection& a, MeshSection& b) {
    std::swap(a.positions, b.positions);
    std::swap(a.normals, b.normals);
    std::swap(a.texCoords, b.texCoords);
    std::swap(a.indices, b.indices);
}

} // namespace ulv
