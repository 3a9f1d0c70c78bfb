#include "gltf/inverse.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "gltf/arrays.h"

namespace ulv {
namespace {

using Matrix = double[3][3];

// The inverse of `a`; where `a` is singular or nearly so, the inverse of
// `a` plus a little of the identity, which maps into the space `a` reaches.
void inverseOf(const Matrix& a, Matrix& out) {
    double scale = 0;
    for (const auto& row : a)
        for (const double v : row)
            scale = std::max(scale, std::abs(v));
    if (!(scale > 0) || !std::isfinite(scale)) {
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                out[i][j] = i == j;
        return;
    }
    for (double ridge : {0.0, 1e-9, 1e-6}) {
        Matrix m;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                m[i][j] = a[i][j] + (i == j ? ridge * scale : 0);
        double c[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
                c[i][j] = m[i1][j1] * m[i2][j2] - m[i1][j2] * m[i2][j1];
            }
        const double det = m[0][0] * c[0][0] + m[0][1] * c[0][1] + m[0][2] * c[0][2];
        if (std::abs(det) > 1e-12 * scale * scale * scale) {
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    out[i][j] = c[j][i] / det;
            return;
        }
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i][j] = 0;
}

void apply(const Matrix& m, const double (&v)[3], double (&out)[3]) {
    for (int i = 0; i < 3; ++i)
        out[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
}

bool sameBits(const float* a, const float* b) { return std::memcmp(a, b, 12) == 0; }

double distance(const float* a, const float* b) {
    double d = 0;
    for (int i = 0; i < 3; ++i) {
        const double e = std::abs(double{a[i]} - double{b[i]});
        d = std::max(d, std::isnan(e) ? std::numeric_limits<double>::infinity() : e);
    }
    return d;
}

float step(float value, int ulps) {
    const float toward = ulps > 0 ? std::numeric_limits<float>::infinity()
                                  : -std::numeric_limits<float>::infinity();
    for (int k = 0; k < std::abs(ulps); ++k)
        value = std::nextafter(value, toward);
    return value;
}

// Tries `start` and the floats up to `reach` steps from it in each
// coordinate, nearest first, until `image` of one is `target`. Keeps the
// nearest image seen in `best`.
template <typename Image>
bool search(const float (&start)[3], int reach, const float* target, const Image& image,
            float (&best)[3], double& bestDistance) {
    for (int radius = 0; radius <= reach; ++radius) {
        for (int dx = -radius; dx <= radius; ++dx)
            for (int dy = -radius; dy <= radius; ++dy)
                for (int dz = -radius; dz <= radius; ++dz) {
                    if (std::max({std::abs(dx), std::abs(dy), std::abs(dz)}) != radius)
                        continue;
                    const float candidate[3] = {step(start[0], dx), step(start[1], dy),
                                                step(start[2], dz)};
                    float moved[3];
                    if (!image(candidate, moved))
                        continue;
                    if (sameBits(moved, target)) {
                        std::copy_n(candidate, 3, best);
                        bestDistance = 0;
                        return true;
                    }
                    const double d = distance(moved, target);
                    if (d < bestDistance) {
                        bestDistance = d;
                        std::copy_n(candidate, 3, best);
                    }
                }
    }
    return false;
}

void toFloats(const double (&v)[3], float (&out)[3]) {
    for (int i = 0; i < 3; ++i)
        out[i] = static_cast<float>(v[i]);
}

} // namespace

PositionInverse::PositionInverse(const Transform& transform) : transform_(transform) {
    Matrix a; // column-vector form: p'_i = sum_j a[i][j] p_j + t_i
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            a[i][j] = transform.m[static_cast<std::size_t>(3 * j + i)];
    inverseOf(a, solve_);
}

bool PositionInverse::storedFor(const float* target, float* stored) const {
    const auto image = [this](const float (&p)[3], float (&moved)[3]) {
        std::copy_n(p, 3, moved);
        float lo[3], hi[3];
        movePositions(transform_, moved, 1, lo, hi);
        return true;
    };
    const double offset[3] = {double{target[0]} - transform_.m[9],
                              double{target[1]} - transform_.m[10],
                              double{target[2]} - transform_.m[11]};
    double solved[3];
    apply(solve_, offset, solved);
    float start[3];
    toFloats(solved, start);
    float best[3] = {start[0], start[1], start[2]};
    double bestDistance = std::numeric_limits<double>::infinity();
    bool found = search(start, 1, target, image, best, bestDistance);
    if (!found) {
        // One step of refinement from the remainder, then a wider look.
        float moved[3];
        image(best, moved);
        const double rest[3] = {double{target[0]} - moved[0], double{target[1]} - moved[1],
                                double{target[2]} - moved[2]};
        double correction[3];
        apply(solve_, rest, correction);
        float refined[3];
        for (int i = 0; i < 3; ++i)
            refined[i] = static_cast<float>(double{best[i]} + correction[i]);
        found = std::isfinite(correction[0] + correction[1] + correction[2]) &&
                search(refined, 2, target, image, best, bestDistance);
        if (!found) {
            const float as[3] = {target[0], target[1], target[2]};
            found = search(as, 0, target, image, best, bestDistance);
        }
    }
    std::copy_n(best, 3, stored);
    return found;
}

NormalInverse::NormalInverse(const Transform& transform)
    : matrix_(normalMatrixOf(transform)) {
    inverseOf(matrix_.c, solve_);
}

bool NormalInverse::storedFor(const float* target, float* stored) const {
    const auto image = [this](const float (&n)[3], float (&moved)[3]) {
        std::copy_n(n, 3, moved);
        return moveNormals(matrix_, moved, 1);
    };
    const double t[3] = {target[0], target[1], target[2]};
    double direction[3];
    apply(solve_, t, direction);
    // Scaling does not change where a normal points, but it changes how it
    // rounds: several lengths give several chances of an exact match.
    const double length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                                    direction[2] * direction[2]);
    float best[3] = {target[0], target[1], target[2]};
    double bestDistance = std::numeric_limits<double>::infinity();
    bool found = false;
    if (length > 0 && std::isfinite(length)) {
        for (const double scale : {1.0, 0.75, 1.5, 0.625, 1.25, 0.875, 1.75}) {
            const double v[3] = {direction[0] / length * scale, direction[1] / length * scale,
                                 direction[2] / length * scale};
            float start[3];
            toFloats(v, start);
            if ((found = search(start, 1, target, image, best, bestDistance)))
                break;
        }
    }
    if (!found) {
        const float as[3] = {target[0], target[1], target[2]};
        found = search(as, 1, target, image, best, bestDistance);
    }
    std::copy_n(best, 3, stored);
    return found;
}

} // namespace ulv
