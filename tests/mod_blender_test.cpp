// The way back from glTF through Blender: models ulvtool wrote as .glb,
// imported into Blender 3.4 and exported with the glTF add-on (its defaults,
// once with extras, and after edits), made into model files again, on their
// own and over the original; and a model made in Blender from scratch.
// Blender runs tests/gltf/blender_roundtrip.py, once per model for all of
// its exports. Linux only; skipped where Blender is not installed.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "gltf/match.h"
#include "mod/over.h"
#include "mod/reader.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/process.h"
#include "tests/support/sample_model.h"
#include "tests/support/triangles.h"
#include "tests/support/yard_model.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Debian's PATH without anything the test's environment adds, so that
// Blender finds no other Python.
const std::string kPath = "env PATH=/usr/sbin:/usr/bin:/sbin:/bin ";

bool haveBlender() {
    return std::system((kPath + "sh -c 'command -v blender' >/dev/null 2>&1").c_str()) == 0;
}

// Runs the script with `args`; its output goes to `dir`/blender.log.
::testing::AssertionResult blender(const fs::path& dir, const std::vector<std::string>& args) {
    std::string command =
        kPath + "blender -b --factory-startup --python-exit-code 1 --python '" ULVTOOL_SOURCE_DIR
                "/tests/gltf/blender_roundtrip.py' --";
    for (const std::string& arg : args)
        command += " '" + arg + "'";
    const fs::path log = dir / "blender.log";
    command += " >'" + log.string() + "' 2>&1";
    if (std::system(command.c_str()) != 0)
        return ::testing::AssertionFailure() << "blender failed:\n" << slurp(log);
    return ::testing::AssertionSuccess();
}

Bytes bytesOf(const fs::path& path) {
    const std::string text = slurp(path);
    return Bytes(text.begin(), text.end());
}

Model modelAt(const fs::path& path) {
    const Bytes bytes = bytesOf(path);
    return readModel(bytes.data(), bytes.size(), nullptr);
}

// The line `-v` prints for a model file written from glTF.
std::string countsLine(const std::string& out) {
    const std::size_t at = out.find("Sections: ");
    return at == std::string::npos ? "(no counts line)" : out.substr(at, out.find('\n', at) - at);
}

std::string counts(std::size_t kept, std::size_t changed, std::size_t added, std::size_t dropped) {
    return "Sections: " + std::to_string(kept) + " kept, " + std::to_string(changed) +
           " changed, " + std::to_string(added) + " added, " + std::to_string(dropped) + " dropped";
}

// Each section's bytes, per mesh.
std::vector<std::vector<Bytes>> sectionBlocks(const Bytes& file) {
    std::vector<std::vector<Bytes>> blocks;
    const std::optional<TemplateFile> t = readTemplate(file);
    if (!t) {
        ADD_FAILURE() << "not a model file";
        return blocks;
    }
    for (const MeshPlace& mesh : t->places.meshes) {
        std::vector<Bytes>& sections = blocks.emplace_back();
        for (const SectionPlace& s : mesh.sections)
            sections.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(s.begin),
                                  file.begin() + static_cast<std::ptrdiff_t>(s.end));
    }
    return blocks;
}

// The sections of `written` whose bytes are not those of the original's
// section at the same place, mesh m of `written` being mesh m + `shift` of
// the original; meshes after the original's are not looked at.
std::vector<std::pair<std::size_t, std::size_t>>
differingSections(const Bytes& original, const Bytes& written, std::size_t shift) {
    const auto before = sectionBlocks(original), after = sectionBlocks(written);
    std::vector<std::pair<std::size_t, std::size_t>> differing;
    for (std::size_t m = 0; m < after.size() && m + shift < before.size(); ++m)
        for (std::size_t s = 0; s < after[m].size(); ++s)
            if (s >= before[m + shift].size() || before[m + shift][s] != after[m][s])
                differing.emplace_back(m, s);
    return differing;
}

std::array<double, 3> pointOf(const json& j) { return {j[0], j[1], j[2]}; }

bool nearPoint(const std::array<double, 3>& a, const std::array<double, 3>& b) {
    for (std::size_t i = 0; i < 3; ++i)
        if (std::abs(a[i] - b[i]) > 1e-5 * std::max(1.0, std::abs(a[i])))
            return false;
    return true;
}

// Positions and u/v the tool carries over within float rounding.
constexpr double kRounding = 1e-6;

struct Subject {
    const char* name;
    Model (*model)();
    bool textures; // the sample's textures beside it, so that its glTF has images
};

void PrintTo(const Subject& subject, std::ostream* out) { *out << subject.name; }

class BlenderRoundTrip : public ::testing::TestWithParam<Subject> {};

TEST_P(BlenderRoundTrip, ExportsBecomeTheModelAgain) {
    if (!haveBlender())
        GTEST_SKIP() << "blender is not installed (Debian package blender): not tested";
    const Subject& subject = GetParam();
    const std::string name = subject.name;
    const ScratchDir scratch;
    const fs::path& dir = scratch.path;
    const Model original = subject.model();
    const Bytes originalBytes = encodeModel(original);
    spit(dir / (name + ".mod"), originalBytes);
    if (subject.textures)
        for (const auto& [file, bytes] : sampleTextures())
            spit(dir / file, bytes);
    ASSERT_EQ(run(dir, {name + ".mod", name + ".glb"}).status, 0);
    ASSERT_TRUE(blender(dir, {"export", dir.string(), name}));
    const Triangles triangles = trianglesOf(original);
    std::size_t sections = 0;
    for (const Mesh& mesh : original.meshes)
        sections += mesh.sections.size();
    const std::size_t firstMesh = original.meshes[0].sections.size();

    // On their own: the same triangles; with extras also the model's fields.
    for (const std::string variant : {"plain", "extras"}) {
        SCOPED_TRACE(variant);
        const std::string out = name + "_" + variant + ".mod";
        const Outcome made = run(dir, {name + "_" + variant + ".glb", out});
        EXPECT_EQ(made.status, 0) << made.out;
        if (made.status != 0)
            continue;
        const Model back = modelAt(dir / out);
        EXPECT_EQ(unmatched(triangles, trianglesOf(back), kRounding), "");
        if (variant == "extras") {
            EXPECT_EQ(back.majorVersion, original.majorVersion);
            EXPECT_EQ(back.minorVersion, original.minorVersion);
            EXPECT_EQ(back.meshes.size(), original.meshes.size());
            for (std::size_t m = 0; m < back.meshes.size() && m < original.meshes.size(); ++m)
                EXPECT_EQ(back.meshes[m].transform.m, original.meshes[m].transform.m) << m;
        }
    }

    // Over the original: nothing changed, so every byte stays.
    for (const std::string variant : {"plain", "extras"}) {
        SCOPED_TRACE(variant + " over the original");
        const std::string out = name + "_" + variant + "_over.mod";
        spit(dir / out, originalBytes);
        const Outcome made = run(dir, {"-v", name + "_" + variant + ".glb", out});
        EXPECT_EQ(made.status, 0) << made.out;
        EXPECT_EQ(countsLine(made.out), counts(sections, 0, 0, 0));
        EXPECT_TRUE(bytesOf(dir / out) == originalBytes) << "the file differs";
    }

    // Edits over the original: what the script says it did, and nothing else.
    const json edits = json::parse(slurp(dir / (name + "_edits.json")));
    const json& moved = edits["moved"];
    const json& face = edits["face"];
    Triangles whenMoved = triangles, withoutFace = triangles, withAdded = triangles, withoutMesh0;
    std::size_t movedCorners = 0;
    for (Triangle& t : whenMoved)
        for (Corner& c : t.corners)
            if (t.group == 1 && t.material == moved["material"] &&
                nearPoint(c.position, pointOf(moved["from"])) &&
                std::abs(c.uv[0] - double{moved["uv"][0]}) < 1e-5 &&
                std::abs(c.uv[1] - double{moved["uv"][1]}) < 1e-5) {
                c.position = pointOf(moved["to"]);
                ++movedCorners;
            }
    EXPECT_GT(movedCorners, 0u) << "the moved vertex is in no triangle of mesh 1";
    const auto faceAt =
        std::find_if(withoutFace.begin(), withoutFace.end(), [&](const Triangle& t) {
            if (t.group != 0 || t.material != face["material"])
                return false;
            for (std::size_t turn = 0; turn < 3; ++turn) {
                bool same = true;
                for (std::size_t k = 0; k < 3 && same; ++k)
                    same =
                        nearPoint(t.corners[(k + turn) % 3].position, pointOf(face["corners"][k]));
                if (same)
                    return true;
            }
            return false;
        });
    ASSERT_NE(faceAt, withoutFace.end()) << "the deleted face is no triangle of mesh 0";
    withoutFace.erase(faceAt);
    for (const json& corners : edits["added"]["triangles"]) {
        Triangle& t = withAdded.emplace_back();
        t.material = edits["added"]["material"];
        for (std::size_t k = 0; k < 3; ++k)
            t.corners[k] = {pointOf(corners[k]), {corners[k][3], corners[k][4]}, {}};
    }
    for (const Triangle& t : triangles)
        if (t.group != 0)
            withoutMesh0.push_back(t);

    const struct Edit {
        std::string variant;
        std::string counts;
        const Triangles& triangles;
        std::size_t meshes;   // in the written file
        std::size_t shift;    // its mesh m is the original's m + shift
        int changedMesh;      // the one section that differs is in this mesh, or none (-1)
        std::string material; // and has this material
    } cases[] = {
        {"moved", counts(sections - 1, 1, 0, 0), whenMoved, original.meshes.size(), 0, 1,
         moved["material"]},
        {"face", counts(sections - 1, 1, 0, 0), withoutFace, original.meshes.size(), 0, 0,
         face["material"]},
        {"added", counts(sections, 0, 1, 0), withAdded, original.meshes.size() + 1, 0, -1, ""},
        {"removed", counts(sections - firstMesh, 0, 0, firstMesh), withoutMesh0,
         original.meshes.size() - 1, 1, -1, ""},
    };
    for (const Edit& e : cases) {
        SCOPED_TRACE(e.variant);
        const std::string out = name + "_" + e.variant + ".mod";
        spit(dir / out, originalBytes);
        const Outcome made = run(dir, {"-v", name + "_" + e.variant + ".glb", out});
        EXPECT_EQ(made.status, 0) << made.out;
        if (made.status != 0)
            continue;
        EXPECT_EQ(countsLine(made.out), e.counts);
        const Bytes written = bytesOf(dir / out);
        const Model back = readModel(written.data(), written.size(), nullptr);
        EXPECT_EQ(unmatched(e.triangles, trianglesOf(back), kRounding), "");
        EXPECT_EQ(back.meshes.size(), e.meshes);
        const auto differing = differingSections(originalBytes, written, e.shift);
        if (e.changedMesh < 0) {
            EXPECT_EQ(differing.size(), 0u) << "sections whose bytes differ";
        } else {
            EXPECT_EQ(differing.size(), 1u);
            for (const auto& [m, s] : differing) {
                EXPECT_EQ(m, static_cast<std::size_t>(e.changedMesh));
                EXPECT_EQ(materialNameOf(back.meshes[m].sections[s]), e.material);
            }
        }
    }

    // How far Blender moves the numbers on its way: well inside what
    // matching allows, so that an unchanged section is still found.
    const Drift drift = driftOf(trianglesOfGltf(dir / (name + ".glb")),
                                trianglesOfGltf(dir / (name + "_plain.glb")), 1e-3);
    EXPECT_EQ(drift.left, 0u);
    std::cout << name << ": Blender moved positions by at most " << drift.position
              << " (relative), normals " << drift.normal << ", u/v " << drift.uv << " (relative)\n";
    RecordProperty("position_drift", std::to_string(drift.position));
    RecordProperty("normal_drift", std::to_string(drift.normal));
    RecordProperty("uv_drift", std::to_string(drift.uv));
    EXPECT_LE(4 * drift.position, positionTolerance);
    EXPECT_LE(4 * drift.normal, normalTolerance);
    EXPECT_LE(4 * drift.uv, texCoordTolerance);
}

std::uint32_t u32At(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// A UV sphere made in Blender, its top in a second material without an
// image, exported with the add-on's defaults.
TEST(BlenderFromScratch, SphereBecomesAModelAndLoadsAgain) {
    if (!haveBlender())
        GTEST_SKIP() << "blender is not installed (Debian package blender): not tested";
    const ScratchDir scratch;
    const fs::path& dir = scratch.path;
    ASSERT_TRUE(blender(dir, {"scratch", (dir / "ball.glb").string()}));
    const Outcome made = run(dir, {"ball.glb", "ball.mod"});
    ASSERT_EQ(made.status, 0) << made.out;
    const Model model = modelAt(dir / "ball.mod");
    const Triangles exported = trianglesOfGltf(dir / "ball.glb");
    EXPECT_EQ(unmatched(exported, trianglesOf(model), kRounding), "");
    std::vector<std::string> materials;
    for (const Mesh& mesh : model.meshes)
        for (const MeshSection& s : mesh.sections)
            materials.push_back(materialNameOf(s));
    EXPECT_EQ(materials, (std::vector<std::string>{"Stone", "Moss"}));

    // Stone's image beside the model as the game's texture, the right way
    // up (red on top); Moss has none.
    const Bytes bmp = bytesOf(dir / "Stone.BMP");
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(u32At(bmp, 18), 4u);
    const auto height = static_cast<std::int32_t>(u32At(bmp, 22));
    ASSERT_EQ(std::abs(height), 2);
    EXPECT_EQ(bmp[28], 24);
    const std::size_t pixels = u32At(bmp, 10), row = 12; // 4 pixels of 3 bytes
    ASSERT_GE(bmp.size(), pixels + 2 * row);
    const std::size_t top = pixels + (height > 0 ? row : 0);
    const std::size_t bottom = pixels + (height > 0 ? 0 : row);
    EXPECT_EQ((Bytes{bmp[top], bmp[top + 1], bmp[top + 2]}), (Bytes{0, 0, 255})); // B, G, R
    EXPECT_EQ((Bytes{bmp[bottom], bmp[bottom + 1], bmp[bottom + 2]}), (Bytes{255, 0, 0}));
    EXPECT_FALSE(fs::exists(dir / "Moss.BMP"));

    // Back to glTF, and into Blender once more.
    ASSERT_EQ(run(dir, {"ball.mod", "back.glb"}).status, 0);
    EXPECT_EQ(unmatched(exported, trianglesOfGltf(dir / "back.glb"), kRounding), "");
    ASSERT_TRUE(blender(dir, {"load", (dir / "back.glb").string(), (dir / "back.json").string()}));
    const json loaded = json::parse(slurp(dir / "back.json"));
    ASSERT_EQ(loaded["objects"].size(), 1u);
    EXPECT_EQ(loaded["objects"][0]["triangles"], exported.size());
    EXPECT_EQ(loaded["objects"][0]["materials"], json(materials));
}

INSTANTIATE_TEST_SUITE_P(Models, BlenderRoundTrip,
                         ::testing::Values(Subject{"sample", sampleModel, true},
                                           Subject{"yard", yardModel, false}),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
} // namespace ulv
