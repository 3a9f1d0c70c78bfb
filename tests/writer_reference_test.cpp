// The writer against a plain reference built on snprintf, on a model large
// enough to pass through several output buffers and the background writer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "export/obj_writer.h"
#include "tests/support/model_builder.h"

namespace ulv {
namespace {

#ifdef _WIN32
const std::string nl = "\r\n";
#else
const std::string nl = "\n";
#endif

std::string printed(const char* format, auto... values) {
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, format, values...);
    return std::string(buffer, static_cast<std::size_t>(n));
}

// Written from the format description alone, one printf per line.
std::pair<std::string, std::string> reference(const Model& model, const std::string& mtlName) {
    std::string obj = "# This is a converted version of a ULV .MOD file!" + nl + nl + "mtllib " +
                      mtlName + nl + nl;
    std::string mtl;
    for (const Mesh& mesh : model.meshes)
        for (const MeshSection& section : mesh.sections)
            for (std::size_t k = 0; k < section.vertexCount; ++k) {
                const auto& m = mesh.transform.m;
                const double x = section.positions[3 * k], y = section.positions[3 * k + 1],
                             z = section.positions[3 * k + 2];
                const double out[3] = {
                    double{m[0]} * x + double{m[3]} * y + double{m[6]} * z + double{m[9]},
                    double{m[1]} * x + double{m[4]} * y + double{m[7]} * z + double{m[10]},
                    double{m[2]} * x + double{m[5]} * y + double{m[8]} * z + double{m[11]}};
                obj += printed("v %f %f %f", double{static_cast<float>(out[0])},
                               double{static_cast<float>(out[1])},
                               double{static_cast<float>(out[2])}) +
                       nl;
            }
    obj += nl;
    for (const Mesh& mesh : model.meshes)
        for (const MeshSection& section : mesh.sections)
            for (std::size_t k = 0; k < section.vertexCount; ++k)
                obj += printed("vn %f %f %f", double{section.normals[3 * k]},
                               double{section.normals[3 * k + 1]},
                               double{section.normals[3 * k + 2]}) +
                       nl;
    obj += nl;
    for (const Mesh& mesh : model.meshes)
        for (const MeshSection& section : mesh.sections)
            for (std::size_t k = 0; k < section.vertexCount; ++k)
                obj += printed("vt %f %f", double{section.texCoords[2 * k]},
                               double{-section.texCoords[2 * k + 1]}) +
                       nl;
    obj += nl;
    std::set<std::string> defined;
    std::uint32_t base = 1;
    int group = 0;
    for (const Mesh& mesh : model.meshes) {
        for (const MeshSection& section : mesh.sections) {
            obj += printed("g group%d", group++) + nl;
            const std::string name = materialNameOf(section);
            if (!name.empty()) {
                obj += "usemtl " + name + nl;
                if (defined.insert(name).second)
                    mtl += "newmtl " + name + nl + "map_Kd .\\" + name + ".BMP" + nl + nl;
            }
            for (std::size_t t = 0; t < section.triangleCount; ++t) {
                const std::uint32_t a = section.indices[3 * t] + base,
                                    b = section.indices[3 * t + 1] + base,
                                    c = section.indices[3 * t + 2] + base;
                obj += printed("f %u/%u/%u %u/%u/%u %u/%u/%u", a, a, a, b, b, b, c, c, c) + nl;
            }
            base += section.vertexCount;
        }
        obj += nl;
    }
    return {obj, mtl};
}

TEST(WriterReference, LargeRandomModel) {
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> coordinate(-2000.0f, 2000.0f);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<Mesh> meshes;
    int material = 0;
    for (int m = 0; m < 4; ++m) {
        const float angle = 0.4f * float(m + 1);
        const Transform transform{{std::cos(angle), std::sin(angle), 0.1f, -std::sin(angle),
                                   std::cos(angle), 0.2f, 0.3f, -0.1f, 1.5f, 17.25f * float(m),
                                   -8.5f, 1000.125f}};
        std::vector<MeshSection> sections;
        for (int s = 0; s < 6; ++s) {
            const std::uint32_t vertices = 5000 + static_cast<std::uint32_t>(random() % 3000);
            std::vector<float> positions, normals, texCoords;
            std::vector<std::uint32_t> indices;
            for (std::uint32_t k = 0; k < vertices; ++k) {
                positions.insert(positions.end(),
                                 {coordinate(random), coordinate(random), unit(random)});
                normals.insert(normals.end(), {unit(random), unit(random), unit(random)});
                texCoords.insert(texCoords.end(), {unit(random), unit(random) * 4});
                indices.insert(indices.end(), {k, (k * 7 + 1) % vertices,
                                               static_cast<std::uint32_t>(random() % vertices)});
            }
            // Some names repeat, one section has none.
            const std::string name = s == 5 ? "" : "mat" + std::to_string(material++ % 7);
            sections.push_back(makeSection(name, positions, normals, texCoords, indices));
        }
        meshes.push_back(makeMesh(transform, std::move(sections)));
    }
    const Model model = makeModel(std::move(meshes));
    const auto [obj, mtl] = reference(model, "big.mtl");
    ASSERT_GT(obj.size(), std::size_t{12} << 20) << "model too small to fill several buffers";

    std::ostringstream objOut, mtlOut;
    ASSERT_TRUE(writeObj(model, objOut, mtlOut, "big.mtl"));
    // Compare line-sized pieces first, for a readable failure.
    const std::string written = objOut.str();
    const std::size_t differs =
        std::mismatch(written.begin(), written.end(), obj.begin(), obj.end()).first -
        written.begin();
    EXPECT_EQ(differs, obj.size())
        << "first difference near: " << written.substr(differs > 40 ? differs - 40 : 0, 80);
    EXPECT_EQ(written.size(), obj.size());
    EXPECT_EQ(mtlOut.str(), mtl);
}

} // namespace
} // namespace ulv
