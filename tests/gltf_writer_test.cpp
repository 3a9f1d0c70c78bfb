// The glTF writer's exact output: JSON text, binary layout, the GLB framing,
// normals moved with the transform, and what it makes of hostile models.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>

#include "convert/outputs.h"
#include "gltf/writer.h"
#include "model/transform.h"
#include "obj/writer.h"
#include "tests/support/gltf_files.h"
#include "tests/support/model_builder.h"
#include "tests/support/sample_model.h"

namespace ulv {
namespace {

struct GltfOut {
    std::string json, bin;
    Notes notes;
};

GltfOut writeSplit(const Model& model, const TextureSet& textures = {}) {
    std::ostringstream json, bin;
    GltfOut out;
    EXPECT_EQ(writeGltf(model, textures, json, bin, "m.bin", out.notes), GltfResult::ok);
    out.json = json.str();
    out.bin = bin.str();
    return out;
}

std::string floatBytes(std::initializer_list<float> values) {
    std::string out;
    for (const float v : values)
        out.append(reinterpret_cast<const char*>(&v), 4);
    return out;
}

std::string uintBytes(std::initializer_list<std::uint32_t> values) {
    std::string out;
    for (const std::uint32_t v : values)
        out.append(reinterpret_cast<const char*>(&v), 4);
    return out;
}

std::vector<float> floatsOf(const std::string& bytes, std::size_t offset, std::size_t count) {
    std::vector<float> out(count);
    std::memcpy(out.data(), bytes.data() + offset, 4 * count);
    return out;
}

Model oneTriangle(std::string_view material = "wood") {
    return makeModel(
        {makeMesh(identityTransform,
                  {makeSection(material, {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 2, 0, 0, 1, 0, 0, 1},
                               {0, 0, 1, 0, 0, 1}, {0, 1, 2})})});
}

const std::string kTriangleJson =
    R"({"asset":{"generator":"ulvtool 0.1","version":"2.0"},"scene":0,"scenes":[{"nodes":[0],)"
    R"("extras":{"ulvane_header":"554c564d 00 02 0000 00000000 00000000 00000000 00000000 )"
    R"(00000000 00000000 00000000 00000000 00000000"}}],)"
    R"("nodes":[{"name":"mesh0","mesh":0,"extras":{"ulvane_mesh":"3f800000 00000000 00000000 )"
    R"(00000000 3f800000 00000000 00000000 00000000 3f800000 00000000 00000000 00000000 )"
    R"(00000000 00000000 00000000 00000000 00000000 00000000"}}],)"
    R"("meshes":[{"name":"mesh0","primitives":[)"
    R"({"attributes":{"POSITION":0,"NORMAL":1,"TEXCOORD_0":2},"indices":3,"material":0}],)"
    R"("extras":{"ulvane_sections":"776f6f64)" +
    std::string(56, '0') +
    R"(.00000000.00000001.00000001.00000000"}}],)"
    R"("materials":[{"name":"wood","pbrMetallicRoughness":{"metallicFactor":0,"roughnessFactor":1},)"
    R"("extras":{"ulvane_name":"776f6f64"}}],)"
    R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],)"
    R"("max":[1,1,0]},{"bufferView":1,"componentType":5126,"count":3,"type":"VEC3"},)"
    R"({"bufferView":2,"componentType":5126,"count":3,"type":"VEC2"},)"
    R"({"bufferView":3,"componentType":5125,"count":3,"type":"SCALAR"}],)"
    R"("bufferViews":[{"buffer":0,"byteLength":36,"byteStride":12,"target":34962},)"
    R"({"buffer":0,"byteOffset":36,"byteLength":36,"byteStride":12,"target":34962},)"
    R"({"buffer":0,"byteOffset":72,"byteLength":24,"byteStride":8,"target":34962},)"
    R"({"buffer":0,"byteOffset":96,"byteLength":12,"target":34963}],)"
    R"("buffers":[{"uri":"m.bin","byteLength":108}]})";

const std::string kTriangleBin = floatBytes({0, 0, 0, 1, 0, 0, 0, 1, 0}) +
                                 floatBytes({0, 0, 1, 0, 0, 1, 0, 0, 1}) +
                                 floatBytes({0, 0, 1, 0, 0, 1}) + uintBytes({0, 1, 2});

TEST(GltfWriter, OneTriangleExactly) {
    const GltfOut out = writeSplit(oneTriangle());
    EXPECT_EQ(out.json, kTriangleJson + "\n");
    EXPECT_EQ(out.bin, kTriangleBin);
    EXPECT_TRUE(out.notes.empty());
}

TEST(GltfWriter, GlbFramesTheSameJsonAndBinary) {
    std::ostringstream glb;
    Notes notes;
    ASSERT_EQ(writeGlb(oneTriangle(), {}, glb, notes), GltfResult::ok);
    const GlbParts parts = splitGlb(glb.str());
    ASSERT_TRUE(parts.valid) << parts.error;
    // Without a uri the buffer is the BIN chunk; the JSON is padded with blanks.
    std::string json = kTriangleJson;
    json.replace(json.find(R"("uri":"m.bin",)"), 14, "");
    json.append((4 - json.size() % 4) % 4, ' ');
    EXPECT_EQ(parts.json, json);
    EXPECT_EQ(parts.bin, kTriangleBin);
}

TEST(GltfWriter, EmbeddedImagesArePaddedAndShared) {
    // Two materials on one image: one texture; a third material's image is
    // not written because its only section has no triangles.
    TextureSet textures;
    textures.images.push_back({1, 1, {1, 2, 3, 4, 5}});
    textures.images.push_back({1, 1, {9, 9, 9, 9}});
    textures.imageOf = {{"wood", 0}, {"oak", 0}, {"unused", 1}};
    Model model = oneTriangle();
    model.meshes[0].sections.push_back(oneTriangle("oak").meshes[0].sections[0]);
    model.meshes[0].sections.push_back(makeSection("unused", {}, {}, {}, {}));
    model.meshes[0].sectionCount = 3;
    const GltfOut out = writeSplit(model, textures);
    EXPECT_NE(out.json.find(R"("materials":[{"name":"wood","pbrMetallicRoughness":{)"
                            R"("baseColorTexture":{"index":0},"metallicFactor":0,)"
                            R"("roughnessFactor":1},"extras":{"ulvane_name":"776f6f64"}},)"
                            R"({"name":"oak","pbrMetallicRoughness":{)"
                            R"("baseColorTexture":{"index":0},"metallicFactor":0,)"
                            R"("roughnessFactor":1},"extras":{"ulvane_name":"6f616b"}}])"),
              std::string::npos)
        << out.json;
    EXPECT_NE(out.json.find(R"("textures":[{"source":0}],"images":[{"bufferView":4,)"
                            R"("mimeType":"image/png"}])"),
              std::string::npos)
        << out.json;
    EXPECT_NE(out.json.find(R"({"buffer":0,"byteOffset":216,"byteLength":5}],)"
                            R"("buffers":[{"uri":"m.bin","byteLength":224}])"),
              std::string::npos)
        << out.json;
    EXPECT_EQ(out.bin.substr(216), std::string("\1\2\3\4\5\0\0\0", 8));
}

TEST(GltfWriter, PositionsAreTheObjsFloats) {
    const Model model = sampleModel();
    const GltfOut out = writeSplit(model);
    std::size_t offset = 0;
    for (const Mesh& mesh : model.meshes) {
        for (const MeshSection& section : mesh.sections) {
            std::vector<float> expected = section.positions;
            for (std::size_t k = 0; k < expected.size(); k += 3)
                transformPoint(mesh.transform, &expected[k]);
            const std::vector<float> written = floatsOf(out.bin, offset, expected.size());
            EXPECT_EQ(std::memcmp(written.data(), expected.data(), 4 * expected.size()), 0);
            offset += 4 * expected.size();
        }
    }
}

TEST(GltfWriter, NormalsFollowTheTransform) {
    const float r = 1 / std::sqrt(2.0f);
    struct Case {
        const char* name;
        Transform transform;
        std::array<float, 3> normal, expected;
    } cases[] = {
        {"identity, scaled to unit length", identityTransform, {0, 0, 2}, {0, 0, 1}},
        {"quarter turn about z", {{0, 2, 0, -2, 0, 0, 0, 0, 2, 10, 20, 30}}, {1, 0, 0}, {0, 1, 0}},
        // The inverse transpose: stretching x tilts the normal away from x.
        {"stretched along x",
         {{2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}},
         {r, r, 0},
         {0.4472136f, 0.8944272f, 0}},
        {"mirrored in x", {{-1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}}, {1, 0, 0}, {-1, 0, 0}},
        {"mirrored and turned", {{0, -1, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0}}, {1, 0, 0}, {0, -1, 0}},
        // Flattened onto z = 0: what faced z still does.
        {"flattened", {{1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}}, {0, 0, 3}, {0, 0, 1}},
    };
    for (const Case& c : cases) {
        const Model model = makeModel({makeMesh(
            c.transform, {makeSection("", {0, 0, 0, 1, 0, 0, 0, 1, 0},
                                      {c.normal[0], c.normal[1], c.normal[2], 0, 0, 1, 0, 0, 1},
                                      {0, 0, 0, 0, 0, 0}, {0, 1, 2})})});
        const GltfOut out = writeSplit(model);
        const std::vector<float> normal = floatsOf(out.bin, 36, 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(normal[static_cast<std::size_t>(i)],
                        c.expected[static_cast<std::size_t>(i)], 1e-7)
                << c.name;
        EXPECT_TRUE(out.notes.empty()) << c.name;
    }
}

TEST(GltfWriter, TooLargeWritesNothing) {
    std::ostringstream glb, json, bin;
    Notes notes;
    const Model model = oneTriangle();
    EXPECT_EQ(writeGlb(model, {}, glb, notes, 100), GltfResult::tooLarge);
    EXPECT_EQ(glb.str(), "");
    EXPECT_EQ(writeGltf(model, {}, json, bin, "m.bin", notes, 107), GltfResult::tooLarge);
    EXPECT_EQ(json.str() + bin.str(), "");
    // At the limit exactly it fits.
    EXPECT_EQ(writeGltf(model, {}, json, bin, "m.bin", notes, 108), GltfResult::ok);
}

TEST(GltfWriter, FailedStreamIsReported) {
    std::ostringstream bad;
    bad.setstate(std::ios::badbit);
    std::ostringstream good;
    Notes notes;
    EXPECT_EQ(writeGlb(oneTriangle(), {}, bad, notes), GltfResult::failed);
    EXPECT_EQ(writeGltf(oneTriangle(), {}, good, bad, "m.bin", notes), GltfResult::failed);
}

TEST(GltfWriter, OutputFormatAndBinPath) {
    const struct {
        const char* path;
        OutputFormat format;
        const char* bin;
    } cases[] = {
        {"out.glb", OutputFormat::glb, "out.bin"},
        {"OUT.GLB", OutputFormat::glb, "OUT.bin"},
        {"out.gltf", OutputFormat::gltf, "out.bin"},
        {"dir.x/Out.GlTf", OutputFormat::gltf, "dir.x/Out.bin"},
        {"out.obj", OutputFormat::obj, "out.bin"},
        {"out.glb.obj", OutputFormat::obj, "out.glb.bin"},
        {"glb", OutputFormat::obj, "glb.bin"},
        {".glb", OutputFormat::obj, ".glb.bin"}, // a hidden file without extension
        {"dir.glb/out", OutputFormat::obj, "dir.glb/out.bin"},
        {"out.gltf2", OutputFormat::obj, "out.bin"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outputFormatFor(c.path), c.format) << c.path;
        EXPECT_EQ(binPathFor(c.path), c.bin) << c.path;
    }
}

TEST(GltfWriter, BufferUriIsPercentEncoded) {
    std::ostringstream json, bin;
    Notes notes;
    ASSERT_EQ(writeGltf(oneTriangle(), {}, json, bin, "my model #1%\xc3\xa9.bin", notes),
              GltfResult::ok);
    EXPECT_NE(json.str().find(R"("uri":"my%20model%20%231%25%C3%A9.bin")"), std::string::npos);
}

// Hostile models: what goes in, the console notes, and pieces of the JSON
// that show the choice made. Every one is also validated and loaded by real
// readers (gltf_readers_test).
TEST(GltfWriter, HostileModels) {
    for (const HostileModel& c : hostileModels()) {
        SCOPED_TRACE(c.name);
        const GltfOut out = writeSplit(c.model);
        EXPECT_EQ(out.notes, c.notes);
        for (const std::string& piece : c.present)
            EXPECT_NE(out.json.find(piece), std::string::npos) << piece << "\n" << out.json;
        for (const std::string& piece : c.absent)
            EXPECT_EQ(out.json.find(piece), std::string::npos) << piece << "\n" << out.json;
    }
}

TEST(GltfWriter, NonFiniteValuesBecomeZero) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Model model = makeModel(
        {makeMesh(identityTransform,
                  {makeSection("", {nan, 1, 2, inf, -inf, 3, 4, 5, 6}, {0, 0, 1, 0, 0, 1, 0, 0, 1},
                               {nan, 0.5f, 1, 1, inf, 0}, {0, 1, 2})})});
    const GltfOut out = writeSplit(model);
    // The transform spreads a NaN or an infinity to all three coordinates
    // (0 times either is NaN), as it does in the OBJ.
    EXPECT_EQ(floatsOf(out.bin, 0, 9), (std::vector<float>{0, 0, 0, 0, 0, 0, 4, 5, 6}));
    EXPECT_EQ(floatsOf(out.bin, 72, 6), (std::vector<float>{0, 0.5f, 1, 1, 0, 0}));
    EXPECT_NE(out.json.find(R"("min":[0,0,0],"max":[4,5,6])"), std::string::npos) << out.json;
}

// Each triangle winds as its normals say: one whose face normal points
// against the sum of its vertex normals is written reversed, and the extras
// say which, so that the way back restores the stored order. The OBJ keeps
// the stored order.
TEST(GltfWriter, TrianglesWindAsTheirNormalsSay) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> square = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    const std::vector<float> up = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
    const std::vector<float> down = {0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1};
    const std::vector<float> uv(8, 0.5f);
    const Transform mirror{{-1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}};
    struct Case {
        const char* name;
        Transform transform;
        std::vector<float> positions, normals;
        std::vector<std::uint32_t> stored, written;
        std::string reversed; // what follows the section's fields in the extras
    } cases[] = {
        {"counter-clockwise under normals up",
         identityTransform,
         square,
         up,
         {0, 1, 2, 0, 2, 3},
         {0, 1, 2, 0, 2, 3},
         ""},
        {"clockwise under normals up",
         identityTransform,
         square,
         up,
         {0, 2, 1, 0, 3, 2},
         {0, 1, 2, 0, 2, 3},
         "/2:0-1"},
        {"one of three against",
         identityTransform,
         square,
         up,
         {0, 1, 2, 0, 3, 2, 0, 1, 3},
         {0, 1, 2, 0, 2, 3, 0, 1, 3},
         "/3:1"},
        {"normals down",
         identityTransform,
         square,
         down,
         {0, 1, 2, 0, 2, 3},
         {0, 2, 1, 0, 3, 2},
         "/2:0-1"},
        // A mirror turns the positions but not the normals inside out.
        {"mirrored", mirror, square, up, {0, 1, 2, 0, 2, 3}, {0, 2, 1, 0, 3, 2}, "/2:0-1"},
        {"a degenerate triangle is as stored",
         identityTransform,
         square,
         down,
         {0, 1, 1, 1, 0, 0},
         {0, 1, 1, 1, 0, 0},
         ""},
        // Written as 0, the corners coincide.
        {"not finite positions are as stored",
         identityTransform,
         {nan, nan, nan, nan, nan, nan, nan, nan, nan, 0, 1, 0},
         down,
         {0, 1, 2},
         {0, 1, 2},
         ""},
        // No normals are written: viewers make flat ones from the winding.
        {"without normals as stored",
         identityTransform,
         square,
         std::vector<float>(12, 0),
         {0, 2, 1},
         {0, 2, 1},
         ""},
        // Only kept triangles count: the one past the vertices is left out.
        {"numbered among the kept triangles",
         identityTransform,
         square,
         up,
         {0, 1, 9, 0, 1, 2, 0, 3, 2},
         {0, 1, 2, 0, 2, 3},
         "/2:1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Model model = makeModel(
            {makeMesh(c.transform, {makeSection("m", c.positions, c.normals, uv, c.stored)})});
        const GltfOut out = writeSplit(model);
        std::vector<std::uint32_t> written(c.written.size());
        ASSERT_GE(out.bin.size(), 4 * written.size());
        std::memcpy(written.data(), out.bin.data() + out.bin.size() - 4 * written.size(),
                    4 * written.size());
        EXPECT_EQ(written, c.written);
        const std::string fields =
            "6d" + std::string(62, '0') + ".00000000." +
            (std::ostringstream() << std::hex << std::setw(8) << std::setfill('0')
                                  << c.stored.size() / 3)
                .str() +
            ".00000001.00000000";
        EXPECT_NE(out.json.find(R"("ulvane_sections":")" + fields + c.reversed + "\""),
                  std::string::npos)
            << out.json;
        std::ostringstream obj, mtl;
        ASSERT_TRUE(writeObj(model, obj, mtl, "m.mtl"));
        std::string faces;
        for (std::size_t k = 0; k < c.stored.size(); ++k) {
            const std::string n = std::to_string(c.stored[k] + 1);
            faces += (k % 3 ? " " : "f ") + n + "/" + n + "/" + n + (k % 3 == 2 ? "\n" : "");
        }
        std::string text = obj.str();
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        const std::size_t first = text.find("\nf ") + 1;
        EXPECT_EQ(text.substr(first, faces.size()), faces);
    }
}

} // namespace
} // namespace ulv
