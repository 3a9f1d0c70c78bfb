// Runs the built ulvbatch on trees of models in a scratch folder and checks
// its report, its exit status, and that every file it writes is what ulvtool
// writes for the same model and output name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "tests/support/bmp_builder.h"
#include "tests/support/model_builder.h"
#include "tests/support/process.h"
#include "tests/support/sample_model.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

const fs::path& batchTool() {
    // Made whole while the current drive is still the one that holds it.
    static const fs::path tool = fs::absolute(ULVBATCH_PATH);
    return tool;
}

Outcome batch(const fs::path& dir, const std::vector<std::string>& args,
              const RunOptions& options = {}) {
    RunOptions captured = options;
    captured.captureErr = true;
    return runProgram(batchTool(), dir, args, captured);
}

// The report with the time in its summary line ("N.NN s" at its end)
// replaced by "T". No std::regex: GCC 12 warns falsely inside it under ASan.
std::string withoutTime(std::string out) {
    const std::size_t end = out.rfind(" s");
    std::size_t start = end;
    while (start > 0 &&
           (std::isdigit(static_cast<unsigned char>(out[start - 1])) || out[start - 1] == '.'))
        --start;
    const std::string rest = end == std::string::npos ? "" : out.substr(end + 2);
    if (start != end && start >= 2 && out.compare(start - 2, 2, ", ") == 0 &&
        (rest == "\n" || rest == "\r\n"))
        out.replace(start, end - start, "T");
    return out;
}

std::string text(const std::u8string& utf8Text) { return {utf8Text.begin(), utf8Text.end()}; }

// The lines after the failures for the sample's textures, found nowhere:
// the number of models that wanted each (the sample wants all three, the
// other model all but glass).
std::string notFound(int samples, int others) {
    std::string lines;
    const auto line = [&](const char* name, int models) {
        if (models > 0)
            lines += "Texture " + std::string(name) + " not found: wanted by " +
                     std::to_string(models) + (models == 1 ? " model\n" : " models\n");
    };
    line("glass.BMP", samples);
    line("metal.BMP", samples + others);
    line("wood.BMP", samples + others);
    return lines;
}

// A name as ulvbatch reports it: with the system's separator.
std::string named(std::string name) {
#ifdef _WIN32
    for (char& c : name)
        if (c == '/')
            c = '\\';
#endif
    return name;
}

class Batch : public ::testing::Test {
  protected:
    // What ulvtool writes for each model and output name (relative to the
    // scratch folder and to the folder `ref` in it), as filesIn() lists it.
    std::map<std::string, std::string>
    toolOutputs(const std::vector<std::pair<std::string, std::string>>& pairs,
                const RunOptions& options = {}) {
        static const fs::path tool = fs::absolute(ULVTOOL_PATH);
        const fs::path ref = dir / "ref";
        for (const auto& [model, output] : pairs) {
            fs::create_directories((ref / fs::u8path(output)).parent_path());
            const Outcome result = runProgram(tool, dir, {model, "ref/" + output}, options);
            EXPECT_EQ(result.status, 0) << model << ": " << result.out;
        }
        auto files = filesIn(ref);
        fs::remove_all(ref);
        return files;
    }

    ScratchDir scratch;
    const fs::path dir = scratch.path;
    const Bytes sample = encodeModel(sampleModel());
    const Bytes other = [] {
        Model model = sampleModel();
        model.meshes.pop_back();
        model.numMeshes = 1;
        return encodeModel(model);
    }();
    const Bytes truncated = Bytes(sample.begin(), sample.end() - 5);
};

TEST_F(Batch, CommandLines) {
    const std::string hint = " (see ulvbatch --help)\n";
    const std::string jobs =
        "-j/--jobs takes a whole number of models to convert at once, from 1 to 4096";
    // The C library's words, also in the MinGW build.
    const std::string notAFolder = "Not a directory";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out; // with the time in the summary as "T"
        std::string err;
        std::vector<std::string> written; // besides m.mod and the empty folder
    } cases[] = {
        {{}, 2, "", "ulvbatch: PATH is required" + hint, {}},
        // An unknown option is named, also when it is all there is.
        {{"--frob", "m.mod"}, 2, "", "ulvbatch: unknown option --frob" + hint, {}},
        {{"--bogus"}, 2, "", "ulvbatch: unknown option --bogus" + hint, {}},
        {{"-j", "0", "m.mod"}, 2, "", "ulvbatch: " + jobs + ", not 0" + hint, {}},
        {{"--jobs", "two", "m.mod"}, 2, "", "ulvbatch: " + jobs + ", not two" + hint, {}},
        {{"-j", "abc", "m.mod"}, 2, "", "ulvbatch: " + jobs + ", not abc" + hint, {}},
        {{"-j", "4097", "m.mod"}, 2, "", "ulvbatch: " + jobs + ", not 4097" + hint, {}},
        {{"m.mod", "-j"}, 2, "", "ulvbatch: " + jobs + hint, {}},
        {{"-j"}, 2, "", "ulvbatch: " + jobs + hint, {}},
        {{"-f", "png", "m.mod"},
         2,
         "",
         "ulvbatch: --format: png not in {obj,glb,gltf,mod}" + hint,
         {}},
        {{"m.mod", "-o"}, 2, "", "ulvbatch: --output: 1 required TEXT missing" + hint, {}},
        {{"m.mod", "-t", "nowhere"}, 2, "", "ulvbatch: no such texture folder: nowhere" + hint, {}},
        // The output folder is checked once, before any model, with the
        // system's reason and no hint.
        {{"m.mod", "-o", "m.mod/sub"},
         2,
         "",
         "ulvbatch: cannot write into m.mod/sub: " + notAFolder + "\n",
         {}},
        // Formats in any case, as ulvtool takes extensions.
        {{"-q", "-f", "OBJ", "m.mod"}, 0, "1 converted, 0 failed, T s\n", "", {"m.mtl", "m.obj"}},
        {{"-q", "--format=GlB", "m.mod"},
         0,
         notFound(1, 0) + "1 converted, 0 failed, T s\n",
         "",
         {"m.glb"}},
        {{"-q", "-j", "4096", "-t", "empty", "--textures=empty", "m.mod"},
         0,
         "1 converted, 0 failed, T s\n",
         "",
         {"m.mtl", "m.obj"}},
        {{"missing.mod"}, 2, "", "ulvbatch: no such file or folder: missing.mod" + hint, {}},
        {{"m.mod", "empty", "gone"}, 2, "", "ulvbatch: no such file or folder: gone" + hint, {}},
        {{"--version"}, 0, "ulvbatch 0.1\n", "", {}},
        {{"m.mod"}, 0, "1 converted, 0 failed, T s\n", "", {"m.mtl", "m.obj"}},
        {{"-q", "-j", "3", "-f", "obj", "--output", "o/p", "m.mod"},
         0,
         notFound(1, 0) + "1 converted, 0 failed, T s\n",
         "",
         {"o", "o/p", "o/p/m.mtl", "o/p/m.obj"}},
        {{"--quiet", "--jobs=1", "--format=obj", "-oo", "m.mod"},
         0,
         notFound(1, 0) + "1 converted, 0 failed, T s\n",
         "",
         {"o", "o/m.mtl", "o/m.obj"}},
        {{"empty"}, 1, "No model found\n0 converted, 0 failed, T s\n", "", {}},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir);
        fs::create_directories(dir / "empty");
        spit(dir / "m.mod", sample);
        const Outcome result = batch(dir, c.args);
        std::string what;
        for (const std::string& arg : c.args)
            what += arg + " ";
        EXPECT_EQ(result.status, c.status) << what;
        EXPECT_EQ(withoutTime(result.out), withLineEnds(c.out)) << what;
        EXPECT_EQ(result.err, withLineEnds(c.err)) << what;
        std::vector<std::string> names;
        for (const auto& [name, bytes] : filesIn(dir))
            if (name != "m.mod" && name != "empty")
                names.push_back(name);
        EXPECT_EQ(names, c.written) << what;
    }
}

TEST_F(Batch, Help) {
    const Outcome result = batch(dir, {"--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    for (const char* part :
         {"Usage: ulvbatch [OPTIONS] PATH...", "-o,--output DIR", "-f,--format FORMAT",
          "-j,--jobs N", "-t,--textures DIR", "ULVTOOL_TEXTURES", "-v,--verbose", "-q,--quiet",
          "--version", "Exit status:", "130", "ulvbatch -f glb game/models -o out"})
        EXPECT_NE(result.out.find(part), std::string::npos) << part;
}

#ifdef _WIN32
// Names differing in case only are one file there.
constexpr bool kCaseSensitive = false;
#else
constexpr bool kCaseSensitive = true;
#endif

// A tree with nested folders, extensions in mixed case, a file that is not
// a model, a bad model and, where names differ in case, two models with one
// output.
class BatchTree : public Batch {
  protected:
    // The line about the second of them and the summary line.
    static std::string collision() {
        return kCaseSensitive ? named("game/a.mod: Same output as game/a.MOD\n") : "";
    }
    static std::string summary(int converted, int failedBesidesCollision) {
        return std::to_string(converted) + " converted, " +
               std::to_string(failedBesidesCollision + (kCaseSensitive ? 1 : 0)) + " failed, T s\n";
    }

    void SetUp() override {
        fs::create_directories(dir / "game" / "Props" / "deep" / "er");
        fs::create_directories(dir / "game" / "empty");
        spit(dir / "game" / "a.MOD", sample);
        if (kCaseSensitive)
            spit(dir / "game" / "a.mod", other);
        spit(dir / "game" / "bad.mod", truncated);
        spit(dir / "game" / "notes.txt", sample);
        spit(dir / "game" / "mod", sample);
        spit(dir / "game" / "Props" / "Chair.Mod", other);
        spit(dir / "game" / "Props" / "deep" / "er" / "TABLE.mOd", sample);
    }
};

TEST_F(BatchTree, MirroredUnderTheOutputFolder) {
    const Outcome result = batch(dir, {"-q", "-j", "2", "game", "-o", "out"});
    // Names in bytewise order: capitals first.
    EXPECT_EQ(withoutTime(result.out),
              withLineEnds(collision() +
                           named("game/bad.mod: Exception thrown: Not a valid model file! "
                                 "Unexpected end of file!\n") +
                           notFound(2, 1) + summary(3, 1)));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(filesIn(dir / "out"),
              toolOutputs({{"game/a.MOD", "a.obj"},
                           {"game/Props/Chair.Mod", "Props/Chair.obj"},
                           {"game/Props/deep/er/TABLE.mOd", "Props/deep/er/TABLE.obj"}}));
}

TEST_F(BatchTree, GltfFormats) {
    for (const std::string format : {"glb", "gltf"}) {
        fs::remove_all(dir / "out");
        const Outcome result = batch(dir, {"-q", "-f", format, "game", "-o", "out"});
        // The notes ulvtool prints for each model, under the model's name;
        // those for textures found nowhere become one line per texture.
        std::string notes;
        int notFoundLines = 0;
        const std::vector<std::pair<std::string, std::string>> converted = {
            {"game/Props/Chair.Mod", "Props/Chair." + format},
            {"game/Props/deep/er/TABLE.mOd", "Props/deep/er/TABLE." + format},
            {"game/a.MOD", "a." + format}};
        for (const auto& [model, output] : converted) {
            const Outcome tool = run(dir, {model, "note." + format});
            ASSERT_EQ(tool.status, 0) << model;
            std::size_t start = 0;
            for (std::size_t end; (end = tool.out.find('\n', start)) != std::string::npos;
                 start = end + 1) {
                const std::string line = tool.out.substr(start, end + 1 - start);
                if (line.find(" left out: not found") != std::string::npos)
                    ++notFoundLines;
                else
                    notes += named(model) + ": " + line;
            }
            fs::remove(dir / ("note." + format));
            fs::remove(dir / "note.bin");
        }
        ASSERT_EQ(notFoundLines, 3 + 3 + 2);
        EXPECT_EQ(withoutTime(result.out),
                  notes + withLineEnds(collision() +
                                       named("game/bad.mod: Exception thrown: Not a valid "
                                             "model file! Unexpected end of file!\n") +
                                       notFound(2, 1) + summary(3, 1)))
            << format;
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(filesIn(dir / "out"), toolOutputs(converted)) << format;
    }
}

// -f mod takes the glTF files instead of the models, and writes each over
// the model file of its name, in any case, as its template.
TEST_F(Batch, ModelFilesFromGltfOverTheirTemplates) {
    fs::create_directories(dir / "game" / "sub");
    spit(dir / "game" / "HOUSE.MOD", sample);
    spit(dir / "game" / "shed.mod", other);
    ASSERT_EQ(run(dir, {"game/HOUSE.MOD", "game/house.glb"}).status, 0);
    ASSERT_EQ(run(dir, {"game/shed.mod", "game/sub/Shed.GLTF"}).status, 0);
    const auto before = filesIn(dir / "game");

    // Into another tree: new model files, as ulvtool writes them.
    Outcome result = batch(dir, {"-q", "-f", "mod", "game", "-o", "out"});
    EXPECT_EQ(withoutTime(result.out), withLineEnds("2 converted, 0 failed, T s\n"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(filesIn(dir / "out"), toolOutputs({{"game/house.glb", "house.mod"},
                                                 {"game/sub/Shed.GLTF", "sub/Shed.mod"}}));

    // Beside them: house.glb over HOUSE.MOD, the very bytes it was made from;
    // no house.mod beside it.
    result = batch(dir, {"-q", "-f", "MOD", "game"});
    EXPECT_EQ(withoutTime(result.out), withLineEnds("2 converted, 0 failed, T s\n"));
    auto expected = before;
    expected["sub/Shed.mod"] = std::string(other.begin(), other.end());
    EXPECT_EQ(filesIn(dir / "game"), expected);
}

TEST_F(BatchTree, BesideTheModels) {
    const auto before = filesIn(dir / "game");
    const Outcome result = batch(dir, {"-q", "game/Props", "game/a.MOD"});
    EXPECT_EQ(withoutTime(result.out), withLineEnds("3 converted, 0 failed, T s\n"));
    EXPECT_EQ(result.status, 0);
    auto expected = toolOutputs({{"game/a.MOD", "a.obj"},
                                 {"game/Props/Chair.Mod", "Props/Chair.obj"},
                                 {"game/Props/deep/er/TABLE.mOd", "Props/deep/er/TABLE.obj"}});
    expected.insert(before.begin(), before.end());
    EXPECT_EQ(filesIn(dir / "game"), expected);
}

TEST_F(BatchTree, FilesGivenGoStraightIntoTheOutputFolder) {
    // Any name is taken for a model when given directly. One given twice, or
    // also found in a folder given, is converted once, as given directly.
    const Outcome result =
        batch(dir, {"-q", "game/notes.txt", "game/Props", "game/mod",
                    "game/Props/deep/er/TABLE.mOd", "game/notes.txt", "-o", "flat"});
    EXPECT_EQ(withoutTime(result.out),
              withLineEnds(notFound(3, 1) + "4 converted, 0 failed, T s\n"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(filesIn(dir / "flat"), toolOutputs({{"game/Props/Chair.Mod", "Chair.obj"},
                                                  {"game/Props/deep/er/TABLE.mOd", "TABLE.obj"},
                                                  {"game/notes.txt", "notes.obj"},
                                                  {"game/mod", "mod.obj"}}));
}

TEST_F(Batch, TwoPathsMirroredOntoOneName) {
    for (const char* folder : {"x", "y"}) {
        fs::create_directories(dir / folder / "sub");
        spit(dir / folder / "sub" / "m.mod", folder == std::string("x") ? sample : other);
    }
    const Outcome result = batch(dir, {"-q", "y", "x", "-o", "out"});
    EXPECT_EQ(withoutTime(result.out),
              withLineEnds(named("y/sub/m.mod: Same output as x/sub/m.mod\n") + notFound(1, 0) +
                           "1 converted, 1 failed, T s\n"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(filesIn(dir / "out"), toolOutputs({{"x/sub/m.mod", "sub/m.obj"}}));
}

#ifdef _WIN32
TEST_F(Batch, OutputsDifferingInCaseOnlyCollideOnWindows) {
    // One file there: the second would overwrite the first.
    fs::create_directories(dir / "x");
    fs::create_directories(dir / "y");
    spit(dir / "x" / "Tower.mod", sample);
    spit(dir / "y" / "TOWER.MOD", other);
    const Outcome result = batch(dir, {"-q", "x", "y", "-o", "out"});
    EXPECT_EQ(withoutTime(result.out),
              withLineEnds("y\\TOWER.MOD: Same output as x\\Tower.mod\n" + notFound(1, 0) +
                           "1 converted, 1 failed, T s\n"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(filesIn(dir / "out"), toolOutputs({{"x/Tower.mod", "Tower.obj"}}));
}
#endif

TEST_F(BatchTree, OverlappingRootsGiveEachModelOneOutput) {
    // Each model once, under the first root given that holds it, however
    // the roots are spelled.
    const std::vector<std::string> whole = {"Props/Chair.obj", "Props/deep/er/TABLE.obj", "a.obj"};
    const struct Case {
        std::vector<std::string> roots;
        std::vector<std::string> objs;
    } cases[] = {
        {{"game"}, whole},
        {{"game", "game/Props"}, whole},
        {{"game", "./game/Props/deep/"}, whole},
        {{"game", "game"}, whole},
        {{"game/Props", "game"}, {"Chair.obj", "a.obj", "deep/er/TABLE.obj"}},
        {{"game/Props/deep", "game/Props"}, {"Chair.obj", "er/TABLE.obj"}},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir / "ov");
        std::vector<std::string> args = {"-q", "-o", "ov"};
        args.insert(args.end(), c.roots.begin(), c.roots.end());
        const Outcome result = batch(dir, args);
        std::vector<std::string> objs;
        for (const auto& [name, bytes] : filesIn(dir / "ov"))
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".obj") == 0)
                objs.push_back(name);
        EXPECT_EQ(objs, c.objs) << c.roots.back();
        const std::string converted = std::to_string(c.objs.size()) + " converted, ";
        EXPECT_NE(result.out.find(converted), std::string::npos) << c.roots.back() << result.out;
    }
}

TEST_F(Batch, ModelThatCannotBeReadSaysSoWhereItsFolderCannotBeMade) {
    fs::create_directories(dir / "game" / "Props");
    spit(dir / "game" / "Props" / "broken.mod", truncated);
    spit(dir / "game" / "Props" / "chair.mod", sample);
    fs::create_directories(dir / "out");
    spit(dir / "out" / "Props", sample); // a file where its folder would go
    const Outcome result = batch(dir, {"-q", "game", "-o", "out"});
    EXPECT_EQ(withoutTime(result.out),
              withLineEnds(named("game/Props/broken.mod: Exception thrown: Not a valid model "
                                 "file! Unexpected end of file!\n"
                                 "game/Props/chair.mod: Unable to write the output file\n") +
                           "0 converted, 2 failed, T s\n"));
    EXPECT_EQ(result.status, 1);
}

#ifndef _WIN32
TEST_F(Batch, ProgressLineShowsTheEndOfTheName) {
    // On a narrow terminal the rate and the time make room for the name,
    // whose start gives way to "..." before its end does.
    const std::string name = "models/some/rather/long/folder/names/here/LAMP.MOD";
    fs::create_directories(dir / fs::path(name).parent_path());
    spit(dir / name, sample);
    RunOptions terminal;
    terminal.errToTerminal = true;
    terminal.columns = 40;
    const Outcome result = batch(dir, {"-j", "1", "models"}, terminal);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err.rfind("\r0/1 done, ..." + name.substr(name.size() - 26) + "\r", 0), 0u)
        << result.err;
    // Every line drawn leaves the last column free.
    std::size_t start = 0;
    for (std::size_t end; (end = result.err.find('\r', start + 1)) != std::string::npos;
         start = end)
        EXPECT_LE(end - start - 1, 39u) << result.err;
}
#endif

// What separates the folders of ULVTOOL_TEXTURES, as in PATH.
#ifdef _WIN32
constexpr char kListSeparator = ';';
#else
constexpr char kListSeparator = ':';
#endif

// Textures kept in folders of their own: -t folders after each model's own,
// then those of ULVTOOL_TEXTURES.
class BatchTextures : public Batch {
  protected:
    void SetUp() override {
        fs::create_directories(dir / "game" / "Props");
        for (const char* folder : {"tex1", "tex2", "tex3"})
            fs::create_directories(dir / folder);
        spit(dir / "game" / "m.mod", sample);
        spit(dir / "game" / "Props" / "o.mod", other);
    }
    void put(const std::string& path, std::uint32_t width) {
        spit(dir / fs::u8path(path), makeBmp(width, 2, quadrants(width, 2, {10, 20, 30})));
    }
    static std::string list(std::initializer_list<const char*> folders) {
        std::string text;
        for (const char* folder : folders)
            text += (text.empty() ? "" : std::string(1, kListSeparator)) + folder;
        return text;
    }
};

TEST_F(BatchTextures, LookedUpInTheFoldersGiven) {
    put("tex1/WOOD.bmp", 3);
    put("tex2/wood.BMP", 5); // after tex1: never used
    put("tex2/Metal.BMP", 7);
    put("tex3/wood.bmp", 9); // after both -t folders: never used
    put("tex3/glass.BMP", 11);
    RunOptions options;
    options.environment = {{"ULVTOOL_TEXTURES", list({"tex3", "", "nowhere"})}};
    const Outcome result = batch(
        dir, {"-q", "-f", "glb", "game", "-t", "tex1", "--textures", "tex2", "-o", "out"}, options);
    EXPECT_EQ(withoutTime(result.out), withLineEnds("2 converted, 0 failed, T s\n"));
    EXPECT_EQ(result.status, 0);
    // What ulvtool writes with the same folders in ULVTOOL_TEXTURES.
    RunOptions tool;
    tool.environment = {{"ULVTOOL_TEXTURES", list({"tex1", "tex2", "tex3"})}};
    const auto expected =
        toolOutputs({{"game/m.mod", "m.glb"}, {"game/Props/o.mod", "Props/o.glb"}}, tool);
    EXPECT_EQ(filesIn(dir / "out"), expected);
    // And not what it writes with tex2 or tex3 first.
    tool.environment = {{"ULVTOOL_TEXTURES", list({"tex3", "tex2", "tex1"})}};
    EXPECT_NE(toolOutputs({{"game/m.mod", "m.glb"}}, tool).at("m.glb"), expected.at("m.glb"));
}

TEST_F(BatchTextures, EachMissingTextureOnceAfterTheFailures) {
    put("tex1/metal.bmp", 3);
    spit(dir / "game" / "bad.mod", truncated);
    const Outcome result = batch(dir, {"-q", "-f", "gltf", "game", "-t", "tex1", "-o", "out"});
    EXPECT_EQ(withoutTime(result.out),
              withLineEnds(named("game/bad.mod: Exception thrown: Not a valid model file! "
                                 "Unexpected end of file!\n") +
                           "Texture glass.BMP not found: wanted by 1 model\n"
                           "Texture wood.BMP not found: wanted by 2 models\n"
                           "2 converted, 1 failed, T s\n"));
    EXPECT_EQ(result.status, 1);
}

TEST_F(BatchTextures, CopiedBesideTheObjsUnderTheLibrarysNames) {
    put("game/WOOD.BMP", 3);        // beside m.mod: first for it
    put("tex1/wood.bmp", 5);        // for o.mod, whose folder has none
    put("game/Props/METAL.bmp", 7); // beside o.mod
    put("tex1/Metal.BMP", 9);       // for m.mod
    put("tex2/GLASS.bmp", 11);
    // A different file where o.mod's wood would go stays, and is named.
    fs::create_directories(dir / "out" / "Props");
    std::ofstream(dir / "out" / "Props" / "wood.BMP") << "mine";
    const auto bytesOf = [&](const char* path) { return slurp(dir / path); };
    auto expected = toolOutputs({{"game/m.mod", "m.obj"}, {"game/Props/o.mod", "Props/o.obj"}});
    expected["Props"] = "/";
    expected["wood.BMP"] = bytesOf("game/WOOD.BMP");
    expected["metal.BMP"] = bytesOf("tex1/Metal.BMP");
    expected["glass.BMP"] = bytesOf("tex2/GLASS.bmp");
    expected["Props/metal.BMP"] = bytesOf("game/Props/METAL.bmp");
    expected["Props/wood.BMP"] = "mine";
    // A second run finds the copies in place and leaves them.
    for (int runs = 0; runs < 2; ++runs) {
        const Outcome result = batch(dir, {"-q", "game", "-t", "tex1", "-t", "tex2", "-o", "out"});
        EXPECT_EQ(withoutTime(result.out),
                  withLineEnds(named("game/Props/o.mod: Texture wood.BMP not copied: "
                                     "out/Props/wood.BMP is a different file\n") +
                               "2 converted, 0 failed, T s\n"));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(filesIn(dir / "out"), expected);
    }
}

TEST_F(BatchTextures, NeverCopiedOntoItself) {
    // The output folder is the models' own, and the texture has the very
    // name the library spells.
    spit(dir / "game" / "m.mod", other);
    put("game/wood.BMP", 3);
    put("game/metal.BMP", 5);
    fs::remove_all(dir / "game" / "Props");
    auto expected = filesIn(dir / "game");
    const Outcome result = batch(dir, {"-q", "game", "-o", "game"});
    EXPECT_EQ(withoutTime(result.out), withLineEnds("1 converted, 0 failed, T s\n"));
    EXPECT_EQ(result.status, 0);
    expected.merge(toolOutputs({{"game/m.mod", "m.obj"}}));
    EXPECT_EQ(filesIn(dir / "game"), expected);
}

TEST_F(Batch, VerboseDumpsWholeUnderEachName) {
    // Many models at once, so that dumps made at once would interleave.
    std::vector<std::string> names;
    std::string expected;
    for (int i = 0; i < 12; ++i) {
        // Built by appending: GCC 12 warns falsely (-Wrestrict) on "m" + text.
        std::string name = std::to_string(i);
        name.insert(0, 1, 'm');
        name += ".mod";
        spit(dir / name, i % 3 == 0 ? truncated : i % 3 == 1 ? sample : other);
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const Outcome tool = run(dir, {"-v", name, "t.obj"});
        std::string dump = tool.out;
        if (tool.status != 0) {
            // ulvtool's message follows its dump; ulvbatch names the model.
            const std::string message =
                withLineEnds("Exception thrown: Not a valid model file! Unexpected end of file!\n");
            ASSERT_EQ(dump.substr(dump.size() - message.size()), message);
            dump.resize(dump.size() - message.size());
            dump += withLineEnds(named("./" + name) + ": ") + message;
        }
        expected += withLineEnds(named("./" + name) + ":\n") + dump;
    }
    const Outcome result = batch(dir, {"-q", "-v", "-j", "4", ".", "-o", "out"});
    EXPECT_EQ(withoutTime(result.out),
              expected + withLineEnds(notFound(4, 4) + "8 converted, 4 failed, T s\n"));
    EXPECT_EQ(result.status, 1);
}

TEST_F(BatchTree, OutputFaultsFailOnlyTheModelsTheyTouch) {
    fs::create_directories(dir / "out");
    // The folder for the models under Props cannot be made: a file is there.
    spit(dir / "out" / "Props", sample);
    // Old files at the targets of failing models stay as they were.
    std::ofstream(dir / "out" / "bad.obj") << "old";
    std::ofstream(dir / "out" / "bad.mtl") << "old";
    const Outcome result = batch(dir, {"-q", "game", "-o", "out"});
    EXPECT_EQ(withoutTime(result.out),
              withLineEnds(named("game/Props/Chair.Mod: Unable to write the output file\n"
                                 "game/Props/deep/er/TABLE.mOd: Unable to write the output "
                                 "file\n") +
                           collision() +
                           named("game/bad.mod: Exception thrown: Not a valid model file! "
                                 "Unexpected end of file!\n") +
                           notFound(1, 0) + summary(1, 3)));
    EXPECT_EQ(result.status, 1);
    auto expected = toolOutputs({{"game/a.MOD", "a.obj"}});
    expected["Props"] = std::string(sample.begin(), sample.end());
    expected["bad.obj"] = "old";
    expected["bad.mtl"] = "old";
    EXPECT_EQ(filesIn(dir / "out"), expected);
}

TEST_F(Batch, NamesInAnyScriptAndBothSeparators) {
    const std::u8string folder = u8"Mod\u00e8les/\u041c\u043e\u0434\u0435\u043b\u0438";
    fs::create_directories(dir / folder / u8"\u30e2\u30c7\u30eb");
    spit(dir / folder / u8"\u30e2\u30c7\u30eb" / u8"\u57ce.MOD", sample);
    spit(dir / folder / u8"\u00dcBER.mod", truncated);
#ifdef _WIN32
    const std::string given = text(u8"Mod\u00e8les\\\u041c\u043e\u0434\u0435\u043b\u0438");
    const std::string output = text(u8"\u00e0/b\\c");
#else
    const std::string given = text(folder);
    const std::string output = text(u8"\u00e0/b/c");
#endif
    const Outcome result = batch(dir, {"-q", given, "-o", output});
    EXPECT_EQ(withoutTime(result.out),
              withLineEnds(named(text(u8"Mod\u00e8les/\u041c\u043e\u0434\u0435\u043b\u0438/"
                                      u8"\u00dcBER.mod: Exception thrown: Not a valid model "
                                      u8"file! Unexpected end of file!\n")) +
                           notFound(1, 0) + "1 converted, 1 failed, T s\n"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(filesIn(dir / u8"\u00e0" / "b" / "c"),
              toolOutputs({{text(folder + u8"/\u30e2\u30c7\u30eb/\u57ce.MOD"),
                            text(u8"\u30e2\u30c7\u30eb/\u57ce.obj")}}));
}

#ifndef _WIN32
TEST_F(BatchTree, LinksToFilesFollowedToFoldersNot) {
    fs::create_symlink("Props/Chair.Mod", dir / "game" / "link.mod");
    fs::create_symlink("Props", dir / "game" / "linked");
    fs::create_symlink("..", dir / "game" / "Props" / "up");
    fs::create_symlink("nowhere.mod", dir / "game" / "dangling.mod");
    const Outcome result = batch(dir, {"-q", "game", "-o", "out"});
    EXPECT_EQ(withoutTime(result.out),
              withLineEnds("game/a.mod: Same output as game/a.MOD\n"
                           "game/bad.mod: Exception thrown: Not a valid model file! "
                           "Unexpected end of file!\n" +
                           notFound(2, 2) + "4 converted, 2 failed, T s\n"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(filesIn(dir / "out"),
              toolOutputs({{"game/a.MOD", "a.obj"},
                           {"game/link.mod", "link.obj"},
                           {"game/Props/Chair.Mod", "Props/Chair.obj"},
                           {"game/Props/deep/er/TABLE.mOd", "Props/deep/er/TABLE.obj"}}));
}

// Whether this process can run a program as another user: only root can,
// and only where it is allowed to change its user.
bool canRunAs(uid_t user) {
    if (::geteuid() != 0)
        return false;
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(::setgid(user) == 0 && ::setuid(user) == 0 ? 0 : 1);
    int status = 1;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Whether `user` may run the program at `path`: every folder above it must
// let others through, which a checkout under /root or a mktemp -d folder
// (mode 0700) does not.
bool canRun(uid_t user, const fs::path& path) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(::setgid(user) == 0 && ::setuid(user) == 0 && ::access(path.c_str(), X_OK) == 0
                    ? 0
                    : 1);
    int status = 1;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(BatchTree, UnreadableFilesAndFolders) {
    fs::create_directories(dir / "game" / "sealed");
    spit(dir / "game" / "sealed" / "x.mod", sample);
    spit(dir / "game" / "locked.mod", sample);
    RunOptions options;
    options.captureErr = true;
    fs::path tool = batchTool();
    // Root reads any file whatever its mode: run as nobody, who owns the
    // tree, as an ordinary user would.
    constexpr uid_t nobody = 65534;
    if (::geteuid() == 0) {
        if (!canRunAs(nobody))
            GTEST_SKIP() << "running as root without the right to change user: every file "
                            "is readable, so none can be made unreadable";
        // A copy of the tool in the scratch folder, which nobody can reach
        // wherever the build is.
        fs::create_directories(dir / "bin");
        fs::copy_file(tool, dir / "bin" / "ulvbatch");
        tool = dir / "bin" / "ulvbatch";
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            ASSERT_EQ(::lchown(entry.path().c_str(), nobody, nobody), 0);
        ASSERT_EQ(::chown(dir.c_str(), nobody, nobody), 0);
        if (!canRun(nobody, tool))
            GTEST_SKIP() << "nobody cannot run " << tool.string()
                         << ": a folder above the scratch folder is closed to others (set "
                            "TMPDIR to a folder they may pass through)";
        options.uid = static_cast<int>(nobody);
    }
    fs::permissions(dir / "game" / "locked.mod", fs::perms::none);
    fs::permissions(dir / "game" / "sealed", fs::perms::none);
    const Outcome result = runProgram(tool, dir, {"-q", "game", "-o", "out"}, options);
    fs::permissions(dir / "game" / "sealed", fs::perms::owner_all);
    EXPECT_EQ(withoutTime(result.out),
              "game/a.mod: Same output as game/a.MOD\n"
              "game/bad.mod: Exception thrown: Not a valid model file! Unexpected end of file!\n"
              "game/locked.mod: Unable to open the requested file\n"
              "game/sealed: Unable to read the folder\n" +
                  notFound(2, 1) + "3 converted, 4 failed, T s\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(filesIn(dir / "out"),
              toolOutputs({{"game/a.MOD", "a.obj"},
                           {"game/Props/Chair.Mod", "Props/Chair.obj"},
                           {"game/Props/deep/er/TABLE.mOd", "Props/deep/er/TABLE.obj"}}));
}

TEST_F(BatchTree, FullDiskFailsTheModelAndLeavesNoFile) {
    // Files limited below the size of the sample's OBJ: every model with
    // meshes fails, the empty one converts.
    Model empty = makeModel({});
    spit(dir / "game" / "empty.mod", encodeModel(empty));
    RunOptions options;
    options.fileSizeLimit = 200;
    const Outcome result = batch(dir, {"-q", "game", "-o", "out"}, options);
    EXPECT_EQ(withoutTime(result.out),
              "game/Props/Chair.Mod: Unable to write the output file\n"
              "game/Props/deep/er/TABLE.mOd: Unable to write the output file\n"
              "game/a.MOD: Unable to write the output file\n"
              "game/a.mod: Same output as game/a.MOD\n"
              "game/bad.mod: Exception thrown: Not a valid model file! Unexpected end of file!\n"
              "1 converted, 5 failed, T s\n");
    EXPECT_EQ(result.status, 1);
    // The folders made for the outputs stay, empty.
    auto expected = toolOutputs({{"game/empty.mod", "empty.obj"}});
    for (const char* folder : {"Props", "Props/deep", "Props/deep/er"})
        expected[folder] = "/";
    EXPECT_EQ(filesIn(dir / "out"), expected);
}

TEST_F(BatchTree, ProgressLineOnlyOnATerminal) {
    RunOptions terminal;
    terminal.errToTerminal = true;
    const std::string report = "game/a.mod: Same output as game/a.MOD\n"
                               "game/bad.mod: Exception thrown: Not a valid model file! "
                               "Unexpected end of file!\n" +
                               notFound(2, 1) + "3 converted, 2 failed, T s\n";
    {
        const Outcome result = batch(dir, {"-j", "1", "game", "-o", "out"}, terminal);
        EXPECT_EQ(withoutTime(result.out), report);
        EXPECT_EQ(result.status, 1);
        // Drawn first before anything is done, redrawn with "\r", and blanked
        // at the end, so the terminal's last line is empty.
        EXPECT_EQ(result.err.rfind("\r0/5 done, 0.0 MB/s, ?:?? left, game/Props/Chair.Mod", 0), 0u)
            << result.err;
        EXPECT_EQ(result.err.find('\n'), std::string::npos) << result.err;
        const std::size_t last = result.err.find_last_of('\r', result.err.size() - 2);
        ASSERT_NE(last, std::string::npos);
        EXPECT_EQ(result.err.back(), '\r');
        EXPECT_EQ(result.err.find_first_not_of(' ', last + 1), result.err.size() - 1) << result.err;
    }
    {
        const Outcome result = batch(dir, {"-q", "-j", "1", "game", "-o", "out"}, terminal);
        EXPECT_EQ(withoutTime(result.out), report);
        EXPECT_EQ(result.err, "");
    }
    {
        // Not a terminal: a pipe.
        const Outcome result = batch(dir, {"-j", "1", "game", "-o", "out"});
        EXPECT_EQ(withoutTime(result.out), report);
        EXPECT_EQ(result.err, "");
    }
}
#endif

} // namespace
} // namespace ulv
