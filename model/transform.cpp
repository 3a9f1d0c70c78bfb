#include "model/transform.h"

#include <array>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ulv {
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

#if defined(__SSE2__)
// Two normals at a time through the same operations in the same order as the
// scalar loops below, so the results are the same to the bit.
struct NormalPair {
    __m128d out[3];
    __m128d square;

    NormalPair(const NormalMatrix& n, const float* p) {
        const __m128d x = _mm_set_pd(p[3], p[0]);
        const __m128d y = _mm_set_pd(p[4], p[1]);
        const __m128d z = _mm_set_pd(p[5], p[2]);
        for (int i = 0; i < 3; ++i)
            out[i] = _mm_add_pd(_mm_add_pd(_mm_mul_pd(_mm_set1_pd(n.c[i][0]), x),
                                           _mm_mul_pd(_mm_set1_pd(n.c[i][1]), y)),
                                _mm_mul_pd(_mm_set1_pd(n.c[i][2]), z));
        square = _mm_add_pd(_mm_add_pd(_mm_mul_pd(out[0], out[0]), _mm_mul_pd(out[1], out[1])),
                            _mm_mul_pd(out[2], out[2]));
    }
};

// Both lanes above zero and finite.
bool bothDirected(__m128d v) {
    const __m128d zero = _mm_setzero_pd();
    const __m128d good = _mm_and_pd(_mm_cmpgt_pd(v, zero), _mm_cmpeq_pd(_mm_sub_pd(v, v), zero));
    return _mm_movemask_pd(good) == 3;
}
#endif

// One normal moved by the matrix, unscaled; returns its squared length.
double moveOne(const NormalMatrix& c, const float* normal, double (&out)[3]) {
    const double x = normal[0], y = normal[1], z = normal[2];
    for (int i = 0; i < 3; ++i)
        out[i] = c.c[i][0] * x + c.c[i][1] * y + c.c[i][2] * z;
    return out[0] * out[0] + out[1] * out[1] + out[2] * out[2];
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

NormalMatrix normalMatrixOf(const Transform& transform) {
    // a[i][j]: row i of the column-vector form, p'_i = sum_j a[i][j] * p_j.
    double a[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            a[i][j] = transform.m[static_cast<std::size_t>(3 * j + i)];
    NormalMatrix n{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            n.c[i][j] = a[i1][j1] * a[i2][j2] - a[i1][j2] * a[i2][j1];
        }
    }
    const double det = a[0][0] * n.c[0][0] + a[0][1] * n.c[0][1] + a[0][2] * n.c[0][2];
    if (det < 0)
        for (auto& row : n.c)
            for (double& v : row)
                v = -v;
    return n;
}

// No early exit, so that the loop stays free of branches.
bool moveNormals(const NormalMatrix& n, float* normals, std::size_t count) {
    const NormalMatrix c = n;
    bool ok = true;
    std::size_t k = 0;
#if defined(__SSE2__)
    for (; k + 2 <= count; k += 2) {
        float* p = normals + 3 * k;
        const NormalPair pair(c, p);
        const __m128d length = _mm_sqrt_pd(pair.square);
        ok &= bothDirected(length);
        const __m128d scale = _mm_div_pd(_mm_set1_pd(1.0), length);
        for (int i = 0; i < 3; ++i) {
            const __m128d v = _mm_mul_pd(pair.out[i], scale);
            p[i] = static_cast<float>(_mm_cvtsd_f64(v));
            p[3 + i] = static_cast<float>(_mm_cvtsd_f64(_mm_unpackhi_pd(v, v)));
        }
    }
#endif
    for (; k < count; ++k) {
        float* normal = normals + 3 * k;
        double out[3];
        const double length = std::sqrt(moveOne(c, normal, out));
        ok &= length > 0 && length - length == 0;
        const double scale = 1 / length;
        for (int i = 0; i < 3; ++i)
            normal[i] = static_cast<float>(out[i] * scale);
    }
    return ok;
}

// The squared length decides as the length does.
bool normalsHaveDirection(const NormalMatrix& n, const float* normals, std::size_t count) {
    const NormalMatrix c = n;
    bool ok = true;
    std::size_t k = 0;
#if defined(__SSE2__)
    for (; k + 2 <= count; k += 2)
        ok &= bothDirected(NormalPair(c, normals + 3 * k).square);
#endif
    for (; k < count; ++k) {
        double out[3];
        const double square = moveOne(c, normals + 3 * k, out);
        ok &= square > 0 && square - square == 0;
    }
    return ok;
}

} // namespace ulv
