#include "export/gltf_writer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <ostream>

#include "export/gltf_detail.h"
#include "export/safe_files.h"
#include "export/utf8_path.h"

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

// False when the normal has no direction (zero or not finite).
bool moveNormal(const NormalMatrix& n, float* normal) {
    const double x = normal[0], y = normal[1], z = normal[2];
    double out[3];
    for (int i = 0; i < 3; ++i)
        out[i] = n.c[i][0] * x + n.c[i][1] * y + n.c[i][2] * z;
    const double length = std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]);
    if (!(length > 0) || !std::isfinite(length))
        return false;
    const double scale = 1 / length;
    for (int i = 0; i < 3; ++i)
        normal[i] = static_cast<float>(out[i] * scale);
    return true;
}

// JSON cannot hold them and readers reject them in vertex data.
std::uint64_t zeroNonFinite(float* values, std::size_t count) {
    std::uint64_t replaced = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!(values[i] - values[i] == 0)) {
            values[i] = 0;
            ++replaced;
        }
    }
    return replaced;
}

// One section that has at least one vertex and one triangle.
struct Primitive {
    MeshSection* section = nullptr;
    std::uint32_t vertices = 0;
    std::uint32_t triangles = 0;
    bool hasNormals = true;
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

// Moves positions and normals into model space in the model itself, settles
// what each section contributes and where its data goes in the buffer.
Layout plan(Model& model, const TextureSet& textures, Notes& notes) {
    Layout layout;
    std::uint64_t triangleFaults = 0, nonFinite = 0, withoutNormals = 0;
    std::map<std::string, std::size_t> materialIndex;
    std::map<std::size_t, std::size_t> textureIndex;
    for (Mesh& mesh : model.meshes) {
        layout.firstPrimitive.push_back(layout.primitives.size());
        const NormalMatrix normalMatrix = normalMatrixOf(mesh.transform);
        for (MeshSection& section : mesh.sections) {
            const std::size_t vertices = vertexLimit(section);
            const std::size_t triangles = faceLimit(section);
            Primitive p;
            p.section = &section;
            p.vertices = static_cast<std::uint32_t>(vertices);
            const std::uint32_t* index = section.indices.data();
            std::size_t kept = 0;
            for (std::size_t t = 0; t < triangles; ++t)
                kept += index[3 * t] < vertices && index[3 * t + 1] < vertices &&
                        index[3 * t + 2] < vertices;
            triangleFaults += triangles - kept;
            if (vertices == 0 || kept == 0)
                continue;
            if (kept < triangles) {
                p.keptIndices.reserve(3 * kept);
                for (std::size_t t = 0; t < triangles; ++t, index += 3)
                    if (index[0] < vertices && index[1] < vertices && index[2] < vertices)
                        p.keptIndices.insert(p.keptIndices.end(), index, index + 3);
            }
            p.triangles = static_cast<std::uint32_t>(kept);

            // One pass: moved, made finite, and bounded.
            float* position = section.positions.data();
            std::fill_n(p.min, 3, std::numeric_limits<float>::infinity());
            std::fill_n(p.max, 3, -std::numeric_limits<float>::infinity());
            for (std::size_t k = 0; k < vertices; ++k, position += 3) {
                transformPoint(mesh.transform, position);
                for (int c = 0; c < 3; ++c) {
                    float& v = position[c];
                    if (!(v - v == 0)) { // NaN or infinite
                        v = 0;
                        ++nonFinite;
                    }
                    p.min[c] = std::min(p.min[c], v);
                    p.max[c] = std::max(p.max[c], v);
                }
            }
            // Viewers compute flat normals for a primitive without them, which
            // beats inventing a direction for the vertices that have none.
            float* normal = section.normals.data();
            for (std::size_t k = 0; k < vertices && p.hasNormals; ++k, normal += 3)
                p.hasNormals = moveNormal(normalMatrix, normal);
            withoutNormals += !p.hasNormals;
            nonFinite += zeroNonFinite(section.texCoords.data(), 2 * vertices);

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

// The arrays as they lie in memory: glTF stores little-endian, as the host does.
template <typename T> bool putArray(std::ostream& out, const T* values, std::uint64_t count) {
    static_assert(sizeof(T) == 4);
    if constexpr (std::endian::native == std::endian::little) {
        return put(out, values, 4 * count);
    } else {
        std::vector<std::uint32_t> swapped(count);
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint32_t v = std::bit_cast<std::uint32_t>(values[i]);
            swapped[i] = v >> 24 | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | v << 24;
        }
        return put(out, swapped.data(), 4 * count);
    }
}

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

GltfResult writeGlb(Model model, const TextureSet& textures, std::ostream& out, Notes& notes,
                    std::uint64_t sizeLimit) {
    const Layout layout = plan(model, textures, notes);
    std::string json = jsonOf(model, layout, textures, nullptr);
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
        ok = ok && put(out, binHead.data(), binHead.size()) && putBinary(out, layout, textures);
    }
    out.flush();
    return ok && out ? GltfResult::ok : GltfResult::failed;
}

GltfResult writeGltf(Model model, const TextureSet& textures, std::ostream& json, std::ostream& bin,
                     const std::string& binName, Notes& notes, std::uint64_t sizeLimit) {
    const Layout layout = plan(model, textures, notes);
    if (layout.binarySize > sizeLimit)
        return GltfResult::tooLarge;
    const std::string text = jsonOf(model, layout, textures, &binName) + "\n";
    const bool ok = put(json, text.data(), text.size()) && putBinary(bin, layout, textures);
    json.flush();
    bin.flush();
    return ok && json && bin ? GltfResult::ok : GltfResult::failed;
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
    GltfResult result = GltfResult::failed;
    std::vector<std::string> paths{outputPath};
    if (outputFormatFor(outputPath) == OutputFormat::gltf)
        paths.push_back(binPathFor(outputPath));
    const bool ok = replaceFiles(paths, [&](const std::vector<std::ostream*>& streams) {
        if (streams.size() == 2)
            result = writeGltf(std::move(model), textures, *streams[0], *streams[1],
                               utf8Text(utf8Path(paths[1]).filename()), notes);
        else
            result = writeGlb(std::move(model), textures, *streams[0], notes);
        return result == GltfResult::ok;
    });
    return ok ? GltfResult::ok : result == GltfResult::ok ? GltfResult::failed : result;
}

} // namespace ulv
