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
    toolOutputs(const std::vector<std::pair<std::string, std::string>>& pairs) {
        const fs::path ref = dir / "ref";
        for (const auto& [model, output] : pairs) {
            fs::create_directories((ref / fs::u8path(output)).parent_path());
            const Outcome result = run(dir, {model, "ref/" + output});
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
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out; // with the time in the summary as "T"
        std::string err;
        std::vector<std::string> written; // besides m.mod and the empty folder
    } cases[] = {
        {{}, 2, "", "ulvbatch: PATH is required" + hint, {}},
        {{"--frob", "m.mod"},
         2,
         "",
         "ulvbatch: The following argument was not expected: --frob" + hint,
         {}},
        {{"-j", "0", "m.mod"},
         2,
         "",
         "ulvbatch: --jobs: Value 0 not in range 1 to 4096" + hint,
         {}},
        {{"--jobs", "two", "m.mod"},
         2,
         "",
         "ulvbatch: --jobs: Value two not in range 1 to 4096" + hint,
         {}},
        {{"-f", "png", "m.mod"}, 2, "", "ulvbatch: --format: png not in {obj,glb,gltf}" + hint, {}},
        {{"-f", "OBJ", "m.mod"}, 2, "", "ulvbatch: --format: OBJ not in {obj,glb,gltf}" + hint, {}},
        {{"m.mod", "-o"}, 2, "", "ulvbatch: --output: 1 required TEXT missing" + hint, {}},
        {{"missing.mod"}, 2, "", "ulvbatch: no such file or folder: missing.mod" + hint, {}},
        {{"m.mod", "empty", "gone"}, 2, "", "ulvbatch: no such file or folder: gone" + hint, {}},
        {{"--version"}, 0, "ulvbatch 0.1\n", "", {}},
        {{"m.mod"}, 0, "1 converted, 0 failed, T s\n", "", {"m.mtl", "m.obj"}},
        {{"-q", "-j", "3", "-f", "obj", "--output", "o/p", "m.mod"},
         0,
         "1 converted, 0 failed, T s\n",
         "",
         {"o", "o/p", "o/p/m.mtl", "o/p/m.obj"}},
        {{"--quiet", "--jobs=1", "--format=obj", "-oo", "m.mod"},
         0,
         "1 converted, 0 failed, T s\n",
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
    for (const char* part : {"Usage: ulvbatch [OPTIONS] PATH...", "-o,--output DIR",
                             "-f,--format FORMAT", "-j,--jobs N", "-v,--verbose", "-q,--quiet",
                             "--version", "Exit status:", "ulvbatch -f glb game/models -o out"})
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
                           summary(3, 1)));
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
        // The notes ulvtool prints for each model, under the model's name.
        std::string notes;
        const std::vector<std::pair<std::string, std::string>> converted = {
            {"game/Props/Chair.Mod", "Props/Chair." + format},
            {"game/Props/deep/er/TABLE.mOd", "Props/deep/er/TABLE." + format},
            {"game/a.MOD", "a." + format}};
        for (const auto& [model, output] : converted) {
            const Outcome tool = run(dir, {model, "note." + format});
            ASSERT_EQ(tool.status, 0) << model;
            std::size_t start = 0;
            for (std::size_t end; (end = tool.out.find('\n', start)) != std::string::npos;
                 start = end + 1)
                notes += named(model) + ": " + tool.out.substr(start, end + 1 - start);
            fs::remove(dir / ("note." + format));
            fs::remove(dir / "note.bin");
        }
        ASSERT_NE(notes, "");
        EXPECT_EQ(withoutTime(result.out),
                  notes + withLineEnds(collision() +
                                       named("game/bad.mod: Exception thrown: Not a valid "
                                             "model file! Unexpected end of file!\n") +
                                       summary(3, 1)))
            << format;
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(filesIn(dir / "out"), toolOutputs(converted)) << format;
    }
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
    EXPECT_EQ(withoutTime(result.out), withLineEnds("4 converted, 0 failed, T s\n"));
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
              withLineEnds(named("y/sub/m.mod: Same output as x/sub/m.mod\n") +
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
    EXPECT_EQ(withoutTime(result.out), withLineEnds("y\\TOWER.MOD: Same output as x\\Tower.mod\n"
                                                    "1 converted, 1 failed, T s\n"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(filesIn(dir / "out"), toolOutputs({{"x/Tower.mod", "Tower.obj"}}));
}
#endif

TEST_F(Batch, VerboseDumpsWholeUnderEachName) {
    // Many models at once, so that dumps made at once would interleave.
    std::vector<std::string> names;
    std::string expected;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "m" + std::to_string(i) + ".mod";
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
    EXPECT_EQ(withoutTime(result.out), expected + withLineEnds("8 converted, 4 failed, T s\n"));
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
                           summary(1, 3)));
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
                           "1 converted, 1 failed, T s\n"));
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
                           "Unexpected end of file!\n"
                           "4 converted, 2 failed, T s\n"));
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

TEST_F(BatchTree, UnreadableFilesAndFolders) {
    fs::create_directories(dir / "game" / "sealed");
    spit(dir / "game" / "sealed" / "x.mod", sample);
    spit(dir / "game" / "locked.mod", sample);
    RunOptions options;
    // Root reads any file whatever its mode: run as nobody, who owns the
    // tree, as an ordinary user would.
    constexpr uid_t nobody = 65534;
    if (::geteuid() == 0) {
        if (!canRunAs(nobody))
            GTEST_SKIP() << "running as root without the right to change user: every file "
                            "is readable, so none can be made unreadable";
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            ASSERT_EQ(::lchown(entry.path().c_str(), nobody, nobody), 0);
        ASSERT_EQ(::chown(dir.c_str(), nobody, nobody), 0);
        options.uid = static_cast<int>(nobody);
    }
    fs::permissions(dir / "game" / "locked.mod", fs::perms::none);
    fs::permissions(dir / "game" / "sealed", fs::perms::none);
    const Outcome result = batch(dir, {"-q", "game", "-o", "out"}, options);
    fs::permissions(dir / "game" / "sealed", fs::perms::owner_all);
    EXPECT_EQ(withoutTime(result.out),
              "game/a.mod: Same output as game/a.MOD\n"
              "game/bad.mod: Exception thrown: Not a valid model file! Unexpected end of file!\n"
              "game/locked.mod: Unable to open the requested file\n"
              "game/sealed: Unable to read the folder\n"
              "3 converted, 4 failed, T s\n");
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
                               "Unexpected end of file!\n"
                               "3 converted, 2 failed, T s\n";
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
