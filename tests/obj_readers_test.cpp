// The converted sample, written into a sub-folder by the tool, must load in
// real OBJ readers with every group's material and texture found.
#include <gtest/gtest.h>

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/scene.h>
#include <tiny_obj_loader.h>

#include <filesystem>
#include <map>
#include <string>

#include "tests/support/process.h"
#include "tests/support/sample_model.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

class ObjReaders : public ::testing::Test {
  protected:
    void SetUp() override {
        spit(scratch.path / "sample.mod", encodeModel(sampleModel()));
        fs::create_directory(scratch.path / "sub");
        ASSERT_EQ(run(scratch.path, {"sample.mod", "sub/sample.obj"}).status, 0);
    }

    ScratchDir scratch;
    const fs::path obj = scratch.path / "sub" / "sample.obj";
    // Group, material and triangle count of each section of the sample.
    const std::vector<std::tuple<std::string, std::string, std::size_t>> groups = {
        {"group0", "wood", 8},
        {"group1", "metal", 2},
        {"group2", "wood", 2},
        {"group3", "metal", 4},
        {"group4", "glass", 2}};
};

TEST_F(ObjReaders, TinyObjLoader) {
    tinyobj::ObjReader reader;
    // Run from elsewhere, so the library is found beside the OBJ or not at all.
    ASSERT_TRUE(reader.ParseFromFile(obj.string())) << reader.Error();
    EXPECT_EQ(reader.Warning(), "");
    EXPECT_EQ(reader.Error(), "");

    const tinyobj::attrib_t& attrib = reader.GetAttrib();
    EXPECT_EQ(attrib.vertices.size(), 38u * 3);
    EXPECT_EQ(attrib.normals.size(), 38u * 3);
    EXPECT_EQ(attrib.texcoords.size(), 38u * 2);
    // The roof's first vertex, (0.5, 0, 0.375), turned, scaled by 2 and moved up.
    EXPECT_EQ(attrib.vertices[20 * 3 + 0], -1.0f);
    EXPECT_EQ(attrib.vertices[20 * 3 + 1], 1.2f);
    EXPECT_EQ(attrib.vertices[20 * 3 + 2], -0.75f);

    const auto& materials = reader.GetMaterials();
    std::map<std::string, std::string> textures;
    for (const tinyobj::material_t& material : materials)
        textures[material.name] = material.diffuse_texname;
    EXPECT_EQ(textures,
              (std::map<std::string, std::string>{
                  {"wood", ".\\wood.BMP"}, {"metal", ".\\metal.BMP"}, {"glass", ".\\glass.BMP"}}));

    const auto& shapes = reader.GetShapes();
    ASSERT_EQ(shapes.size(), groups.size());
    for (std::size_t s = 0; s < shapes.size(); ++s) {
        const auto& [name, material, triangles] = groups[s];
        const tinyobj::mesh_t& mesh = shapes[s].mesh;
        EXPECT_EQ(shapes[s].name, name);
        ASSERT_EQ(mesh.material_ids.size(), triangles) << name;
        for (int id : mesh.material_ids) {
            ASSERT_GE(id, 0) << name;
            EXPECT_EQ(materials[static_cast<std::size_t>(id)].name, material) << name;
        }
        for (const tinyobj::index_t& index : mesh.indices) {
            EXPECT_EQ(index.normal_index, index.vertex_index);
            EXPECT_EQ(index.texcoord_index, index.vertex_index);
        }
    }
}

TEST_F(ObjReaders, Assimp) {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(obj.string(), 0);
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    ASSERT_EQ(scene->mNumMeshes, groups.size());
    std::size_t vertices = 0;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        const auto& [name, material, triangles] = groups[m];
        EXPECT_EQ(mesh->mNumFaces, triangles) << name;
        EXPECT_TRUE(mesh->HasNormals());
        EXPECT_TRUE(mesh->HasTextureCoords(0));
        vertices += mesh->mNumVertices;
        const aiMaterial* used = scene->mMaterials[mesh->mMaterialIndex];
        aiString usedName, texture;
        used->Get(AI_MATKEY_NAME, usedName);
        EXPECT_EQ(std::string(usedName.C_Str()), material);
        ASSERT_EQ(used->GetTexture(aiTextureType_DIFFUSE, 0, &texture), aiReturn_SUCCESS) << name;
        EXPECT_NE(std::string(texture.C_Str()).find(material + ".BMP"), std::string::npos)
            << texture.C_Str();
    }
    // Assimp gives every face corner its own vertex.
    EXPECT_EQ(vertices, 3u * (8 + 2 + 2 + 4 + 2));
}

} // namespace
} // namespace ulv
