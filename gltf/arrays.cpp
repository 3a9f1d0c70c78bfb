#include "gltf/arrays.h"

#include <algorithm>
#include <limits>

#include "model/transform.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ulv {

std::uint64_t movePositions(const Transform& transform, float* position, std::size_t count,
                            float (&lo)[3], float (&hi)[3]) {
    transformPoints(transform, position, count);
    // Locals: the bounds could alias the positions.
    float l[3], h[3];
    std::copy_n(lo, 3, l);
    std::copy_n(hi, 3, h);
    std::uint64_t nonFinite = 0;
    std::size_t k = 0;
#if defined(__SSE2__)
    // Four positions, twelve numbers, at a time: number i of a block is
    // component i % 3, so each lane of the three registers keeps one component.
    const __m128 zero = _mm_setzero_ps();
    __m128 blockLo[3], blockHi[3];
    for (int r = 0; r < 3; ++r) {
        blockLo[r] = _mm_set1_ps(std::numeric_limits<float>::infinity());
        blockHi[r] = _mm_set1_ps(-std::numeric_limits<float>::infinity());
    }
    for (; k + 4 <= count; k += 4, position += 12) {
        for (int r = 0; r < 3; ++r) {
            const __m128 v = _mm_loadu_ps(position + 4 * r);
            const __m128 bad = _mm_cmpneq_ps(_mm_sub_ps(v, v), zero); // NaN or infinite
            // The set bits of a 4-bit mask; std::popcount may be a call.
            nonFinite += (0x4332322132212110u >> (4 * _mm_movemask_ps(bad))) & 15;
            const __m128 w = _mm_andnot_ps(bad, v);
            _mm_storeu_ps(position + 4 * r, w);
            const __m128 key = _mm_add_ps(w, zero);
            blockLo[r] = _mm_min_ps(key, blockLo[r]);
            blockHi[r] = _mm_max_ps(key, blockHi[r]);
        }
    }
    float lanes[2][12];
    for (int r = 0; r < 3; ++r) {
        _mm_storeu_ps(lanes[0] + 4 * r, blockLo[r]);
        _mm_storeu_ps(lanes[1] + 4 * r, blockHi[r]);
    }
    for (int i = 0; i < 12; ++i) {
        l[i % 3] = std::min(l[i % 3], lanes[0][i]);
        h[i % 3] = std::max(h[i % 3], lanes[1][i]);
    }
#endif
    for (; k < count; ++k, position += 3) {
        for (int i = 0; i < 3; ++i) {
            const float v = position[i];
            const bool bad = !(v - v == 0);
            nonFinite += bad;
            const float w = bad ? 0.0f : v;
            position[i] = w;
            const float key = w + 0.0f;
            l[i] = std::min(l[i], key);
            h[i] = std::max(h[i], key);
        }
    }
    std::copy_n(l, 3, lo);
    std::copy_n(h, 3, hi);
    return nonFinite;
}

std::uint64_t zeroNonFinite(float* values, std::size_t count) {
    std::uint64_t replaced = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const bool bad = !(values[i] - values[i] == 0);
        replaced += bad;
        values[i] = bad ? 0.0f : values[i];
    }
    return replaced;
}

std::uint64_t countNonFinite(const float* values, std::size_t count) {
    std::uint64_t bad = 0;
    for (std::size_t i = 0; i < count; ++i)
        bad += !(values[i] - values[i] == 0);
    return bad;
}

std::uint64_t countKept(const std::uint32_t* index, std::size_t triangles, std::size_t vertices) {
    std::uint64_t kept = 0;
    for (std::size_t t = 0; t < triangles; ++t, index += 3)
        kept += (index[0] < vertices) & (index[1] < vertices) & (index[2] < vertices);
    return kept;
}

std::size_t keepTriangles(std::uint32_t* corners, std::size_t triangles, std::size_t vertices) {
    std::uint32_t* dst = corners;
    const std::uint32_t* src = corners;
    for (std::size_t t = 0; t < triangles; ++t, src += 3) {
        const std::uint32_t a = src[0], b = src[1], c = src[2];
        const bool keep = a < vertices && b < vertices && c < vertices;
        // Written always, advanced only when kept: no branch per triangle.
        dst[0] = a;
        dst[1] = b;
        dst[2] = c;
        dst += 3 * keep;
    }
    return static_cast<std::size_t>(dst - corners) / 3;
}

bool windsAgainst(const float* a, const float* b, const float* c, const float* na, const float* nb,
                  const float* nc) {
    double u[3], v[3], sum[3];
    for (int i = 0; i < 3; ++i) {
        u[i] = double{b[i]} - double{a[i]};
        v[i] = double{c[i]} - double{a[i]};
        sum[i] = double{na[i]} + double{nb[i]} + double{nc[i]};
    }
    const double face[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                            u[0] * v[1] - u[1] * v[0]};
    // Below zero only when both are finite and point apart; NaN compares false.
    return face[0] * sum[0] + face[1] * sum[1] + face[2] * sum[2] < 0;
}

void findAgainst(const std::uint32_t* corners, std::size_t count, std::size_t vertices,
                 const float* positions, const float* normals, std::uint32_t firstKept,
                 TriangleRuns& runs) {
    std::uint32_t kept = firstKept;
    for (std::size_t t = 0; t < count; ++t, corners += 3) {
        const std::uint32_t a = corners[0], b = corners[1], c = corners[2];
        if (a >= vertices || b >= vertices || c >= vertices)
            continue;
        if (windsAgainst(positions + 3 * a, positions + 3 * b, positions + 3 * c, normals + 3 * a,
                         normals + 3 * b, normals + 3 * c)) {
            if (!runs.empty() && runs.back().second + 1 == kept)
                runs.back().second = kept;
            else
                runs.emplace_back(kept, kept);
        }
        ++kept;
    }
}

void reverseTriangles(std::uint32_t* corners, std::size_t count, std::uint32_t firstKept,
                      const TriangleRuns& runs) {
    const std::uint64_t end = std::uint64_t{firstKept} + count;
    // The first run that ends at or after the first triangle here.
    auto run = std::lower_bound(runs.begin(), runs.end(), firstKept,
                                [](const auto& r, std::uint32_t k) { return r.second < k; });
    for (; run != runs.end() && run->first < end; ++run) {
        const std::uint64_t from = std::max<std::uint64_t>(run->first, firstKept);
        const std::uint64_t to = std::min<std::uint64_t>(std::uint64_t{run->second} + 1, end);
        for (std::uint64_t k = from; k < to; ++k)
            std::swap(corners[3 * (k - firstKept) + 1], corners[3 * (k - firstKept) + 2]);
    }
}

} // namespace ulv
