// The glTF reader on what real writers make: tinygltf (.glb, and .gltf with
// its .bin beside it, interleaved with a byte stride), Assimp (glb2 and
// gltf2) and Blender (a cube exported with its defaults, when Blender is
// installed). Linux only: Debian packages these for the build machine.
#include <gtest/gtest.h>

#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <tiny_gltf.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "gltf/reader.h"
#include "tests/support/broken_gltf.h"
#include "tests/support/process.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Serves the files beside a .gltf.
ResourceLoader folderLoader(const fs::path& dir) {
    return [dir](const std::string& uri, std::string& why) -> std::optional<Bytes> {
        if (!fs::is_regular_file(dir / uri)) {
            why = "not found";
            return std::nullopt;
        }
        return bytesOf(slurp(dir / uri));
    };
}

GltfScene readBytes(const Bytes& bytes, const ResourceLoader& load, Notes& notes) {
    try {
        return readGltf(bytes.data(), bytes.size(), load, notes);
    } catch (const GltfError& e) {
        ADD_FAILURE() << "refused: " << e.what();
        return {};
    }
}

GltfScene readFile(const fs::path& path, Notes& notes) {
    return readBytes(bytesOf(slurp(path)), folderLoader(path.parent_path()), notes);
}

std::size_t vertexCount(const GltfScene& scene) {
    std::size_t n = 0;
    for (const GltfMeshNode& node : scene.nodes)
        for (const GltfPrimitive& p : node.primitives)
            n += p.positions.size() / 3;
    return n;
}

std::size_t triangleCount(const GltfScene& scene) {
    std::size_t n = 0;
    for (const GltfMeshNode& node : scene.nodes)
        for (const GltfPrimitive& p : node.primitives)
            n += p.indices.size() / 3;
    return n;
}

bool hasPosition(const GltfPrimitive& p, float x, float y, float z) {
    for (std::size_t i = 0; i + 2 < p.positions.size(); i += 3)
        if (p.positions[i] == x && p.positions[i + 1] == y && p.positions[i + 2] == z)
            return true;
    return false;
}

void append(std::vector<unsigned char>& out, const Bytes& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

int addView(tinygltf::Model& m, std::size_t offset, std::size_t length, int stride = 0) {
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = offset;
    view.byteLength = length;
    view.byteStride = static_cast<std::size_t>(stride);
    m.bufferViews.push_back(view);
    return static_cast<int>(m.bufferViews.size() - 1);
}

int addAccessor(tinygltf::Model& m, int view, std::size_t offset, int componentType, int type,
                std::size_t count) {
    tinygltf::Accessor accessor;
    accessor.bufferView = view;
    accessor.byteOffset = offset;
    accessor.componentType = componentType;
    accessor.type = type;
    accessor.count = count;
    m.accessors.push_back(accessor);
    return static_cast<int>(m.accessors.size() - 1);
}

const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 1, 2, 3, 4};

// A quad under a scaled root: positions and normals interleaved 24 bytes
// apart, texture coordinates, 16-bit indices and a PNG in one buffer.
tinygltf::Model tinygltfQuad() {
    tinygltf::Model m;
    m.asset.version = "2.0";
    tinygltf::Buffer buffer;
    append(buffer.data,
           floatBytes({0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1}));
    append(buffer.data, floatBytes({0, 0, 1, 0, 1, 1, 0, 1}));
    append(buffer.data, u16Bytes({0, 1, 2, 0, 2, 3}));
    append(buffer.data, png);
    buffer.uri = "quad.bin";
    m.buffers.push_back(buffer);

    const int interleaved = addView(m, 0, 96, 24);
    tinygltf::Primitive primitive;
    primitive.attributes["POSITION"] =
        addAccessor(m, interleaved, 0, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, 4);
    m.accessors.back().minValues = {0, 0, 0};
    m.accessors.back().maxValues = {1, 1, 0};
    primitive.attributes["NORMAL"] =
        addAccessor(m, interleaved, 12, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, 4);
    primitive.attributes["TEXCOORD_0"] =
        addAccessor(m, addView(m, 96, 32), 0, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC2, 4);
    primitive.indices = addAccessor(
        m, addView(m, 128, 12), 0, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_TYPE_SCALAR, 6);
    primitive.material = 0;
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    tinygltf::Mesh mesh;
    mesh.primitives.push_back(primitive);
    m.meshes.push_back(mesh);

    tinygltf::Image image;
    image.bufferView = addView(m, 140, png.size());
    image.mimeType = "image/png";
    m.images.push_back(image);
    tinygltf::Texture texture;
    texture.source = 0;
    m.textures.push_back(texture);
    tinygltf::Material material;
    material.name = "painted";
    material.pbrMetallicRoughness.baseColorTexture.index = 0;
    m.materials.push_back(material);

    tinygltf::Node root, quad;
    root.name = "root";
    root.scale = {2, 2, 2};
    root.children = {1};
    quad.name = "quad";
    quad.mesh = 0;
    quad.translation = {1, 2, 3};
    m.nodes = {root, quad};
    tinygltf::Scene scene;
    scene.nodes = {0};
    m.scenes.push_back(scene);
    m.defaultScene = 0;
    return m;
}

void expectQuad(const GltfScene& scene) {
    ASSERT_EQ(scene.nodes.size(), 1u);
    const GltfMeshNode& node = scene.nodes[0];
    EXPECT_EQ(node.name, "quad");
    EXPECT_EQ(node.world, (std::array<double, 16>{2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 2, 4, 6, 1}));
    ASSERT_EQ(node.primitives.size(), 1u);
    const GltfPrimitive& p = node.primitives[0];
    EXPECT_EQ(p.positions, (std::vector<float>{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}));
    EXPECT_EQ(p.normals, (std::vector<float>{0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}));
    EXPECT_EQ(p.texCoords, (std::vector<float>{0, 0, 1, 0, 1, 1, 0, 1}));
    EXPECT_EQ(p.indices, (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3}));
    ASSERT_EQ(scene.materials.size(), 1u);
    EXPECT_EQ(scene.materials[0].name, "painted");
    ASSERT_EQ(scene.materials[0].image, 0);
    EXPECT_EQ(scene.images[0].mimeType, "image/png");
    EXPECT_EQ(scene.images[0].bytes, png);
}

TEST(GltfReaderOnRealWriters, TinygltfGlb) {
    tinygltf::Model model = tinygltfQuad();
    tinygltf::TinyGLTF writer;
    std::ostringstream out;
    ASSERT_TRUE(writer.WriteGltfSceneToStream(&model, out, false, true));
    Notes notes;
    const Bytes glb = bytesOf(out.str());
    expectQuad(readBytes(glb, loaderOf({}), notes));
    EXPECT_EQ(notes, Notes{});
}

TEST(GltfReaderOnRealWriters, TinygltfGltfWithItsBinBeside) {
    const ScratchDir scratch;
    tinygltf::Model model = tinygltfQuad();
    tinygltf::TinyGLTF writer;
    const fs::path path = scratch.path / "quad.gltf";
    ASSERT_TRUE(writer.WriteGltfSceneToFile(&model, path.string(), false, false, true, false));
    ASSERT_TRUE(fs::is_regular_file(scratch.path / "quad.bin"));
    Notes notes;
    expectQuad(readFile(path, notes));
    EXPECT_EQ(notes, Notes{});
}

TEST(GltfReaderOnRealWriters, Assimp) {
    const std::string obj = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                            "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 1\n"
                            "f 1/1/1 2/2/1 3/3/1 4/4/1\n";
    Assimp::Importer importer;
    const aiScene* source = importer.ReadFileFromMemory(
        obj.data(), obj.size(), aiProcess_Triangulate | aiProcess_JoinIdenticalVertices, "obj");
    ASSERT_NE(source, nullptr) << importer.GetErrorString();
    const ScratchDir scratch;
    for (const char* format : {"glb2", "gltf2"}) {
        const fs::path path =
            scratch.path / (std::string("quad.") + (format[2] == 'b' ? "glb" : "gltf"));
        Assimp::Exporter exporter;
        ASSERT_EQ(exporter.Export(source, format, path.string()), aiReturn_SUCCESS)
            << exporter.GetErrorString();
        Notes notes;
        const GltfScene scene = readFile(path, notes);
        EXPECT_EQ(notes, Notes{}) << format;
        // Assimp keeps a corner per face corner: 6 for the two triangles.
        EXPECT_EQ(vertexCount(scene), 6u) << format;
        EXPECT_EQ(triangleCount(scene), 2u) << format;
        ASSERT_EQ(scene.nodes.size(), 1u) << format;
        ASSERT_EQ(scene.nodes[0].primitives.size(), 1u) << format;
        const GltfPrimitive& p = scene.nodes[0].primitives[0];
        EXPECT_TRUE(hasPosition(p, 1, 1, 0)) << format;
        EXPECT_EQ(scene.nodes[0].world,
                  (std::array<double, 16>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
        EXPECT_EQ(scene.materials.size(), 1u) << format;
        EXPECT_EQ(p.normals.size(), 18u) << format;
        // v turned for glTF's top-left origin.
        EXPECT_EQ(p.texCoords, (std::vector<float>{0, 1, 1, 1, 1, 0, 0, 1, 1, 0, 0, 0})) << format;
    }
}

// Blender 3.4 runs tests/gltf/blender_cube.py; Debian's PATH without
// anything the test's environment adds, so that no other Python is found.
TEST(GltfReaderOnRealWriters, Blender) {
    if (std::system("env PATH=/usr/sbin:/usr/bin:/sbin:/bin sh -c 'command -v blender' "
                    ">/dev/null 2>&1") != 0)
        GTEST_SKIP() << "blender is not installed (Debian package blender): not tested";
    const ScratchDir scratch;
    const fs::path out = scratch.path / "cube.glb";
    const std::string command =
        "env PATH=/usr/sbin:/usr/bin:/sbin:/bin blender -b "
        "--factory-startup --python '" ULVTOOL_SOURCE_DIR "/tests/gltf/blender_cube.py' -- '" +
        out.string() + "' >'" + (scratch.path / "blender.log").string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << slurp(scratch.path / "blender.log");
    ASSERT_TRUE(fs::is_regular_file(out)) << slurp(scratch.path / "blender.log");

    Notes notes;
    const GltfScene scene = readFile(out, notes);
    EXPECT_EQ(notes, Notes{});
    ASSERT_EQ(scene.nodes.size(), 1u);
    const GltfMeshNode& cube = scene.nodes[0];
    EXPECT_EQ(cube.name, "Cube");
    // Blender's z up becomes glTF's y up: location (1, 2, 3) is (1, 3, -2).
    EXPECT_EQ(cube.world,
              (std::array<double, 16>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 3, -2, 1}));
    ASSERT_EQ(cube.primitives.size(), 1u);
    const GltfPrimitive& p = cube.primitives[0];
    // Each face's corners apart, for their own normals and texture coordinates.
    EXPECT_EQ(p.positions.size(), 24u * 3);
    EXPECT_EQ(p.indices.size(), 12u * 3);
    EXPECT_EQ(p.normals.size(), 24u * 3);
    EXPECT_EQ(p.texCoords.size(), 24u * 2);
    EXPECT_TRUE(hasPosition(p, 1, 1, -1));
    EXPECT_TRUE(hasPosition(p, -1, -1, 1));
    for (const float v : p.positions)
        EXPECT_EQ(std::abs(v), 1.0f);
    ASSERT_EQ(scene.materials.size(), 1u);
    EXPECT_EQ(scene.materials[0].name, "Painted");
    ASSERT_EQ(scene.materials[0].image, 0);
    EXPECT_EQ(scene.images[0].mimeType, "image/png");
    ASSERT_GE(scene.images[0].bytes.size(), 8u);
    EXPECT_EQ(std::memcmp(scene.images[0].bytes.data(), "\x89PNG", 4), 0);
}

} // namespace
} // namespace ulv
