#include "tests/support/broken_gltf.h"

#include <cstring>
#include <functional>

namespace ulv {
namespace {

using nlohmann::json;

void appendLe(Bytes& out, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void pad(Bytes& bytes, std::uint8_t with) {
    while (bytes.size() % 4)
        bytes.push_back(with);
}

// A node's matrix: the identity with `entries` (column-major index, value) set.
json matrixWith(std::initializer_list<std::pair<int, double>> entries) {
    std::vector<double> m = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (const auto& [at, value] : entries)
        m[static_cast<std::size_t>(at)] = value;
    return m;
}

// One triangle: POSITION accessor 0 (view 0), 16-bit indices accessor 1
// (view 1), material 0 "wood", mesh 0 in node 0 in scene 0.
GltfBuilder triangle() {
    GltfBuilder b;
    const int position = b.floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3");
    const int corners = b.indices({0, 1, 2}, 5123);
    b.json["materials"] = json::array({json{{"name", "wood"}}});
    b.triangleScene(
        {{"attributes", {{"POSITION", position}}}, {"indices", corners}, {"material", 0}});
    return b;
}

using Change = std::function<void(GltfBuilder&)>;

BrokenGltf glb(const std::string& name, const Change& change, const std::string& reason) {
    GltfBuilder b = triangle();
    change(b);
    return {name + ".glb", b.glb(), {}, reason};
}

BrokenGltf gltf(const std::string& name, const Change& change, const std::string& reason) {
    GltfBuilder b = triangle();
    change(b);
    return {name + ".gltf", b.gltf(), {{"a.bin", b.bin}}, reason};
}

BrokenGltf raw(const std::string& name, Bytes bytes, const std::string& reason) {
    return {name, std::move(bytes), {}, reason};
}

// The triangle's .glb with its header or chunk headers changed.
Bytes changedGlb(const std::function<void(Bytes&)>& change) {
    Bytes bytes = triangle().glb();
    change(bytes);
    return bytes;
}

void setLe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t le32(const Bytes& bytes, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

} // namespace

Bytes floatBytes(std::initializer_list<float> values) {
    Bytes out;
    for (const float v : values) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &v, 4);
        appendLe(out, bits, 4);
    }
    return out;
}

Bytes u8Bytes(std::initializer_list<std::uint8_t> values) { return Bytes(values); }

Bytes u16Bytes(std::initializer_list<std::uint16_t> values) {
    Bytes out;
    for (const std::uint16_t v : values)
        appendLe(out, v, 2);
    return out;
}

Bytes u32Bytes(std::initializer_list<std::uint32_t> values) {
    Bytes out;
    for (const std::uint32_t v : values)
        appendLe(out, v, 4);
    return out;
}

Bytes textBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes makeGlb(const std::string& json, const Bytes& bin) {
    Bytes jsonChunk = textBytes(json);
    pad(jsonChunk, ' ');
    Bytes binChunk = bin;
    pad(binChunk, 0);
    Bytes out = textBytes("glTF");
    appendLe(out, 2, 4);
    const std::size_t length = 12 + 8 + jsonChunk.size() + (bin.empty() ? 0 : 8 + binChunk.size());
    appendLe(out, length, 4);
    appendLe(out, jsonChunk.size(), 4);
    appendLe(out, 0x4E4F534A, 4);
    out.insert(out.end(), jsonChunk.begin(), jsonChunk.end());
    if (!bin.empty()) {
        appendLe(out, binChunk.size(), 4);
        appendLe(out, 0x004E4942, 4);
        out.insert(out.end(), binChunk.begin(), binChunk.end());
    }
    return out;
}

GltfBuilder::GltfBuilder() : json{{"asset", {{"version", "2.0"}}}} {}

int GltfBuilder::view(const Bytes& bytes, int byteStride) {
    pad(bin, 0);
    json::object_t view{{"buffer", 0}, {"byteOffset", bin.size()}, {"byteLength", bytes.size()}};
    if (byteStride)
        view["byteStride"] = byteStride;
    bin.insert(bin.end(), bytes.begin(), bytes.end());
    json["bufferViews"].push_back(view);
    return static_cast<int>(json["bufferViews"].size() - 1);
}

int GltfBuilder::accessor(int view, int componentType, std::uint64_t count, const std::string& type,
                          const nlohmann::json& more) {
    nlohmann::json accessor{{"componentType", componentType}, {"count", count}, {"type", type}};
    if (view >= 0)
        accessor["bufferView"] = view;
    accessor.update(more);
    json["accessors"].push_back(accessor);
    return static_cast<int>(json["accessors"].size() - 1);
}

int GltfBuilder::floats(std::initializer_list<float> values, const std::string& type) {
    const std::size_t width = type == "VEC3" ? 3 : type == "VEC2" ? 2 : type == "VEC4" ? 4 : 1;
    return accessor(view(floatBytes(values)), 5126, values.size() / width, type);
}

int GltfBuilder::indices(std::initializer_list<std::uint32_t> values, int componentType) {
    Bytes bytes;
    for (const std::uint32_t v : values)
        appendLe(bytes, v, componentType == 5121 ? 1 : componentType == 5123 ? 2 : 4);
    return accessor(view(bytes), componentType, values.size(), "SCALAR");
}

void GltfBuilder::triangleScene(const nlohmann::json& primitive) {
    json["meshes"].push_back({{"primitives", {primitive}}});
    json["nodes"].push_back({{"mesh", json["meshes"].size() - 1}});
    json["scenes"] = {{{"nodes", {0}}}};
    json["scene"] = 0;
}

Bytes GltfBuilder::glb() const {
    nlohmann::json out = json;
    if (!out.contains("buffers") && !bin.empty())
        out["buffers"] = {{{"byteLength", bin.size()}}};
    return makeGlb(out.dump(), bin);
}

Bytes GltfBuilder::gltf(const std::string& binUri) const {
    nlohmann::json out = json;
    if (!out.contains("buffers") && !bin.empty())
        out["buffers"] = {{{"uri", binUri}, {"byteLength", bin.size()}}};
    return textBytes(out.dump());
}

ResourceLoader loaderOf(const SideFiles& files) {
    return [files](const std::string& uri, std::string& why) -> std::optional<Bytes> {
        const auto found = files.find(uri);
        if (found == files.end()) {
            why = "not found";
            return std::nullopt;
        }
        return found->second;
    };
}

std::vector<BrokenGltf> brokenGltfFiles() {
    json deep = json::array();
    for (int i = 0; i < 70; ++i)
        deep = json::array({deep});
    const Bytes glbBytes = triangle().glb();
    const std::size_t binHeader = 20 + le32(glbBytes, 12);

    return {
        // Not glTF at all.
        raw("empty.gltf", {}, "the file is empty"),
        raw("text.gltf", textBytes("Hello"), "not JSON (error at byte 1)"),
        raw("cut-json.gltf", textBytes(R"({"asset":{"version":"2.0"})"),
            "not JSON (error at byte 27)"),
        raw("array.gltf", textBytes("[]"), "the JSON is not an object"),
        raw("huge-number.gltf", textBytes(R"({"asset":{"version":"2.0"},"extras":1e999})"),
            "not JSON (a number out of range)"),
        glb(
            "deep", [&](GltfBuilder& b) { b.json["extras"] = deep; },
            "JSON nested deeper than 64 levels"),
        glb(
            "no-asset", [](GltfBuilder& b) { b.json.erase("asset"); }, "no asset object"),
        glb(
            "version-1", [](GltfBuilder& b) { b.json["asset"]["version"] = "1.0"; },
            "glTF 1.0, not 2.x"),
        glb(
            "min-version", [](GltfBuilder& b) { b.json["asset"]["minVersion"] = "2.1"; },
            "requires glTF 2.1"),
        glb(
            "draco",
            [](GltfBuilder& b) {
                b.json["extensionsUsed"] = {"KHR_draco_mesh_compression"};
                b.json["extensionsRequired"] = {"KHR_draco_mesh_compression"};
            },
            "requires unsupported extension KHR_draco_mesh_compression"),
        glb(
            "meshopt",
            [](GltfBuilder& b) { b.json["extensionsRequired"] = {"EXT_meshopt_compression"}; },
            "requires unsupported extension EXT_meshopt_compression"),
        glb(
            "basisu", [](GltfBuilder& b) { b.json["extensionsRequired"] = {"KHR_texture_basisu"}; },
            "requires unsupported extension KHR_texture_basisu"),

        // The .glb framing.
        raw("truncated.glb", Bytes(glbBytes.begin(), glbBytes.begin() + 60),
            "the .glb is truncated"),
        raw("header-only.glb", Bytes(glbBytes.begin(), glbBytes.begin() + 10),
            "the .glb is truncated"),
        raw("version-1.glb", changedGlb([](Bytes& b) { setLe32(b, 4, 1); }),
            "a .glb of version 1, not 2"),
        raw("trailing-bytes.glb", changedGlb([](Bytes& b) { b.insert(b.end(), 4, 0); }),
            "the .glb is longer than its header states"),
        raw("bin-first.glb", changedGlb([](Bytes& b) { setLe32(b, 16, 0x004E4942); }),
            "the .glb does not start with a JSON chunk"),
        // tinygltf 2.7.0 would read this chunk's last 8 bytes past the file.
        raw("bin-past-end.glb",
            changedGlb([&](Bytes& b) { setLe32(b, binHeader, le32(b, binHeader) + 8); }),
            "the .glb is truncated"),

        // Buffers.
        {"missing-bin.gltf", triangle().gltf(), {}, "cannot read a.bin (not found)"},
        gltf(
            "nul-in-uri",
            [](GltfBuilder& b) {
                b.json["buffers"] = {{{"uri", "a.bin%00.png"}, {"byteLength", b.bin.size()}}};
            },
            "cannot read a.bin?.png (a NUL byte in its name)"),
        {"short-bin.gltf",
         triangle().gltf(),
         {{"a.bin", Bytes(40)}},
         "buffer 0 is shorter than its byteLength"},
        gltf(
            "bad-base64",
            [](GltfBuilder& b) {
                b.json["buffers"] = {
                    {{"uri", "data:application/octet-stream;base64,@@@@"}, {"byteLength", 3}}};
            },
            "buffer 0: malformed base64 data"),
        gltf(
            "buffer-without-uri",
            [](GltfBuilder& b) {
                b.json["buffers"] = {{{"byteLength", b.bin.size()}}};
            },
            "buffer 0 has no uri"),
        glb(
            "no-bin-chunk",
            [](GltfBuilder& b) {
                b.json["buffers"] = {{{"byteLength", b.bin.size()}}};
                b.bin.clear();
            },
            "buffer 0 has no BIN chunk to refer to"),
        glb(
            "view-past-buffer", [](GltfBuilder& b) { b.json["bufferViews"][1]["byteLength"] = 8; },
            "buffer view 1 reaches past its buffer"),

        // Accessors.
        glb(
            "accessor-past-view", [](GltfBuilder& b) { b.json["accessors"][0]["count"] = 4; },
            "accessor 0 reaches past its buffer view"),
        glb(
            "offset-past-view", [](GltfBuilder& b) { b.json["accessors"][0]["byteOffset"] = 4; },
            "accessor 0 reaches past its buffer view"),
        glb(
            "narrow-stride", [](GltfBuilder& b) { b.json["bufferViews"][0]["byteStride"] = 8; },
            "accessor 0's elements are wider than its buffer view's byteStride"),
        glb(
            "count-4gib", [](GltfBuilder& b) { b.json["accessors"][0]["count"] = 1ull << 30; },
            "accessor 0 claims 4 GiB or more"),
        glb(
            "index-count-4gib",
            [](GltfBuilder& b) { b.json["accessors"][1]["count"] = 1ull << 31; },
            "accessor 1 claims 4 GiB or more"),
        // 600 MB of zeros from a file of a few hundred bytes.
        glb(
            "zeros",
            [](GltfBuilder& b) {
                b.json["accessors"][0].erase("bufferView");
                b.json["accessors"][0]["count"] = 50'000'000;
            },
            "decoded data would exceed 64 times the file's size"),
        glb(
            "sparse-index-past",
            [](GltfBuilder& b) {
                const int at = b.view(u8Bytes({3})), values = b.view(floatBytes({1, 1, 1}));
                b.json["accessors"][0]["sparse"] = {
                    {"count", 1},
                    {"indices", {{"bufferView", at}, {"componentType", 5121}}},
                    {"values", {{"bufferView", values}}}};
            },
            "accessor 0 has a sparse index past its elements"),
        glb(
            "missing-accessor",
            [](GltfBuilder& b) {
                b.json["meshes"][0]["primitives"][0]["attributes"]["POSITION"] = 9;
            },
            "accessor 9 does not exist"),
        glb(
            "accessor-without-type", [](GltfBuilder& b) { b.json["accessors"][0].erase("type"); },
            "'type' property is missing in `Accessor'"),

        // What the primitive's accessors hold.
        glb(
            "index-out-of-range",
            [](GltfBuilder& b) {
                b.json["meshes"][0]["primitives"][0]["indices"] = b.indices({0, 1, 3}, 5121);
            },
            "index 3 in accessor 2 is past the 3 vertices of mesh 0 primitive 0"),
        glb(
            "position-vec2", [](GltfBuilder& b) { b.json["accessors"][0]["type"] = "VEC2"; },
            "POSITION accessor 0 is not VEC3 float"),
        glb(
            "position-unquantized",
            [](GltfBuilder& b) { b.json["accessors"][0]["componentType"] = 5123; },
            "POSITION accessor 0 is not VEC3 float"),
        // 32-bit integers are no glTF type; tinygltf passes them on.
        glb(
            "position-int",
            [](GltfBuilder& b) {
                b.json["accessors"][0]["componentType"] = 5124;
                b.json["extensionsUsed"] = {"KHR_mesh_quantization"};
            },
            "POSITION accessor 0 is not VEC3 float or integer"),
        glb(
            "indices-float", [](GltfBuilder& b) { b.json["accessors"][1]["componentType"] = 5126; },
            "indices accessor 1 is not SCALAR unsigned integer"),
        glb(
            "indices-signed",
            [](GltfBuilder& b) { b.json["accessors"][1]["componentType"] = 5122; },
            "indices accessor 1 is not SCALAR unsigned integer"),
        glb(
            "texcoord-vec3",
            [](GltfBuilder& b) {
                b.json["meshes"][0]["primitives"][0]["attributes"]["TEXCOORD_0"] = 0;
            },
            "TEXCOORD_0 accessor 0 is not VEC2 float or normalized integer"),
        glb(
            "normal-count",
            [](GltfBuilder& b) {
                b.json["meshes"][0]["primitives"][0]["attributes"]["NORMAL"] =
                    b.floats({0, 0, 1, 0, 0, 1}, "VEC3");
            },
            "NORMAL accessor 2 and POSITION accessor 0 differ in count"),
        glb(
            "unknown-mode",
            [](GltfBuilder& b) { b.json["meshes"][0]["primitives"][0]["mode"] = 7; },
            "mesh 0 primitive 0 has unknown mode 7"),
        glb(
            "missing-material",
            [](GltfBuilder& b) { b.json["meshes"][0]["primitives"][0]["material"] = 4; },
            "mesh 0 primitive 0 refers to missing material 4"),

        // Nodes and scenes.
        glb(
            "cycle",
            [](GltfBuilder& b) {
                b.json["nodes"][0]["children"] = {1};
                b.json["nodes"][1] = {{"children", {0}}};
            },
            "the nodes form a cycle through node 0"),
        glb(
            "own-child", [](GltfBuilder& b) { b.json["nodes"][0]["children"] = {0}; },
            "the nodes form a cycle through node 0"),
        glb(
            "two-parents",
            [](GltfBuilder& b) {
                b.json["nodes"][0]["children"] = {2};
                b.json["nodes"][1] = {{"children", {2}}};
                b.json["nodes"][2] = json::object();
            },
            "node 2 has two parents"),
        glb(
            "missing-child", [](GltfBuilder& b) { b.json["nodes"][0]["children"] = {7}; },
            "node 0 refers to missing node 7"),
        glb(
            "missing-mesh", [](GltfBuilder& b) { b.json["nodes"][0]["mesh"] = 5; },
            "node 0 refers to missing mesh 5"),
        glb(
            "missing-scene", [](GltfBuilder& b) { b.json["scene"] = 3; }, "scene 3 does not exist"),
        glb(
            "scene-lists-child",
            [](GltfBuilder& b) {
                b.json["nodes"][0]["children"] = {1};
                b.json["nodes"][1] = json::object();
                b.json["scenes"][0]["nodes"] = {0, 1};
            },
            "scene 0 lists node 1, which has a parent"),
        // inf - inf in the product of two finite matrices.
        glb(
            "nan-world",
            [](GltfBuilder& b) {
                b.json["nodes"][1] = b.json["nodes"][0];
                b.json["nodes"][0] = {{"matrix", matrixWith({{0, 1e300}, {4, 1e300}})},
                                      {"children", {1}}};
                b.json["nodes"][1]["matrix"] = matrixWith({{0, 1e300}, {1, -1e300}});
            },
            "node 1's world matrix is not finite"),
        glb(
            "infinite-rotation",
            [](GltfBuilder& b) {
                b.json["nodes"][0]["rotation"] = {1e200, 0, 0, 1};
            },
            "node 0's world matrix is not finite"),
        glb(
            "short-matrix",
            [](GltfBuilder& b) { b.json["nodes"][0]["matrix"] = std::vector<double>(15, 1.0); },
            "node 0's matrix is not 16 numbers"),

        // Materials and images.
        glb(
            "missing-texture",
            [](GltfBuilder& b) {
                b.json["materials"][0]["pbrMetallicRoughness"] = {
                    {"baseColorTexture", {{"index", 3}}}};
            },
            "material 0 refers to missing texture 3"),
        glb(
            "image-view-past-buffer",
            [](GltfBuilder& b) {
                b.json["bufferViews"].push_back({{"buffer", 0}, {"byteLength", 400}});
                b.json["images"] = {{{"bufferView", 2}, {"mimeType", "image/png"}}};
            },
            "buffer view 2 reaches past its buffer"),
        glb(
            "image-uri-and-view",
            [](GltfBuilder& b) {
                b.json["images"] = {{{"bufferView", 0}, {"uri", "a.png"}}};
            },
            "image 0 needs either a uri or a bufferView"),
    };
}

} // namespace ulv
