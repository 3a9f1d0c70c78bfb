#include "gltf/stored.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <unordered_map>

#include "platform/threads.h"

namespace ulv {

World::World(const std::array<double, 16>& matrix) : m(matrix) {
    identity = true;
    for (std::size_t i = 0; i < 16; ++i)
        identity = identity && m[i] == (i % 5 == 0 ? 1.0 : 0.0);
    normals = normalMatrixOf(asTransform());
}

Transform World::asTransform() const {
    Transform t;
    for (std::size_t c = 0; c < 4; ++c)
        for (std::size_t r = 0; r < 3; ++r)
            t.m[3 * c + r] = static_cast<float>(m[4 * c + r]);
    return t;
}

void World::position(const float* q, float* out) const {
    if (identity) {
        std::copy_n(q, 3, out);
        return;
    }
    for (std::size_t r = 0; r < 3; ++r)
        out[r] = static_cast<float>(m[r] * q[0] + m[4 + r] * q[1] + m[8 + r] * q[2] + m[12 + r]);
}

void World::normal(const float* n, float* out) const {
    std::copy_n(n, 3, out);
    if (!identity)
        moveNormals(normals, out, 1);
}

void makeFlat(Primitive& p) {
    std::vector<float> positions, normals, texCoords;
    std::vector<std::uint32_t> indices;
    for (std::size_t t = 0; t < p.triangles(); ++t) {
        const std::uint32_t* c = p.indices.data() + 3 * t;
        const float* a = p.positions.data() + 3 * c[0];
        const float* b = p.positions.data() + 3 * c[1];
        const float* d = p.positions.data() + 3 * c[2];
        double u[3], v[3];
        for (int i = 0; i < 3; ++i) {
            u[i] = double{b[i]} - a[i];
            v[i] = double{d[i]} - a[i];
        }
        double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                       u[0] * v[1] - u[1] * v[0]};
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        // A degenerate triangle shows nothing; any direction serves it.
        if (!(length > 0) || !std::isfinite(length)) {
            n[0] = n[1] = 0;
            n[2] = 1;
        } else {
            for (double& x : n)
                x /= length;
        }
        for (int k = 0; k < 3; ++k) {
            indices.push_back(static_cast<std::uint32_t>(positions.size() / 3));
            positions.insert(positions.end(), p.positions.begin() + 3 * c[k],
                             p.positions.begin() + 3 * c[k] + 3);
            for (const double x : n)
                normals.push_back(static_cast<float>(x));
            texCoords.insert(texCoords.end(), p.texCoords.begin() + 2 * c[k],
                             p.texCoords.begin() + 2 * c[k] + 2);
        }
    }
    p.positions = std::move(positions);
    p.normals = std::move(normals);
    p.texCoords = std::move(texCoords);
    p.indices = std::move(indices);
}

Frame::Frame(const World& world, const Transform& transform, bool fromWorld)
    : world_(&world), transform_(transform), direct_(fromWorld) {
    if (!direct_) {
        positions_.emplace(transform);
        normals_.emplace(transform);
    }
}

void Frame::useKept(const std::vector<StoredValue>& values, std::uint32_t section) {
    kept_.clear();
    for (const StoredValue& value : values)
        if (value.section == section)
            kept_[std::uint64_t{value.vertex} << 1 | value.normal] = &value;
}

const float* Frame::keptFor(std::uint32_t vertex, bool normal, const float* target) const {
    const auto found = kept_.find(std::uint64_t{vertex} << 1 | normal);
    if (found == kept_.end())
        return nullptr;
    float moved[3];
    std::copy_n(found->second->value, 3, moved);
    if (normal) {
        if (!moveNormals(normalMatrixOf(transform_), moved, 1))
            return nullptr;
    } else {
        float lo[3], hi[3];
        movePositions(transform_, moved, 1, lo, hi);
    }
    return std::memcmp(moved, target, sizeof moved) == 0 ? found->second->value : nullptr;
}

// `out` may be `q`: it is read first.
void Frame::storePosition(const float* q, float* out, std::uint32_t vertex) {
    if (direct_) {
        std::copy_n(q, 3, out);
        return;
    }
    float w[3];
    world_->position(q, w);
    storeWorldPosition(w, out, vertex);
}

void Frame::storeWorldPosition(const float* w, float* out, std::uint32_t vertex) {
    if (const float* kept = keptFor(vertex, false, w)) {
        std::copy_n(kept, 3, out);
        return;
    }
    inexact_ += !positions_->storedFor(w, out);
}

// `out` may be `n`: it is read first.
void Frame::storeNormal(const float* n, float* out, std::uint32_t vertex) {
    if (direct_ || (n[0] == 0 && n[1] == 0 && n[2] == 0)) {
        std::copy_n(n, 3, out);
        return;
    }
    float w[3];
    world_->normal(n, w);
    if (const float* kept = keptFor(vertex, true, w)) {
        std::copy_n(kept, 3, out);
        return;
    }
    inexact_ += !normals_->storedFor(w, out);
}

// Vertices [first, last): each first guess moved as the writer moves them,
// all at once, and searched for one by one only where it missed.
void Frame::storePiece(const float* positions, const float* normals, std::size_t first,
                       std::size_t last, float* storedPositions, float* storedNormals) {
    const std::size_t n = last - first;
    std::vector<float> world(3 * n), guess(3 * n), moved(3 * n);
    std::vector<bool> hit(n);
    for (std::size_t v = 0; v < n; ++v) {
        world_->position(positions + 3 * (first + v), world.data() + 3 * v);
        positions_->firstGuess(world.data() + 3 * v, guess.data() + 3 * v);
    }
    moved = guess;
    float lo[3], hi[3];
    movePositions(transform_, moved.data(), n, lo, hi);
    for (std::size_t v = 0; v < n; ++v)
        hit[v] = std::memcmp(moved.data() + 3 * v, world.data() + 3 * v, 12) == 0;
    // Read all before writing any: the stored values may take their place.
    for (std::size_t v = 0; v < n; ++v) {
        const auto vertex = static_cast<std::uint32_t>(first + v);
        float* out = storedPositions + 3 * (first + v);
        if (!kept_.empty() || !hit[v])
            storeWorldPosition(world.data() + 3 * v, out, vertex);
        else
            std::copy_n(guess.data() + 3 * v, 3, out);
    }

    bool guessed = true;
    for (std::size_t v = 0; v < n && guessed; ++v) {
        const float* normal = normals + 3 * (first + v);
        world_->normal(normal, world.data() + 3 * v);
        guessed = normals_->firstGuess(world.data() + 3 * v, guess.data() + 3 * v);
    }
    if (guessed) {
        moved = guess;
        guessed = moveNormals(normals_->matrix(), moved.data(), n);
    }
    for (std::size_t v = 0; v < n; ++v) {
        const auto vertex = static_cast<std::uint32_t>(first + v);
        float* out = storedNormals + 3 * (first + v);
        if (guessed && kept_.empty() &&
            std::memcmp(moved.data() + 3 * v, world.data() + 3 * v, 12) == 0)
            std::copy_n(guess.data() + 3 * v, 3, out);
        else
            storeNormal(normals + 3 * (first + v), out, vertex);
    }
}

void Frame::storeAll(const float* positions, const float* normals, std::size_t count,
                     float* storedPositions, float* storedNormals) {
    if (direct_) {
        if (storedPositions != positions)
            std::copy_n(positions, 3 * count, storedPositions);
        if (storedNormals != normals)
            std::copy_n(normals, 3 * count, storedNormals);
        return;
    }
    // Each vertex on its own: pieces taken in turn by this thread and one more.
    constexpr std::size_t piece = 4096;
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t first; (first = next.fetch_add(piece)) < count;) {
            const std::size_t last = std::min(count, first + piece);
            storePiece(positions, normals, first, last, storedPositions, storedNormals);
        }
    };
    runShared(work, count > 4 * piece && std::thread::hardware_concurrency() > 1);
}

std::array<char, 32> nameField(const std::string& name) {
    std::array<char, 32> field{};
    std::memcpy(field.data(), name.data(), std::min(name.size(), field.size()));
    return field;
}

MeshSection fieldsLike(const MeshSection* like, const std::string& name) {
    MeshSection s;
    s.tag = MGRP_TAG;
    s.materialName = nameField(name);
    s.lodCount = 1;
    if (like) {
        s.opaqueWord1 = like->opaqueWord1;
        s.lodCount = like->lodCount;
        s.opaqueWord2 = like->opaqueWord2;
    }
    return s;
}

void nameSection(MeshSection& s, const std::string& name) {
    if (materialNameOf(s) != name)
        s.materialName = nameField(name);
}

void setCounts(MeshSection& s, bool faceCountFollows) {
    s.vertexCount = static_cast<std::uint32_t>(s.positions.size() / 3);
    s.triangleCount = static_cast<std::uint32_t>(s.indices.size() / 3);
    if (faceCountFollows)
        s.faceCount = s.triangleCount;
}

std::vector<MeshSection> sectionsOf(Primitive& p, const std::vector<std::size_t>& chosen, bool ours,
                                    const MeshSection& fields, Frame& frame,
                                    bool faceCountFollows) {
    // Every vertex in order, when their numbers fit; a section of our own
    // keeps vertices past them that no triangle uses, as the file had them.
    const bool oneSection =
        chosen.empty() && (p.vertices() <= maxVertices ||
                           (ours && std::all_of(p.indices.begin(), p.indices.end(),
                                                [](std::uint32_t c) { return c < maxVertices; })));
    // A changed section passes itself as `fields`, holding its kept
    // triangles: each new section starts from its header alone.
    MeshSection header = fields;
    header.positions.clear();
    header.normals.clear();
    header.texCoords.clear();
    header.indices.clear();
    std::vector<MeshSection> out;
    std::unordered_map<std::uint32_t, std::uint32_t> numberOf;
    const auto addVertex = [&](MeshSection& s, std::uint32_t v) {
        float stored[3], normal[3];
        frame.storePosition(p.positions.data() + 3 * v, stored, v);
        frame.storeNormal(p.normals.data() + 3 * v, normal, v);
        s.positions.insert(s.positions.end(), stored, stored + 3);
        s.normals.insert(s.normals.end(), normal, normal + 3);
        s.texCoords.insert(s.texCoords.end(), p.texCoords.begin() + 2 * v,
                           p.texCoords.begin() + 2 * v + 2);
    };
    if (oneSection) {
        // In place: each vertex is read before its stored value is written.
        MeshSection& s = out.emplace_back(header);
        frame.storeAll(p.positions.data(), p.normals.data(), p.vertices(), p.positions.data(),
                       p.normals.data());
        s.positions = std::move(p.positions);
        s.normals = std::move(p.normals);
        s.texCoords = std::move(p.texCoords);
        s.indices = std::move(p.indices);
    } else {
        std::vector<std::size_t> triangles = chosen;
        if (triangles.empty())
            for (std::size_t t = 0; t < p.triangles(); ++t)
                triangles.push_back(t);
        for (const std::size_t t : triangles) {
            const std::uint32_t* c = p.indices.data() + 3 * t;
            std::size_t fresh = 0;
            for (int k = 0; k < 3; ++k)
                fresh += !numberOf.count(c[k]);
            if (out.empty() || out.back().positions.size() / 3 + fresh > maxVertices) {
                out.emplace_back(header);
                numberOf.clear();
            }
            MeshSection& s = out.back();
            for (int k = 0; k < 3; ++k) {
                const auto [it, added] =
                    numberOf.emplace(c[k], static_cast<std::uint32_t>(s.positions.size() / 3));
                if (added)
                    addVertex(s, c[k]);
                s.indices.push_back(it->second);
            }
        }
    }
    for (MeshSection& s : out)
        setCounts(s, faceCountFollows);
    return out;
}

} // namespace ulv
