// Runs the built tool under strace and checks the order of its flushes and
// renames: a file that replaces another is on the disk before it is renamed
// into place, its folder after; nothing else is flushed.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/model_builder.h"
#include "tests/support/process.h"
#include "tests/support/sample_model.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

// Every call that flushes or renames, as "fsync PATH" or "rename FROM TO",
// with paths relative to `dir` and the random part of temporary names as N.
std::vector<std::string> flushesAndRenames(const fs::path& dir,
                                           const std::vector<std::string>& args, int status) {
    const fs::path log = dir.parent_path() / (dir.filename().string() + ".strace");
    // LeakSanitizer cannot run under a tracer.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string command = "cd '" + dir.string() + "' && ASAN_OPTIONS='" +
                          (asan ? std::string(asan) + ":" : "") + "detect_leaks=0' " + STRACE_PATH +
                          " -f -qq -y -o '" + log.string() +
                          "' -e trace=fsync,fdatasync,sync,syncfs,sync_file_range,msync,"
                          "rename,renameat,renameat2 '" +
                          ULVTOOL_PATH + "'";
    for (const std::string& arg : args)
        command += " '" + arg + "'";
    command += " >/dev/null";
    const int result = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(result) && WEXITSTATUS(result) == status) << command;

    const std::string root = fs::canonical(dir).string();
    const auto relative = [&](std::string path) {
        if (path == root)
            return std::string(".");
        if (path.rfind(root + "/", 0) == 0)
            path.erase(0, root.size() + 1);
        // ".out.obj.123456.tmp" -> ".out.obj.N.tmp"
        const std::string tmp = ".tmp";
        if (path.size() > tmp.size() && path.ends_with(tmp)) {
            const std::size_t end = path.size() - tmp.size();
            const std::size_t dot = path.rfind('.', end - 1);
            if (dot != std::string::npos && dot + 1 < end &&
                path.find_first_not_of("0123456789", dot + 1) == end)
                path.replace(dot + 1, end - dot - 1, "N");
        }
        return path;
    };
    // The lines read "1234 fsync(3</tmp/x/.out.obj.81.tmp>) = 0" and
    // "1234 rename(\"a\", \"b\") = 0" (renameat: AT_FDCWD before each name).
    // No std::regex: GCC 12 warns about its insides under the sanitizers.
    std::vector<std::string> calls;
    std::ifstream in(log);
    fs::remove(log);
    for (std::string line; std::getline(in, line);) {
        const std::size_t nameStart = line.find_first_not_of("0123456789 ");
        const std::size_t open = line.find('(');
        if (nameStart == std::string::npos || open == std::string::npos || open < nameStart ||
            !line.ends_with(") = 0")) {
            calls.push_back("unexpected: " + line);
            continue;
        }
        const std::string name = line.substr(nameStart, open - nameStart);
        std::vector<std::string> quoted;
        for (std::size_t at = line.find('"', open); at != std::string::npos;) {
            const std::size_t close = line.find('"', at + 1);
            if (close == std::string::npos)
                break;
            quoted.push_back(line.substr(at + 1, close - at - 1));
            at = line.find('"', close + 1);
        }
        const std::size_t pathStart = line.find('<', open);
        const std::size_t pathEnd = line.find('>', pathStart);
        if (name.starts_with("rename") && quoted.size() == 2)
            calls.push_back("rename " + relative(quoted[0]) + " " + relative(quoted[1]));
        else if (!name.starts_with("rename") && pathEnd != std::string::npos)
            calls.push_back(name + " " +
                            relative(line.substr(pathStart + 1, pathEnd - pathStart - 1)));
        else
            calls.push_back("unexpected: " + line);
    }
    return calls;
}

TEST(Durable, FlushesOnlyWhatReplacesAFile) {
    struct Case {
        std::string input;                 // the sample model's name
        std::vector<std::string> existing; // files there before, as "name" or "name -> target"
        std::vector<std::string> args;
        std::vector<std::string> calls;
        int status = 0;
    } cases[] = {
        // Nothing replaced: no flush at all.
        {"model.mod",
         {},
         {"model.mod", "out.obj"},
         {"rename .out.mtl.N.tmp out.mtl", "rename .out.obj.N.tmp out.obj"}},
        {"model.mod",
         {"out.obj", "out.mtl"},
         {"model.mod", "out.obj"},
         {"fsync .out.obj.N.tmp", "fsync .out.mtl.N.tmp", "rename .out.mtl.N.tmp out.mtl",
          "rename .out.obj.N.tmp out.obj", "fsync ."}},
        {"model.mod",
         {"out.obj"},
         {"model.mod", "out.obj"},
         {"fsync .out.obj.N.tmp", "rename .out.mtl.N.tmp out.mtl", "rename .out.obj.N.tmp out.obj",
          "fsync ."}},
        {"model.mod",
         {"out.mtl"},
         {"model.mod", "out.obj"},
         {"fsync .out.mtl.N.tmp", "rename .out.mtl.N.tmp out.mtl", "rename .out.obj.N.tmp out.obj",
          "fsync ."}},
        // The input itself replaced, as the OBJ and as the library.
        {"model.dat",
         {},
         {"model.dat", "model.dat"},
         {"fsync .model.dat.N.tmp", "rename .model.mtl.N.tmp model.mtl",
          "rename .model.dat.N.tmp model.dat", "fsync ."}},
        // A model file rewritten in place.
        {"model.mod",
         {},
         {"model.mod", "model.mod"},
         {"fsync .model.mod.N.tmp", "rename .model.mod.N.tmp model.mod", "fsync ."}},
        {"x.mtl",
         {},
         {"x.mtl", "x.obj"},
         {"fsync .x.mtl.N.tmp", "rename .x.mtl.N.tmp x.mtl", "rename .x.obj.N.tmp x.obj",
          "fsync ."}},
        // The folder flushed is the one the files are in.
        {"model.mod",
         {"sub/out.obj"},
         {"model.mod", "sub/out.obj"},
         {"fsync sub/.out.obj.N.tmp", "rename sub/.out.mtl.N.tmp sub/out.mtl",
          "rename sub/.out.obj.N.tmp sub/out.obj", "fsync sub"}},
        // Through a link, the file it points to is replaced.
        {"model.mod",
         {"real.obj", "out.obj -> real.obj"},
         {"model.mod", "out.obj"},
         {"fsync .real.obj.N.tmp", "rename .out.mtl.N.tmp out.mtl",
          "rename .real.obj.N.tmp real.obj", "fsync ."}},
        // A device is written straight, with nothing to flush or rename.
        {"model.mod",
         {"out.mtl", "out.obj -> /dev/null"},
         {"model.mod", "out.obj"},
         {"fsync .out.mtl.N.tmp", "rename .out.mtl.N.tmp out.mtl", "fsync ."}},
        {"model.mod",
         {"out.obj -> /dev/null"},
         {"model.mod", "out.obj"},
         {"rename .out.mtl.N.tmp out.mtl"}},
        // glTF: one file, or the JSON and its binary, which is renamed first.
        {"model.mod",
         {"out.glb"},
         {"model.mod", "out.glb"},
         {"fsync .out.glb.N.tmp", "rename .out.glb.N.tmp out.glb", "fsync ."}},
        {"model.mod",
         {},
         {"model.mod", "out.gltf"},
         {"rename .out.bin.N.tmp out.bin", "rename .out.gltf.N.tmp out.gltf"}},
        {"model.mod",
         {"out.gltf", "out.bin"},
         {"model.mod", "out.gltf"},
         {"fsync .out.gltf.N.tmp", "fsync .out.bin.N.tmp", "rename .out.bin.N.tmp out.bin",
          "rename .out.gltf.N.tmp out.gltf", "fsync ."}},
        // A failed conversion leaves the old files untouched: nothing flushed.
        {"model.mod", {"out.obj", "out.mtl -> /dev/full"}, {"model.mod", "out.obj"}, {}, 1},
    };
    for (const Case& c : cases) {
        ScratchDir scratch;
        const fs::path& dir = scratch.path;
        fs::create_directory(dir / "sub");
        spit(dir / c.input, encodeModel(sampleModel()));
        for (const std::string& file : c.existing) {
            const auto arrow = file.find(" -> ");
            if (arrow == std::string::npos)
                std::ofstream(dir / file) << "old";
            else
                fs::create_symlink(file.substr(arrow + 4), dir / file.substr(0, arrow));
        }
        std::string what;
        for (const std::string& arg : c.args)
            what += arg + " ";
        EXPECT_EQ(flushesAndRenames(dir, c.args, c.status), c.calls) << what;
    }
}

} // namespace
} // namespace ulv
