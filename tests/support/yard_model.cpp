#include "tests/support/yard_model.h"

#include <cmath>
#include <numbers>
#include <string_view>

#include "tests/support/model_builder.h"

namespace ulv {
namespace {

using Point = std::array<double, 3>;

Point cross(const Point& a, const Point& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Point unit(const Point& p) {
    const double length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    return {p[0] / length, p[1] / length, p[2] / length};
}

struct Builder {
    std::vector<float> positions, normals, texCoords;
    std::vector<std::uint32_t> indices;

    std::uint32_t vertex(const Point& p, const Point& n, double u, double v) {
        for (std::size_t i = 0; i < 3; ++i) {
            positions.push_back(static_cast<float>(p[i]));
            normals.push_back(static_cast<float>(n[i]));
        }
        texCoords.push_back(static_cast<float>(u));
        texCoords.push_back(static_cast<float>(v));
        return static_cast<std::uint32_t>(positions.size() / 3 - 1);
    }

    Point at(std::uint32_t v) const {
        return {positions[3 * v], positions[3 * v + 1], positions[3 * v + 2]};
    }

    // Wound counter-clockwise seen from where the normals point; a
    // triangle without area (at a pole) is left out.
    void triangle(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
        const Point pa = at(a), pb = at(b), pc = at(c);
        const Point face = cross({pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2]},
                                 {pc[0] - pa[0], pc[1] - pa[1], pc[2] - pa[2]});
        if (std::abs(face[0]) + std::abs(face[1]) + std::abs(face[2]) < 1e-9)
            return;
        double along = 0;
        for (const std::uint32_t v : {a, b, c})
            for (std::size_t i = 0; i < 3; ++i)
                along += face[i] * normals[3 * v + i];
        if (along < 0)
            std::swap(b, c);
        indices.insert(indices.end(), {a, b, c});
    }

    // A grid of (columns + 1) x (rows + 1) vertices from `corner(i, j)`.
    template <typename Corner> void grid(std::uint32_t columns, std::uint32_t rows, Corner corner) {
        const auto base = static_cast<std::uint32_t>(positions.size() / 3);
        for (std::uint32_t j = 0; j <= rows; ++j)
            for (std::uint32_t i = 0; i <= columns; ++i)
                corner(i, j);
        const auto v = [&](std::uint32_t i, std::uint32_t j) {
            return base + j * (columns + 1) + i;
        };
        for (std::uint32_t j = 0; j < rows; ++j)
            for (std::uint32_t i = 0; i < columns; ++i) {
                triangle(v(i, j), v(i + 1, j), v(i + 1, j + 1));
                triangle(v(i, j), v(i + 1, j + 1), v(i, j + 1));
            }
    }

    MeshSection section(std::string_view material) const {
        return makeSection(material, positions, normals, texCoords, indices);
    }
};

// A turn by `degrees` about `axis`, then scaled along the mesh's own axes,
// then moved: the transform's rows are the images of the axes.
Transform placed(const Point& axis, double degrees, const Point& scale, const Point& move) {
    const Point k = unit(axis);
    const double a = degrees * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    Transform t;
    for (std::size_t i = 0; i < 3; ++i) {
        Point e{};
        e[i] = 1;
        // Rodrigues: the image of axis i.
        const Point kxe = cross(k, e);
        const double kde = k[i];
        for (std::size_t r = 0; r < 3; ++r)
            t.m[3 * i + r] =
                static_cast<float>(scale[i] * (e[r] * c + kxe[r] * s + k[r] * kde * (1 - c)));
    }
    for (std::size_t r = 0; r < 3; ++r)
        t.m[9 + r] = static_cast<float>(move[r]);
    return t;
}

MeshSection ball() {
    Builder b;
    const double pi = std::numbers::pi;
    b.grid(12, 8, [&](std::uint32_t i, std::uint32_t j) {
        const double phi = 2 * pi * i / 12, theta = pi * j / 8;
        const Point p{std::sin(theta) * std::cos(phi), std::cos(theta),
                      -std::sin(theta) * std::sin(phi)};
        b.vertex(p, p, 2.0 * i / 12, j / 8.0);
    });
    return b.section("stone");
}

// Half of a wavy ground, x from `x0` to `x0` + 2, z from -2 to 2.
MeshSection ground(double x0, std::string_view material) {
    Builder b;
    b.grid(4, 8, [&](std::uint32_t i, std::uint32_t j) {
        const double x = x0 + 0.5 * i, z = -2 + 0.5 * j;
        const double h = 0.3 * std::sin(x) * std::cos(z);
        const Point n =
            unit({-0.3 * std::cos(x) * std::cos(z), 1, 0.3 * std::sin(x) * std::sin(z)});
        b.vertex({x, h, z}, n, x, -z);
    });
    return b.section(material);
}

// Faces of a unit cube by their outward normals, each its own four corners.
MeshSection box(std::vector<Point> faces, std::string_view material) {
    Builder b;
    for (const Point& n : faces) {
        // Two directions across the face.
        const Point u = std::abs(n[1]) > 0.5 ? Point{1, 0, 0} : Point{0, 1, 0};
        const Point w = cross(n, u);
        b.grid(1, 1, [&](std::uint32_t i, std::uint32_t j) {
            const double a = 2.0 * i - 1, c = 2.0 * j - 1;
            b.vertex({n[0] + a * u[0] + c * w[0], n[1] + a * u[1] + c * w[1],
                      n[2] + a * u[2] + c * w[2]},
                     n, 1.5 * i, j);
        });
    }
    return b.section(material);
}

MeshSection post() {
    Builder b;
    const double pi = std::numbers::pi;
    b.grid(8, 3, [&](std::uint32_t i, std::uint32_t j) {
        const double phi = 2 * pi * i / 8;
        b.vertex({std::cos(phi), j - 1.5, std::sin(phi)}, {std::cos(phi), 0, std::sin(phi)},
                 i / 8.0, 3 - j);
    });
    return b.section("stone");
}

} // namespace

Model yardModel() {
    const Transform ballAt = placed({1, 1, 0}, 30, {1.5, 1.5, 1.5}, {3, 1, -2});
    const Transform groundAt = placed({0, 1, 0}, 40, {2, 1, 0.5}, {0, -0.5, 0});
    const Transform crateAt = placed({1, 0, 0.2}, -90, {0.25, 0.5, 0.25}, {0, 0.5, 4});
    const Transform postAt = placed({0.3, 0, 1}, 15, {0.3, 0.3, 0.3}, {-2, 0.75, 1});
    return makeModel({
        makeMesh(ballAt, {ball()}),
        makeMesh(groundAt, {ground(-2, "grass"), ground(0, "stone")}),
        makeMesh(crateAt, {box({{1, 0, 0}, {-1, 0, 0}, {0, 0, 1}, {0, 0, -1}}, "metal"),
                           box({{0, 1, 0}}, "glass"), box({{0, -1, 0}}, "metal")}),
        makeMesh(postAt, {post()}),
    });
}

} // namespace ulv
