// Output that cannot be written, run through the built tool: a file size
// limit, a full device, the input named as its own output. A failure prints
// one message, exits 1 and leaves every file as it was, with no temporary
// left behind; a success leaves exactly the two new files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "mod/reader.h"
#include "obj/writer.h"
#include "platform/write_behind.h"
#include "tests/support/model_builder.h"
#include "tests/support/process.h"
#include "tests/support/sample_model.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

using Files = std::map<std::string, std::string>;

// As the console shows it here: CR LF on Windows.
const std::string kUnwritable = withLineEnds("Unable to write the output file\n");

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The OBJ and MTL text the writer makes of `bytes`.
std::pair<std::string, std::string> converted(const Bytes& bytes, const std::string& mtlName) {
    std::ostringstream obj, mtl;
    writeObj(readModel(bytes.data(), bytes.size()), obj, mtl, mtlName);
    return {obj.str(), mtl.str()};
}

#ifndef _WIN32
// Big enough that the OBJ fills the writer's buffer twice over, so that a
// write fails after whole buffers went out.
Bytes largeModel() {
    std::vector<float> positions, normals, texCoords;
    std::vector<std::uint32_t> indices;
    // At least 100 bytes of OBJ text per vertex.
    const auto vertices = static_cast<std::uint32_t>(3 * WriteBehind::bufferSize / 100);
    for (std::uint32_t k = 0; k < vertices; ++k) {
        const float f = static_cast<float>(k);
        positions.insert(positions.end(), {f, f / 7, -f});
        normals.insert(normals.end(), {0, 1, 0});
        texCoords.insert(texCoords.end(), {f / static_cast<float>(vertices), 0.5f});
        indices.insert(indices.end(), {k % 65536, (k + 1) % 65536, (k + 2) % 65536});
    }
    return encodeModel(makeModel({makeMesh(
        identityTransform, {makeSection("big", positions, normals, texCoords, indices)})}));
}
#endif

class OutputFault : public ::testing::Test {
  protected:
    void clear() {
        for (const auto& entry : fs::directory_iterator(dir))
            fs::remove_all(entry.path());
    }
    void put(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
    }

    ScratchDir scratch;
    const fs::path dir = scratch.path;
    const Bytes sample = encodeModel(sampleModel());
};

#ifndef _WIN32
// Past RLIMIT_FSIZE a write fails as on a full disk (the kernel's SIGXFSZ
// must not kill the tool halfway, leaving its temporaries).
TEST_F(OutputFault, FileSizeLimit) {
    const Bytes large = largeModel();
    const auto [sampleObj, sampleMtl] = converted(sample, "out.mtl");
    const auto [largeObj, largeMtl] = converted(large, "out.mtl");
    ASSERT_LT(sampleMtl.size(), sampleObj.size());
    const std::uint64_t buffer = WriteBehind::bufferSize;
    ASSERT_GT(largeObj.size(), 2 * buffer);
    struct Case {
        const Bytes& input;
        std::uint64_t limit;
        bool fits;
    } cases[] = {
        {sample, 0, false},
        {sample, 1, false},
        {sample, sampleMtl.size() - 1, false},
        {sample, sampleMtl.size(), false},
        {sample, sampleObj.size() - 1, false},
        {sample, sampleObj.size(), true},
        {large, buffer, false},
        {large, buffer + 1, false},
        {large, 2 * buffer + 1, false},
        {large, largeObj.size() - 1, false},
        {large, largeObj.size(), true},
    };
    for (const Case& c : cases) {
        clear();
        put("model.mod", text(c.input));
        put("out.obj", "old obj");
        put("out.mtl", "old mtl");
        const Files before = filesIn(dir);
        const Outcome result = run(dir, {"model.mod", "out.obj"}, c.limit);
        const std::string what =
            "limit " + std::to_string(c.limit) + " on " + std::to_string(c.input.size());
        if (!c.fits) {
            EXPECT_EQ(result.out, kUnwritable) << what;
            EXPECT_EQ(result.status, 1) << what;
            EXPECT_EQ(filesIn(dir), before) << what;
            continue;
        }
        const auto& [obj, mtl] =
            &c.input == &sample ? std::pair(sampleObj, sampleMtl) : std::pair(largeObj, largeMtl);
        EXPECT_EQ(result.out, "") << what;
        EXPECT_EQ(result.status, 0) << what;
        const Files expected = {{"model.mod", text(c.input)}, {"out.mtl", mtl}, {"out.obj", obj}};
        EXPECT_EQ(filesIn(dir), expected) << what;
    }
}

// /dev/full takes the open and refuses every write.
TEST_F(OutputFault, FullDevice) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    struct Case {
        std::string output;
        Files before; // besides model.mod
    } cases[] = {
        {"out.obj", {{"out.obj", "-> /dev/full"}, {"out.mtl", "old mtl"}}},
        {"out.obj", {{"out.obj", "old obj"}, {"out.mtl", "-> /dev/full"}}},
        {"out.obj", {{"out.obj", "-> /dev/full"}, {"out.mtl", "-> /dev/full"}}},
        // The library goes beside it, into /dev, and must not stay there.
        {"/dev/full", {{"out.obj", "old obj"}}},
    };
    for (const Case& c : cases) {
        clear();
        put("model.mod", text(sample));
        for (const auto& [name, bytes] : c.before) {
            if (bytes == "-> /dev/full")
                fs::create_symlink("/dev/full", dir / name);
            else
                put(name, bytes);
        }
        const Files before = filesIn(dir);
        const Outcome result = run(dir, {"model.mod", c.output});
        EXPECT_EQ(result.out, kUnwritable) << c.output;
        EXPECT_EQ(result.status, 1) << c.output;
        EXPECT_EQ(filesIn(dir), before) << c.output;
    }
    for (const auto& entry : fs::directory_iterator("/dev"))
        EXPECT_EQ(entry.path().filename().string().rfind(".full.mtl.", 0), std::string::npos)
            << entry.path();
    EXPECT_FALSE(fs::exists(fs::symlink_status("/dev/full.mtl")));
}
#endif

// The input is read whole and closed before any output is made, so it may be
// named as the output or as its library; when the writing fails, the input is
// still there as it was.
TEST_F(OutputFault, InputNamedAsItsOwnOutput) {
    const auto [obj, mtl] = converted(sample, "model.mtl");
    const auto [libraryObj, libraryMtl] = converted(sample, "x.mtl");
    const std::string model = text(sample);
    struct Case {
        std::vector<std::string> args;
        Files before;
        std::uint64_t limit; // 0: none
        std::string out;
        Files after;
    } cases[] = {
        {{"model.dat", "model.dat"},
         {{"model.dat", model}, {"model.mtl", "/"}},
         0,
         kUnwritable,
         {{"model.dat", model}, {"model.mtl", "/"}}},
        {{"x.mtl", "x.obj"},
         {{"x.mtl", model}},
         0,
         "",
         {{"x.mtl", libraryMtl}, {"x.obj", libraryObj}}},
        {{"x.mtl", "x.obj"},
         {{"x.mtl", model}, {"x.obj", "/"}},
         0,
         kUnwritable,
         {{"x.mtl", model}, {"x.obj", "/"}}},
#ifndef _WIN32
        {{"model.dat", "model.dat"},
         {{"model.dat", model}},
         100,
         kUnwritable,
         {{"model.dat", model}}},
        {{"model.dat", "./model.dat"},
         {{"model.dat", model}},
         obj.size() - 1,
         kUnwritable,
         {{"model.dat", model}}},
        {{"model.dat", "./model.dat"},
         {{"model.dat", model}},
         obj.size(),
         "",
         {{"model.dat", obj}, {"model.mtl", mtl}}},
        {{"x.mtl", "x.obj"},
         {{"x.mtl", model}},
         libraryMtl.size(),
         kUnwritable,
         {{"x.mtl", model}}},
        // A model file rewritten onto itself: whole or not at all.
        {{"model.mod", "model.mod"},
         {{"model.mod", model}},
         model.size() - 1,
         kUnwritable,
         {{"model.mod", model}}},
        {{"model.mod", "model.mod"},
         {{"model.mod", model}},
         model.size(),
         "",
         {{"model.mod", model}}},
#endif
    };
    for (const Case& c : cases) {
        clear();
        for (const auto& [name, bytes] : c.before) {
            if (bytes == "/")
                fs::create_directory(dir / name);
            else
                put(name, bytes);
        }
        std::string what;
        for (const std::string& arg : c.args)
            what += arg + " ";
        what += "limit " + std::to_string(c.limit);
#ifndef _WIN32
        const Outcome result = c.limit ? run(dir, c.args, c.limit) : run(dir, c.args);
#else
        const Outcome result = run(dir, c.args);
#endif
        EXPECT_EQ(result.out, c.out) << what;
        EXPECT_EQ(result.status, c.out.empty() ? 0 : 1) << what;
        EXPECT_EQ(filesIn(dir), c.after) << what;
    }
}

} // namespace
} // namespace ulv
