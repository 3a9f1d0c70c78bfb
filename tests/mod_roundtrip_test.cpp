// The way back from glTF loses nothing: for every model file the reader
// takes, the glTF of the model file made from its glTF is the same glTF
// (a fixed point), and the glTF written over the model as a template gives
// the model back byte for byte. Run over the fuzzing corpus, the hostile
// models and the sample.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "gltf/reader.h"
#include "gltf/to_model.h"
#include "gltf/writer.h"
#include "mod/over.h"
#include "mod/reader.h"
#include "tests/support/gltf_files.h"
#include "tests/support/model_builder.h"
#include "tests/support/sample_model.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

std::string glbOf(const Model& model) {
    std::ostringstream out;
    Notes notes;
    EXPECT_EQ(writeGlb(model, {}, out, notes), GltfResult::ok);
    return out.str();
}

GltfScene sceneOf(const std::string& glb) {
    Notes notes;
    return readGltf(
        reinterpret_cast<const std::uint8_t*>(glb.data()), glb.size(),
        [](const std::string&, std::string& why) {
            why = "none";
            return std::nullopt;
        },
        notes);
}

struct Case {
    std::string name;
    Bytes bytes;
};

std::vector<Case> cases() {
    std::vector<Case> all;
    all.push_back({"sample", encodeModel(sampleModel())});
    for (HostileModel& hostile : hostileModels())
        if (hostile.name != "sections_100000") // the slowest, and no different in kind
            all.push_back({hostile.name, encodeModel(hostile.model)});
    const fs::path corpus = fs::path(ULVTOOL_SOURCE_DIR) / "tests" / "fuzz" / "corpus" / "model";
    for (const auto& entry : fs::directory_iterator(corpus)) {
        std::ifstream in(entry.path(), std::ios::binary);
        all.push_back({entry.path().filename().string(), Bytes((std::istreambuf_iterator<char>(in)),
                                                               std::istreambuf_iterator<char>())});
    }
    return all;
}

TEST(ModRoundTrip, GltfOfTheModelMadeFromGltfIsTheSame) {
    std::size_t read = 0;
    for (const Case& c : cases()) {
        Model model;
        try {
            model = readModel(c.bytes.data(), c.bytes.size(), nullptr);
        } catch (const TextError&) {
            continue;
        }
        ++read;
        SCOPED_TRACE(c.name);
        const std::string a = glbOf(model);
        Notes notes;
        GltfScene scene = sceneOf(a);
        const ModelFromGltf b = modelOf(scene, nullptr, notes);
        const Bytes bBytes = encodeModel(b.model);
        const std::string again = glbOf(readModel(bBytes.data(), bBytes.size(), nullptr));
        EXPECT_TRUE(again == a) << "the glTF differs";
        EXPECT_TRUE(notes.empty()) << notes.front();
    }
    EXPECT_GT(read, 100u) << "the corpus should hold many models the reader takes";
}

TEST(ModRoundTrip, GltfOverItsModelGivesTheModelBack) {
    for (const Case& c : cases()) {
        std::optional<TemplateFile> templ = readTemplate(c.bytes);
        if (!templ)
            continue;
        SCOPED_TRACE(c.name);
        const std::string a = glbOf(templ->model);
        Notes notes;
        GltfScene scene = sceneOf(a);
        const ModelFromGltf made = modelOf(scene, &templ->model, notes);
        bool betweenKept = false;
        const Bytes written = writeOver(made.model, made.reuse, *templ, betweenKept);
        EXPECT_TRUE(written == c.bytes) << "the model differs";
        EXPECT_TRUE(betweenKept);
        EXPECT_EQ(made.reuse.changed + made.reuse.added + made.reuse.dropped, 0u);
    }
}

// Edits as a 3D program makes them, on the sample's glTF, written over the
// sample: what each leaves kept, changed, added and dropped, and the kept
// sections' bytes as the template's.
TEST(ModRoundTrip, EditsOverTheTemplate) {
    const Bytes sampleBytes = encodeModel(sampleModel());
    const std::optional<TemplateFile> templ = readTemplate(sampleBytes);
    ASSERT_TRUE(templ);
    const std::string glb = glbOf(templ->model);
    struct Edit {
        const char* name;
        void (*edit)(GltfScene&);
        std::size_t kept, changed, added, dropped;
    } edits[] = {
        {"nothing", [](GltfScene&) {}, 5, 0, 0, 0},
        {"a moved vertex", [](GltfScene& s) { s.nodes[0].primitives[0].positions[0] += 0.25f; }, 4,
         1, 0, 0},
        {"a deleted triangle",
         [](GltfScene& s) {
             std::vector<std::uint32_t>& indices = s.nodes[1].primitives[1].indices;
             indices.erase(indices.begin(), indices.begin() + 3);
         },
         4, 1, 0, 0},
        {"a deleted primitive",
         [](GltfScene& s) { s.nodes[1].primitives.erase(s.nodes[1].primitives.begin() + 2); }, 4, 0,
         0, 1},
        {"a primitive moved away whole",
         [](GltfScene& s) {
             for (float& v : s.nodes[0].primitives[1].positions)
                 v += 100;
         },
         4, 1, 0, 0},
        {"a new primitive",
         [](GltfScene& s) {
             GltfPrimitive copy = s.nodes[0].primitives[1];
             for (float& v : copy.positions)
                 v -= 5;
             s.nodes[0].primitives.push_back(copy);
         },
         5, 0, 1, 0},
        // A primitive's material changed: the skylight, now metal, is a new
        // section of its own, and the glass one is gone.
        {"a material changed",
         [](GltfScene& s) {
             s.nodes[1].primitives[2].material = s.nodes[1].primitives[1].material;
         },
         4, 0, 1, 1},
    };
    for (const Edit& c : edits) {
        SCOPED_TRACE(c.name);
        GltfScene scene = sceneOf(glb);
        c.edit(scene);
        Notes notes;
        const ModelFromGltf made = modelOf(scene, &templ->model, notes);
        EXPECT_EQ(made.reuse.kept, c.kept);
        EXPECT_EQ(made.reuse.changed, c.changed);
        EXPECT_EQ(made.reuse.added, c.added);
        EXPECT_EQ(made.reuse.dropped, c.dropped);
        bool betweenKept = false;
        const Bytes written = writeOver(made.model, made.reuse, *templ, betweenKept);
        ModelPlaces places;
        readModel(written.data(), written.size(), places);
        // Every kept section is the template's, byte for byte, where its
        // place says.
        for (std::size_t m = 0; m < made.reuse.sections.size(); ++m) {
            for (std::size_t k = 0; k < made.reuse.sections[m].size(); ++k) {
                const Reuse::Place& place = made.reuse.sections[m][k];
                if (!place.same)
                    continue;
                const SectionPlace& now = places.meshes[m].sections[k];
                const SectionPlace& then =
                    templ->places.meshes[m].sections[static_cast<std::size_t>(place.from)];
                EXPECT_TRUE(
                    std::equal(written.begin() + static_cast<std::ptrdiff_t>(now.begin),
                               written.begin() + static_cast<std::ptrdiff_t>(now.end),
                               sampleBytes.begin() + static_cast<std::ptrdiff_t>(then.begin),
                               sampleBytes.begin() + static_cast<std::ptrdiff_t>(then.end)))
                    << "mesh " << m << " section " << k;
            }
        }
        if (c.kept == 5 && c.added == 0) {
            EXPECT_TRUE(written == sampleBytes);
        }
    }
}

// Two sections of one material in one mesh, which a 3D program merges into
// one primitive: both are still the template's.
TEST(ModRoundTrip, MergedPrimitivesOfOneMaterial) {
    Model model = sampleModel();
    MeshSection& skylight = model.meshes[1].sections[2];
    skylight.materialName = model.meshes[1].sections[1].materialName;
    const Bytes bytes = encodeModel(model);
    const std::optional<TemplateFile> templ = readTemplate(bytes);
    ASSERT_TRUE(templ);
    GltfScene scene = sceneOf(glbOf(templ->model));
    std::vector<GltfPrimitive>& p = scene.nodes[1].primitives;
    ASSERT_EQ(p.size(), 3u);
    const auto base = static_cast<std::uint32_t>(p[1].positions.size() / 3);
    for (auto [into, from] :
         {std::pair{&p[1].positions, &p[2].positions}, std::pair{&p[1].normals, &p[2].normals},
          std::pair{&p[1].texCoords, &p[2].texCoords}})
        into->insert(into->end(), from->begin(), from->end());
    for (const std::uint32_t c : p[2].indices)
        p[1].indices.push_back(base + c);
    p.pop_back();
    scene.nodes[1].meshExtras.clear(); // which primitive was which section is lost too
    Notes notes;
    const ModelFromGltf made = modelOf(scene, &templ->model, notes);
    EXPECT_EQ(made.reuse.kept, 5u);
    bool betweenKept = false;
    EXPECT_TRUE(writeOver(made.model, made.reuse, *templ, betweenKept) == bytes);
}

// A changed section keeps the template's vertices that remain, in its order
// and with its numbers, and takes the new ones after them.
TEST(ModRoundTrip, ChangedSectionKeepsTheTemplatesVertices) {
    const std::optional<TemplateFile> templ = readTemplate(encodeModel(sampleModel()));
    ASSERT_TRUE(templ);
    GltfScene scene = sceneOf(glbOf(templ->model));
    // The walls: four quads of four vertices each; the front one's first
    // corner moved, which changes both its triangles.
    scene.nodes[0].primitives[0].positions[0] -= 0.125f;
    Notes notes;
    const ModelFromGltf made = modelOf(scene, &templ->model, notes);
    EXPECT_EQ(made.reuse.changed, 1u);
    const MeshSection& before = templ->model.meshes[0].sections[0];
    const MeshSection& after = made.model.meshes[0].sections[0];
    ASSERT_EQ(after.vertexCount, 16u);
    ASSERT_EQ(after.triangleCount, 8u);
    // The other walls' vertices first, as the template holds them...
    EXPECT_TRUE(std::equal(after.positions.begin(), after.positions.begin() + 36,
                           before.positions.begin() + 12));
    EXPECT_TRUE(
        std::equal(after.normals.begin(), after.normals.begin() + 36, before.normals.begin() + 12));
    EXPECT_TRUE(std::equal(after.texCoords.begin(), after.texCoords.begin() + 24,
                           before.texCoords.begin() + 8));
    // ...with their triangles, then the front wall's, its corner moved.
    for (std::size_t k = 0; k < 18; ++k)
        EXPECT_EQ(after.indices[k], before.indices[6 + k] - 4) << k;
    EXPECT_EQ(after.positions[36], before.positions[0] - 0.125f);
    EXPECT_EQ(std::vector<float>(after.positions.begin() + 37, after.positions.end()),
              std::vector<float>(before.positions.begin() + 1, before.positions.begin() + 12));
    EXPECT_EQ((std::vector<std::uint32_t>(after.indices.begin() + 18, after.indices.end())),
              (std::vector<std::uint32_t>{12, 13, 14, 12, 14, 15}));
}

} // namespace
} // namespace ulv
