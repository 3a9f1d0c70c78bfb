// ulvtool reading glTF and writing model files: the formats by extension in
// any case, the template kept byte for byte, the counts -v prints, the
// textures written beside the model, and broken glTF refused with nothing
// written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "mod/reader.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/broken_gltf.h"
#include "tests/support/model_builder.h"
#include "tests/support/process.h"
#include "tests/support/sample_model.h"
#include "texture/texture.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

const std::string kNoTextures = "Texture wood.BMP left out: not found\n"
                                "Texture metal.BMP left out: not found\n"
                                "Texture glass.BMP left out: not found\n";

std::string counts(int kept, int changed, int added, int dropped) {
    return "Sections: " + std::to_string(kept) + " kept, " + std::to_string(changed) +
           " changed, " + std::to_string(added) + " added, " + std::to_string(dropped) +
           " dropped\n";
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class ModCli : public ::testing::Test {
  protected:
    void SetUp() override {
        spit(dir / "model.mod", sample);
        for (const auto& [name, bytes] : sampleTextures())
            spit(dir / name, bytes);
        ASSERT_EQ(run(dir, {"model.mod", "model.glb"}).status, 0);
    }

    ScratchDir scratch;
    const fs::path dir = scratch.path;
    const Bytes sample = encodeModel(sampleModel());
};

// The input's format from its name as the output's: glTF for .glb and
// .gltf in any case, a model file otherwise.
TEST_F(ModCli, ExtensionsInAnyCase) {
    const struct Case {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"model.glb", "a.MOD"}, ""}, {{"model.glb", "b.Mod"}, ""}, {{"model.mod", "C.GLTF"}, ""},
        {{"C.GLTF", "c.mod"}, ""},    {{"model.glb", "d.GLB"}, ""}, {{"d.GLB", "e.mod"}, ""},
    };
    for (const Case& c : cases) {
        const Outcome result = run(dir, c.args);
        EXPECT_EQ(result.status, 0) << c.args[0] << " " << c.args[1] << ": " << result.out;
        EXPECT_EQ(result.out, withLineEnds(c.out)) << c.args[0] << " " << c.args[1];
    }
    // Every one of them the model again, since none had a template.
    for (const char* name : {"a.MOD", "b.Mod", "c.mod", "e.mod"}) {
        const std::string written = slurp(dir / name);
        EXPECT_EQ(text(encodeModel(readModel(reinterpret_cast<const std::uint8_t*>(written.data()),
                                             written.size()))),
                  written)
            << name;
    }
}

// With -v, the sections kept, changed, added and dropped; over the model
// itself, everything is kept and the file does not change.
TEST_F(ModCli, CountsAndTheTemplateKeptWhole) {
    Outcome result = run(dir, {"-v", "model.glb", "new.mod"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, withLineEnds(counts(0, 0, 5, 0)));

    spit(dir / "over.mod", sample);
    result = run(dir, {"model.glb", "over.mod", "-v"});
    EXPECT_EQ(result.out, withLineEnds(counts(5, 0, 0, 0)));
    EXPECT_EQ(slurp(dir / "over.mod"), text(sample));

    // A model file over itself is the same file, the dump before the counts.
    result = run(dir, {"-v", "over.mod", "over.mod"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find(withLineEnds(counts(5, 0, 0, 0))), std::string::npos);
    EXPECT_EQ(result.out.rfind("Minor version: 9", 0), 0u);
    EXPECT_EQ(slurp(dir / "over.mod"), text(sample));

    // A template that is not a model file is no template: replaced whole.
    spit(dir / "junk.mod", Bytes{'j', 'u', 'n', 'k'});
    result = run(dir, {"-v", "model.glb", "junk.mod"});
    EXPECT_EQ(result.out, withLineEnds(counts(0, 0, 5, 0)));
    EXPECT_EQ(slurp(dir / "junk.mod"), slurp(dir / "new.mod"));
}

// A template with one section fewer than the glTF, and one more: the new
// one added after the template's, the missing one dropped, the rest kept.
TEST_F(ModCli, SectionsAddedAndDropped) {
    Model shorter = sampleModel();
    shorter.meshes[1].sections.pop_back();
    shorter.meshes[1].sectionCount = 2;
    const Bytes shorterBytes = encodeModel(shorter);
    spit(dir / "shorter.mod", shorterBytes);
    Outcome result = run(dir, {"-v", "model.glb", "shorter.mod"});
    EXPECT_EQ(result.out, withLineEnds(counts(4, 0, 1, 0)));
    // The template's bytes, its last mesh now counting three sections, then
    // the new one, whose stored positions may differ from the sample's but
    // give the same glTF.
    const std::string written = slurp(dir / "shorter.mod");
    EXPECT_EQ(written.substr(0, shorterBytes.size()), text(sample).substr(0, shorterBytes.size()));
    ASSERT_EQ(run(dir, {"shorter.mod", "again.glb"}).status, 0);
    EXPECT_EQ(slurp(dir / "again.glb"), slurp(dir / "model.glb"));

    Model longer = sampleModel();
    longer.meshes[0].sections.push_back(longer.meshes[1].sections[2]);
    longer.meshes[0].sectionCount = 3;
    spit(dir / "longer.mod", encodeModel(longer));
    result = run(dir, {"-v", "model.glb", "longer.mod"});
    EXPECT_EQ(result.out, withLineEnds(counts(5, 0, 0, 1)));
    EXPECT_EQ(slurp(dir / "longer.mod"), text(sample));
}

// NAME.BMP beside the model file for each material with an image, unless a
// file of that name is there in any case; never replaced.
TEST_F(ModCli, TexturesWrittenBesideTheModelFile) {
    fs::create_directory(dir / "out");
    spit(dir / "out" / "GLASS.bmp", Bytes{'m', 'i', 'n', 'e'});
    const Outcome result = run(dir, {"model.glb", "out/house.mod"});
    EXPECT_EQ(result.status, 0) << result.out;
    const auto files = filesIn(dir / "out");
    EXPECT_EQ(files.size(), 4u);
    EXPECT_EQ(files.at("GLASS.bmp"), "mine");
    // The pixels are the sample's: both decode to the same image.
    for (const auto& [name, bytes] : sampleTextures()) {
        if (name == "GLASS.bmp")
            continue;
        std::string written;
        for (const auto& [file, content] : files)
            if (file != "house.mod" && fs::path(file).stem() != "GLASS" &&
                std::equal(file.begin(), file.end() - 4, name.begin(), name.end() - 4,
                           [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
                written = content;
        ASSERT_FALSE(written.empty()) << name;
        std::string why;
        const auto ours =
            bmpToPng(reinterpret_cast<const std::uint8_t*>(written.data()), written.size(), why);
        const auto theirs = bmpToPng(bytes.data(), bytes.size(), why);
        ASSERT_TRUE(ours && theirs) << why;
        EXPECT_EQ(ours->png, theirs->png) << name;
    }
    EXPECT_EQ(files.count("wood.BMP") + files.count("metal.BMP"), 2u);
}

// glTF to OBJ: the library names NAME.BMP beside it, so the textures go there.
TEST_F(ModCli, GltfToObjWithTextures) {
    fs::create_directory(dir / "obj");
    const Outcome result = run(dir, {"model.glb", "obj/house.obj"});
    EXPECT_EQ(result.status, 0) << result.out;
    const auto files = filesIn(dir / "obj");
    for (const char* name : {"house.obj", "house.mtl", "wood.BMP", "metal.BMP", "glass.BMP"})
        EXPECT_EQ(files.count(name), 1u) << name;
    EXPECT_NE(files.at("house.mtl").find("map_Kd .\\wood.BMP"), std::string::npos);
}

// Broken glTF: one line saying why, status 1, and nothing written or replaced.
TEST_F(ModCli, BrokenGltfWritesNothing) {
    for (const BrokenGltf& broken : brokenGltfFiles()) {
        SCOPED_TRACE(broken.name);
        const fs::path folder = dir / "broken";
        fs::remove_all(folder);
        fs::create_directories(folder);
        spit(folder / broken.name, broken.main);
        for (const auto& [uri, bytes] : broken.sides)
            spit(folder / uri, bytes);
        spit(folder / "out.mod", Bytes{'o', 'l', 'd'});
        const auto before = filesIn(folder);
        const Outcome result = run(folder, {broken.name, "out.mod"});
        EXPECT_EQ(result.out, withLineEnds("Not a valid glTF file: " + broken.reason + "\n"));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(filesIn(folder), before);
    }
}

// A .gltf reads only files in its own folder or below: not "..", not an
// absolute path, not a URL.
TEST_F(ModCli, BuffersOnlyBesideTheGltf) {
    for (const std::string& uri : {std::string("../a.bin"), std::string("sub/../../a.bin"),
                                   (dir / "a.bin").string(), std::string("file:///etc/passwd")}) {
        SCOPED_TRACE(uri);
        GltfBuilder builder;
        builder.triangleScene(
            {{"attributes", {{"POSITION", builder.floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3")}}}});
        fs::create_directories(dir / "in");
        spit(dir / "a.bin", builder.bin);
        std::string json = builder.json.dump();
        nlohmann::json parsed = builder.json;
        parsed["buffers"] = {{{"uri", uri}, {"byteLength", builder.bin.size()}}};
        spit(dir / "in" / "m.gltf", textBytes(parsed.dump()));
        const Outcome result = run(dir / "in", {"m.gltf", "out.mod"});
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.out.find("not a file beside the .gltf"), std::string::npos) << result.out;
        EXPECT_FALSE(fs::exists(dir / "in" / "out.mod"));
    }
}

} // namespace
} // namespace ulv
