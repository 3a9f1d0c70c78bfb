// Runs the built ulvtool in a scratch folder and checks what it prints, its
// exit status and exactly which files it leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "mod/reader.h"
#include "obj/writer.h"
#include "tests/support/model_builder.h"
#include "tests/support/process.h"
#include "tests/support/sample_model.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

// What the writer makes of a model file, for comparison with the tool's files.
std::pair<std::string, std::string> expectedFiles(const Bytes& bytes, const std::string& mtlName) {
    std::ostringstream obj, mtl;
    writeObj(readModel(bytes.data(), bytes.size()), obj, mtl, mtlName);
    return {obj.str(), mtl.str()};
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override { spit(dir / "model.mod", sample); }

    ScratchDir scratch;
    const fs::path dir = scratch.path;
    const Bytes sample = encodeModel(sampleModel());
    const std::pair<std::string, std::string> defaults = expectedFiles(sample, "default.mtl");
};

// The console lines as written with "\n"; withLineEnds() gives what the tool
// prints here.
const std::string kUsage = "ULVTOOL Convertor v0.1\n"
                           "Usage:\n"
                           "   ulvtool filename [output filename]\n"
                           "where [filename] is a valid Ulvane model file\n";

const std::string kDump = [] {
    std::string dump = "Minor version: 9\nMajor version: 1\nnumMeshes: 2\nsize: 0\n";
    const std::string mesh0 = "Transformation matrix: \n[ 1 0 0]\n[ 0 1 0]\n[ 0 0 1]\n[ 0 0 0]\n"
                              "Num mesh sections: 2\n";
    const std::string mesh1 = "Transformation matrix: \n[ -2 0 0]\n[ 0 2 0]\n[ 0 0 -2]\n"
                              "[ 0 1.2 0]\nNum mesh sections: 3\n";
    const auto section = [](int triangles, int vertices) {
        const std::string t = std::to_string(triangles);
        return "Num faces: " + t + "\nNum verts:" + std::to_string(vertices) +
               "\nNum triangles: " + t + "\nNum LODs: 1\n";
    };
    // Walls and door; gables, roof and skylight.
    return dump + mesh0 + section(8, 16) + section(2, 4) + mesh1 + section(2, 6) + section(4, 8) +
           section(2, 4);
}();

#ifdef _WIN32
const char* const kNullDevice = "NUL";
#else
const char* const kNullDevice = "/dev/null";
#endif

TEST_F(Cli, Arguments) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int status;
        std::vector<std::string> written; // besides model.mod
    } cases[] = {
        {{}, kUsage, 0, {}},
        {{"-v"}, "Must specify an input file\n", 1, {}},
        {{"-v", "-v"}, "Must specify an input file\n", 1, {}},
        {{"model.mod"}, "", 0, {"default.mtl", "default.obj"}},
        {{"-v", "model.mod", "a.obj"}, kDump, 0, {"a.mtl", "a.obj"}},
        {{"model.mod", "-v", "a.obj"}, kDump, 0, {"a.mtl", "a.obj"}},
        {{"model.mod", "a.obj", "-v"}, kDump, 0, {"a.mtl", "a.obj"}},
        // The last path wins; the ones between are ignored.
        {{"model.mod", "b.obj", "c.obj"}, "", 0, {"c.mtl", "c.obj"}},
        // Only "-v" itself is the switch.
        {{"model.mod", "-V"}, "", 0, {"-V", "-V.mtl"}},
        {{"model.mod", "--v"}, "", 0, {"--v", "--v.mtl"}},
        {{"-V", "model.mod"}, "Unable to open the requested file\n", 1, {}},
        {{"missing.mod"}, "Unable to open the requested file\n", 1, {}},
        {{"."}, "Unable to open the requested file\n", 1, {}},
        {{kNullDevice},
         "Exception thrown: Not a valid model file! Unexpected end of file!\n",
         1,
         {}},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        spit(dir / "model.mod", sample);
        const Outcome result = run(dir, c.args);
        std::string what;
        for (const std::string& arg : c.args)
            what += arg + " ";
        EXPECT_EQ(result.out, withLineEnds(c.out)) << what;
        EXPECT_EQ(result.status, c.status) << what;
        std::vector<std::string> names;
        for (const auto& [name, bytes] : filesIn(dir))
            if (name != "model.mod")
                names.push_back(name);
        EXPECT_EQ(names, c.written) << what;
    }
}

TEST_F(Cli, WritesTheModel) {
    const Outcome result = run(dir, {"model.mod"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(slurp(dir / "default.obj"), defaults.first);
    EXPECT_EQ(slurp(dir / "default.mtl"), defaults.second);
}

TEST_F(Cli, LibraryNamedByFileNameAlone) {
    struct Case {
        std::string output;
        fs::path obj, mtl; // relative to the scratch folder
        std::string mtllib;
    } cases[] = {
        {"sub/model.obj", fs::path("sub") / "model.obj", fs::path("sub") / "model.mtl",
         "model.mtl"},
        {"sub.v2/model", fs::path("sub.v2") / "model", fs::path("sub.v2") / "model.mtl",
         "model.mtl"},
#ifdef _WIN32
        // Both separators end a folder name there.
        {"sub\\model.obj", fs::path("sub") / "model.obj", fs::path("sub") / "model.mtl",
         "model.mtl"},
        {"sub.v2\\model", fs::path("sub.v2") / "model", fs::path("sub.v2") / "model.mtl",
         "model.mtl"},
#else
        // A backslash is a letter of the file name here.
        {"sub\\model.obj", "sub\\model.obj", "sub\\model.mtl", "sub\\model.mtl"},
        {"sub.v2\\model", "sub.v2\\model", "sub.mtl", "sub.mtl"},
#endif
    };
    for (const Case& c : cases) {
        fs::remove_all(dir);
        fs::create_directories(dir / "sub");
        fs::create_directories(dir / "sub.v2");
        spit(dir / "model.mod", sample);
        EXPECT_EQ(run(dir, {"model.mod", c.output}).status, 0) << c.output;
        const std::string obj = slurp(dir / c.obj);
        EXPECT_NE(obj.find(withLineEnds("\nmtllib " + c.mtllib + "\n")), std::string::npos)
            << c.output;
        EXPECT_EQ(obj, expectedFiles(sample, c.mtllib).first) << c.output;
        EXPECT_EQ(slurp(dir / c.mtl), defaults.second) << c.output;
    }
}

TEST_F(Cli, NamesInAnyScript) {
    // Folder and file names that no single code page holds together.
    const std::pair<std::u8string, std::u8string> cases[] = {
        {u8"Mod\u00e8les", u8"\u00dcBER"},
        {u8"\u041c\u043e\u0434\u0435\u043b\u0438", u8"\u0411\u0430\u0448\u043d\u044f"},
        {u8"\u30e2\u30c7\u30eb", u8"\u57ce \u2013 \u5929\u5b88"},
    };
    for (const auto& [folder, stem] : cases) {
        const std::string text(folder.begin(), folder.end());
        const std::string name(stem.begin(), stem.end());
        const fs::path sub = dir / folder;
        fs::create_directory(sub);
        spit(sub / (stem + u8".mod"), sample);
        // Named from outside the folder, and from inside it with the default output.
        EXPECT_EQ(run(dir, {text + "/" + name + ".mod", text + "/" + name + ".obj"}).status, 0)
            << text;
        EXPECT_EQ(slurp(sub / (stem + u8".obj")), expectedFiles(sample, name + ".mtl").first)
            << text;
        EXPECT_EQ(slurp(sub / (stem + u8".mtl")), defaults.second) << text;
        EXPECT_EQ(run(sub, {name + ".mod"}).status, 0) << text;
        EXPECT_EQ(slurp(sub / "default.obj"), defaults.first) << text;
        EXPECT_EQ(slurp(sub / "default.mtl"), defaults.second) << text;
        fs::remove_all(sub);
    }
    EXPECT_EQ(filesIn(dir).size(), 1u);
}

TEST_F(Cli, ReplacesEarlierOutput) {
    // The second run writes other text over both files.
    Model other = sampleModel();
    other.meshes.pop_back();
    other.numMeshes = 1;
    const Bytes smaller = encodeModel(other);
    spit(dir / "other.mod", smaller);
    ASSERT_EQ(run(dir, {"model.mod", "out.obj"}).status, 0);
    const Outcome result = run(dir, {"other.mod", "out.obj"});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.status, 0);
    const auto [obj, mtl] = expectedFiles(smaller, "out.mtl");
    ASSERT_NE(obj, expectedFiles(sample, "out.mtl").first);
    const auto left = filesIn(dir);
    EXPECT_EQ(left.size(), 4u);
    EXPECT_EQ(left.at("out.obj"), obj);
    EXPECT_EQ(left.at("out.mtl"), mtl);
}

TEST_F(Cli, MalformedModels) {
    Bytes noMesh;
    appendFileHeader(noMesh, makeModel({}));
    noMesh[8] = 3;
    noMesh.insert(noMesh.end(), 100, 0x48);
    const Bytes truncated(sample.begin(), sample.end() - 5);
    const std::pair<Bytes, std::string> cases[] = {
        {noMesh, "Exception thrown: Not a valid model file! Unable to find MESH section!\n"},
        {truncated, "Exception thrown: Not a valid model file! Unexpected end of file!\n"},
        {{}, "Exception thrown: Not a valid model file! Unexpected end of file!\n"},
    };
    for (const auto& [bytes, message] : cases) {
        spit(dir / "bad.mod", bytes);
        // An old output stays as it was.
        std::ofstream(dir / "out.obj") << "old";
        const Outcome result = run(dir, {"bad.mod", "out.obj"});
        EXPECT_EQ(result.out, withLineEnds(message));
        EXPECT_EQ(result.status, 1);
        const auto left = filesIn(dir);
        EXPECT_EQ(left.size(), 3u);
        EXPECT_EQ(left.at("out.obj"), "old");
    }
}

TEST_F(Cli, VerboseLinesStayAboveTheError) {
    const Bytes truncated(sample.begin(), sample.end() - 5);
    spit(dir / "bad.mod", truncated);
    const Outcome result = run(dir, {"-v", "bad.mod"});
    EXPECT_EQ(result.out, withLineEnds(kDump + "Exception thrown: Not a valid model file! "
                                               "Unexpected end of file!\n"));
    EXPECT_EQ(result.status, 1);
}

TEST_F(Cli, OutputFailures) {
    std::ofstream(dir / "old.obj") << "old obj";
    fs::create_directory(dir / "old.mtl");
    fs::create_directory(dir / "folder.obj");
    std::vector<std::string> outputs = {"missing/x.obj", "folder.obj", "old.obj", ""};
#ifndef _WIN32
    outputs.push_back("/dev/full");
#endif
    const auto before = filesIn(dir);
    for (const std::string& output : outputs) {
        const Outcome result = run(dir, {"model.mod", output});
        EXPECT_EQ(result.out, withLineEnds("Unable to write the output file\n")) << output;
        EXPECT_EQ(result.status, 1) << output;
        EXPECT_EQ(filesIn(dir), before) << output;
    }
}

TEST_F(Cli, InputReplacedByItsOwnOutput) {
    spit(dir / "model.dat", sample);
    const Outcome result = run(dir, {"model.dat", "model.dat"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(slurp(dir / "model.dat"), expectedFiles(sample, "model.mtl").first);
    EXPECT_TRUE(fs::exists(dir / "model.mtl"));
}

#ifdef _WIN32
// Device names, however spelled, as input and as output: NUL reads as empty and
// takes any output whole; no other device is opened at all.
TEST_F(Cli, WindowsDeviceNames) {
    const std::string noModel =
        "Exception thrown: Not a valid model file! Unexpected end of file!\n";
    const std::string noInput = "Unable to open the requested file\n";
    const std::string noOutput = "Unable to write the output file\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"NUL"}, noModel},
        {{"nul.mod"}, noModel},
        {{"sub\\Nul.mod"}, noModel},
        {{"CON"}, noInput},
        {{"con.mod"}, noInput},
        {{"CONIN$"}, noInput},
        {{"COM1"}, noInput},
        {{"com9.mod"}, noInput},
        {{"AUX"}, noInput},
        {{"PRN"}, noInput},
        {{"lpt1.mod"}, noInput},
        {{"model.mod", "NUL"}, ""},
        {{"model.mod", "nul.obj"}, ""},
        {{"model.mod", "sub\\NUL.obj"}, ""},
        {{"model.mod", "CON"}, noOutput},
        {{"model.mod", "con.obj"}, noOutput},
        {{"model.mod", "CONOUT$"}, noOutput},
        {{"model.mod", "COM1"}, noOutput},
        {{"model.mod", "AUX.obj"}, noOutput},
        {{"model.mod", "PRN"}, noOutput},
        {{"model.mod", "LPT2.obj"}, noOutput},
    };
    fs::create_directory(dir / "sub");
    const auto before = filesIn(dir);
    for (const auto& [args, message] : cases) {
        const Outcome result = run(dir, args);
        EXPECT_EQ(result.out, withLineEnds(message)) << args.back();
        EXPECT_EQ(result.status, message.empty() ? 0 : 1) << args.back();
        EXPECT_EQ(filesIn(dir), before) << args.back();
    }
}
#endif

TEST(Sample, BundledFileIsTheGeneratorsOutput) {
    const std::string bundled = slurp(fs::path(ULVTOOL_SOURCE_DIR) / "examples" / "sample.mod");
    const Bytes generated = encodeModel(sampleModel());
    EXPECT_EQ(bundled, std::string(generated.begin(), generated.end()));
}

} // namespace
} // namespace ulv
