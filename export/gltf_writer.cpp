#include "export/gltf_writer.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <istream>
#include <limits>
#include <map>
#include <mutex>
#include <ostream>
#include <system_error>
#include <thread>

#include "export/gltf_detail.h"
#include "export/gltf_stream.h"
#include "export/safe_files.h"
#include "export/text_out.h"
#include "export/utf8_path.h"
#include "model/section_hook.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ulv {
namespace {

// A .glb states its whole length in 32 bits; the .gltf keeps the same limit
// for its buffer, so both forms take the same models.
constexpr std::uint64_t maxFileSize = 0xFFFFFFFFu;

constexpr std::uint32_t arrayBuffer = 34962;
constexpr std::uint32_t elementArrayBuffer = 34963;
constexpr std::uint32_t floatType = 5126;
constexpr std::uint32_t uintType = 5125;

// The normal matrix: the cofactors of the transform's 3x3 part, which are the
// inverse transpose times the determinant; its sign is kept so that a mirror
// does not turn normals inwards. A singular part still gives a direction.
struct NormalMatrix {
    double c[3][3];
};

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

// Moves `count` normals; false when one of them has no direction (zero or
// not finite). No early exit, so that the loop stays free of branches.
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

// Whether every normal keeps a direction once moved: the test of moveNormals
// without moving them. The squared length decides as the length does.
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

// JSON cannot hold them and readers reject them in vertex data.
std::uint64_t zeroNonFinite(float* values, std::size_t count) {
    std::uint64_t replaced = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const bool bad = !(values[i] - values[i] == 0);
        replaced += bad;
        values[i] = bad ? 0.0f : values[i];
    }
    return replaced;
}

// One section that has at least one vertex and one triangle.
struct Primitive {
    const MeshSection* section = nullptr;
    std::uint32_t vertices = 0;
    std::uint32_t triangles = 0;
    bool hasNormals = true;
    const Mesh* mesh = nullptr;
    std::size_t sectionNumber = 0;          // in the whole model
    std::uint32_t allTriangles = 0;         // kept or not
    std::vector<std::uint32_t> keptIndices; // only when some triangles were left out
    float min[3]{}, max[3]{};
    std::int64_t material = -1;
    std::uint64_t positionAt = 0, normalAt = 0, texCoordAt = 0, indexAt = 0;

    const std::uint32_t* indices() const {
        return keptIndices.empty() ? section->indices.data() : keptIndices.data();
    }
};

struct View {
    std::uint64_t offset = 0, length = 0;
    std::uint32_t target = 0; // 0: none (images)
    std::uint32_t stride = 0; // given for vertex data, which several accessors share
};

struct Layout {
    std::vector<Primitive> primitives;
    std::vector<std::size_t> firstPrimitive; // per mesh, and one past the last
    std::vector<std::string> materials;      // names, in order of first use
    std::vector<std::int64_t> textureOfMaterial;
    std::vector<std::size_t> images; // indices into the TextureSet, in order of first use
    std::vector<std::uint64_t> imageAt;
    View positions, normals, texCoords, indices;
    std::uint64_t binarySize = 0;
};

std::string countOf(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Moves `count` positions into model space and makes them finite; returns
// how many numbers were not, and widens [lo, hi] to hold the results.
std::uint64_t movePositions(const Transform& transform, float* position, std::size_t count,
                            float (&lo)[3], float (&hi)[3]) {
    transformPoints(transform, position, count);
    // Locals: the bounds could alias the positions. The bounds see -0 as +0,
    // so that they do not depend on the order the values are met in.
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

// Triangles whose three corners are among the first `vertices`.
std::uint64_t countKept(const std::uint32_t* index, std::size_t triangles, std::size_t vertices) {
    std::uint64_t kept = 0;
    for (std::size_t t = 0; t < triangles; ++t, index += 3)
        kept += (index[0] < vertices) & (index[1] < vertices) & (index[2] < vertices);
    return kept;
}

void resetBounds(SectionFacts& facts) {
    std::fill_n(facts.min, 3, std::numeric_limits<float>::infinity());
    std::fill_n(facts.max, 3, -std::numeric_limits<float>::infinity());
}

// A share of a section's vertices and triangles. Shares are independent, so
// that several threads take a large model.
struct Stretch {
    MeshSection* section = nullptr;
    const Transform* transform = nullptr;
    const NormalMatrix* normalMatrix = nullptr;
    std::size_t vertices = 0; // of the whole section
    std::size_t vertexBegin = 0, vertexEnd = 0, triangleBegin = 0, triangleEnd = 0;
    bool factsOnly = false; // the arrays are not written from memory: normals stay
    SectionFacts facts;
};

// Moves positions and normals into model space in place, makes them and the
// texture coordinates finite, bounds the positions and counts the triangles
// whose corners all exist.
void work(Stretch& s) {
    const std::size_t count = s.vertexEnd - s.vertexBegin;
    MeshSection& section = *s.section;
    resetBounds(s.facts);
    s.facts.nonFinite = movePositions(*s.transform, section.positions.data() + 3 * s.vertexBegin,
                                      count, s.facts.min, s.facts.max);
    float* normals = section.normals.data() + 3 * s.vertexBegin;
    s.facts.normalsOk = s.factsOnly ? normalsHaveDirection(*s.normalMatrix, normals, count)
                                    : moveNormals(*s.normalMatrix, normals, count);
    s.facts.nonFinite += zeroNonFinite(section.texCoords.data() + 2 * s.vertexBegin, 2 * count);
    s.facts.kept = countKept(section.indices.data() + 3 * s.triangleBegin,
                             s.triangleEnd - s.triangleBegin, s.vertices);
}

// Runs every stretch, on a helper thread as well when there is enough to share.
void workAll(std::vector<Stretch>& stretches, std::uint64_t amount) {
    std::atomic<std::size_t> next{0};
    const auto run = [&] {
        for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < stretches.size();)
            work(stretches[i]);
    };
    std::thread helper;
    if (amount > (std::uint64_t{1} << 16) && stretches.size() > 1 &&
        std::thread::hardware_concurrency() > 1) {
        try {
            helper = std::thread(run);
        } catch (const std::system_error&) {
            // No thread to be had: this one does all the work.
        }
    }
    run();
    if (helper.joinable())
        helper.join();
}

// Facts for every section of a model held in memory, moving it into model
// space on the way.
std::vector<SectionFacts> examine(Model& model) {
    // Large sections are cut into stretches of about this many vertices and
    // triangles, each a few MiB of data.
    constexpr std::size_t verticesPerStretch = std::size_t{1} << 16;
    constexpr std::size_t trianglesPerStretch = std::size_t{1} << 17;
    std::vector<Stretch> stretches;
    std::vector<std::size_t> firstStretch; // per section, and one past the last
    std::vector<NormalMatrix> normalMatrices;
    normalMatrices.reserve(model.meshes.size());
    std::uint64_t amount = 0;
    for (Mesh& mesh : model.meshes) {
        const NormalMatrix* normalMatrix =
            &normalMatrices.emplace_back(normalMatrixOf(mesh.transform));
        for (MeshSection& section : mesh.sections) {
            firstStretch.push_back(stretches.size());
            const std::size_t vertices = vertexLimit(section);
            const std::size_t triangles = faceLimit(section);
            if (vertices == 0 || triangles == 0)
                continue;
            const std::size_t count =
                std::max((vertices + verticesPerStretch - 1) / verticesPerStretch,
                         (triangles + trianglesPerStretch - 1) / trianglesPerStretch);
            for (std::size_t i = 0; i < count; ++i) {
                Stretch& s = stretches.emplace_back();
                s.section = &section;
                s.transform = &mesh.transform;
                s.normalMatrix = normalMatrix;
                s.vertices = vertices;
                s.vertexBegin = vertices * i / count;
                s.vertexEnd = vertices * (i + 1) / count;
                s.triangleBegin = triangles * i / count;
                s.triangleEnd = triangles * (i + 1) / count;
            }
            amount += vertices + triangles;
        }
    }
    firstStretch.push_back(stretches.size());
    workAll(stretches, amount);

    std::vector<SectionFacts> facts(firstStretch.size() - 1);
    for (std::size_t k = 0; k < facts.size(); ++k) {
        SectionFacts& f = facts[k];
        resetBounds(f);
        for (std::size_t i = firstStretch[k]; i < firstStretch[k + 1]; ++i) {
            const SectionFacts& s = stretches[i].facts;
            f.kept += s.kept;
            f.nonFinite += s.nonFinite;
            f.normalsOk = f.normalsOk && s.normalsOk;
            for (int d = 0; d < 3; ++d) {
                f.min[d] = std::min(f.min[d], s.min[d]);
                f.max[d] = std::max(f.max[d], s.max[d]);
            }
        }
    }
    return facts;
}

// Settles what each section contributes and where its data goes in the
// buffer, from the facts found in its arrays. `skimmed`: the model holds no
// arrays, and its counts are what the arrays held.
Layout plan(const Model& model, const std::vector<SectionFacts>& facts, bool skimmed,
            const TextureSet& textures, Notes& notes) {
    Layout layout;
    std::uint64_t triangleFaults = 0, nonFinite = 0, withoutNormals = 0;
    std::map<std::string, std::size_t> materialIndex;
    std::map<std::size_t, std::size_t> textureIndex;
    std::size_t k = 0; // the section's number in the model
    for (const Mesh& mesh : model.meshes) {
        layout.firstPrimitive.push_back(layout.primitives.size());
        for (const MeshSection& section : mesh.sections) {
            const SectionFacts& f = facts[k];
            Primitive p;
            p.section = &section;
            p.mesh = &mesh;
            p.sectionNumber = k++;
            const std::size_t vertices =
                skimmed ? std::size_t{section.vertexCount} : vertexLimit(section);
            const std::size_t triangles =
                skimmed ? std::size_t{section.triangleCount} : faceLimit(section);
            if (vertices == 0)
                triangleFaults += triangles;
            if (vertices == 0 || triangles == 0)
                continue;
            triangleFaults += triangles - f.kept;
            if (f.kept == 0)
                continue;
            p.vertices = static_cast<std::uint32_t>(vertices);
            p.triangles = static_cast<std::uint32_t>(f.kept);
            p.allTriangles = static_cast<std::uint32_t>(triangles);
            std::copy_n(f.min, 3, p.min);
            std::copy_n(f.max, 3, p.max);
            p.hasNormals = f.normalsOk;
            if (!skimmed && f.kept < triangles) {
                p.keptIndices.reserve(3 * f.kept);
                const std::uint32_t* index = section.indices.data();
                for (std::size_t t = 0; t < triangles; ++t, index += 3)
                    if (index[0] < vertices && index[1] < vertices && index[2] < vertices)
                        p.keptIndices.insert(p.keptIndices.end(), index, index + 3);
            }
            // Viewers compute flat normals for a primitive without them, which
            // beats inventing a direction for the vertices that have none.
            withoutNormals += !p.hasNormals;
            nonFinite += f.nonFinite;

            const std::string name = materialNameOf(section);
            if (!name.empty()) {
                const auto [it, added] = materialIndex.emplace(name, layout.materials.size());
                if (added) {
                    layout.materials.push_back(name);
                    std::int64_t texture = -1;
                    if (const auto image = textures.imageOf.find(name);
                        image != textures.imageOf.end() && image->second < textures.images.size()) {
                        const auto [known, isNew] =
                            textureIndex.emplace(image->second, layout.images.size());
                        if (isNew)
                            layout.images.push_back(image->second);
                        texture = static_cast<std::int64_t>(known->second);
                    }
                    layout.textureOfMaterial.push_back(texture);
                }
                p.material = static_cast<std::int64_t>(it->second);
            }
            layout.primitives.push_back(std::move(p));
        }
    }
    layout.firstPrimitive.push_back(layout.primitives.size());

    // Attributes first, each kind in one view, then the indices, then the images.
    std::uint64_t at = 0;
    const auto place = [&](View& view, std::uint32_t target, std::uint32_t stride, auto&& size,
                           auto&& offset) {
        view.offset = at;
        view.target = target;
        view.stride = stride;
        for (Primitive& p : layout.primitives) {
            const std::uint64_t bytes = size(p);
            if (bytes == 0)
                continue;
            offset(p) = at - view.offset;
            at += bytes;
        }
        view.length = at - view.offset;
    };
    place(
        layout.positions, arrayBuffer, 12,
        [](const Primitive& p) { return 12 * std::uint64_t{p.vertices}; },
        [](Primitive& p) -> std::uint64_t& { return p.positionAt; });
    place(
        layout.normals, arrayBuffer, 12,
        [](const Primitive& p) { return p.hasNormals ? 12 * std::uint64_t{p.vertices} : 0; },
        [](Primitive& p) -> std::uint64_t& { return p.normalAt; });
    place(
        layout.texCoords, arrayBuffer, 8,
        [](const Primitive& p) { return 8 * std::uint64_t{p.vertices}; },
        [](Primitive& p) -> std::uint64_t& { return p.texCoordAt; });
    place(
        layout.indices, elementArrayBuffer, 0,
        [](const Primitive& p) { return 12 * std::uint64_t{p.triangles}; },
        [](Primitive& p) -> std::uint64_t& { return p.indexAt; });
    for (const std::size_t image : layout.images) {
        layout.imageAt.push_back(at);
        at += (textures.images[image].png.size() + 3) / 4 * 4;
    }
    layout.binarySize = at;

    if (triangleFaults)
        notes.push_back(countOf(triangleFaults, "triangle", "triangles") +
                        " left out: a corner past the section's vertices");
    if (withoutNormals)
        notes.push_back(countOf(withoutNormals, "section", "sections") +
                        " written without normals: a normal of zero length or not finite");
    if (nonFinite)
        notes.push_back(countOf(nonFinite, "number", "numbers") +
                        " not finite in positions or texture coordinates, written as 0");
    return layout;
}

// Compact JSON, built in memory: it is small beside the binary data.
struct Json {
    std::string text;

    Json& raw(std::string_view s) {
        text += s;
        return *this;
    }
    Json& num(std::uint64_t value) {
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        text.append(buffer, result.ptr);
        return *this;
    }
    // The shortest text that reads back as the same double, which the float
    // converts to exactly; readers compare bounds with the data as doubles.
    Json& real(float value) {
        char buffer[40];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, double{value});
        text.append(buffer, result.ptr);
        return *this;
    }
    // UTF-8 text; only quotes, backslashes and control bytes need escapes.
    Json& str(std::string_view s) {
        static constexpr char hex[] = "0123456789abcdef";
        text += '"';
        for (const char c : s) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                text += '\\';
                text += c;
            } else if (byte < 0x20) {
                text += "\\u00";
                text += hex[byte >> 4];
                text += hex[byte & 15];
            } else {
                text += c;
            }
        }
        text += '"';
        return *this;
    }
    Json& vec3(const float* v) {
        return raw("[").real(v[0]).raw(",").real(v[1]).raw(",").real(v[2]).raw("]");
    }
};

// Bytes outside the unreserved set are percent-encoded: the buffer's file
// name goes into a URI.
std::string uriOf(const std::string& fileName) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : fileName) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 15];
        }
    }
    return out;
}

std::string jsonOf(const Model& model, const Layout& layout, const TextureSet& textures,
                   const std::string* binName) {
    Json j;
    j.raw(R"({"asset":{"generator":"ulvtool 0.1","version":"2.0"},"scene":0,"scenes":[{)");
    if (!model.meshes.empty()) {
        j.raw(R"("nodes":[)");
        for (std::size_t i = 0; i < model.meshes.size(); ++i)
            j.raw(i ? "," : "").num(i);
        j.raw("]");
    }
    j.raw("}]");

    // Accessors: per primitive, position, normal (if any), texture
    // coordinates and indices, numbered in that order.
    std::vector<std::uint64_t> firstAccessor;
    std::uint64_t accessors = 0;
    for (const Primitive& p : layout.primitives) {
        firstAccessor.push_back(accessors);
        accessors += p.hasNormals ? 4 : 3;
    }

    // glTF allows no empty arrays: what has no entries is left out.
    std::uint64_t meshIndex = 0;
    for (std::size_t i = 0; i < model.meshes.size(); ++i) {
        j.raw(i ? "," : R"(,"nodes":[)").raw(R"({"name":"mesh)").num(i).raw("\"");
        if (layout.firstPrimitive[i] < layout.firstPrimitive[i + 1])
            j.raw(R"(,"mesh":)").num(meshIndex++);
        j.raw(i + 1 == model.meshes.size() ? "}]" : "}");
    }

    if (meshIndex) {
        j.raw(R"(,"meshes":[)");
        bool firstMesh = true;
        for (std::size_t i = 0; i < model.meshes.size(); ++i) {
            const std::size_t begin = layout.firstPrimitive[i], end = layout.firstPrimitive[i + 1];
            if (begin == end)
                continue;
            j.raw(firstMesh ? "" : ",").raw(R"({"name":"mesh)").num(i).raw(R"(","primitives":[)");
            firstMesh = false;
            for (std::size_t k = begin; k < end; ++k) {
                const Primitive& p = layout.primitives[k];
                std::uint64_t a = firstAccessor[k];
                j.raw(k > begin ? "," : "").raw(R"({"attributes":{"POSITION":)").num(a++);
                if (p.hasNormals)
                    j.raw(R"(,"NORMAL":)").num(a++);
                j.raw(R"(,"TEXCOORD_0":)").num(a);
                j.raw(R"(},"indices":)").num(a + 1);
                if (p.material >= 0)
                    j.raw(R"(,"material":)").num(static_cast<std::uint64_t>(p.material));
                j.raw("}");
            }
            j.raw("]}");
        }
        j.raw("]");
    }

    if (!layout.materials.empty()) {
        j.raw(R"(,"materials":[)");
        for (std::size_t m = 0; m < layout.materials.size(); ++m) {
            j.raw(m ? "," : "").raw(R"({"name":)").str(latin1ToUtf8(layout.materials[m]));
            j.raw(R"(,"pbrMetallicRoughness":{)");
            if (layout.textureOfMaterial[m] >= 0)
                j.raw(R"("baseColorTexture":{"index":)")
                    .num(static_cast<std::uint64_t>(layout.textureOfMaterial[m]))
                    .raw("},");
            j.raw(R"("metallicFactor":0,"roughnessFactor":1}})");
        }
        j.raw("]");
    }

    // Views: the four kinds of array that are present, then one per image.
    std::vector<const View*> views;
    std::uint64_t positionView = 0, normalView = 0, texCoordView = 0, indexView = 0;
    for (const auto& [view, number] :
         {std::pair{&layout.positions, &positionView}, std::pair{&layout.normals, &normalView},
          std::pair{&layout.texCoords, &texCoordView}, std::pair{&layout.indices, &indexView}}) {
        *number = views.size();
        if (view->length)
            views.push_back(view);
    }
    const std::uint64_t firstImageView = views.size();

    if (!layout.primitives.empty()) {
        j.raw(R"(,"accessors":[)");
        bool first = true;
        const auto accessor = [&](std::uint64_t view, std::uint64_t offset, std::uint32_t type,
                                  std::uint64_t count, const char* shape) {
            j.raw(first ? "" : ",").raw(R"({"bufferView":)").num(view);
            first = false;
            if (offset)
                j.raw(R"(,"byteOffset":)").num(offset);
            j.raw(R"(,"componentType":)").num(type).raw(R"(,"count":)").num(count);
            j.raw(R"(,"type":")").raw(shape).raw("\"");
        };
        for (const Primitive& p : layout.primitives) {
            accessor(positionView, p.positionAt, floatType, p.vertices, "VEC3");
            j.raw(R"(,"min":)").vec3(p.min).raw(R"(,"max":)").vec3(p.max).raw("}");
            if (p.hasNormals) {
                accessor(normalView, p.normalAt, floatType, p.vertices, "VEC3");
                j.raw("}");
            }
            accessor(texCoordView, p.texCoordAt, floatType, p.vertices, "VEC2");
            j.raw("}");
            accessor(indexView, p.indexAt, uintType, 3 * std::uint64_t{p.triangles}, "SCALAR");
            j.raw("}");
        }
        j.raw("]");
    }

    if (!layout.images.empty()) {
        j.raw(R"(,"textures":[)");
        for (std::size_t i = 0; i < layout.images.size(); ++i)
            j.raw(i ? "," : "").raw(R"({"source":)").num(i).raw("}");
        j.raw(R"(],"images":[)");
        for (std::size_t i = 0; i < layout.images.size(); ++i)
            j.raw(i ? "," : "")
                .raw(R"({"bufferView":)")
                .num(firstImageView + i)
                .raw(R"(,"mimeType":"image/png"})");
        j.raw("]");
    }

    if (layout.binarySize) {
        j.raw(R"(,"bufferViews":[)");
        bool first = true;
        const auto view = [&](std::uint64_t offset, std::uint64_t length, std::uint32_t target,
                              std::uint32_t stride) {
            j.raw(first ? "" : ",").raw(R"({"buffer":0)");
            first = false;
            if (offset)
                j.raw(R"(,"byteOffset":)").num(offset);
            j.raw(R"(,"byteLength":)").num(length);
            if (stride)
                j.raw(R"(,"byteStride":)").num(stride);
            if (target)
                j.raw(R"(,"target":)").num(target);
            j.raw("}");
        };
        for (const View* v : views)
            view(v->offset, v->length, v->target, v->stride);
        for (std::size_t i = 0; i < layout.images.size(); ++i)
            view(layout.imageAt[i], textures.images[layout.images[i]].png.size(), 0, 0);
        j.raw(R"(],"buffers":[{)");
        if (binName)
            j.raw(R"("uri":)").str(uriOf(*binName)).raw(",");
        j.raw(R"("byteLength":)").num(layout.binarySize).raw("}]");
    }
    j.raw("}");
    return std::move(j.text);
}

bool put(std::ostream& out, const void* data, std::uint64_t size) {
    // Written in pieces that a streamsize holds on every platform.
    const char* bytes = static_cast<const char*>(data);
    constexpr std::uint64_t piece = std::uint64_t{1} << 30;
    while (size) {
        const std::uint64_t n = std::min(size, piece);
        out.write(bytes, static_cast<std::streamsize>(n));
        bytes += n;
        size -= n;
    }
    return bool(out);
}

// Byte order for glTF's little-endian data on a big-endian host; unused elsewhere.
[[maybe_unused]] std::uint32_t swap32(std::uint32_t v) {
    return v >> 24 | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | v << 24;
}

// The arrays as they lie in memory: glTF stores little-endian, as the host does.
template <typename T> bool putArray(std::ostream& out, const T* values, std::uint64_t count) {
    static_assert(sizeof(T) == 4);
    if constexpr (std::endian::native == std::endian::little) {
        return put(out, values, 4 * count);
    } else {
        std::vector<std::uint32_t> swapped(count);
        for (std::uint64_t i = 0; i < count; ++i) {
            swapped[i] = swap32(std::bit_cast<std::uint32_t>(values[i]));
        }
        return put(out, swapped.data(), 4 * count);
    }
}

// The write-behind buffers for a skimmed model's binary data: measured
// quicker than the OBJ writer's larger ones, since the numbers are moved
// faster than text is formatted and a buffer then stays in the cache until
// it is written.
constexpr std::size_t bufferSize = std::size_t{1} << 21;

// A skimmed model's arrays, read again from its stream a piece at a time,
// moved as when they were examined, and written through `out`, whose thread
// writes one buffer while the next fills. Each call fails when the stream
// does not give the bytes or they no longer hold what the layout was planned
// from.
class Reread {
  public:
    Reread(std::istream& in, std::streamoff start, const std::vector<SectionFacts>& facts)
        : in_(in), start_(start), facts_(facts) {}

    bool positions(TextOut& out, const Primitive& p) {
        float lo[3], hi[3];
        std::fill_n(lo, 3, std::numeric_limits<float>::infinity());
        std::fill_n(hi, 3, -std::numeric_limits<float>::infinity());
        for (std::size_t v = 0, n; v < p.vertices; v += n) {
            n = std::min<std::size_t>(piece, p.vertices - v);
            float* values = fetch(out, arraysOf(p) + 12 * v, 3 * n);
            if (!values)
                return false;
            movePositions(p.mesh->transform, values, n, lo, hi);
            commit(out, values, 3 * n);
        }
        return std::memcmp(lo, p.min, sizeof lo) == 0 && std::memcmp(hi, p.max, sizeof hi) == 0;
    }

    bool normals(TextOut& out, const Primitive& p) {
        const NormalMatrix matrix = normalMatrixOf(p.mesh->transform);
        for (std::size_t v = 0, n; v < p.vertices; v += n) {
            n = std::min<std::size_t>(piece, p.vertices - v);
            float* values = fetch(out, arraysOf(p) + 12 * (std::uint64_t{p.vertices} + v), 3 * n);
            if (!values || !moveNormals(matrix, values, n))
                return false;
            commit(out, values, 3 * n);
        }
        return true;
    }

    bool texCoords(TextOut& out, const Primitive& p) {
        for (std::size_t v = 0, n; v < p.vertices; v += n) {
            n = std::min<std::size_t>(piece, p.vertices - v);
            float* values = fetch(out, arraysOf(p) + 24 * std::uint64_t{p.vertices} + 8 * v, 2 * n);
            if (!values)
                return false;
            zeroNonFinite(values, 2 * n);
            commit(out, values, 2 * n);
        }
        return true;
    }

    // Four 16-bit numbers per triangle in the file, the fourth dropped, as
    // the reader does.
    bool indices(TextOut& out, const Primitive& p) {
        std::uint64_t kept = 0;
        for (std::size_t t = 0, n; t < p.allTriangles; t += n) {
            n = std::min<std::size_t>(piece, p.allTriangles - t);
            const std::uint64_t at = arraysOf(p) + 32 * std::uint64_t{p.vertices} + 8 * t;
            if (!read(at, records_, 8 * n))
                return false;
            auto* dst = reinterpret_cast<std::uint32_t*>(out.room(12 * n));
            std::uint32_t* const first = dst;
            const std::uint8_t* bytes = records_.data();
            for (std::size_t k = 0; k < n; ++k, bytes += 8) {
                const std::uint32_t a = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8;
                const std::uint32_t b = std::uint32_t{bytes[2]} | std::uint32_t{bytes[3]} << 8;
                const std::uint32_t c = std::uint32_t{bytes[4]} | std::uint32_t{bytes[5]} << 8;
                const bool keep = a < p.vertices && b < p.vertices && c < p.vertices;
                // Written always, advanced only when kept: no branch per triangle.
                dst[0] = a;
                dst[1] = b;
                dst[2] = c;
                dst += 3 * keep;
            }
            const auto count = static_cast<std::size_t>(dst - first);
            kept += count / 3;
            commit(out, first, count);
        }
        return kept == p.triangles;
    }

  private:
    // Vertices or triangles per piece: a few hundred KiB, warm in the cache
    // while they are moved and handed to the writer.
    static constexpr std::size_t piece = std::size_t{1} << 15;
    static_assert(12 * piece <= bufferSize);

    std::uint64_t arraysOf(const Primitive& p) const { return facts_[p.sectionNumber].arraysAt; }

    bool read(std::uint64_t at, std::vector<std::uint8_t>& into, std::size_t size) {
        if (into.size() < size)
            into.resize(size);
        return read(at, into.data(), size);
    }

    bool read(std::uint64_t at, void* into, std::size_t size) {
        in_.clear();
        if (!in_.seekg(start_ + static_cast<std::streamoff>(at)))
            return false;
        in_.read(static_cast<char*>(into), static_cast<std::streamsize>(size));
        return in_.gcount() == static_cast<std::streamsize>(size);
    }

    // `count` numbers at `at`, read straight into the output buffer and
    // turned into the host's order; nullptr when the stream fails. The
    // buffer holds only whole numbers, so it stays aligned for them.
    float* fetch(TextOut& out, std::uint64_t at, std::size_t count) {
        auto* values = reinterpret_cast<float*>(out.room(4 * count));
        if (!read(at, values, 4 * count))
            return nullptr;
        if constexpr (std::endian::native != std::endian::little)
            for (std::size_t i = 0; i < count; ++i)
                values[i] = std::bit_cast<float>(swap32(std::bit_cast<std::uint32_t>(values[i])));
        return values;
    }

    // Hands `count` numbers at `values`, the output buffer's room, to the
    // writer in glTF's little-endian order.
    template <typename T> static void commit(TextOut& out, T* values, std::size_t count) {
        if constexpr (std::endian::native != std::endian::little)
            for (std::size_t i = 0; i < count; ++i)
                values[i] = std::bit_cast<T>(swap32(std::bit_cast<std::uint32_t>(values[i])));
        out.commit(reinterpret_cast<char*>(values + count));
    }

    std::istream& in_;
    std::streamoff start_;
    const std::vector<SectionFacts>& facts_;
    std::vector<std::uint8_t> records_;
};

bool putBinary(std::ostream& out, const Layout& layout, const TextureSet& textures) {
    bool ok = true;
    for (const Primitive& p : layout.primitives)
        ok = ok && putArray(out, p.section->positions.data(), 3 * std::uint64_t{p.vertices});
    for (const Primitive& p : layout.primitives)
        ok = ok && (!p.hasNormals ||
                    putArray(out, p.section->normals.data(), 3 * std::uint64_t{p.vertices}));
    for (const Primitive& p : layout.primitives)
        ok = ok && putArray(out, p.section->texCoords.data(), 2 * std::uint64_t{p.vertices});
    for (const Primitive& p : layout.primitives)
        ok = ok && putArray(out, p.indices(), 3 * std::uint64_t{p.triangles});
    static constexpr char zeros[4] = {};
    for (const std::size_t image : layout.images) {
        const std::vector<std::uint8_t>& png = textures.images[image].png;
        ok = ok && put(out, png.data(), png.size()) && put(out, zeros, (4 - png.size() % 4) % 4);
    }
    return ok;
}

bool putBinary(std::ostream& stream, const Layout& layout, const TextureSet& textures,
               Reread& reread) {
    TextOut out(stream, bufferSize);
    bool ok = true;
    for (const Primitive& p : layout.primitives)
        ok = ok && reread.positions(out, p);
    for (const Primitive& p : layout.primitives)
        ok = ok && (!p.hasNormals || reread.normals(out, p));
    for (const Primitive& p : layout.primitives)
        ok = ok && reread.texCoords(out, p);
    for (const Primitive& p : layout.primitives)
        ok = ok && reread.indices(out, p);
    static constexpr char zeros[4] = {};
    for (const std::size_t image : layout.images) {
        const std::vector<std::uint8_t>& png = textures.images[image].png;
        out.put({reinterpret_cast<const char*>(png.data()), png.size()});
        out.put({zeros, (4 - png.size() % 4) % 4});
    }
    return out.flush() && ok;
}

void putU32(std::string& out, std::uint64_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>(value >> shift & 0xFF);
}

} // namespace

OutputFormat outputFormatFor(const std::string& outputPath) {
    std::string extension = utf8Text(utf8Path(outputPath).extension());
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (extension == ".glb")
        return OutputFormat::glb;
    if (extension == ".gltf")
        return OutputFormat::gltf;
    return OutputFormat::obj;
}

std::string binPathFor(const std::string& gltfPath) {
    return utf8Text(utf8Path(gltfPath).replace_extension(".bin"));
}

const char* messageFor(GltfResult result) {
    switch (result) {
    case GltfResult::ok:
        return "";
    case GltfResult::tooLarge:
        return "The model is too large for glTF: over 4 GiB of data";
    case GltfResult::failed:
        break;
    }
    return "Unable to write the output file";
}

namespace {

// A model and the facts of its sections; for a skimmed model, `reread`
// gives its arrays.
struct Source {
    const Model& model;
    const std::vector<SectionFacts>& facts;
    Reread* reread = nullptr;
};

GltfResult glbOf(const Source& source, const TextureSet& textures, std::ostream& out, Notes& notes,
                 std::uint64_t sizeLimit) {
    const Layout layout =
        plan(source.model, source.facts, source.reread != nullptr, textures, notes);
    std::string json = jsonOf(source.model, layout, textures, nullptr);
    json.append((4 - json.size() % 4) % 4, ' ');
    const std::uint64_t binChunk = layout.binarySize ? 8 + layout.binarySize : 0;
    const std::uint64_t total = 12 + 8 + json.size() + binChunk;
    if (total > sizeLimit)
        return GltfResult::tooLarge;
    std::string head = "glTF";
    putU32(head, 2);
    putU32(head, total);
    putU32(head, json.size());
    head += "JSON";
    bool ok = put(out, head.data(), head.size()) && put(out, json.data(), json.size());
    if (binChunk) {
        std::string binHead;
        putU32(binHead, layout.binarySize);
        binHead.append("BIN\0", 4);
        ok = ok && put(out, binHead.data(), binHead.size()) &&
             (source.reread ? putBinary(out, layout, textures, *source.reread)
                            : putBinary(out, layout, textures));
    }
    out.flush();
    return ok && out ? GltfResult::ok : GltfResult::failed;
}

GltfResult gltfOf(const Source& source, const TextureSet& textures, std::ostream& json,
                  std::ostream& bin, const std::string& binName, Notes& notes,
                  std::uint64_t sizeLimit) {
    const Layout layout =
        plan(source.model, source.facts, source.reread != nullptr, textures, notes);
    if (layout.binarySize > sizeLimit)
        return GltfResult::tooLarge;
    const std::string text = jsonOf(source.model, layout, textures, &binName) + "\n";
    const bool ok = put(json, text.data(), text.size()) &&
                    (source.reread ? putBinary(bin, layout, textures, *source.reread)
                                   : putBinary(bin, layout, textures));
    json.flush();
    bin.flush();
    return ok && json && bin ? GltfResult::ok : GltfResult::failed;
}

GltfResult filesOf(const Source& source, const TextureSet& textures, const std::string& outputPath,
                   Notes& notes) {
    GltfResult result = GltfResult::failed;
    std::vector<std::string> paths{outputPath};
    if (outputFormatFor(outputPath) == OutputFormat::gltf)
        paths.push_back(binPathFor(outputPath));
    const bool ok = replaceFiles(paths, [&](const std::vector<std::ostream*>& streams) {
        if (streams.size() == 2)
            result = gltfOf(source, textures, *streams[0], *streams[1],
                            utf8Text(utf8Path(paths[1]).filename()), notes, maxFileSize);
        else
            result = glbOf(source, textures, *streams[0], notes, maxFileSize);
        return result == GltfResult::ok;
    });
    return ok ? GltfResult::ok : result == GltfResult::ok ? GltfResult::failed : result;
}

} // namespace

GltfResult writeGlb(Model model, const TextureSet& textures, std::ostream& out, Notes& notes,
                    std::uint64_t sizeLimit) {
    const std::vector<SectionFacts> facts = examine(model);
    return glbOf({model, facts}, textures, out, notes, sizeLimit);
}

GltfResult writeGltf(Model model, const TextureSet& textures, std::ostream& json, std::ostream& bin,
                     const std::string& binName, Notes& notes, std::uint64_t sizeLimit) {
    const std::vector<SectionFacts> facts = examine(model);
    return gltfOf({model, facts}, textures, json, bin, binName, notes, sizeLimit);
}

GltfResult writeGlb(Model model, const TextureSet& textures, std::ostream& out, Notes& notes) {
    return writeGlb(std::move(model), textures, out, notes, maxFileSize);
}

GltfResult writeGltf(Model model, const TextureSet& textures, std::ostream& json, std::ostream& bin,
                     const std::string& binName, Notes& notes) {
    return writeGltf(std::move(model), textures, json, bin, binName, notes, maxFileSize);
}

GltfResult writeGltf(Model model, const std::string& outputPath, const std::string& textureFolder,
                     Notes& notes) {
    const TextureSet textures = loadTextures(model, textureFolder, notes);
    const std::vector<SectionFacts> facts = examine(model);
    return filesOf({model, facts}, textures, outputPath, notes);
}

namespace {

// Examines a skimmed model's sections on a second thread while the reader
// reads the next one. Small sections are examined at once: handing them over
// would cost more than they take.
class Examiner {
  public:
    explicit Examiner(std::vector<SectionFacts>& facts) : facts_(facts) {}
    ~Examiner() { stop(); }
    Examiner(const Examiner&) = delete;
    Examiner& operator=(const Examiner&) = delete;

    // Takes the section's arrays and gives it others to read into.
    void take(const Mesh& mesh, MeshSection& section, std::uint64_t arraysAt) {
        SectionFacts& facts = facts_.emplace_back();
        facts.arraysAt = arraysAt;
        resetBounds(facts);
        const std::size_t vertices = vertexLimit(section), triangles = faceLimit(section);
        if (vertices == 0 || triangles == 0)
            return;
        if (vertices + triangles < handOverSize || !started()) {
            const NormalMatrix matrix = normalMatrixOf(mesh.transform);
            Stretch whole = wholeOf(section, mesh.transform, matrix, vertices, triangles);
            work(whole);
            facts = whole.facts;
            facts.arraysAt = arraysAt;
            return;
        }
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !pending_; });
            collect();
            swapArrays(section, section_);
            transform_ = mesh.transform;
            matrix_ = normalMatrixOf(transform_);
            job_ = wholeOf(section_, transform_, matrix_, vertices, triangles);
            index_ = facts_.size() - 1;
            pending_ = true;
        }
        changed_.notify_all();
    }

    // Waits for the last section handed over.
    void finish() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !pending_; });
        collect();
    }

  private:
    static constexpr std::size_t handOverSize = std::size_t{1} << 13;

    static Stretch wholeOf(MeshSection& section, const Transform& transform,
                           const NormalMatrix& matrix, std::size_t vertices,
                           std::size_t triangles) {
        Stretch whole;
        whole.section = &section;
        whole.transform = &transform;
        whole.normalMatrix = &matrix;
        whole.vertices = whole.vertexEnd = vertices;
        whole.triangleEnd = triangles;
        whole.factsOnly = true;
        return whole;
    }

    bool started() {
        if (!thread_.joinable() && !failedToStart_) {
            try {
                if (std::thread::hardware_concurrency() > 1)
                    thread_ = std::thread([this] { run(); });
            } catch (const std::system_error&) {
                // No thread to be had: sections are examined as they come.
            }
            failedToStart_ = !thread_.joinable();
        }
        return thread_.joinable();
    }

    // With the lock held: the finished section's facts into their place.
    void collect() {
        if (!done_)
            return;
        const std::uint64_t arraysAt = facts_[index_].arraysAt;
        facts_[index_] = job_.facts;
        facts_[index_].arraysAt = arraysAt;
        done_ = false;
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return pending_ || stopping_; });
            if (!pending_)
                return;
            lock.unlock();
            resetBounds(job_.facts);
            work(job_);
            lock.lock();
            pending_ = false;
            done_ = true;
            changed_.notify_all();
        }
    }

    void stop() {
        if (!thread_.joinable())
            return;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !pending_; });
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    std::vector<SectionFacts>& facts_;
    std::thread thread_;
    bool failedToStart_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    // The section handed over: its arrays, transform and where its facts go.
    MeshSection section_;
    Transform transform_;
    NormalMatrix matrix_{};
    Stretch job_;
    std::size_t index_ = 0;
    bool pending_ = false, done_ = false, stopping_ = false;
};

} // namespace

SkimmedModel skimModel(std::istream& stream, std::ostream* dump) {
    SkimmedModel skimmed;
    Examiner examiner(skimmed.sections);
    skimmed.model = readModel(stream, dump,
                              [&](const Mesh& mesh, MeshSection& section, std::uint64_t arraysAt) {
                                  examiner.take(mesh, section, arraysAt);
                              });
    examiner.finish();
    return skimmed;
}

GltfResult writeGlb(const SkimmedModel& skimmed, std::istream& stream, std::streamoff start,
                    const TextureSet& textures, std::ostream& out, Notes& notes) {
    Reread reread(stream, start, skimmed.sections);
    return glbOf({skimmed.model, skimmed.sections, &reread}, textures, out, notes, maxFileSize);
}

GltfResult writeGltf(const SkimmedModel& skimmed, std::istream& stream, std::streamoff start,
                     const TextureSet& textures, std::ostream& json, std::ostream& bin,
                     const std::string& binName, Notes& notes) {
    Reread reread(stream, start, skimmed.sections);
    return gltfOf({skimmed.model, skimmed.sections, &reread}, textures, json, bin, binName, notes,
                  maxFileSize);
}

GltfResult writeGltf(SkimmedModel skimmed, std::istream& stream, std::streamoff start,
                     const std::string& outputPath, const std::string& textureFolder,
                     Notes& notes) {
    const TextureSet textures = loadTextures(skimmed.model, textureFolder, notes);
    Reread reread(stream, start, skimmed.sections);
    return filesOf({skimmed.model, skimmed.sections, &reread}, textures, outputPath, notes);
}

} // namespace ulv
