// The glTF reader's records from small hand-made files: every broken file
// refused with its reason, the ways glTF stores vertices and indices, world
// matrices, the scene chosen, extras, images and the notes.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "gltf/reader.h"
#include "gltf/writer.h"
#include "tests/support/broken_gltf.h"
#include "tests/support/model_builder.h"

namespace ulv {
namespace {

using nlohmann::json;

GltfScene readWith(const Bytes& bytes, Notes& notes, const SideFiles& sides = {}) {
    return readGltf(bytes.data(), bytes.size(), loaderOf(sides), notes);
}

// Read where nothing is left out.
GltfScene readClean(const Bytes& bytes, const SideFiles& sides = {}) {
    Notes notes;
    GltfScene scene = readWith(bytes, notes, sides);
    EXPECT_EQ(notes, Notes{});
    return scene;
}

const std::array<double, 16> identity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

json with(json object, const json& more) {
    object.update(more);
    return object;
}

TEST(GltfReader, BrokenFilesAreRefusedWithTheirReason) {
    for (const BrokenGltf& broken : brokenGltfFiles()) {
        Notes notes;
        try {
            readWith(broken.main, notes, broken.sides);
            ADD_FAILURE() << broken.name << " was read";
        } catch (const GltfError& e) {
            EXPECT_EQ(e.what(), broken.reason) << broken.name;
        }
    }
}

// The broken table's fixtures are sound apart from their one fault.
TEST(GltfReader, TheBrokenFilesBaseTriangleReads) {
    GltfBuilder b;
    const int position = b.floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3");
    b.triangleScene({{"attributes", {{"POSITION", position}}}});
    const GltfScene scene = readClean(b.glb());
    ASSERT_EQ(scene.nodes.size(), 1u);
    EXPECT_EQ(scene.nodes[0].primitives[0].indices, (std::vector<std::uint32_t>{0, 1, 2}));
}

// What the tool's own writer makes reads back as the model, moved into
// model space: one node per mesh, one primitive per section.
TEST(GltfReader, ReadsTheWritersOwnFiles) {
    const Transform moved{{0, 1, 0, -1, 0, 0, 0, 0, 1, 10, 20, 30}};
    const Model model = makeModel({makeMesh(
        moved, {makeSection("wood", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 1, 0, 0, 1, 0, 0, 1},
                            {0, 0, 1, 0, 0.5f, 1}, {0, 1, 2}),
                makeSection("stone", {0, 0, 0, 2, 0, 0, 0, 2, 0, 2, 2, 0},
                            {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}, {0, 0, 1, 0, 0, 1, 1, 1},
                            {0, 1, 2, 2, 1, 3})})});
    TextureSet textures;
    textures.images.push_back({1, 1, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 7}});
    textures.imageOf = {{"stone", 0}};
    std::ostringstream glb, text, bin;
    Notes written;
    ASSERT_EQ(writeGlb(model, textures, glb, written), GltfResult::ok);
    ASSERT_EQ(writeGltf(model, textures, text, bin, "m.bin", written), GltfResult::ok);

    const std::string glbText = glb.str(), jsonText = text.str(), binText = bin.str();
    for (const GltfScene& scene : {readClean(Bytes(glbText.begin(), glbText.end())),
                                   readClean(Bytes(jsonText.begin(), jsonText.end()),
                                             {{"m.bin", Bytes(binText.begin(), binText.end())}})}) {
        ASSERT_EQ(scene.nodes.size(), 1u);
        const GltfMeshNode& node = scene.nodes[0];
        EXPECT_EQ(node.name, "mesh0");
        EXPECT_EQ(node.world, identity);
        ASSERT_EQ(node.primitives.size(), 2u);
        // x' = -y + 10, y' = x + 20: the OBJ's positions.
        EXPECT_EQ(node.primitives[0].positions,
                  (std::vector<float>{10, 20, 30, 10, 21, 30, 9, 20, 30}));
        EXPECT_EQ(node.primitives[0].normals, (std::vector<float>{0, 0, 1, 0, 0, 1, 0, 0, 1}));
        EXPECT_EQ(node.primitives[0].texCoords, (std::vector<float>{0, 0, 1, 0, 0.5f, 1}));
        EXPECT_EQ(node.primitives[0].indices, (std::vector<std::uint32_t>{0, 1, 2}));
        EXPECT_EQ(node.primitives[1].indices, (std::vector<std::uint32_t>{0, 1, 2, 2, 1, 3}));
        ASSERT_EQ(scene.materials.size(), 2u);
        EXPECT_EQ(scene.materials[node.primitives[0].material].name, "wood");
        EXPECT_EQ(scene.materials[node.primitives[0].material].image, -1);
        const GltfMaterial& stone = scene.materials[node.primitives[1].material];
        EXPECT_EQ(stone.name, "stone");
        ASSERT_EQ(stone.image, 0);
        EXPECT_EQ(scene.images[0].mimeType, "image/png");
        EXPECT_EQ(scene.images[0].bytes, textures.images[0].png);
    }
}

// A file of `vertices` positions (all 0) and one primitive of `mode`, with
// 32-bit indices unless there are none.
Bytes modeFile(int mode, std::uint64_t vertices, const std::vector<std::uint32_t>* indices) {
    GltfBuilder b;
    json primitive = {{"attributes", {{"POSITION", b.accessor(-1, 5126, vertices, "VEC3")}}},
                      {"mode", mode}};
    if (indices) {
        Bytes bytes;
        for (const std::uint32_t i : *indices) {
            const Bytes one = u32Bytes({i});
            bytes.insert(bytes.end(), one.begin(), one.end());
        }
        primitive["indices"] = b.accessor(b.view(bytes), 5125, indices->size(), "SCALAR");
    }
    b.triangleScene(primitive);
    return b.glb();
}

TEST(GltfReader, TrianglesStripsAndFansKeepTheirWinding) {
    using V = std::vector<std::uint32_t>;
    struct Case {
        const char* name;
        int mode;
        std::uint64_t vertices;
        std::optional<V> indices;
        V triangles;
    };
    const Case cases[] = {
        {"triangles", 4, 4, V{0, 1, 2, 2, 1, 3}, {0, 1, 2, 2, 1, 3}},
        {"triangles, an incomplete last one", 4, 4, V{0, 1, 2, 3}, {0, 1, 2}},
        {"triangles without indices", 4, 6, std::nullopt, {0, 1, 2, 3, 4, 5}},
        {"strip: every other triangle turned", 5, 5, V{0, 1, 2, 3, 4}, {0, 1, 2, 1, 3, 2, 2, 3, 4}},
        {"strip without indices", 5, 4, std::nullopt, {0, 1, 2, 1, 3, 2}},
        {"strip joined by repeated corners",
         5,
         6,
         V{0, 1, 2, 2, 5, 4, 3},
         {0, 1, 2, 2, 4, 5, 5, 4, 3}},
        {"strip of two corners", 5, 2, std::nullopt, {}},
        {"fan round its first corner", 6, 5, V{0, 1, 2, 3, 4}, {1, 2, 0, 2, 3, 0, 3, 4, 0}},
        {"fan without indices", 6, 4, std::nullopt, {1, 2, 0, 2, 3, 0}},
    };
    for (const Case& c : cases) {
        const GltfScene scene =
            readClean(modeFile(c.mode, c.vertices, c.indices ? &*c.indices : nullptr));
        ASSERT_EQ(scene.nodes.size(), 1u) << c.name;
        ASSERT_EQ(scene.nodes[0].primitives.size(), 1u) << c.name;
        EXPECT_EQ(scene.nodes[0].primitives[0].indices, c.triangles) << c.name;
        EXPECT_EQ(scene.nodes[0].primitives[0].positions.size(), 3 * c.vertices) << c.name;
    }
}

TEST(GltfReader, PointsAndLinesAreLeftOutWithANote) {
    for (const int mode : {0, 1, 2, 3}) {
        Notes notes;
        const GltfScene scene = readWith(modeFile(mode, 4, nullptr), notes);
        ASSERT_EQ(scene.nodes.size(), 1u);
        EXPECT_TRUE(scene.nodes[0].hasMesh);
        EXPECT_TRUE(scene.nodes[0].primitives.empty());
        EXPECT_EQ(notes, Notes{"1 primitive of points or lines left out"}) << mode;
    }
}

TEST(GltfReader, IndicesOfEachWidthAreLittleEndian) {
    struct Case {
        int componentType;
        Bytes bytes;
        std::vector<std::uint32_t> values;
    };
    const Case cases[] = {
        {5121, u8Bytes({0, 1, 255}), {0, 1, 255}},
        {5123, u16Bytes({0, 256, 65535}), {0, 256, 65535}},
        {5125, u32Bytes({0, 65536, 69999}), {0, 65536, 69999}},
    };
    for (const Case& c : cases) {
        GltfBuilder b;
        b.triangleScene({{"attributes", {{"POSITION", b.accessor(-1, 5126, 70000, "VEC3")}}},
                         {"indices", b.accessor(b.view(c.bytes), c.componentType, 3, "SCALAR")}});
        const GltfScene scene = readClean(b.glb());
        EXPECT_EQ(scene.nodes[0].primitives[0].indices, c.values) << c.componentType;
    }
}

// One primitive whose POSITION, NORMAL or TEXCOORD_0 is stored as given; the
// others are floats.
struct Stored {
    const char* semantic;
    int componentType;
    bool normalized;
    Bytes bytes; // three elements
    int byteStride;
    std::vector<float> floats;
};

Bytes storedFile(const Stored& s, bool quantized) {
    GltfBuilder b;
    const std::string semantic = s.semantic;
    const int width = semantic == "TEXCOORD_0" ? 2 : 3;
    json attributes = {{"POSITION", b.floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3")}};
    attributes[semantic] = b.accessor(b.view(s.bytes, s.byteStride), s.componentType, 3,
                                      width == 2 ? "VEC2" : "VEC3", {{"normalized", s.normalized}});
    b.triangleScene({{"attributes", attributes}});
    if (quantized)
        b.json["extensionsUsed"] = b.json["extensionsRequired"] = {"KHR_mesh_quantization"};
    return b.glb();
}

const std::vector<float>& attributeOf(const GltfPrimitive& p, const std::string& semantic) {
    return semantic == "NORMAL" ? p.normals : semantic == "TEXCOORD_0" ? p.texCoords : p.positions;
}

TEST(GltfReader, NormalizedIntegersBecomeFloatsAsGltfSays) {
    const Stored cases[] = {
        {"TEXCOORD_0",
         5121,
         true,
         u8Bytes({0, 255, 128, 51, 1, 254}),
         0,
         {0, 1, 128 / 255.0f, 0.2f, 1 / 255.0f, 254 / 255.0f}},
        {"TEXCOORD_0",
         5123,
         true,
         u16Bytes({0, 65535, 32768, 13107, 1, 2}),
         0,
         {0, 1, 32768 / 65535.0f, 0.2f, 1 / 65535.0f, 2 / 65535.0f}},
        // Strided: each element padded to 4 bytes.
        {"TEXCOORD_0",
         5121,
         true,
         u8Bytes({255, 0, 9, 9, 0, 255, 9, 9, 51, 51, 9, 9}),
         4,
         {1, 0, 0, 1, 0.2f, 0.2f}},
    };
    for (const Stored& s : cases) {
        const GltfScene scene = readClean(storedFile(s, false));
        EXPECT_EQ(attributeOf(scene.nodes[0].primitives[0], s.semantic), s.floats)
            << s.semantic << " " << s.componentType;
    }
}

TEST(GltfReader, QuantizedAttributesNeedTheExtension) {
    const Stored cases[] = {
        {"POSITION",
         5120,
         true,
         u8Bytes({0x80, 127, 0, 0, 1, 0x81, 64, 0, 0, 0, 0, 0}),
         4,
         {-1, 1, 0, 1 / 127.0f, -1, 64 / 127.0f, 0, 0, 0}},
        {"POSITION",
         5122,
         false,
         u16Bytes({0xFFFE, 300, 7, 0, 1, 2, 3, 0, 0}),
         0,
         {-2, 300, 7, 0, 1, 2, 3, 0, 0}},
        {"POSITION",
         5121,
         false,
         u8Bytes({1, 2, 3, 0, 4, 5, 6, 0, 255, 0, 0, 0}),
         4,
         {1, 2, 3, 4, 5, 6, 255, 0, 0}},
        {"POSITION",
         5123,
         true,
         u16Bytes({65535, 0, 0, 0, 65535, 0, 0, 0, 65535}),
         0,
         {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {"NORMAL",
         5122,
         true,
         u16Bytes({0x8000, 32767, 0, 0, 0, 0x8001, 0, 0, 0, 0, 16384, 0}),
         8,
         {-1, 1, 0, 0, -1, 0, 0, 0, 16384 / 32767.0f}},
        {"NORMAL",
         5120,
         true,
         u8Bytes({0, 0, 127, 0, 0, 0x81, 0, 0, 127, 0, 0, 0}),
         4,
         {0, 0, 1, 0, -1, 0, 1, 0, 0}},
        {"TEXCOORD_0",
         5120,
         true,
         u8Bytes({0x81, 64, 0, 0, 127, 0}),
         0,
         {-1, 64 / 127.0f, 0, 0, 1, 0}},
        {"TEXCOORD_0", 5123, false, u16Bytes({0, 1, 2, 3, 4, 5}), 0, {0, 1, 2, 3, 4, 5}},
    };
    for (const Stored& s : cases) {
        const GltfScene scene = readClean(storedFile(s, true));
        EXPECT_EQ(attributeOf(scene.nodes[0].primitives[0], s.semantic), s.floats)
            << s.semantic << " " << s.componentType;
        // Without the extension the same file is refused.
        try {
            readClean(storedFile(s, false));
            ADD_FAILURE() << s.semantic << " " << s.componentType << " was read";
        } catch (const GltfError& e) {
            const std::string expected =
                std::string(s.semantic) + " accessor 1 is not " +
                (std::string(s.semantic) == "TEXCOORD_0" ? "VEC2 float or normalized integer"
                                                         : "VEC3 float");
            EXPECT_EQ(e.what(), expected);
        }
    }
    // Even with it, normals are normalized signed integers only.
    const Stored unsignedNormal{"NORMAL", 5121, true, Bytes(12), 4, {}};
    try {
        readClean(storedFile(unsignedNormal, true));
        ADD_FAILURE() << "an unsigned NORMAL was read";
    } catch (const GltfError& e) {
        EXPECT_EQ(e.what(),
                  std::string("NORMAL accessor 1 is not VEC3 float or normalized integer"));
    }
}

TEST(GltfReader, InterleavedAttributesShareOneStridedView) {
    GltfBuilder b;
    // Per vertex: position, normal, texture coordinate; 32 bytes.
    const int view = b.view(
        floatBytes({0, 0, 0, 0, 0, 1, 0.25f, 0.5f, 1, 0, 0, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 0, 1}),
        32);
    b.triangleScene({{"attributes",
                      {{"POSITION", b.accessor(view, 5126, 3, "VEC3")},
                       {"NORMAL", b.accessor(view, 5126, 3, "VEC3", {{"byteOffset", 12}})},
                       {"TEXCOORD_0", b.accessor(view, 5126, 3, "VEC2", {{"byteOffset", 24}})}}}});
    const GltfPrimitive p = readClean(b.glb()).nodes[0].primitives[0];
    EXPECT_EQ(p.positions, (std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(p.normals, (std::vector<float>{0, 0, 1, 0, 1, 0, 1, 0, 0}));
    EXPECT_EQ(p.texCoords, (std::vector<float>{0.25f, 0.5f, 1, 0, 0, 1}));
}

TEST(GltfReader, SparseValuesReplaceStoredOrZeroElements) {
    struct Case {
        const char* name;
        bool withView;
        int indexType;
        Bytes indices;
        std::vector<float> positions;
    };
    const Case cases[] = {
        {"over stored values, 8-bit indices",
         true,
         5121,
         u8Bytes({0, 2}),
         {7, 8, 9, 1, 0, 0, 4, 5, 6}},
        {"over zeros, 16-bit indices", false, 5123, u16Bytes({0, 2}), {7, 8, 9, 0, 0, 0, 4, 5, 6}},
        {"over zeros, 32-bit indices", false, 5125, u32Bytes({2, 1}), {0, 0, 0, 4, 5, 6, 7, 8, 9}},
    };
    for (const Case& c : cases) {
        GltfBuilder b;
        const int values = b.view(floatBytes({7, 8, 9, 4, 5, 6}));
        const int indices = b.view(c.indices);
        const int stored = b.view(floatBytes({0, 0, 0, 1, 0, 0, 0, 1, 0}));
        const json sparse = {{"count", 2},
                             {"indices", {{"bufferView", indices}, {"componentType", c.indexType}}},
                             {"values", {{"bufferView", values}}}};
        b.triangleScene({{"attributes",
                          {{"POSITION", b.accessor(c.withView ? stored : -1, 5126, 3, "VEC3",
                                                   {{"sparse", sparse}})}}}});
        EXPECT_EQ(readClean(b.glb()).nodes[0].primitives[0].positions, c.positions) << c.name;
    }
}

// The mesh node's world matrix, in a file whose scene is node 0.
std::array<double, 16> worldOf(const json& nodes) {
    GltfBuilder b;
    b.triangleScene(
        {{"attributes", {{"POSITION", b.floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3")}}}});
    b.json["nodes"] = nodes;
    const GltfScene scene = readClean(b.glb());
    EXPECT_EQ(scene.nodes.size(), 1u);
    return scene.nodes.empty() ? std::array<double, 16>{} : scene.nodes[0].world;
}

TEST(GltfReader, WorldMatricesAreParentsTimesTranslationRotationScale) {
    const json trs = {{"translation", {5, 6, 7}}, {"rotation", {0, 0, 1, 0}}, {"scale", {2, 3, 4}}};
    // Half a turn about z, scaled, then moved: column-major.
    const std::array<double, 16> turned{-2, 0, 0, 0, 0, -3, 0, 0, 0, 0, 4, 0, 5, 6, 7, 1};
    struct Case {
        const char* name;
        json nodes;
        std::array<double, 16> world;
    };
    const Case cases[] = {
        {"no transform", json::array({{{"mesh", 0}}}), identity},
        {"translation, rotation and scale", json::array({with(trs, {{"mesh", 0}})}), turned},
        {"the same as a matrix",
         json::array(
             {{{"mesh", 0}, {"matrix", std::vector<double>(turned.begin(), turned.end())}}}),
         turned},
        // Used as it is, in glTF's formula for unit quaternions.
        {"a quaternion not of unit length",
         json::array({{{"mesh", 0}, {"rotation", {1, 0, 0, 1}}}}),
         {1, 0, 0, 0, 0, -1, 2, 0, 0, -2, -1, 0, 0, 0, 0, 1}},
        {"under two parents",
         json::array({{{"translation", {1, 0, 0}}, {"children", {1}}},
                      {{"scale", {2, 2, 2}}, {"children", {2}}},
                      with(trs, {{"mesh", 0}})}),
         {-4, 0, 0, 0, 0, -6, 0, 0, 0, 0, 8, 0, 11, 12, 14, 1}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(worldOf(c.nodes), c.world) << c.name;
}

// A file of named nodes without transforms (every one holding mesh 0 unless
// it has ulvane_ extras), `scenes` and, unless -1, `scene`; the names of the
// records in their order.
std::vector<std::string> namesIn(const json& nodes, const json& scenes, int sceneIndex,
                                 Notes& notes) {
    GltfBuilder b;
    b.triangleScene(
        {{"attributes", {{"POSITION", b.floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3")}}}});
    b.json["nodes"] = nodes;
    b.json.erase("scene");
    b.json.erase("scenes");
    if (!scenes.is_null())
        b.json["scenes"] = scenes;
    if (sceneIndex >= 0)
        b.json["scene"] = sceneIndex;
    std::vector<std::string> names;
    for (const GltfMeshNode& node : readWith(b.glb(), notes).nodes)
        names.push_back(node.name);
    return names;
}

json named(const char* name, const json& children = nullptr) {
    json node = {{"name", name}, {"mesh", 0}};
    if (!children.is_null())
        node["children"] = children;
    return node;
}

TEST(GltfReader, TheSceneChosenAndItsOrder) {
    using Names = std::vector<std::string>;
    // a holds c, c holds d; b alone; e holds nothing and has no mesh.
    const json nodes =
        json::array({named("a", {2}), named("b"), named("c", {3}), named("d"), {{"name", "e"}}});
    struct Case {
        const char* name;
        json scenes;
        int scene;
        Names names;
        Notes notes;
    };
    const Case cases[] = {
        {"the scene named",
         json::array({{{"nodes", {1}}}, {{"nodes", {1, 0}}}}),
         1,
         {"b", "a", "c", "d"},
         {"1 other scene left out"}},
        {"else scene 0",
         json::array({{{"nodes", {0}}}, {{"nodes", {1}}}, {{"nodes", {4}}}}),
         -1,
         {"a", "c", "d"},
         {"2 other scenes left out"}},
        {"else every root in index order", nullptr, -1, {"a", "c", "d", "b"}, {}},
        {"an empty scene", json::array({json::object()}), 0, {}, {}},
    };
    for (const Case& c : cases) {
        Notes notes;
        EXPECT_EQ(namesIn(nodes, c.scenes, c.scene, notes), c.names) << c.name;
        EXPECT_EQ(notes, c.notes) << c.name;
    }
}

TEST(GltfReader, UlvaneExtrasOfTextAreKept) {
    GltfBuilder b;
    b.triangleScene({{"attributes", {{"POSITION", b.floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3")}}},
                     {"material", 0}});
    const json extras = {{"ulvane_tag", "MESH"},
                         {"ulvane_words", "1 2 3"},
                         {"ulvane_number", 4},
                         {"ulvane_list", {"x"}},
                         {"other", "kept out"}};
    b.json["nodes"][0]["extras"] = extras;
    b.json["meshes"][0]["extras"] = {{"ulvane_lod", "0"}};
    b.json["materials"] = {{{"name", "wood"}, {"extras", {{"ulvane_opaque", "7"}}}}};
    b.json["scenes"][0]["extras"] = {{"ulvane_version", "2.0"}, {"blender", "3.4"}};
    // A node with only extras, which are not ulvane_ ones, is no record.
    b.json["nodes"].push_back({{"name", "empty"}, {"extras", {{"other", "x"}}}});
    b.json["nodes"].push_back({{"name", "fields"}, {"extras", {{"ulvane_x", "y"}}}});
    b.json["scenes"][0]["nodes"] = {0, 1, 2};
    const GltfScene scene = readClean(b.glb());
    ASSERT_EQ(scene.nodes.size(), 2u);
    EXPECT_EQ(scene.nodes[0].nodeExtras,
              (GltfExtras{{"ulvane_tag", "MESH"}, {"ulvane_words", "1 2 3"}}));
    EXPECT_EQ(scene.nodes[0].meshExtras, (GltfExtras{{"ulvane_lod", "0"}}));
    EXPECT_EQ(scene.materials[0].extras, (GltfExtras{{"ulvane_opaque", "7"}}));
    EXPECT_EQ(scene.sceneExtras, (GltfExtras{{"ulvane_version", "2.0"}}));
    EXPECT_EQ(scene.nodes[1].name, "fields");
    EXPECT_FALSE(scene.nodes[1].hasMesh);
    EXPECT_EQ(scene.nodes[1].world, identity);
    EXPECT_EQ(scene.nodes[1].nodeExtras, (GltfExtras{{"ulvane_x", "y"}}));
}

TEST(GltfReader, ImagesKeepTheirEncodedBytes) {
    GltfBuilder b;
    b.triangleScene(
        {{"attributes", {{"POSITION", b.floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3")}}}});
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2};
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 3};
    b.json["images"] = {
        {{"bufferView", b.view(jpeg)}, {"mimeType", "image/jpeg"}},
        {{"uri", "data:image/png;base64,iVBORw0KGgoD"}},
        {{"uri", "my%20tex+1.png"}},
        {{"uri", "missing.png"}},
        {{"uri", "data:image/png;base64,!!"}},
    };
    json textures = json::array(), materials = json::array();
    for (int i = 0; i < 5; ++i) {
        textures.push_back({{"source", i}});
        materials.push_back({{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", i}}}}}});
    }
    b.json["textures"] = textures;
    b.json["materials"] = materials;
    Notes notes;
    const GltfScene scene = readWith(b.glb(), notes, {{"my tex+1.png", png}});
    EXPECT_EQ(notes, (Notes{"Image 3 (missing.png) left out: not found",
                            "Image 4 left out: malformed base64 data"}));
    ASSERT_EQ(scene.images.size(), 5u);
    EXPECT_EQ(scene.images[0].bytes, jpeg);
    EXPECT_EQ(scene.images[0].mimeType, "image/jpeg");
    EXPECT_EQ(scene.images[1].bytes, png);
    EXPECT_EQ(scene.images[1].mimeType, "image/png");
    EXPECT_EQ(scene.images[2].bytes, png);
    EXPECT_EQ(scene.images[2].mimeType, "image/png"); // from its bytes
    EXPECT_TRUE(scene.images[3].bytes.empty());
    std::vector<std::int64_t> images;
    for (const GltfMaterial& m : scene.materials)
        images.push_back(m.image);
    EXPECT_EQ(images, (std::vector<std::int64_t>{0, 1, 2, -1, -1}));
}

TEST(GltfReader, BuffersFromDataUrisAndOtherFiles) {
    const Bytes positions = floatBytes({0, 0, 0, 1, 0, 0, 0, 1, 0});
    struct Case {
        const char* name;
        json buffer;
        SideFiles sides;
    };
    // base64 of the 36 bytes above.
    const std::string base64 = "AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA";
    Bytes longer = positions;
    longer.insert(longer.end(), {1, 2, 3});
    const Case cases[] = {
        {"a data URI", {{"uri", "data:application/octet-stream;base64," + base64}}, {}},
        {"a data URI of another media type",
         {{"uri", "data:application/gltf-buffer;base64," + base64}},
         {}},
        {"a file, its name percent-encoded",
         {{"uri", "my%20data.bin"}},
         {{"my data.bin", positions}}},
        {"a file longer than the buffer", {{"uri", "a.bin"}}, {{"a.bin", longer}}},
    };
    for (const Case& c : cases) {
        GltfBuilder b;
        b.triangleScene(
            {{"attributes", {{"POSITION", b.floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3")}}}});
        b.json["buffers"] = {with(c.buffer, {{"byteLength", 36}})};
        EXPECT_EQ(readClean(b.gltf(), c.sides).nodes[0].primitives[0].positions,
                  (std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0}))
            << c.name;
    }
}

TEST(GltfReader, GlbChunksOfOtherTypesAreSkipped) {
    GltfBuilder b;
    b.triangleScene(
        {{"attributes", {{"POSITION", b.floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3")}}}});
    Bytes glb = b.glb();
    const Bytes extra = {4, 0, 0, 0, 'X', 'T', 'R', 'A', 9, 9, 9, 9};
    glb.insert(glb.end(), extra.begin(), extra.end());
    glb[8] = static_cast<std::uint8_t>(glb.size());
    glb[9] = static_cast<std::uint8_t>(glb.size() >> 8);
    EXPECT_EQ(readClean(glb).nodes[0].primitives[0].positions.size(), 9u);
}

TEST(GltfReader, NotesNameEachKindLeftOutWithItsCount) {
    GltfBuilder b;
    const int position = b.floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3");
    const int vec2 = b.floats({0, 0, 1, 0, 0, 1}, "VEC2");
    const int vec4 = b.floats({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1}, "VEC4");
    const json full = {{"attributes",
                        {{"POSITION", position},
                         {"TEXCOORD_0", vec2},
                         {"TEXCOORD_1", vec2},
                         {"TEXCOORD_2", vec2},
                         {"COLOR_0", vec4},
                         {"JOINTS_0", vec4},
                         {"WEIGHTS_0", vec4},
                         {"TANGENT", vec4},
                         {"_TEMPERATURE", vec2}}},
                       {"targets", {{{"POSITION", position}}, {{"POSITION", position}}}}};
    b.json["meshes"] = {{{"primitives",
                          {full,
                           {{"attributes", {{"POSITION", position}}}, {"mode", 0}},
                           {{"attributes", {{"POSITION", position}}}, {"mode", 1}},
                           {{"attributes", {{"NORMAL", position}}}}}}}};
    // Two nodes share the mesh: what it leaves out is counted once.
    b.json["nodes"] = {{{"mesh", 0}, {"skin", 0}, {"camera", 0}}, {{"mesh", 0}}};
    b.json["scenes"] = {{{"nodes", {0, 1}}}, {{"nodes", {0}}}, {{"nodes", {1}}}};
    b.json["skins"] = {{{"joints", {0}}}};
    b.json["animations"] = {
        {{"channels", {{{"sampler", 0}, {"target", {{"node", 0}, {"path", "translation"}}}}}},
         {"samplers", {{{"input", vec2}, {"output", position}}}}}};
    b.json["cameras"] = {{{"type", "perspective"}, {"perspective", {{"yfov", 1}, {"znear", 0.1}}}}};
    b.json["extensionsUsed"] = {"KHR_lights_punctual"};
    b.json["extensions"] = {
        {"KHR_lights_punctual", {{"lights", {{{"type", "point"}}, {{"type", "directional"}}}}}}};
    Notes notes;
    const GltfScene scene = readWith(b.glb(), notes);
    EXPECT_EQ(notes, (Notes{
                         "2 primitives of points or lines left out",
                         "1 primitive without positions left out",
                         "2 morph targets left out",
                         "1 skin left out",
                         "1 set of joints and weights left out",
                         "1 animation left out",
                         "2 texture coordinate sets after the first left out",
                         "1 vertex colour set left out",
                         "1 tangent set left out",
                         "1 other vertex attribute left out",
                         "1 camera left out",
                         "2 lights left out",
                         "2 other scenes left out",
                     }));
    ASSERT_EQ(scene.nodes.size(), 2u);
    for (const GltfMeshNode& node : scene.nodes) {
        ASSERT_EQ(node.primitives.size(), 1u);
        EXPECT_EQ(node.primitives[0].texCoords, (std::vector<float>{0, 0, 1, 0, 0, 1}));
    }
}

TEST(GltfReader, MeshesSharedByNodesCountAgainstTheLimit) {
    // 600,000 zero positions and their corners decode to 9.6 MB: once is
    // within the limit of a small file, three copies are not.
    for (const int nodes : {1, 3}) {
        GltfBuilder b;
        b.triangleScene({{"attributes", {{"POSITION", b.accessor(-1, 5126, 600'000, "VEC3")}}}});
        b.json["nodes"] = json::array();
        for (int i = 0; i < nodes; ++i) {
            b.json["nodes"].push_back({{"mesh", 0}});
            b.json["scenes"][0]["nodes"][i] = i;
        }
        Notes notes;
        if (nodes == 1) {
            EXPECT_EQ(readWith(b.glb(), notes).nodes[0].primitives[0].indices.size(), 600'000u);
        } else {
            try {
                readWith(b.glb(), notes);
                ADD_FAILURE() << "three copies were read";
            } catch (const GltfError& e) {
                EXPECT_EQ(e.what(),
                          std::string("decoded data would exceed 64 times the file's size"));
            }
        }
    }
}

} // namespace
} // namespace ulv
