// What the tool writes as glTF must pass the Khronos validator and load in
// real readers: the sample with its textures, and every hostile model.
#include <gtest/gtest.h>

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/scene.h>
#include <tiny_gltf.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/bmp_builder.h"
#include "tests/support/gltf_files.h"
#include "tests/support/process.h"
#include "tests/support/sample_model.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

// Standard output of a shell command, and its exit status.
std::pair<std::string, int> shell(const std::string& command) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return {"", -1};
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    return {out, ::pclose(pipe)};
}

// The "v" lines of an OBJ file, as written.
std::vector<std::string> objPositions(const std::string& obj) {
    std::vector<std::string> lines;
    std::istringstream in(obj);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("v ", 0) == 0)
            lines.push_back(line);
    return lines;
}

std::vector<float> accessorFloats(const tinygltf::Model& model, int index) {
    const tinygltf::Accessor& accessor = model.accessors[static_cast<std::size_t>(index)];
    const tinygltf::BufferView& view =
        model.bufferViews[static_cast<std::size_t>(accessor.bufferView)];
    const tinygltf::Buffer& buffer = model.buffers[static_cast<std::size_t>(view.buffer)];
    const std::size_t width = accessor.type == TINYGLTF_TYPE_VEC3 ? 3 : 2;
    std::vector<float> out(accessor.count * width);
    const std::size_t stride = view.byteStride ? view.byteStride : 4 * width;
    for (std::size_t k = 0; k < accessor.count; ++k)
        std::memcpy(&out[k * width],
                    buffer.data.data() + view.byteOffset + accessor.byteOffset + k * stride,
                    4 * width);
    return out;
}

// Names as the console shows them: 8-bit bytes as Latin-1 in UTF-8, control
// bytes as '?'.
std::string printable(const std::string& name) {
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += '?';
        } else if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | byte >> 6);
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

class GltfReaders : public ::testing::Test {
  protected:
    // Converted once, inside the first test, which names the scratch folder.
    void SetUp() override {
        if (!scratch)
            convertAll();
    }
    static void convertAll() {
        scratch = new ScratchDir;
        const fs::path dir = scratch->path;
        spit(dir / "sample.mod", encodeModel(sampleModel()));
        for (const auto& [name, bytes] : sampleTextures())
            spit(dir / name, bytes);
        fs::create_directory(dir / "out");
        for (const char* output : {"out/sample.glb", "out/sample.gltf", "out/sample.obj"}) {
            const Outcome outcome = run(dir, {"sample.mod", output});
            ASSERT_EQ(outcome.status, 0) << output;
            ASSERT_EQ(outcome.out, "") << output;
        }
        fs::create_directory(dir / "hostile");
        for (const HostileModel& c : hostileModels()) {
            spit(dir / "hostile" / (c.name + ".mod"), encodeModel(c.model));
            for (const char* extension : {".glb", ".gltf"}) {
                const Outcome outcome = run(dir / "hostile", {c.name + ".mod", c.name + extension});
                ASSERT_EQ(outcome.status, 0) << c.name;
                // No textures here: each material says so first.
                std::string notes;
                std::set<std::string> materials;
                for (const Mesh& mesh : c.model.meshes) {
                    for (const MeshSection& section : mesh.sections) {
                        std::string name = materialNameOf(section);
                        if (!name.empty() && materials.insert(name).second)
                            notes += "Texture " + printable(name) + ".BMP left out: not found\n";
                    }
                }
                for (const std::string& note : c.notes)
                    notes += note + "\n";
                ASSERT_EQ(outcome.out, notes) << c.name;
            }
        }
    }
    static void TearDownTestSuite() {
        delete scratch;
        scratch = nullptr;
    }

    static std::vector<fs::path> gltfFiles() {
        std::vector<fs::path> files;
        for (const auto& entry : fs::recursive_directory_iterator(scratch->path)) {
            const std::string extension = entry.path().extension().string();
            if (extension == ".glb" || extension == ".gltf")
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    static tinygltf::Model load(const fs::path& path) {
        tinygltf::TinyGLTF loader;
        tinygltf::Model model;
        std::string error, warning;
        const bool loaded = path.extension() == ".glb"
                                ? loader.LoadBinaryFromFile(&model, &error, &warning, path.string())
                                : loader.LoadASCIIFromFile(&model, &error, &warning, path.string());
        EXPECT_TRUE(loaded) << path << ": " << error;
        EXPECT_EQ(error, "") << path;
        EXPECT_EQ(warning, "") << path;
        return model;
    }

    static ScratchDir* scratch;
};

ScratchDir* GltfReaders::scratch = nullptr;

TEST_F(GltfReaders, ValidatorFindsNoErrors) {
    std::string command = "NODE_PATH='" ULVTOOL_GLTF_VALIDATOR "' node '" ULVTOOL_SOURCE_DIR
                          "/tests/gltf/validate.js'";
    const std::vector<fs::path> files = gltfFiles();
    ASSERT_EQ(files.size(), 2 + 2 * hostileModels().size());
    for (const fs::path& file : files)
        command += " '" + file.string() + "'";
    const auto [out, status] = shell(command);
    EXPECT_EQ(status, 0) << out;
    // The validator's summary stays in the test log.
    std::cout << out;
    // One line per file: path, errors, warnings, infos, hints, then codes.
    std::istringstream lines(out);
    std::size_t reported = 0;
    for (std::string line; std::getline(lines, line); ++reported) {
        std::istringstream fields(line);
        std::string path;
        int errors = -1, warnings = -1;
        fields >> path >> errors >> warnings;
        EXPECT_EQ(errors, 0) << line;
        EXPECT_EQ(warnings, 0) << line;
    }
    EXPECT_EQ(reported, files.size()) << out;
}

TEST_F(GltfReaders, TinyGltfLoadsTheSampleWithItsTextures) {
    const std::string obj = slurp(scratch->path / "out" / "sample.obj");
    const std::vector<std::string> objLines = objPositions(obj);
    for (const char* name : {"sample.glb", "sample.gltf"}) {
        SCOPED_TRACE(name);
        const tinygltf::Model model = load(scratch->path / "out" / name);
        ASSERT_EQ(model.nodes.size(), 2u);
        EXPECT_EQ(model.nodes[0].name, "mesh0");
        EXPECT_EQ(model.nodes[1].name, "mesh1");
        ASSERT_EQ(model.meshes.size(), 2u);
        EXPECT_EQ(model.meshes[0].primitives.size(), 2u);
        EXPECT_EQ(model.meshes[1].primitives.size(), 3u);

        // Each material with its texture: the size and the top-left pixel of
        // the file it came from, so a flipped image shows.
        const std::map<std::string, std::tuple<int, int, Rgb>> expected = {
            {"wood", {32, 32, {70, 42, 20}}},
            {"metal", {32, 32, {105, 112, 120}}},
            {"glass", {32, 32, {240, 240, 235}}}};
        ASSERT_EQ(model.materials.size(), 3u);
        for (const tinygltf::Material& material : model.materials) {
            SCOPED_TRACE(material.name);
            ASSERT_EQ(expected.count(material.name), 1u);
            const auto& [width, height, topLeft] = expected.at(material.name);
            const int texture = material.pbrMetallicRoughness.baseColorTexture.index;
            ASSERT_GE(texture, 0);
            const tinygltf::Image& image = model.images[static_cast<std::size_t>(
                model.textures[static_cast<std::size_t>(texture)].source)];
            EXPECT_EQ(image.mimeType, "image/png");
            EXPECT_EQ(image.width, width);
            EXPECT_EQ(image.height, height);
            ASSERT_GE(image.image.size(), 3u);
            EXPECT_EQ((Rgb{image.image[0], image.image[1], image.image[2]}), topLeft);
            EXPECT_EQ(material.pbrMetallicRoughness.metallicFactor, 0.0);
            EXPECT_EQ(material.pbrMetallicRoughness.roughnessFactor, 1.0);
        }

        // Positions: printed as the OBJ prints them, the same lines in order.
        std::vector<std::string> lines;
        for (const tinygltf::Mesh& mesh : model.meshes) {
            for (const tinygltf::Primitive& primitive : mesh.primitives) {
                const std::vector<float> p =
                    accessorFloats(model, primitive.attributes.at("POSITION"));
                for (std::size_t k = 0; k < p.size(); k += 3) {
                    char line[200];
                    std::snprintf(line, sizeof line, "v %f %f %f", double{p[k]}, double{p[k + 1]},
                                  double{p[k + 2]});
                    lines.push_back(line);
                }
            }
        }
        EXPECT_EQ(lines, objLines);

        // Texture coordinates as stored: the top-left texel is at (0, 0).
        const std::vector<float> uv =
            accessorFloats(model, model.meshes[0].primitives[0].attributes.at("TEXCOORD_0"));
        const std::vector<float> stored = sampleModel().meshes[0].sections[0].texCoords;
        EXPECT_EQ(uv, stored);
    }
}

TEST_F(GltfReaders, TinyGltfLoadsEveryHostileModel) {
    for (const HostileModel& c : hostileModels()) {
        for (const char* extension : {".glb", ".gltf"}) {
            SCOPED_TRACE(c.name + extension);
            const tinygltf::Model model = load(scratch->path / "hostile" / (c.name + extension));
            EXPECT_EQ(model.nodes.size(), c.model.meshes.size());
            std::size_t triangles = 0;
            for (const tinygltf::Mesh& mesh : model.meshes)
                for (const tinygltf::Primitive& primitive : mesh.primitives)
                    triangles +=
                        model.accessors[static_cast<std::size_t>(primitive.indices)].count / 3;
            std::size_t expected = 0;
            for (const Mesh& mesh : c.model.meshes)
                for (const MeshSection& section : mesh.sections)
                    if (section.vertexCount)
                        for (std::size_t t = 0; t < section.triangleCount; ++t)
                            expected += section.indices[3 * t] < section.vertexCount &&
                                        section.indices[3 * t + 1] < section.vertexCount &&
                                        section.indices[3 * t + 2] < section.vertexCount;
            EXPECT_EQ(triangles, expected);
        }
    }
}

TEST_F(GltfReaders, AssimpLoadsTheSample) {
    for (const char* name : {"sample.glb", "sample.gltf"}) {
        SCOPED_TRACE(name);
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile((scratch->path / "out" / name).string(), 0);
        ASSERT_NE(scene, nullptr) << importer.GetErrorString();
        // Assimp makes a mesh of each primitive.
        EXPECT_EQ(scene->mNumMeshes, 5u);
        unsigned faces = 0;
        for (unsigned m = 0; m < scene->mNumMeshes; ++m)
            faces += scene->mMeshes[m]->mNumFaces;
        EXPECT_EQ(faces, 18u);
        ASSERT_EQ(scene->mNumTextures, 3u);
        std::map<std::string, std::string> textureOf;
        for (unsigned m = 0; m < scene->mNumMaterials; ++m) {
            const aiMaterial* material = scene->mMaterials[m];
            aiString path;
            if (material->GetTexture(aiTextureType_DIFFUSE, 0, &path) == AI_SUCCESS)
                textureOf[material->GetName().C_Str()] = path.C_Str();
        }
        // Embedded textures are named "*N".
        EXPECT_EQ(textureOf, (std::map<std::string, std::string>{
                                 {"wood", "*0"}, {"metal", "*1"}, {"glass", "*2"}}));
        for (unsigned t = 0; t < scene->mNumTextures; ++t)
            EXPECT_STREQ(scene->mTextures[t]->achFormatHint, "png");
    }
}

} // namespace
} // namespace ulv
