// Both tools interrupted in the middle of a large write (SIGINT, SIGTERM and
// SIGHUP on Linux; Ctrl-C on Windows): no temporary file is left, every
// target is as it was or wholly new, and each ends as it says.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/model_builder.h"
#include "tests/support/process.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

// A model whose OBJ takes a good part of a second to write: 150 MB of text.
// No material, so no texture is looked for.
const Bytes& largeModel() {
    static const Bytes bytes = [] {
        constexpr std::uint32_t vertices = 1000000;
        std::vector<float> positions, normals, texCoords;
        std::vector<std::uint32_t> indices;
        for (std::uint32_t i = 0; i < vertices; ++i) {
            const auto x = static_cast<float>(i % 1000) * 0.37f;
            const auto y = static_cast<float>(i / 1000) * 0.73f;
            positions.insert(positions.end(), {x, y, x * y * 0.001f});
            normals.insert(normals.end(), {0, 0, 1});
            texCoords.insert(texCoords.end(), {x / 370, y / 730});
            indices.insert(indices.end(), {i, (i + 1) % vertices, (i + 2) % vertices});
        }
        return encodeModel(makeModel({makeMesh(
            identityTransform, {makeSection("", positions, normals, texCoords, indices)})}));
    }();
    return bytes;
}

// Temporary files anywhere under `dir`, with their sizes.
std::map<fs::path, std::uintmax_t> temporaries(const fs::path& dir) {
    std::map<fs::path, std::uintmax_t> found;
    std::error_code error;
    for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 4 && name[0] == '.' && name.compare(name.size() - 4, 4, ".tmp") == 0) {
            // One gone since it was listed is not there.
            std::error_code gone;
            const std::uintmax_t size = fs::file_size(it->path(), gone);
            if (!gone)
                found[it->path()] = size;
        }
    }
    return found;
}

const fs::path& toolPath(bool batchTool) {
    static const fs::path tool = fs::absolute(ULVTOOL_PATH);
    static const fs::path batch = fs::absolute(ULVBATCH_PATH);
    return batchTool ? batch : tool;
}

struct Interrupted {
    Outcome outcome;
    bool midWrite = false; // a temporary file was there, partly written, when it came
};

// Runs a tool and interrupts it once a temporary file under `dir` has more
// than 1 MB in it, of the `whole` its output has when complete. Where the
// system can, the tool is paused first, so that the interrupt surely comes
// while the file is incomplete.
Interrupted interruptWhileWriting(bool batchTool, const fs::path& dir,
                                  const std::vector<std::string>& args, int signal,
                                  std::uintmax_t whole) {
    Running running(toolPath(batchTool), dir, args);
    Interrupted result;
    const auto start = std::chrono::steady_clock::now();
    bool sent = false;
    while (!sent && std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
        for (const auto& [path, size] : temporaries(dir)) {
            if (size < (1u << 20))
                continue;
            const bool paused = running.pause();
            // Still there, and short, once paused: the write had not ended.
            std::error_code error;
            const std::uintmax_t now = fs::file_size(path, error);
            result.midWrite = !error && now < whole;
            running.interrupt(signal);
            if (paused)
                running.resume();
            sent = true;
            break;
        }
    }
    result.outcome = running.finish();
    return result;
}

// On a busy machine the write may end between the test seeing the file and
// pausing the tool; such a run proves nothing, so it is tried again, with
// the outputs set up afresh, until one is caught mid-write.
Interrupted interruptMidWrite(const std::function<void()>& setUp, bool batchTool,
                              const fs::path& dir, const std::vector<std::string>& args, int signal,
                              std::uintmax_t whole) {
    Interrupted run;
    for (int attempt = 0; attempt < 5 && !run.midWrite; ++attempt) {
        setUp();
        run = interruptWhileWriting(batchTool, dir, args, signal, whole);
    }
    return run;
}

class Interrupt : public ::testing::Test {
  protected:
    ScratchDir scratch;
    const fs::path dir = scratch.path;
};

#ifdef _WIN32
constexpr int kSignals[] = {0}; // Ctrl-C
#else
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
#endif

TEST_F(Interrupt, UlvtoolLeavesTheTargetsAsTheyWere) {
    spit(dir / "big.mod", largeModel());
    // The sizes of the complete outputs.
    std::map<std::string, std::uintmax_t> whole;
    for (const char* output : {"whole.obj", "whole.glb"}) {
        ASSERT_EQ(run(dir, {"big.mod", output}).status, 0);
        whole[fs::path(output).extension().string()] = fs::file_size(dir / output);
    }
    for (const char* file : {"whole.obj", "whole.mtl", "whole.glb"})
        fs::remove(dir / file);
    for (const int signal : kSignals) {
        for (const std::vector<std::string>& outputs :
             {std::vector<std::string>{"out.obj", "out.mtl"}, {"out.glb"}}) {
            const Interrupted run = interruptMidWrite(
                [&] {
                    for (const std::string& output : outputs)
                        spit(dir / output, Bytes{'o', 'l', 'd'});
                },
                false, dir, {"big.mod", outputs[0]}, signal,
                whole.at(fs::path(outputs[0]).extension().string()));
            const std::string what = outputs[0] + " " + std::to_string(signal);
            ASSERT_TRUE(run.midWrite) << what << ": never caught writing";
#ifdef _WIN32
            EXPECT_EQ(run.outcome.status, 130) << what;
#else
            // Ended by the signal itself, so that a shell loop stops as well.
            EXPECT_EQ(run.outcome.signal, signal) << what;
#endif
            EXPECT_EQ(run.outcome.out, "") << what;
            EXPECT_EQ(temporaries(dir), (std::map<fs::path, std::uintmax_t>{})) << what;
            for (const std::string& output : outputs)
                EXPECT_EQ(slurp(dir / output), "old") << what << " " << output;
        }
    }
}

TEST_F(Interrupt, UlvbatchStopsAndSaysSo) {
    constexpr int models = 4;
    for (int i = 0; i < models; ++i) {
        fs::create_directories(dir / "game" / ("sub" + std::to_string(i)));
        spit(dir / "game" / ("sub" + std::to_string(i)) / "big.mod", largeModel());
    }
    // What a whole conversion writes, to tell a finished output from an old one.
    ASSERT_EQ(run(dir, {"game/sub0/big.mod", "whole.obj"}).status, 0);
    const std::string whole = slurp(dir / "whole.obj");
    fs::remove(dir / "whole.obj");
    fs::remove(dir / "whole.mtl");
    for (const int signal : kSignals) {
        const Interrupted run = interruptMidWrite(
            [&] {
                fs::remove_all(dir / "out");
                for (int i = 0; i < models; ++i) {
                    const fs::path sub = dir / "out" / ("sub" + std::to_string(i));
                    fs::create_directories(sub);
                    spit(sub / "big.obj", Bytes{'o', 'l', 'd'});
                    spit(sub / "big.mtl", Bytes{'o', 'l', 'd'});
                }
            },
            true, dir, {"-q", "-j", "2", "game", "-o", "out"}, signal, whole.size());
        const std::string what = std::to_string(signal);
        ASSERT_TRUE(run.midWrite) << what << ": never caught writing";
        EXPECT_EQ(run.outcome.status, 130) << what;
        // The summary, and nothing else: the models given up are not failures.
        const std::string& out = run.outcome.out;
        std::size_t converted = 0;
        for (int i = 0; i < models; ++i) {
            const fs::path sub = dir / "out" / ("sub" + std::to_string(i));
            const std::string obj = slurp(sub / "big.obj");
            if (obj == whole)
                ++converted;
            else
                EXPECT_EQ(obj, "old") << what << " " << i;
            EXPECT_EQ(slurp(sub / "big.mtl") == "old", obj == "old") << what << " " << i;
        }
        EXPECT_LT(converted, std::size_t{models}) << what;
        EXPECT_EQ(out.rfind(std::to_string(converted) + " converted, 0 failed, interrupted, ", 0),
                  0u)
            << what << ": " << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << what << ": " << out;
        EXPECT_EQ(temporaries(dir), (std::map<fs::path, std::uintmax_t>{})) << what;
    }
}

} // namespace
} // namespace ulv
