#include "gltf/match.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

namespace ulv {
namespace {

bool near(double a, double b, double tolerance, bool relative) {
    const double scale = relative ? std::max(1.0, std::max(std::abs(a), std::abs(b))) : 1.0;
    return std::abs(a - b) <= tolerance * scale;
}

bool sameCorner(const Form& a, std::uint32_t va, const Form& b, std::uint32_t vb) {
    for (std::uint32_t i = 0; i < 3; ++i)
        if (!near(a.positions[3 * va + i], b.positions[3 * vb + i], positionTolerance, true))
            return false;
    for (std::uint32_t i = 0; i < 2; ++i)
        if (!near(a.texCoords[2 * va + i], b.texCoords[2 * vb + i], texCoordTolerance, true))
            return false;
    if (!a.normals.empty() && !b.normals.empty())
        for (std::uint32_t i = 0; i < 3; ++i)
            if (!near(a.normals[3 * va + i], b.normals[3 * vb + i], normalTolerance, false))
                return false;
    return true;
}

bool sameTriangle(const Form& a, std::size_t ta, const Form& b, std::size_t tb) {
    const std::uint32_t* x = a.indices.data() + 3 * ta;
    const std::uint32_t* y = b.indices.data() + 3 * tb;
    for (int turn = 0; turn < 3; ++turn) {
        bool same = true;
        for (int k = 0; k < 3 && same; ++k)
            same = sameCorner(a, x[k], b, y[(k + turn) % 3]);
        if (same)
            return true;
    }
    return false;
}

std::uint64_t mix(std::uint64_t h, std::uint64_t value) {
    h ^= value + 0x9E3779B97F4A7C15u + (h << 6) + (h >> 2);
    return h;
}

std::uint64_t finish(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDu;
    h ^= h >> 33;
    return h;
}

} // namespace

std::uint64_t exactKey(const Form& form, std::size_t t) {
    std::uint32_t bits[3][3];
    for (std::size_t k = 0; k < 3; ++k)
        for (std::size_t i = 0; i < 3; ++i) {
            const float v = form.positions[3 * std::size_t{form.indices[3 * t + k]} + i];
            bits[k][i] = v == 0 ? 0 : std::bit_cast<std::uint32_t>(v); // -0 is 0
        }
    int first = 0;
    for (int k = 1; k < 3; ++k)
        if (std::lexicographical_compare(bits[k], bits[k] + 3, bits[first], bits[first] + 3))
            first = k;
    std::uint64_t h = 0;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i)
            h = mix(h, bits[(first + k) % 3][i]);
    return finish(h);
}

namespace {

// Cells of a grid over model space, a few tolerances wide, so that matching
// corners lie in the same cell or a neighbouring one.
struct Grid {
    double cell = 1;

    std::int64_t coordinate(float value) const {
        const double c = std::floor(double{value} / cell);
        return std::isfinite(c) ? static_cast<std::int64_t>(std::clamp(c, -1e15, 1e15)) : 0;
    }
    std::uint64_t key(std::int64_t x, std::int64_t y, std::int64_t z) const {
        std::uint64_t h = 0;
        for (const std::int64_t c : {x, y, z})
            h = mix(h, static_cast<std::uint64_t>(c));
        return finish(h);
    }
};

// Keys with triangle numbers, sorted for lookup: flat, so that millions of
// them cost two words each and no allocation apiece.
struct Keyed {
    std::uint64_t key;
    std::uint32_t form, triangle;
    bool operator<(const Keyed& o) const { return key < o.key; }
};

struct Matcher {
    const std::vector<const Form*>& existing;
    std::vector<std::size_t> firstOf; // per existing form: its first triangle's number
    std::vector<bool> taken;

    // The first entry in `range` not taken that matches triangle `t` of `form`.
    template <typename It> std::int64_t take(It begin, It end, const Form& form, std::size_t t) {
        for (It it = begin; it != end; ++it) {
            const std::size_t number = firstOf[it->form] + it->triangle;
            const Form& other = *existing[it->form];
            if (!taken[number] && other.name == form.name &&
                sameTriangle(form, t, other, it->triangle)) {
                taken[number] = true;
                return static_cast<std::int64_t>(number);
            }
        }
        return -1;
    }
};

} // namespace

std::vector<std::int64_t> matchTriangles(const std::vector<const Form*>& existing,
                                         const std::vector<const Form*>& incoming) {
    Matcher matcher{existing, {}, {}};
    std::size_t count = 0;
    for (const Form* form : existing) {
        matcher.firstOf.push_back(count);
        count += form->indices.size() / 3;
    }
    matcher.taken.assign(count, false);

    // First the triangles of the very same positions, as a model that went
    // through a 3D program unchanged mostly has them.
    std::vector<Keyed> exact;
    exact.reserve(count);
    for (std::uint32_t f = 0; f < existing.size(); ++f)
        for (std::uint32_t t = 0; t < existing[f]->indices.size() / 3; ++t)
            exact.push_back({exactKey(*existing[f], t), f, t});
    std::sort(exact.begin(), exact.end());
    // Past entries taken, in one step: many identical triangles would
    // otherwise each scan all those taken before them.
    std::vector<std::uint32_t> skip(exact.size() + 1);
    for (std::uint32_t i = 0; i <= exact.size(); ++i)
        skip[i] = i;
    const auto untaken = [&](std::uint32_t i) {
        std::uint32_t root = i;
        while (skip[root] != root)
            root = skip[root];
        while (skip[i] != root)
            i = std::exchange(skip[i], root);
        return root;
    };
    std::vector<std::int64_t> matched;
    struct Left {
        const Form* form;
        std::size_t triangle, number; // in its form, among all incoming
    };
    std::vector<Left> left;
    std::size_t at = 0;
    for (const Form* form : incoming)
        for (std::size_t t = 0; t < form->indices.size() / 3; ++t, ++at) {
            const Keyed key{exactKey(*form, t), 0, 0};
            const auto [begin, end] = std::equal_range(exact.begin(), exact.end(), key);
            const auto last = static_cast<std::uint32_t>(end - exact.begin());
            std::int64_t found = -1;
            for (std::uint32_t i = untaken(static_cast<std::uint32_t>(begin - exact.begin()));
                 i < last && found < 0; i = untaken(i + 1)) {
                found = matcher.take(exact.begin() + i, exact.begin() + i + 1, *form, t);
                if (found >= 0)
                    skip[i] = i + 1;
            }
            matched.push_back(found);
            if (matched.back() < 0)
                left.push_back({form, t, at});
        }
    exact = std::vector<Keyed>();
    if (left.empty())
        return matched;

    // Then the rest within the tolerance, each existing triangle not taken
    // under the cell of each of its corners (the incoming one may start at
    // any), the incoming one looked up around its first corner's. The cell:
    // a few tolerances of the largest coordinate, so that two positions
    // within tolerance of each other are at most one cell apart.
    double largest = 1;
    for (const Form* form : existing)
        for (const float v : form->positions)
            if (std::isfinite(v))
                largest = std::max(largest, double{std::abs(v)});
    Grid grid;
    grid.cell = 4 * positionTolerance * largest;
    std::vector<Keyed> cells;
    for (std::uint32_t f = 0; f < existing.size(); ++f) {
        const Form& form = *existing[f];
        for (std::uint32_t t = 0; t < form.indices.size() / 3; ++t) {
            if (matcher.taken[matcher.firstOf[f] + t])
                continue;
            for (std::uint32_t k = 0; k < 3; ++k) {
                const float* p = form.positions.data() + 3 * form.indices[3 * t + k];
                cells.push_back(
                    {grid.key(grid.coordinate(p[0]), grid.coordinate(p[1]), grid.coordinate(p[2])),
                     f, t});
            }
        }
    }
    std::stable_sort(cells.begin(), cells.end());
    for (const Left& l : left) {
        const float* p = l.form->positions.data() + 3 * l.form->indices[3 * l.triangle];
        const std::int64_t cx = grid.coordinate(p[0]), cy = grid.coordinate(p[1]),
                           cz = grid.coordinate(p[2]);
        std::int64_t& found = matched[l.number];
        for (std::int64_t dx = -1; dx <= 1 && found < 0; ++dx)
            for (std::int64_t dy = -1; dy <= 1 && found < 0; ++dy)
                for (std::int64_t dz = -1; dz <= 1 && found < 0; ++dz) {
                    const Keyed key{grid.key(cx + dx, cy + dy, cz + dz), 0, 0};
                    const auto [begin, end] = std::equal_range(cells.begin(), cells.end(), key);
                    found = matcher.take(begin, end, *l.form, l.triangle);
                }
    }
    return matched;
}

} // namespace ulv
