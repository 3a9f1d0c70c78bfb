#include "gltf/match.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

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

// Cells of a grid over model space, a few tolerances wide, so that matching
// corners lie in the same cell or a neighbouring one.
struct Grid {
    double cell = 1;

    std::int64_t coordinate(float value) const {
        const double c = std::floor(double{value} / cell);
        return std::isfinite(c) ? static_cast<std::int64_t>(std::clamp(c, -1e15, 1e15)) : 0;
    }
    std::uint64_t key(std::int64_t x, std::int64_t y, std::int64_t z) const {
        std::uint64_t h = 1469598103934665603u;
        for (const std::int64_t c : {x, y, z})
            h = (h ^ static_cast<std::uint64_t>(c)) * 1099511628211u;
        return h;
    }
};

} // namespace

std::vector<std::int64_t> matchTriangles(const std::vector<Form>& existing,
                                         const std::vector<Form>& incoming) {
    // The cell: a few tolerances of the largest coordinate, so that two
    // positions within tolerance of each other are at most one cell apart.
    double largest = 1;
    for (const Form& form : existing)
        for (const float v : form.positions)
            if (std::isfinite(v))
                largest = std::max(largest, double{std::abs(v)});
    Grid grid;
    grid.cell = 4 * positionTolerance * largest;

    // Each existing triangle under the cell of its first corner.
    struct Entry {
        std::uint32_t form, triangle;
    };
    std::unordered_multimap<std::uint64_t, Entry> cells;
    std::vector<std::size_t> firstOf; // per existing form: its first triangle's number
    std::size_t count = 0;
    for (std::uint32_t f = 0; f < existing.size(); ++f) {
        firstOf.push_back(count);
        const Form& form = existing[f];
        for (std::uint32_t t = 0; t < form.indices.size() / 3; ++t, ++count) {
            // Under each corner's cell: the incoming triangle may start at any.
            for (std::uint32_t k = 0; k < 3; ++k) {
                const float* p = form.positions.data() + 3 * form.indices[3 * t + k];
                cells.emplace(
                    grid.key(grid.coordinate(p[0]), grid.coordinate(p[1]), grid.coordinate(p[2])),
                    Entry{f, t});
            }
        }
    }
    std::vector<bool> taken(count, false);
    std::vector<std::int64_t> matched;
    for (const Form& form : incoming) {
        for (std::size_t t = 0; t < form.indices.size() / 3; ++t) {
            const float* p = form.positions.data() + 3 * form.indices[3 * t];
            const std::int64_t cx = grid.coordinate(p[0]), cy = grid.coordinate(p[1]),
                               cz = grid.coordinate(p[2]);
            std::int64_t found = -1;
            for (std::int64_t dx = -1; dx <= 1 && found < 0; ++dx)
                for (std::int64_t dy = -1; dy <= 1 && found < 0; ++dy)
                    for (std::int64_t dz = -1; dz <= 1 && found < 0; ++dz) {
                        const auto [begin, end] =
                            cells.equal_range(grid.key(cx + dx, cy + dy, cz + dz));
                        for (auto it = begin; it != end && found < 0; ++it) {
                            const Entry e = it->second;
                            const std::size_t number = firstOf[e.form] + e.triangle;
                            const Form& other = existing[e.form];
                            if (!taken[number] && other.name == form.name &&
                                sameTriangle(form, t, other, e.triangle)) {
                                taken[number] = true;
                                found = static_cast<std::int64_t>(number);
                            }
                        }
                    }
            matched.push_back(found);
        }
    }
    return matched;
}

} // namespace ulv
