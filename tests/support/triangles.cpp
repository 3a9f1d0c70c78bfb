#include "tests/support/triangles.h"

#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>

#include "model/transform.h"

namespace ulv {
namespace {

using Matrix = std::array<double, 16>; // column-major, as glTF

Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix out{};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k)
                out[4 * c + r] += a[4 * k + r] * b[4 * c + k];
    return out;
}

Matrix localMatrix(const tinygltf::Node& node) {
    if (node.matrix.size() == 16) {
        Matrix m{};
        std::copy(node.matrix.begin(), node.matrix.end(), m.begin());
        return m;
    }
    const std::vector<double> t =
        node.translation.size() == 3 ? node.translation : std::vector<double>{0, 0, 0};
    const std::vector<double> q =
        node.rotation.size() == 4 ? node.rotation : std::vector<double>{0, 0, 0, 1};
    const std::vector<double> s =
        node.scale.size() == 3 ? node.scale : std::vector<double>{1, 1, 1};
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    // The rotation's columns, each scaled: T * R * S.
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)},
                            {2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)},
                            {2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)}};
    Matrix m{};
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k)
            m[4 * c + k] = r[c][k] * s[static_cast<std::size_t>(c)];
    m[12] = t[0];
    m[13] = t[1];
    m[14] = t[2];
    m[15] = 1;
    return m;
}

// The inverse transpose of the matrix's 3x3 part, for normals.
std::array<double, 9> normalMatrix(const Matrix& m) {
    const auto a = [&](int r, int c) { return m[4 * c + r]; };
    std::array<double, 9> cof{}; // cof[3 * r + c]
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
            cof[static_cast<std::size_t>(3 * r + c)] =
                a(r1, c1) * a(r2, c2) - a(r1, c2) * a(r2, c1);
        }
    const double det = a(0, 0) * cof[0] + a(0, 1) * cof[1] + a(0, 2) * cof[2];
    for (double& v : cof)
        v /= det;
    return cof;
}

std::vector<double> floats(const tinygltf::Model& m, int index, int type) {
    const tinygltf::Accessor& a = m.accessors.at(static_cast<std::size_t>(index));
    const int components = tinygltf::GetNumComponentsInType(static_cast<std::uint32_t>(type));
    if (a.componentType != TINYGLTF_COMPONENT_TYPE_FLOAT || a.type != type || a.sparse.isSparse ||
        a.bufferView < 0) {
        ADD_FAILURE() << "accessor " << index << " is not a plain float array";
        return {};
    }
    const tinygltf::BufferView& view = m.bufferViews.at(static_cast<std::size_t>(a.bufferView));
    const std::vector<unsigned char>& data =
        m.buffers.at(static_cast<std::size_t>(view.buffer)).data;
    const std::size_t stride =
        view.byteStride ? view.byteStride : sizeof(float) * static_cast<std::size_t>(components);
    std::vector<double> out;
    for (std::size_t i = 0; i < a.count; ++i)
        for (std::size_t k = 0; k < static_cast<std::size_t>(components); ++k) {
            float f;
            std::memcpy(&f, data.data() + view.byteOffset + a.byteOffset + i * stride + 4 * k, 4);
            out.push_back(f);
        }
    return out;
}

std::vector<std::uint32_t> indicesOf(const tinygltf::Model& m, const tinygltf::Primitive& p,
                                     std::size_t vertices) {
    std::vector<std::uint32_t> out;
    if (p.indices < 0) {
        for (std::uint32_t v = 0; v < vertices; ++v)
            out.push_back(v);
        return out;
    }
    const tinygltf::Accessor& a = m.accessors.at(static_cast<std::size_t>(p.indices));
    const tinygltf::BufferView& view = m.bufferViews.at(static_cast<std::size_t>(a.bufferView));
    const unsigned char* data = m.buffers.at(static_cast<std::size_t>(view.buffer)).data.data() +
                                view.byteOffset + a.byteOffset;
    const std::size_t size = static_cast<std::size_t>(
        tinygltf::GetComponentSizeInBytes(static_cast<std::uint32_t>(a.componentType)));
    for (std::size_t i = 0; i < a.count; ++i) {
        std::uint32_t v = 0;
        std::memcpy(&v, data + i * size, size); // little-endian, as glTF
        out.push_back(v);
    }
    return out;
}

void addNode(const tinygltf::Model& m, int index, const Matrix& parent, Triangles& out,
             std::size_t& group) {
    const tinygltf::Node& node = m.nodes.at(static_cast<std::size_t>(index));
    const Matrix world = multiply(parent, localMatrix(node));
    if (node.mesh >= 0) {
        const std::array<double, 9> n = normalMatrix(world);
        for (const tinygltf::Primitive& p :
             m.meshes.at(static_cast<std::size_t>(node.mesh)).primitives) {
            if (p.mode != TINYGLTF_MODE_TRIANGLES && p.mode != -1) {
                ADD_FAILURE() << "a primitive of mode " << p.mode;
                continue;
            }
            const std::vector<double> positions =
                floats(m, p.attributes.at("POSITION"), TINYGLTF_TYPE_VEC3);
            const std::size_t vertices = positions.size() / 3;
            std::vector<double> uvs(2 * vertices, 0.0), normals;
            if (p.attributes.count("TEXCOORD_0"))
                uvs = floats(m, p.attributes.at("TEXCOORD_0"), TINYGLTF_TYPE_VEC2);
            if (p.attributes.count("NORMAL"))
                normals = floats(m, p.attributes.at("NORMAL"), TINYGLTF_TYPE_VEC3);
            const std::vector<std::uint32_t> indices = indicesOf(m, p, vertices);
            const std::string material =
                p.material >= 0 ? m.materials.at(static_cast<std::size_t>(p.material)).name : "";
            for (std::size_t t = 0; t + 2 < indices.size(); t += 3) {
                Triangle& tri = out.emplace_back();
                tri.material = material;
                tri.group = group;
                for (std::size_t k = 0; k < 3; ++k) {
                    const std::size_t v = indices[t + k];
                    Corner& c = tri.corners[k];
                    for (std::size_t r = 0; r < 3; ++r)
                        c.position[r] = world[r] * positions[3 * v] +
                                        world[4 + r] * positions[3 * v + 1] +
                                        world[8 + r] * positions[3 * v + 2] + world[12 + r];
                    c.uv = {uvs[2 * v], uvs[2 * v + 1]};
                    if (normals.empty())
                        continue;
                    double length = 0;
                    for (std::size_t r = 0; r < 3; ++r) {
                        c.normal[r] = n[3 * r] * normals[3 * v] +
                                      n[3 * r + 1] * normals[3 * v + 1] +
                                      n[3 * r + 2] * normals[3 * v + 2];
                        length += c.normal[r] * c.normal[r];
                    }
                    for (double& x : c.normal)
                        x /= std::sqrt(length);
                }
            }
        }
        ++group;
    }
    for (const int child : node.children)
        addNode(m, child, world, out, group);
}

bool near(double a, double b, double tolerance) {
    return std::abs(a - b) <= tolerance * std::max({1.0, std::abs(a), std::abs(b)});
}

bool sameCorner(const Corner& a, const Corner& b, double tolerance) {
    for (std::size_t i = 0; i < 3; ++i)
        if (!near(a.position[i], b.position[i], tolerance))
            return false;
    return near(a.uv[0], b.uv[0], tolerance) && near(a.uv[1], b.uv[1], tolerance);
}

// The turn that makes `b`'s corners `a`'s, or -1.
int turnOf(const Triangle& a, const Triangle& b, double tolerance) {
    if (a.material != b.material)
        return -1;
    for (int turn = 0; turn < 3; ++turn) {
        bool same = true;
        for (std::size_t k = 0; k < 3 && same; ++k)
            same = sameCorner(a.corners[k], b.corners[(k + static_cast<std::size_t>(turn)) % 3],
                              tolerance);
        if (same)
            return turn;
    }
    return -1;
}

// For each triangle of `from`, the one of `to` it matches and the turn, or -1.
std::vector<std::pair<std::int64_t, int>> pairUp(const Triangles& from, const Triangles& to,
                                                 double tolerance) {
    std::vector<bool> taken(to.size(), false);
    std::vector<std::pair<std::int64_t, int>> pairs;
    for (const Triangle& a : from) {
        std::pair<std::int64_t, int> found{-1, -1};
        for (std::size_t j = 0; j < to.size() && found.first < 0; ++j) {
            if (taken[j])
                continue;
            if (const int turn = turnOf(a, to[j], tolerance); turn >= 0) {
                taken[j] = true;
                found = {static_cast<std::int64_t>(j), turn};
            }
        }
        pairs.push_back(found);
    }
    return pairs;
}

std::string describe(const Triangle& t) {
    std::ostringstream out;
    out.precision(9);
    out << "'" << t.material << "' of " << t.group << ":";
    for (const Corner& c : t.corners)
        out << " (" << c.position[0] << ", " << c.position[1] << ", " << c.position[2] << " uv "
            << c.uv[0] << ", " << c.uv[1] << ")";
    return out.str();
}

} // namespace

Triangles trianglesOf(const Model& model) {
    Triangles out;
    for (std::size_t m = 0; m < model.meshes.size(); ++m) {
        const Mesh& mesh = model.meshes[m];
        for (const MeshSection& s : mesh.sections) {
            for (std::size_t t = 0; t < faceLimit(s); ++t) {
                Triangle& tri = out.emplace_back();
                tri.material = materialNameOf(s);
                tri.group = m;
                for (std::size_t k = 0; k < 3; ++k) {
                    const std::uint32_t v = s.indices[3 * t + k];
                    float p[3] = {s.positions[3 * v], s.positions[3 * v + 1],
                                  s.positions[3 * v + 2]};
                    transformPoint(mesh.transform, p);
                    tri.corners[k].position = {p[0], p[1], p[2]};
                    tri.corners[k].uv = {s.texCoords[2 * v], s.texCoords[2 * v + 1]};
                }
            }
        }
    }
    return out;
}

Triangles trianglesOfGltf(const std::filesystem::path& path) {
    tinygltf::TinyGLTF loader;
    // The images are not looked at here.
    loader.SetImageLoader([](tinygltf::Image*, const int, std::string*, std::string*, int, int,
                             const unsigned char*, int, void*) { return true; },
                          nullptr);
    tinygltf::Model m;
    std::string error, warning;
    const bool binary = path.extension() == ".glb";
    const bool loaded = binary ? loader.LoadBinaryFromFile(&m, &error, &warning, path.string())
                               : loader.LoadASCIIFromFile(&m, &error, &warning, path.string());
    Triangles out;
    if (!loaded) {
        ADD_FAILURE() << path << ": tinygltf: " << error;
        return out;
    }
    const int scene = m.defaultScene >= 0 ? m.defaultScene : 0;
    std::size_t group = 0;
    const Matrix identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (const int node : m.scenes.at(static_cast<std::size_t>(scene)).nodes)
        addNode(m, node, identity, out, group);
    return out;
}

std::string unmatched(const Triangles& expected, const Triangles& actual, double tolerance) {
    const auto pairs = pairUp(actual, expected, tolerance);
    std::vector<bool> used(expected.size(), false);
    std::ostringstream out;
    std::size_t extra = 0, missing = 0;
    for (std::size_t i = 0; i < actual.size(); ++i) {
        if (pairs[i].first >= 0) {
            used[static_cast<std::size_t>(pairs[i].first)] = true;
        } else if (++extra <= 3) {
            out << "not expected: " << describe(actual[i]) << "\n";
        }
    }
    for (std::size_t j = 0; j < expected.size(); ++j)
        if (!used[j] && ++missing <= 3)
            out << "missing: " << describe(expected[j]) << "\n";
    if (extra || missing)
        out << extra << " not expected, " << missing << " missing, of " << expected.size()
            << " expected\n";
    return out.str();
}

Drift driftOf(const Triangles& before, const Triangles& after, double tolerance) {
    Drift drift;
    const auto pairs = pairUp(before, after, tolerance);
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (pairs[i].first < 0) {
            ++drift.left;
            continue;
        }
        const Triangle& b = after[static_cast<std::size_t>(pairs[i].first)];
        for (std::size_t k = 0; k < 3; ++k) {
            const Corner& x = before[i].corners[k];
            const Corner& y = b.corners[(k + static_cast<std::size_t>(pairs[i].second)) % 3];
            for (std::size_t r = 0; r < 3; ++r) {
                drift.position =
                    std::max(drift.position, std::abs(x.position[r] - y.position[r]) /
                                                 std::max(1.0, std::abs(x.position[r])));
                drift.normal = std::max(drift.normal, std::abs(x.normal[r] - y.normal[r]));
            }
            for (std::size_t r = 0; r < 2; ++r)
                drift.uv = std::max(drift.uv,
                                    std::abs(x.uv[r] - y.uv[r]) / std::max(1.0, std::abs(x.uv[r])));
        }
    }
    return drift;
}

} // namespace ulv
