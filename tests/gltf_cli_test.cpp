// ulvtool writing glTF: chosen by the output's extension, textures found
// beside the model, the same messages and safe replacement as for OBJ.
#include <gtest/gtest.h>

#include <fstream>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "convert/outputs.h"
#include "convert/textures.h"
#include "gltf/writer.h"
#include "mod/reader.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/model_builder.h"
#include "tests/support/process.h"
#include "tests/support/sample_model.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

const std::string kNoTextures = "Texture wood.BMP left out: not found\n"
                                "Texture metal.BMP left out: not found\n"
                                "Texture glass.BMP left out: not found\n";

class GltfCli : public ::testing::Test {
  protected:
    void SetUp() override { reset(true); }

    void reset(bool withTextures) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        spit(dir / "model.mod", sample);
        if (withTextures)
            for (const auto& [name, bytes] : sampleTextures())
                spit(dir / name, bytes);
    }

    // What the library writes for the sample with the textures in `folder`.
    static std::string expectedGlb(const fs::path& folder) {
        const Model model = readModel(sample.data(), sample.size());
        Notes notes;
        const TextureSet textures = loadTextures(model, folder.string(), notes);
        std::ostringstream glb;
        EXPECT_EQ(writeGlb(model, textures, glb, notes), GltfResult::ok);
        return glb.str();
    }

    static std::pair<std::string, std::string> expectedGltf(const fs::path& folder,
                                                            const std::string& binName) {
        const Model model = readModel(sample.data(), sample.size());
        Notes notes;
        const TextureSet textures = loadTextures(model, folder.string(), notes);
        std::ostringstream json, bin;
        EXPECT_EQ(writeGltf(model, textures, json, bin, binName, notes), GltfResult::ok);
        return {json.str(), bin.str()};
    }

    std::vector<std::string> newFiles() {
        std::vector<std::string> names;
        for (const auto& [name, bytes] : filesIn(dir)) {
            bool texture = false;
            for (const auto& [textureName, textureBytes] : sampleTextures())
                texture = texture || name == textureName;
            if (name != "model.mod" && !texture)
                names.push_back(name);
        }
        return names;
    }

    ScratchDir scratch;
    const fs::path dir = scratch.path;
    static inline const Bytes sample = encodeModel(sampleModel());
};

TEST_F(GltfCli, ExtensionChoosesTheFormat) {
    const std::string glb = expectedGlb(dir);
    const struct Case {
        std::vector<std::string> args;
        std::vector<std::string> written;
    } cases[] = {
        {{"model.mod", "out.glb"}, {"out.glb"}},
        {{"model.mod", "OUT.GLB"}, {"OUT.GLB"}},
        {{"model.mod", "out.Glb", "-v"}, {"out.Glb"}},
        {{"model.mod", "out.gltf"}, {"out.bin", "out.gltf"}},
        {{"model.mod", "Out.GLTF"}, {"Out.GLTF", "Out.bin"}},
        {{"model.mod", "out.glb.obj"}, {"out.glb.mtl", "out.glb.obj"}},
    };
    for (const Case& c : cases) {
        reset(true);
        const Outcome result = run(dir, c.args);
        EXPECT_EQ(result.status, 0) << c.args[1];
        EXPECT_EQ(newFiles(), c.written) << c.args[1];
        if (c.written.size() == 1) {
            EXPECT_EQ(slurp(dir / c.written[0]), glb) << c.args[1];
        } else if (outputFormatFor(c.args[1]) == OutputFormat::gltf) {
            const auto [json, bin] = expectedGltf(dir, binPathFor(c.args[1]));
            EXPECT_EQ(slurp(dir / c.args[1]), json);
            EXPECT_EQ(slurp(dir / binPathFor(c.args[1])), bin);
        }
    }
}

TEST_F(GltfCli, VerboseDumpAsForObj) {
    const Outcome obj = run(dir, {"-v", "model.mod", "out.obj"});
    const Outcome glb = run(dir, {"-v", "model.mod", "out.glb"});
    EXPECT_EQ(glb.status, 0);
    EXPECT_NE(obj.out, "");
    EXPECT_EQ(glb.out, obj.out);
}

TEST_F(GltfCli, MissingTexturesAreSaidAndTheFileStillWritten) {
    reset(false);
    const Outcome result = run(dir, {"model.mod", "out.glb"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, withLineEnds(kNoTextures));
    EXPECT_EQ(slurp(dir / "out.glb"), expectedGlb(dir));
}

TEST_F(GltfCli, TexturesAreLookedUpBesideTheModel) {
    // Textures in the current folder do not count; those beside the model do.
    fs::create_directory(dir / "game");
    spit(dir / "game" / "model.mod", sample);
    spit(dir / "game" / "WOOD.BMP", sampleTextures()[0].second);
    const Outcome result = run(dir, {"game/model.mod", "out.glb"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, withLineEnds("Texture metal.BMP left out: not found\n"
                                       "Texture glass.BMP left out: not found\n"));
    EXPECT_EQ(slurp(dir / "out.glb"), expectedGlb(dir / "game"));
}

TEST_F(GltfCli, FailuresLeaveEverythingAsItWas) {
    const struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {"missing folder", {"model.mod", "nowhere/out.glb"}, "Unable to write the output file\n"},
        {"missing input", {"missing.mod", "out.glb"}, "Unable to open the requested file\n"},
        {"bin is a folder", {"model.mod", "old.gltf"}, "Unable to write the output file\n"},
        {"output is a folder", {"model.mod", "dir.glb"}, "Unable to write the output file\n"},
    };
    for (const Case& c : cases) {
        reset(true);
        spit(dir / "old.gltf", Bytes{'o', 'l', 'd'});
        fs::create_directory(dir / "old.bin");
        fs::create_directory(dir / "dir.glb");
        const auto before = filesIn(dir);
        const Outcome result = run(dir, c.args);
        EXPECT_EQ(result.status, 1) << c.name;
        EXPECT_EQ(result.out, withLineEnds(c.out)) << c.name;
        EXPECT_EQ(filesIn(dir), before) << c.name;
    }
}

TEST_F(GltfCli, MalformedModelWritesNothing) {
    const Bytes cut(sample.begin(), sample.end() - 5);
    spit(dir / "model.mod", cut);
    const auto before = filesIn(dir);
    const Outcome result = run(dir, {"model.mod", "out.glb"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out,
              withLineEnds("Exception thrown: Not a valid model file! Unexpected end of file!\n"));
    EXPECT_EQ(filesIn(dir), before);
}

TEST_F(GltfCli, PairIsReplacedTogether) {
    spit(dir / "out.gltf", Bytes{'o', 'l', 'd'});
    spit(dir / "out.bin", Bytes{'o', 'l', 'd'});
    const Outcome result = run(dir, {"model.mod", "out.gltf"});
    EXPECT_EQ(result.status, 0);
    const auto [json, bin] = expectedGltf(dir, "out.bin");
    EXPECT_EQ(slurp(dir / "out.gltf"), json);
    EXPECT_EQ(slurp(dir / "out.bin"), bin);
    EXPECT_EQ(newFiles(), (std::vector<std::string>{"out.bin", "out.gltf"}));
}

TEST_F(GltfCli, ModelWithoutMeshesStillWritesThePair) {
    spit(dir / "empty.mod", encodeModel(makeModel({})));
    const Outcome result = run(dir, {"empty.mod", "e.gltf"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(slurp(dir / "e.bin"), "");
    EXPECT_NE(slurp(dir / "e.gltf").find(R"("scenes":[{"extras":{"ulvane_header":)"),
              std::string::npos);
}

// A model replaced by its own output, the .glb or the .gltf's .bin, as an OBJ
// may replace its model: read once, the file can be replaced on Windows too.
TEST_F(GltfCli, ModelReplacedByItsOwnOutput) {
    // glTF read whole before it is replaced; ours comes back as it was.
    const std::string glb = expectedGlb(dir);
    std::ofstream(dir / "m.glb", std::ios::binary) << glb;
    Outcome result = run(dir, {"m.glb", "m.glb"});
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(slurp(dir / "m.glb"), glb);

    spit(dir / "out.bin", sample);
    result = run(dir, {"out.bin", "out.gltf"});
    EXPECT_EQ(result.status, 0) << result.out;
    const auto [json, bin] = expectedGltf(dir, "out.bin");
    EXPECT_EQ(slurp(dir / "out.gltf"), json);
    EXPECT_EQ(slurp(dir / "out.bin"), bin);
}

// The same bytes on every system: the file committed beside this test was
// written on Linux, and the Windows build must match it.
TEST_F(GltfCli, SampleIsTheSameEverywhere) {
    const Outcome result = run(dir, {"model.mod", "sample.glb"});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(slurp(dir / "sample.glb"),
              slurp(fs::path(ULVTOOL_SOURCE_DIR) / "tests" / "gltf" / "sample.glb"));
}

TEST(Sample, BundledTexturesAreTheGeneratorsOutput) {
    for (const auto& [name, bytes] : sampleTextures())
        EXPECT_EQ(slurp(fs::path(ULVTOOL_SOURCE_DIR) / "examples" / name),
                  std::string(bytes.begin(), bytes.end()))
            << name;
}

} // namespace
} // namespace ulv
