#include "model/model.h"

#include <algorithm>
#include <cstring>

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

void transformPoint(const Transform& transform, float* point) {
    // The build disables floating-point contraction: a fused multiply-add
    // would change the last bit, which shows in six-decimal output.
    const auto& m = transform.m;
    const double x = point[0];
    const double y = point[1];
    const double z = point[2];
    const double tx = double{m[0]} * x + double{m[3]} * y + double{m[6]} * z + double{m[9]};
    const double ty = double{m[1]} * x + double{m[4]} * y + double{m[7]} * z + double{m[10]};
    const double tz = double{m[2]} * x + double{m[5]} * y + double{m[8]} * z + double{m[11]};
    point[0] = static_cast<float>(tx);
    point[1] = static_cast<float>(ty);
    point[2] = static_cast<float>(tz);
}

} // namespace ulv
