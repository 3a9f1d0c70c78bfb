// The writer against a plain reference built on snprintf, on models large
// enough to be cut into several pieces and formatted by two threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "obj/pieces.h"
#include "obj/writer.h"
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

// The first difference, for a readable failure, then the whole texts.
void expectSameText(const std::string& written, const std::string& expected,
                    const std::string& what) {
    const std::size_t differs =
        std::mismatch(written.begin(), written.end(), expected.begin(), expected.end()).first -
        written.begin();
    EXPECT_EQ(differs, expected.size())
        << what
        << ", first difference near: " << written.substr(differs > 40 ? differs - 40 : 0, 80);
    EXPECT_EQ(written.size(), expected.size()) << what;
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
    expectSameText(objOut.str(), obj, "obj");
    EXPECT_EQ(mtlOut.str(), mtl);
}

#ifdef __linux__
std::size_t threadsNow() {
    std::size_t threads = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ++threads;
    return threads;
}
#else
std::size_t threadsNow() { return 1; }
#endif

// Keeps the text, and how many threads the process had beyond those it had
// before, at most, while the text was written. A sanitizer may run threads
// of its own.
class ThreadCountingBuffer : public std::streambuf {
  public:
    std::string text;
    std::size_t mostAdded = 0;

  protected:
    std::streamsize xsputn(const char* data, std::streamsize size) override {
        mostAdded = std::max(mostAdded, threadsNow() - before_);
        text.append(data, static_cast<std::size_t>(size));
        return size;
    }
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof()))
            text.push_back(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }

  private:
    const std::size_t before_ = threadsNow();
};

MeshSection randomSection(std::mt19937& random, const std::string& name, std::uint32_t vertices,
                          std::uint32_t triangles) {
    std::uniform_real_distribution<float> coordinate(-3000.0f, 3000.0f);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<float> positions, normals, texCoords;
    std::vector<std::uint32_t> indices;
    for (std::uint32_t k = 0; k < vertices; ++k) {
        positions.insert(positions.end(), {coordinate(random), coordinate(random), unit(random)});
        normals.insert(normals.end(), {unit(random), unit(random), unit(random)});
        texCoords.insert(texCoords.end(), {unit(random), unit(random) * 3});
    }
    for (std::uint32_t t = 0; t < triangles; ++t)
        for (int corner = 0; corner < 3; ++corner)
            indices.push_back(static_cast<std::uint32_t>(random() % vertices));
    return makeSection(name, positions, normals, texCoords, indices);
}

// One thread and two write the same text as the reference, with the cuts
// between pieces inside sections and on every kind of boundary: a section's
// end, a mesh's end, a mesh without sections, empty sections, many sections
// in one piece, a group header at the very end of the faces.
TEST(WriterReference, PiecesCutAnywhere) {
    constexpr std::uint32_t piece = faceLinesPerPiece;
    constexpr std::uint32_t vertexPiece = vertexLinesPerPiece;
    std::mt19937 random(777);
    const Transform turned{
        {0.6f, 0.8f, 0.0f, -0.8f, 0.6f, 0.0f, 0.0f, 0.0f, 1.0f, 12.5f, -3.25f, 100.0f}};
    std::vector<Mesh> meshes;
    // Faces: the first section ends at the first cut, where the second (no
    // faces) starts; the third spans a whole piece and ends the mesh at the
    // third cut. Vertices: the second section ends at the second cut.
    meshes.push_back(makeMesh(turned, {randomSection(random, "stone", vertexPiece + 1000, piece),
                                       randomSection(random, "", vertexPiece - 1000, 0),
                                       randomSection(random, "wood", 5000, 2 * piece)}));
    meshes.push_back(makeMesh(identityTransform, {}));
    meshes.push_back(makeMesh(
        turned, {randomSection(random, "stone", 0, 0),
                 randomSection(random, "glass", vertexPiece / 2 + 77, piece + piece / 2)}));
    std::vector<MeshSection> small;
    for (int s = 0; s < 60; ++s)
        small.push_back(randomSection(random, "tile" + std::to_string(s % 9), 300, 250));
    meshes.push_back(makeMesh(turned, std::move(small)));
    // A group header and a mesh's blank line after the last face.
    meshes.push_back(makeMesh(identityTransform, {randomSection(random, "wood", 10, 0)}));
    const Model model = makeModel(std::move(meshes));
    const auto [obj, mtl] = reference(model, "cut.mtl");

    for (const unsigned threads : {1u, 2u}) {
        ThreadCountingBuffer objText, mtlText;
        std::ostream objOut(&objText), mtlOut(&mtlText);
        ASSERT_TRUE(writeObjWith(model, objOut, mtlOut, "cut.mtl", threads));
        const std::string what = std::to_string(threads) + " thread(s)";
        expectSameText(objText.text, obj, what);
        EXPECT_EQ(mtlText.text, mtl) << what;
#ifdef __linux__
        EXPECT_EQ(objText.mostAdded, threads - 1) << what;
#endif
    }
}

TEST(WriterReference, SmallModelStartsNoThread) {
    std::mt19937 random(5);
    const Model model =
        makeModel({makeMesh(identityTransform, {randomSection(random, "a", 3, 1)})});
    const auto [obj, mtl] = reference(model, "small.mtl");
    ThreadCountingBuffer objText, mtlText;
    std::ostream objOut(&objText), mtlOut(&mtlText);
    ASSERT_TRUE(writeObj(model, objOut, mtlOut, "small.mtl"));
    EXPECT_EQ(objText.text, obj);
    EXPECT_EQ(mtlText.text, mtl);
#ifdef __linux__
    EXPECT_EQ(objText.mostAdded, 0u);
#endif
}

} // namespace
} // namespace ulv
