// Model files from glTF that tinygltf and Assimp write: the tool's triangles
// and materials against the file as tinygltf reads it, or against the
// source Assimp exported. Linux only: Debian packages these for the build
// machine.
#include <gtest/gtest.h>

#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <tiny_gltf.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "mod/reader.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/process.h"
#include "tests/support/triangles.h"
#include "texture/texture.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

constexpr double kRounding = 1e-6;

Model modelAt(const fs::path& path) {
    const std::string text = slurp(path);
    return readModel(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), nullptr);
}

Bytes bytesOfText(std::string_view text) { return Bytes(text.begin(), text.end()); }

bool hasCorner(const Triangles& triangles, double x, double y, double z) {
    for (const Triangle& t : triangles)
        for (const Corner& c : t.corners)
            if (std::abs(c.position[0] - x) + std::abs(c.position[1] - y) +
                    std::abs(c.position[2] - z) <
                1e-6)
                return true;
    return false;
}

template <typename T> void append(std::vector<unsigned char>& out, const std::vector<T>& values) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(values.data());
    out.insert(out.end(), bytes, bytes + values.size() * sizeof(T));
}

int addView(tinygltf::Model& m, std::size_t offset, std::size_t length, std::size_t stride = 0) {
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = offset;
    view.byteLength = length;
    view.byteStride = stride;
    m.bufferViews.push_back(view);
    return static_cast<int>(m.bufferViews.size() - 1);
}

int addAccessor(tinygltf::Model& m, int view, std::size_t offset, int componentType, int type,
                std::size_t count) {
    tinygltf::Accessor a;
    a.bufferView = view;
    a.byteOffset = offset;
    a.componentType = componentType;
    a.type = type;
    a.count = count;
    m.accessors.push_back(a);
    return static_cast<int>(m.accessors.size() - 1);
}

tinygltf::Primitive primitive(int material, int indices) {
    tinygltf::Primitive p;
    p.material = material;
    p.indices = indices;
    p.mode = TINYGLTF_MODE_TRIANGLES;
    return p;
}

// Two meshes: one under a turned, scaled and moved root and a child with a
// matrix, with a textured quad (positions and normals interleaved 24 bytes
// apart, 16-bit indices) and an untextured triangle (8-bit indices); one at
// the root, sharing the textured material, without normals or u/v (32-bit
// indices).
tinygltf::Model twoMeshes(const std::vector<std::uint8_t>& png) {
    tinygltf::Model m;
    m.asset.version = "2.0";
    tinygltf::Buffer buffer;
    append(buffer.data, std::vector<float>{0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1,
                                           1, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1}); // 0: 96
    append(buffer.data, std::vector<float>{0, 0, 2, 0, 2, 1.5f, -0.5f, 1.5f});   // 96: 32
    append(buffer.data, std::vector<std::uint16_t>{0, 1, 2, 0, 2, 3});           // 128: 12
    append(buffer.data, std::vector<float>{0, 0, 1, 1, 0, 1, 0.5f, 1, 1});       // 140: 36
    append(buffer.data, std::vector<std::uint8_t>{0, 1, 2, 0});                  // 176: 3 + 1
    append(buffer.data, std::vector<float>{5, 0, 0, 6, 0, 0, 5, 0, -1});         // 180: 36
    append(buffer.data, std::vector<std::uint32_t>{0, 1, 2});                    // 216: 12
    append(buffer.data, png);                                                    // 228
    buffer.uri = "meshes.bin";
    m.buffers.push_back(buffer);

    const int interleaved = addView(m, 0, 96, 24);
    tinygltf::Primitive quad =
        primitive(0, addAccessor(m, addView(m, 128, 12), 0, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                                 TINYGLTF_TYPE_SCALAR, 6));
    quad.attributes["POSITION"] =
        addAccessor(m, interleaved, 0, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, 4);
    m.accessors.back().minValues = {0, 0, 0};
    m.accessors.back().maxValues = {1, 1, 0};
    quad.attributes["NORMAL"] =
        addAccessor(m, interleaved, 12, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, 4);
    quad.attributes["TEXCOORD_0"] =
        addAccessor(m, addView(m, 96, 32), 0, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC2, 4);
    tinygltf::Primitive triangle =
        primitive(1, addAccessor(m, addView(m, 176, 3), 0, TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE,
                                 TINYGLTF_TYPE_SCALAR, 3));
    triangle.attributes["POSITION"] = addAccessor(
        m, addView(m, 140, 36), 0, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, 3);
    m.accessors.back().minValues = {0, 0, 1};
    m.accessors.back().maxValues = {1, 1, 1};
    tinygltf::Primitive flat =
        primitive(0, addAccessor(m, addView(m, 216, 12), 0, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
                                 TINYGLTF_TYPE_SCALAR, 3));
    flat.attributes["POSITION"] = addAccessor(m, addView(m, 180, 36), 0,
                                              TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, 3);
    m.accessors.back().minValues = {5, 0, -1};
    m.accessors.back().maxValues = {6, 0, 0};
    tinygltf::Mesh first, second;
    first.primitives = {quad, triangle};
    second.primitives = {flat};
    m.meshes = {first, second};

    tinygltf::Image image;
    image.bufferView = addView(m, 228, png.size());
    image.mimeType = "image/png";
    m.images.push_back(image);
    tinygltf::Texture texture;
    texture.source = 0;
    m.textures.push_back(texture);
    tinygltf::Material painted, bare;
    painted.name = "painted";
    painted.pbrMetallicRoughness.baseColorTexture.index = 0;
    bare.name = "bare";
    m.materials = {painted, bare};

    tinygltf::Node root, part, plain;
    root.translation = {1, 2, 3};
    root.rotation = {0, 0, std::sqrt(0.5), std::sqrt(0.5)}; // a quarter turn about z
    root.scale = {2, 2, 2};
    root.children = {1};
    part.matrix = {1, 0, 0, 0, 0, 3, 0, 0, 0, 0, 1, 0, 0.5, 0, 0, 1};
    part.mesh = 0;
    plain.mesh = 1;
    m.nodes = {root, part, plain};
    tinygltf::Scene scene;
    scene.nodes = {0, 2};
    m.scenes.push_back(scene);
    m.defaultScene = 0;
    return m;
}

TEST(ModFromWriters, Tinygltf) {
    std::string why;
    const Bytes bmp = makeBmp(2, 2, quadrants(2, 2, {200, 10, 10}));
    const std::optional<PngImage> png = imageToPng(bmp.data(), bmp.size(), why);
    ASSERT_TRUE(png) << why;
    for (const bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "glb" : "gltf with its bin beside");
        const ScratchDir scratch;
        const fs::path in = scratch.path / (binary ? "meshes.glb" : "meshes.gltf");
        tinygltf::Model model = twoMeshes(png->png);
        tinygltf::TinyGLTF writer;
        ASSERT_TRUE(writer.WriteGltfSceneToFile(&model, in.string(), false, binary, true, binary));
        ASSERT_EQ(fs::exists(scratch.path / "meshes.bin"), !binary);

        const Outcome made = run(scratch.path, {in.filename().string(), "meshes.mod"});
        ASSERT_EQ(made.status, 0) << made.out;
        const Model back = modelAt(scratch.path / "meshes.mod");
        const Triangles triangles = trianglesOf(back);
        EXPECT_EQ(unmatched(trianglesOfGltf(in), triangles, kRounding), "");
        // The quad's corner (0, 0, 0): moved by the child, scaled, turned
        // and moved by the root.
        EXPECT_TRUE(hasCorner(triangles, 1, 3, 3));
        ASSERT_EQ(back.meshes.size(), 2u);
        std::vector<std::string> materials;
        for (const Mesh& mesh : back.meshes)
            for (const MeshSection& s : mesh.sections)
                materials.push_back(materialNameOf(s));
        EXPECT_EQ(materials, (std::vector<std::string>{"painted", "bare", "painted"}));
        // The image as the game's texture; the untextured material gets none.
        const std::string texture = slurp(scratch.path / "painted.BMP");
        EXPECT_EQ(texture.substr(0, 2), "BM");
        EXPECT_FALSE(fs::exists(scratch.path / "bare.BMP"));
    }
}

// Two materials from an OBJ file and its library, exported by Assimp; u/v
// as glTF has them, v turned for its top-left origin.
TEST(ModFromWriters, Assimp) {
    const ScratchDir scratch;
    spit(scratch.path / "shapes.obj",
         bytesOfText("mtllib shapes.mtl\n"
                     "v 0 0 0\nv 1 0 0\nv 1 1 0.5\nv 0 1 0.5\nv 2 0 0\nv 3 0 0\nv 2.5 0 -1\n"
                     "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 0.25 0.75\n"
                     "vn 0 -0.4472136 0.8944272\nvn 0 -1 0\n"
                     "usemtl red\nf 1/1/1 2/2/1 3/3/1\nf 1/1/1 3/3/1 4/4/1\n"
                     "usemtl blue\nf 5/5/2 7/1/2 6/2/2\n"));
    spit(scratch.path / "shapes.mtl", bytesOfText("newmtl red\nKd 1 0 0\nnewmtl blue\nKd 0 0 1\n"));
    const auto corner = [](double x, double y, double z, double u, double v) {
        return Corner{{x, y, z}, {u, 1 - v}, {}};
    };
    const Triangles expected = {
        {"red", 0, {corner(0, 0, 0, 0, 0), corner(1, 0, 0, 1, 0), corner(1, 1, 0.5, 1, 1)}},
        {"red", 0, {corner(0, 0, 0, 0, 0), corner(1, 1, 0.5, 1, 1), corner(0, 1, 0.5, 0, 1)}},
        {"blue", 0, {corner(2, 0, 0, 0.25, 0.75), corner(2.5, 0, -1, 0, 0), corner(3, 0, 0, 1, 0)}},
    };

    Assimp::Importer importer;
    const aiScene* source =
        importer.ReadFile((scratch.path / "shapes.obj").string(),
                          aiProcess_Triangulate | aiProcess_JoinIdenticalVertices);
    ASSERT_NE(source, nullptr) << importer.GetErrorString();
    for (const char* format : {"glb2", "gltf2"}) {
        SCOPED_TRACE(format);
        const std::string in = std::string("shapes.") + (format[2] == 'b' ? "glb" : "gltf");
        Assimp::Exporter exporter;
        ASSERT_EQ(exporter.Export(source, format, (scratch.path / in).string()), aiReturn_SUCCESS)
            << exporter.GetErrorString();
        const std::string out = std::string(format) + ".mod";
        const Outcome made = run(scratch.path, {in, out});
        ASSERT_EQ(made.status, 0) << made.out;
        EXPECT_EQ(unmatched(expected, trianglesOf(modelAt(scratch.path / out)), kRounding), "");
    }
}

} // namespace
} // namespace ulv
