#include "gltf/json.h"

#include <charconv>
#include <string_view>
#include <vector>

#include "gltf/extras.h"

namespace ulv {
namespace {

constexpr std::uint32_t floatType = 5126;
constexpr std::uint32_t uintType = 5125;

// Writes JSON values in order, and the commas between them: each container
// knows whether it holds anything yet.
class JsonWriter {
  public:
    JsonWriter& object() { return open('{'); }
    JsonWriter& array() { return open('['); }
    JsonWriter& end() {
        text_ += closers_.back();
        closers_.pop_back();
        empty_.pop_back();
        return *this;
    }
    JsonWriter& key(std::string_view name) {
        next();
        quoted(name);
        text_ += ':';
        afterKey_ = true;
        return *this;
    }
    JsonWriter& number(std::uint64_t value) {
        next();
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        text_.append(buffer, result.ptr);
        return *this;
    }
    // The shortest text that reads back as the same double, which the float
    // converts to exactly; readers compare bounds with the data as doubles.
    JsonWriter& real(float value) {
        next();
        char buffer[40];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, double{value});
        text_.append(buffer, result.ptr);
        return *this;
    }
    // UTF-8 text.
    JsonWriter& string(std::string_view value) {
        next();
        quoted(value);
        return *this;
    }
    JsonWriter& vec3(const float* v) { return array().real(v[0]).real(v[1]).real(v[2]).end(); }

    // Shorthands for a member.
    JsonWriter& member(std::string_view name, std::uint64_t value) {
        return key(name).number(value);
    }
    JsonWriter& member(std::string_view name, std::string_view value) {
        return key(name).string(value);
    }

    std::string take() { return std::move(text_); }

  private:
    JsonWriter& open(char opener) {
        next();
        text_ += opener;
        closers_.push_back(opener == '{' ? '}' : ']');
        empty_.push_back(true);
        return *this;
    }
    // Before a value or a key: a comma unless it is the first in its
    // container or the value of the key just written.
    void next() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (!empty_.empty()) {
            if (!empty_.back())
                text_ += ',';
            empty_.back() = false;
        }
    }
    // Only quotes, backslashes and control bytes need escapes.
    void quoted(std::string_view s) {
        static constexpr char hex[] = "0123456789abcdef";
        text_ += '"';
        for (const char c : s) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                text_ += '\\';
                text_ += c;
            } else if (byte < 0x20) {
                text_ += "\\u00";
                text_ += hex[byte >> 4];
                text_ += hex[byte & 15];
            } else {
                text_ += c;
            }
        }
        text_ += '"';
    }

    std::string text_;
    std::vector<char> closers_;
    std::vector<bool> empty_;
    bool afterKey_ = false;
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

std::string meshName(std::size_t mesh) { return "mesh" + std::to_string(mesh); }

// Numbers of the accessors: per primitive, position, normal (if any),
// texture coordinates and indices, in that order.
std::vector<std::uint64_t> firstAccessors(const Layout& layout) {
    std::vector<std::uint64_t> first;
    std::uint64_t accessors = 0;
    for (const Primitive& p : layout.primitives) {
        first.push_back(accessors);
        accessors += p.hasNormals ? 4 : 3;
    }
    return first;
}

// The views in the file: the kinds of array that are present, then one per
// image.
struct ViewNumbers {
    std::vector<const View*> arrays;
    std::uint64_t positions = 0, normals = 0, texCoords = 0, indices = 0;
    std::uint64_t firstImage = 0;
};

ViewNumbers viewNumbersOf(const Layout& layout) {
    ViewNumbers numbers;
    for (const auto& [view, number] : {std::pair{&layout.positions, &numbers.positions},
                                       std::pair{&layout.normals, &numbers.normals},
                                       std::pair{&layout.texCoords, &numbers.texCoords},
                                       std::pair{&layout.indices, &numbers.indices}}) {
        *number = numbers.arrays.size();
        if (view->length)
            numbers.arrays.push_back(view);
    }
    numbers.firstImage = numbers.arrays.size();
    return numbers;
}

// glTF allows no empty arrays: what has no entries is left out.

// The model's own fields, in `extras`: see gltf/extras.h.
void putExtras(JsonWriter& j, std::string_view key, const std::string& value) {
    j.key("extras").object().member(key, value).end();
}

// Each section of mesh `mesh` in file order, with what became of it.
std::string sectionsOf(const Model& model, const Layout& layout, std::size_t mesh) {
    std::size_t number = layout.firstSection[mesh];
    std::size_t primitive = layout.firstPrimitive[mesh];
    std::vector<SectionEntry> entries;
    for (const MeshSection& section : model.meshes[mesh].sections) {
        SectionEntry& entry = entries.emplace_back();
        entry.fields.materialName = section.materialName;
        entry.fields.opaqueWord1 = section.opaqueWord1;
        entry.fields.faceCount = section.faceCount;
        entry.fields.lodCount = section.lodCount;
        entry.fields.opaqueWord2 = section.opaqueWord2;
        entry.primitive = primitive < layout.firstPrimitive[mesh + 1] &&
                          layout.primitives[primitive].sectionNumber == number;
        if (entry.primitive) {
            entry.reversed = *layout.primitives[primitive].reversed;
            entry.triangles = layout.primitives[primitive++].triangles;
        }
        ++number;
    }
    return sectionExtras(entries);
}

// The stored values of mesh `mesh` that going back would not find; empty
// when there are none.
std::string storedOf(const Layout& layout, std::size_t mesh) {
    std::vector<StoredValue> values;
    for (std::size_t k = layout.firstPrimitive[mesh]; k < layout.firstPrimitive[mesh + 1]; ++k) {
        const Primitive& p = layout.primitives[k];
        for (StoredValue v : *p.stored) {
            v.section = static_cast<std::uint32_t>(p.sectionNumber - layout.firstSection[mesh]);
            values.push_back(v);
        }
    }
    return storedExtras(values);
}

void putScene(JsonWriter& j, const Model& model) {
    j.key("scenes").array().object();
    if (!model.meshes.empty()) {
        j.key("nodes").array();
        for (std::size_t i = 0; i < model.meshes.size(); ++i)
            j.number(i);
        j.end();
    }
    putExtras(j, headerKey, headerExtras(model));
    j.end().end();
}

void putNodes(JsonWriter& j, const Model& model, const Layout& layout) {
    if (model.meshes.empty())
        return;
    j.key("nodes").array();
    std::uint64_t meshIndex = 0;
    for (std::size_t i = 0; i < model.meshes.size(); ++i) {
        j.object().member("name", meshName(i));
        const bool hasMesh = layout.firstPrimitive[i] < layout.firstPrimitive[i + 1];
        if (hasMesh)
            j.member("mesh", meshIndex++);
        j.key("extras").object().member(meshKey, meshExtras(model.meshes[i]));
        // A node without a mesh keeps its sections itself.
        if (!hasMesh && !model.meshes[i].sections.empty())
            j.member(sectionsKey, sectionsOf(model, layout, i));
        j.end().end();
    }
    j.end();
}

void putMeshes(JsonWriter& j, const Model& model, const Layout& layout) {
    if (layout.primitives.empty())
        return;
    const std::vector<std::uint64_t> firstAccessor = firstAccessors(layout);
    j.key("meshes").array();
    for (std::size_t i = 0; i < model.meshes.size(); ++i) {
        const std::size_t begin = layout.firstPrimitive[i], end = layout.firstPrimitive[i + 1];
        if (begin == end)
            continue;
        j.object().member("name", meshName(i)).key("primitives").array();
        for (std::size_t k = begin; k < end; ++k) {
            const Primitive& p = layout.primitives[k];
            std::uint64_t a = firstAccessor[k];
            j.object().key("attributes").object().member("POSITION", a++);
            if (p.hasNormals)
                j.member("NORMAL", a++);
            j.member("TEXCOORD_0", a++).end();
            j.member("indices", a);
            if (p.material >= 0)
                j.member("material", static_cast<std::uint64_t>(p.material));
            j.end();
        }
        j.end();
        j.key("extras").object().member(sectionsKey, sectionsOf(model, layout, i));
        if (const std::string stored = storedOf(layout, i); !stored.empty())
            j.member(storedKey, stored);
        j.end().end();
    }
    j.end();
}

void putMaterials(JsonWriter& j, const Layout& layout) {
    if (layout.materials.empty())
        return;
    j.key("materials").array();
    for (std::size_t m = 0; m < layout.materials.size(); ++m) {
        j.object().member("name", latin1ToUtf8(layout.materials[m]));
        j.key("pbrMetallicRoughness").object();
        if (layout.textureOfMaterial[m] >= 0)
            j.key("baseColorTexture")
                .object()
                .member("index", static_cast<std::uint64_t>(layout.textureOfMaterial[m]))
                .end();
        // Not metallic and fully rough, so the texture shows as it is.
        j.member("metallicFactor", 0).member("roughnessFactor", 1).end();
        putExtras(j, nameKey, nameExtras(layout.materials[m]));
        j.end();
    }
    j.end();
}

void putAccessors(JsonWriter& j, const Layout& layout, const ViewNumbers& views) {
    if (layout.primitives.empty())
        return;
    j.key("accessors").array();
    const auto accessor = [&](std::uint64_t view, std::uint64_t offset, std::uint32_t type,
                              std::uint64_t count, const char* shape) -> JsonWriter& {
        j.object().member("bufferView", view);
        if (offset)
            j.member("byteOffset", offset);
        return j.member("componentType", type).member("count", count).member("type", shape);
    };
    for (const Primitive& p : layout.primitives) {
        accessor(views.positions, p.positionAt, floatType, p.vertices, "VEC3");
        j.key("min").vec3(p.min).key("max").vec3(p.max).end();
        if (p.hasNormals)
            accessor(views.normals, p.normalAt, floatType, p.vertices, "VEC3").end();
        accessor(views.texCoords, p.texCoordAt, floatType, p.vertices, "VEC2").end();
        accessor(views.indices, p.indexAt, uintType, 3 * std::uint64_t{p.triangles}, "SCALAR")
            .end();
    }
    j.end();
}

void putImages(JsonWriter& j, const Layout& layout, const ViewNumbers& views) {
    if (layout.images.empty())
        return;
    j.key("textures").array();
    for (std::size_t i = 0; i < layout.images.size(); ++i)
        j.object().member("source", i).end();
    j.end().key("images").array();
    for (std::size_t i = 0; i < layout.images.size(); ++i)
        j.object().member("bufferView", views.firstImage + i).member("mimeType", "image/png").end();
    j.end();
}

void putBuffers(JsonWriter& j, const Layout& layout, const TextureSet& textures,
                const ViewNumbers& views, const std::string* binName) {
    if (!layout.binarySize)
        return;
    j.key("bufferViews").array();
    const auto view = [&](std::uint64_t offset, std::uint64_t length, std::uint32_t target,
                          std::uint32_t stride) {
        j.object().member("buffer", 0);
        if (offset)
            j.member("byteOffset", offset);
        j.member("byteLength", length);
        if (stride)
            j.member("byteStride", stride);
        if (target)
            j.member("target", target);
        j.end();
    };
    for (const View* v : views.arrays)
        view(v->offset, v->length, v->target, v->stride);
    for (std::size_t i = 0; i < layout.images.size(); ++i)
        view(layout.imageAt[i], textures.images[layout.images[i]].png.size(), 0, 0);
    j.end().key("buffers").array().object();
    if (binName)
        j.member("uri", uriOf(*binName));
    j.member("byteLength", layout.binarySize).end().end();
}

} // namespace

std::string jsonOf(const Model& model, const Layout& layout, const TextureSet& textures,
                   const std::string* binName) {
    const ViewNumbers views = viewNumbersOf(layout);
    JsonWriter j;
    j.object();
    j.key("asset").object().member("generator", "ulvtool 0.1").member("version", "2.0").end();
    j.member("scene", 0);
    putScene(j, model);
    putNodes(j, model, layout);
    putMeshes(j, model, layout);
    putMaterials(j, layout);
    putAccessors(j, layout, views);
    putImages(j, layout, views);
    putBuffers(j, layout, textures, views, binName);
    j.end();
    return j.take();
}

} // namespace ulv
