#include "model/model.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

namespace {

// Internal, so that the loop below can inline it; an exported function may be
// replaced at link time and is called instead.
void movePoint(const std::array<float, 12>& m, float* point) {
    // The build disables floating-point contraction: a fused multiply-add
    // would change the last bit, which shows in six-decimal output.
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

} // namespace

void transformPoint(const Transform& transform, float* point) { movePoint(transform.m, point); }

void transformPoints(const Transform& transform, float* points, std::size_t count) {
    // A copy: the matrix could alias the points, which would reload it per point.
    const std::array<float, 12> m = transform.m;
    std::size_t k = 0;
#if defined(__SSE2__)
    // Two points at a time, each through the same operations in the same
    // order as movePoint: the results are the same to the bit.
    __m128d c[12];
    for (std::size_t i = 0; i < 12; ++i)
        c[i] = _mm_set1_pd(double{m[i]});
    const auto row = [&c](std::size_t i, __m128d x, __m128d y, __m128d z) {
        return _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(c[i], x), _mm_mul_pd(c[i + 3], y)),
                                     _mm_mul_pd(c[i + 6], z)),
                          c[i + 9]);
    };
    for (; k + 2 <= count; k += 2) {
        float* p = points + 3 * k;
        const __m128d x = _mm_set_pd(p[3], p[0]);
        const __m128d y = _mm_set_pd(p[4], p[1]);
        const __m128d z = _mm_set_pd(p[5], p[2]);
        const __m128d t[3] = {row(0, x, y, z), row(1, x, y, z), row(2, x, y, z)};
        for (std::size_t i = 0; i < 3; ++i) {
            p[i] = static_cast<float>(_mm_cvtsd_f64(t[i]));
            p[3 + i] = static_cast<float>(_mm_cvtsd_f64(_mm_unpackhi_pd(t[i], t[i])));
        }
    }
#endif
    for (; k < count; ++k)
        movePoint(m, points + 3 * k);
}

} // namespace ulv
