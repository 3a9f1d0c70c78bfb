#include "gltf/inverse.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

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
    // The determinant against the largest it could be for rows this long:
    // near 0 only when the rows nearly lie in a plane, whatever their sizes.
    double bound = 1;
    for (const auto& row : a)
        bound *= std::sqrt(row[0] * row[0] + row[1] * row[1] + row[2] * row[2]);
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
        if (std::abs(det) > 1e-12 * bound) {
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

// The float `ulps` steps from `value`, counting across 0 as floats are
// ordered (-0 and +0 one step apart); a step past the largest float is
// infinity.
float step(float value, int ulps) {
    if (ulps == 0 || !std::isfinite(value))
        return value;
    const auto bits = std::bit_cast<std::uint32_t>(value);
    // Floats in order as integers: negative ones below -1, +0 at 0.
    std::int64_t order = bits >> 31 ? -1 - std::int64_t{bits & 0x7FFFFFFFu} : std::int64_t{bits};
    order += ulps;
    constexpr std::int64_t largest = 0x7F800000; // infinity
    order = std::clamp(order, -1 - largest, largest);
    return std::bit_cast<float>(order < 0 ? static_cast<std::uint32_t>(-1 - order) | 0x80000000u
                                          : static_cast<std::uint32_t>(order));
}

// Tries `candidate`: true when its image is the target to the bit; otherwise
// keeps it in `best` when its image is nearer than any tried before.
template <typename Image> bool tryCandidate(const float (&candidate)[3], const float* target,
                                            const Image& image, float (&best)[3],
                                            double& bestDistance) {
    float moved[3];
    if (!image(candidate, moved))
        return false;
    const bool exact = sameBits(moved, target);
    const double d = exact ? 0 : distance(moved, target);
    if (exact || d < bestDistance) {
        bestDistance = d;
        std::copy_n(candidate, 3, best);
    }
    return exact;
}

template <typename Image> bool search(const float (&start)[3], int reach, const float* target,
                                      const Image& image, float (&best)[3], double& bestDistance) {
    for (int radius = 0; radius <= reach; ++radius) {
        for (int dx = -radius; dx <= radius; ++dx)
            for (int dy = -radius; dy <= radius; ++dy)
                for (int dz = -radius; dz <= radius; ++dz) {
                    if (std::max({std::abs(dx), std::abs(dy), std::abs(dz)}) != radius)
                        continue;
                    const float candidate[3] = {step(start[0], dx), step(start[1], dy),
                                                step(start[2], dz)};
                    if (tryCandidate(candidate, target, image, best, bestDistance))
                        return true;
                }
    }
    return false;
}

// As search(), moving only the coordinates not `fixed`.
template <typename Image> bool searchFree(const float (&start)[3], const bool (&fixed)[3],
                                          int reach, const float* target, const Image& image,
                                          float (&best)[3], double& bestDistance) {
    const int rx = fixed[0] ? 0 : reach, ry = fixed[1] ? 0 : reach, rz = fixed[2] ? 0 : reach;
    for (int dx = -rx; dx <= rx; ++dx)
        for (int dy = -ry; dy <= ry; ++dy)
            for (int dz = -rz; dz <= rz; ++dz) {
                const float candidate[3] = {step(start[0], dx), step(start[1], dy),
                                            step(start[2], dz)};
                if (tryCandidate(candidate, target, image, best, bestDistance))
                    return true;
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
    for (int i = 0; i < 3; ++i) {
        bool finite = std::isfinite(transform.m[static_cast<std::size_t>(9 + i)]);
        for (int j = 0; j < 3; ++j) {
            a[i][j] = transform.m[static_cast<std::size_t>(3 * j + i)];
            finite = finite && std::isfinite(a[i][j]);
        }
        // A coordinate computed with a number that is not finite is never
        // finite, so always written as 0: it constrains nothing.
        if (!finite)
            for (double& v : a[i])
                v = 0;
    }
    inverseOf(a, solve_);
}

namespace {

// Floats in [lo, hi], when at most `most`; the float nearest `centre` first.
bool floatsBetween(double lo, double hi, double centre, std::size_t most, std::vector<float>& out) {
    out.clear();
    float from = static_cast<float>(lo), to = static_cast<float>(hi);
    if (!std::isfinite(from) || !std::isfinite(to) || !(from <= to))
        return false;
    std::vector<float> all;
    for (float v = from; v <= to; v = std::nextafter(v, std::numeric_limits<float>::infinity())) {
        if (all.size() == most)
            return false;
        all.push_back(v);
    }
    std::sort(all.begin(), all.end(), [centre](float a, float b) {
        return std::abs(double{a} - centre) < std::abs(double{b} - centre);
    });
    out = std::move(all);
    return true;
}

double ulpOf(float value) {
    const float v = std::abs(value);
    return double{std::nextafter(v, std::numeric_limits<float>::infinity())} - v;
}

} // namespace

void PositionInverse::fitFree(float (&p)[3], const bool (&fixed)[3], const float* target) const {
    const std::array<float, 12>& m = transform_.m;
    double width[3];
    for (std::size_t i = 0; i < 3; ++i)
        width[i] = std::max(ulpOf(target[i]), std::numeric_limits<double>::denorm_min());
    // Each free coordinate in turn to the middle of the interval that every
    // output allows it, the others as they stand: outputs that a coordinate
    // does not reach leave it free, so a few rounds settle.
    for (int round = 0; round < 3; ++round) {
        for (std::size_t j = 0; j < 3; ++j) {
            if (fixed[j])
                continue;
            double lo = -std::numeric_limits<double>::infinity(), hi = -lo;
            for (std::size_t i = 0; i < 3; ++i) {
                const double a = m[3 * j + i];
                if (a == 0 || !std::isfinite(a))
                    continue;
                double given = double{m[9 + i]};
                for (std::size_t k = 0; k < 3; ++k)
                    if (k != j)
                        given += double{m[3 * k + i]} * p[k];
                double from = (double{target[i]} - width[i] / 2 - given) / a;
                double to = (double{target[i]} + width[i] / 2 - given) / a;
                if (from > to)
                    std::swap(from, to);
                lo = std::max(lo, from);
                hi = std::min(hi, to);
            }
            if (std::isfinite(lo) && std::isfinite(hi))
                p[j] = static_cast<float>((lo + hi) / 2);
        }
    }
}

namespace {

void solvePosition(const Transform& transform, const Matrix& solve, const float* target,
                   double (&solved)[3]) {
    double offset[3];
    for (std::size_t i = 0; i < 3; ++i) {
        offset[i] = double{target[i]} - transform.m[9 + i];
        if (!std::isfinite(offset[i]))
            offset[i] = 0;
    }
    apply(solve, offset, solved);
}

} // namespace

void PositionInverse::firstGuess(const float* target, float* guess) const {
    double solved[3];
    solvePosition(transform_, solve_, target, solved);
    for (int i = 0; i < 3; ++i)
        guess[i] = static_cast<float>(solved[i]);
}

bool PositionInverse::storedFor(const float* target, float* stored) const {
    const auto image = [this](const float(&p)[3], float(&moved)[3]) {
        std::copy_n(p, 3, moved);
        float lo[3], hi[3];
        movePositions(transform_, moved, 1, lo, hi);
        return true;
    };
    double solved[3];
    solvePosition(transform_, solve_, target, solved);
    float start[3];
    toFloats(solved, start);
    float best[3] = {start[0], start[1], start[2]};
    double bestDistance = std::numeric_limits<double>::infinity();
    // Most often the rounded solution or one a step away.
    if (search(start, 1, target, image, best, bestDistance)) {
        std::copy_n(best, 3, stored);
        return true;
    }
    // The stored positions that move into the target's rounding interval lie
    // in a small box around the solution: try every float in it along each
    // coordinate where there are few, and where there are many, solve for
    // those coordinates given the others.
    double reach[3];
    for (int j = 0; j < 3; ++j) {
        reach[j] = 0;
        for (int i = 0; i < 3; ++i)
            reach[j] += std::abs(solve_[j][i]) * ulpOf(target[i]);
    }
    // The coordinates with fewest floats in reach are tried one by one, as
    // many as a few thousand tries allow.
    std::vector<float> choices[3];
    bool fixed[3] = {false, false, false};
    std::size_t counts[3], order[3] = {0, 1, 2};
    for (std::size_t j = 0; j < 3; ++j) {
        std::vector<float> all;
        counts[j] = floatsBetween(solved[j] - reach[j], solved[j] + reach[j], solved[j], 65, all)
                        ? std::max<std::size_t>(all.size(), 1)
                        : 65;
        choices[j] = std::move(all);
    }
    std::sort(order, order + 3,
              [&](std::size_t a, std::size_t b) { return counts[a] < counts[b]; });
    // At most two: the third is always fitted to what the others leave.
    std::size_t tries = 1;
    for (const std::size_t j : {order[0], order[1]}) {
        if (counts[j] > 64 || choices[j].empty() || tries * choices[j].size() > 4096)
            break;
        tries *= choices[j].size();
        fixed[j] = true;
    }
    for (std::size_t j = 0; j < 3; ++j)
        if (!fixed[j])
            choices[j] = {start[j]};
    for (const float x : choices[0])
        for (const float y : choices[1])
            for (const float z : choices[2]) {
                float candidate[3] = {x, y, z};
                if (!(fixed[0] && fixed[1] && fixed[2]))
                    fitFree(candidate, fixed, target);
                // Every combination of the few is tried as it is; the many
                // a step either way too.
                const int reachFree = fixed[0] && fixed[1] && fixed[2] ? 0 : 1;
                if (searchFree(candidate, fixed, reachFree, target, image, best, bestDistance)) {
                    std::copy_n(best, 3, stored);
                    return true;
                }
            }
    bool found = false;
    {
        const float as[3] = {target[0], target[1], target[2]};
        found = search(as, 0, target, image, best, bestDistance);
        // 0 everywhere is also what a number that is not finite gives, and
        // may be reached no other way (a flattening transform that moves
        // off the plane it flattens onto).
        if (!found && std::all_of(target, target + 3,
                                  [](float v) { return std::bit_cast<std::uint32_t>(v) == 0; })) {
            const float nan = std::numeric_limits<float>::quiet_NaN();
            const float none[3] = {nan, nan, nan};
            found = search(none, 0, target, image, best, bestDistance);
        }
    }
    std::copy_n(best, 3, stored);
    return found;
}

NormalInverse::NormalInverse(const Transform& transform) : matrix_(normalMatrixOf(transform)) {
    inverseOf(matrix_.c, solve_);
}

bool NormalInverse::firstGuess(const float* target, float* guess) const {
    const double t[3] = {target[0], target[1], target[2]};
    double direction[3];
    apply(solve_, t, direction);
    const double length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                                    direction[2] * direction[2]);
    if (!(length > 0) || !std::isfinite(length))
        return false;
    // As the first scale, 1, in storedFor().
    for (int i = 0; i < 3; ++i)
        guess[i] = static_cast<float>(direction[i] / length * 1.0);
    return true;
}

bool NormalInverse::storedFor(const float* target, float* stored) const {
    const auto image = [this](const float(&n)[3], float(&moved)[3]) {
        std::copy_n(n, 3, moved);
        return moveNormals(matrix_, moved, 1);
    };
    const double t[3] = {target[0], target[1], target[2]};
    double direction[3];
    apply(solve_, t, direction);
    const double length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                                    direction[2] * direction[2]);
    float best[3] = {target[0], target[1], target[2]};
    double bestDistance = std::numeric_limits<double>::infinity();
    if (length > 0 && std::isfinite(length)) {
        // Scaling does not change where a normal points, but it changes how
        // it rounds: lengths whose mantissas differ give chances of an exact
        // match that do not repeat one another.
        for (int k = 0; k < 96; ++k) {
            const double scale = 1 + k / 97.0;
            const double v[3] = {direction[0] / length * scale, direction[1] / length * scale,
                                 direction[2] / length * scale};
            float start[3];
            toFloats(v, start);
            if (search(start, k < 8 ? 1 : 0, target, image, best, bestDistance)) {
                std::copy_n(best, 3, stored);
                return true;
            }
        }
        // The valid directions may be fewer than the floats near one scale
        // can point in: steps of the parts of different size combine into
        // finer turns, so look further around.
        const double v[3] = {direction[0] / length, direction[1] / length, direction[2] / length};
        float start[3];
        toFloats(v, start);
        if (search(start, 4, target, image, best, bestDistance)) {
            std::copy_n(best, 3, stored);
            return true;
        }
        // Further still along the parts that are not 0, which alone turn the
        // normal in the plane they span.
        std::size_t parts[3], count = 0;
        for (std::size_t i = 0; i < 3; ++i)
            if (start[i] != 0)
                parts[count++] = i;
        if (count == 2) {
            for (int radius = 5; radius <= 64; ++radius)
                for (int a = -radius; a <= radius; ++a)
                    for (int b = -radius; b <= radius; ++b) {
                        if (std::max(std::abs(a), std::abs(b)) != radius)
                            continue;
                        float candidate[3] = {start[0], start[1], start[2]};
                        candidate[parts[0]] = step(start[parts[0]], a);
                        candidate[parts[1]] = step(start[parts[1]], b);
                        float moved[3];
                        if (image(candidate, moved) && sameBits(moved, target)) {
                            std::copy_n(candidate, 3, stored);
                            return true;
                        }
                    }
        }
    }
    const float as[3] = {target[0], target[1], target[2]};
    const bool found = search(as, 1, target, image, best, bestDistance);
    std::copy_n(best, 3, stored);
    return found;
}

} // namespace ulv
