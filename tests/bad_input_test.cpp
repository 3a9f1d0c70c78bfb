// Hostile and broken model files run through the built tool: each must give
// its one message and status, leave the old output files exactly as they
// were, and leave nothing else behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "mod/reader.h"
#include "obj/writer.h"
#include "tests/support/model_builder.h"
#include "tests/support/process.h"
#include "tests/support/truncation.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

const Transform kMoved{{0, 1, 0, 1, 0, 0, 0, 0, 1, 10, 20, 30}};

// A section of one vertex and one triangle: the smallest that has every array.
MeshSection point(std::string_view material, float x) {
    return makeSection(material, {x, 0, 0}, {0, 0, 1}, {0.5f, 0.25f}, {0, 0, 0});
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes fileHeader(std::uint32_t numMeshes) {
    Model model = makeModel({});
    model.numMeshes = numMeshes;
    Bytes out;
    appendFileHeader(out, model);
    return out;
}

Bytes meshHeader(std::uint32_t sectionCount) {
    Mesh mesh = makeMesh(kMoved, {});
    mesh.sectionCount = sectionCount;
    Bytes out;
    appendMeshHeader(out, mesh);
    return out;
}

Bytes section(const MeshSection& s) {
    Bytes out;
    appendSection(out, s);
    return out;
}

class BadInput : public ::testing::Test {
  protected:
    // Fresh folder holding the input and an old OBJ and MTL at the output.
    void reset(const Bytes& input) {
        for (const auto& entry : fs::directory_iterator(dir))
            fs::remove_all(entry.path());
        spit(dir / "in.mod", input);
        std::ofstream(dir / "out.obj") << "old obj";
        std::ofstream(dir / "out.mtl") << "old mtl";
    }

    void expectRejected(const Bytes& input, const std::string& message, const std::string& what) {
        reset(input);
        const Outcome result = run(dir, {"in.mod", "out.obj"});
        EXPECT_EQ(result.out, withLineEnds("Exception thrown: " + message + "\n")) << what;
        EXPECT_EQ(result.status, 1) << what;
        const std::map<std::string, std::string> expected = {
            {"in.mod", std::string(input.begin(), input.end())},
            {"out.mtl", "old mtl"},
            {"out.obj", "old obj"}};
        EXPECT_EQ(filesIn(dir), expected) << what;
    }

    void expectConverted(const Bytes& input, const std::string& what) {
        std::ostringstream obj, mtl;
        writeObj(readModel(input.data(), input.size()), obj, mtl, "out.mtl");
        reset(input);
        const Outcome result = run(dir, {"in.mod", "out.obj"});
        EXPECT_EQ(result.out, "") << what;
        EXPECT_EQ(result.status, 0) << what;
        const std::map<std::string, std::string> expected = {
            {"in.mod", std::string(input.begin(), input.end())},
            {"out.mtl", mtl.str()},
            {"out.obj", obj.str()}};
        EXPECT_EQ(filesIn(dir), expected) << what;
    }

    ScratchDir scratch;
    const fs::path dir = scratch.path;
};

// Cut anywhere, a valid file of two meshes (the first with two sections, a
// version 1.9 header) gives the message of what was cut: a missing tag when
// the cut falls before a block's tag is complete, the end of file inside a
// header or an array.
TEST_F(BadInput, EveryPrefixOfATwoMeshModel) {
    const Model model = makeModel({makeMesh(identityTransform, {point("a", 1), point("b", 2)}),
                                   makeMesh(kMoved, {point("a", 3)})},
                                  9, 1);
    Bytes header;
    appendFileHeader(header, model);
    ASSERT_EQ(header.size(), 48u); // with the version 1.9 extension
    const Prefixes prefixes = prefixesOf(model);
    const Bytes& bytes = prefixes.bytes;
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        const Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
        expectRejected(prefix, prefixes.messages[length],
                       "prefix of " + std::to_string(length) + " bytes");
    }
    expectConverted(bytes, "whole file");
}

// Counts of 0xFFFFFFFF in a file of a few hundred bytes end the read at once
// with the message of what is missing; they never become allocations.
TEST_F(BadInput, HugeCounts) {
    MeshSection hugeVertices = point("a", 1);
    hugeVertices.vertexCount = 0xFFFFFFFF;
    MeshSection hugeTriangles = point("a", 1);
    hugeTriangles.triangleCount = 0xFFFFFFFF;
    MeshSection hugeBoth = point("a", 1);
    hugeBoth.vertexCount = 0xFFFFFFFF;
    hugeBoth.triangleCount = 0xFFFFFFFF;
    const Bytes good = section(point("a", 1));
    Bytes manyEmptyMeshes = fileHeader(0xFFFFFFFF);
    for (int m = 0; m < 100; ++m)
        manyEmptyMeshes = manyEmptyMeshes + meshHeader(0);
    const std::pair<Bytes, const std::string&> rejected[] = {
        {fileHeader(0xFFFFFFFF) + meshHeader(1) + good, kNoMesh},
        {manyEmptyMeshes, kNoMesh},
        {fileHeader(1) + meshHeader(0xFFFFFFFF) + good, kNoSection},
        {fileHeader(1) + meshHeader(1) + section(hugeVertices), kTruncated},
        {fileHeader(1) + meshHeader(1) + section(hugeTriangles), kTruncated},
        {fileHeader(1) + meshHeader(1) + section(hugeBoth), kTruncated},
        {fileHeader(1) + meshHeader(2) + good + section(hugeVertices), kTruncated},
        {fileHeader(0xFFFFFFFF) + meshHeader(0xFFFFFFFF) + section(hugeBoth), kTruncated},
    };
    int index = 0;
    for (const auto& [bytes, message] : rejected)
        expectRejected(bytes, message, "case " + std::to_string(index++));

    // The counts nothing interprets may hold anything.
    MeshSection odd = point("a", 1);
    odd.faceCount = 0xFFFFFFFF;
    odd.lodCount = 0xFFFFFFFF;
    Model model = makeModel({makeMesh(identityTransform, {odd})});
    model.size = 0xFFFFFFFF;
    expectConverted(encodeModel(model), "uninterpreted counts");
}

TEST_F(BadInput, TagsStraddlingTheEnd) {
    const Bytes oneMesh = fileHeader(1) + meshHeader(1);
    const Bytes complete = fileHeader(2) + meshHeader(1) + section(point("a", 1));
    const std::pair<Bytes, const std::string&> cases[] = {
        {fileHeader(1) + bytesOf("H"), kNoMesh},
        {fileHeader(1) + bytesOf("HS"), kNoMesh},
        {fileHeader(1) + bytesOf("HSE"), kNoMesh},
        {fileHeader(1) + bytesOf("HSExM"), kNoMesh},
        {fileHeader(1) + bytesOf("HSEM"), kTruncated},
        {oneMesh + bytesOf("P"), kNoSection},
        {oneMesh + bytesOf("PR"), kNoSection},
        {oneMesh + bytesOf("PRG"), kNoSection},
        {oneMesh + bytesOf("PRGM"), kTruncated},
        // The next block's tag cut short right after a complete one.
        {complete + bytesOf("HSE"), kNoMesh},
        {complete + bytesOf("HSEM"), kTruncated},
    };
    int index = 0;
    for (const auto& [bytes, message] : cases)
        expectRejected(bytes, message, "case " + std::to_string(index++));
}

// Random bytes, and random bytes around real tags and small counts: the tool,
// reading from a file, must agree with the reader working in memory, and
// convert or reject accordingly.
TEST_F(BadInput, RandomBytes) {
    std::mt19937 random(20240607);
    auto below = [&](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
    auto byte = [&] { return static_cast<std::uint8_t>(random()); };
    for (int round = 0; round < 60; ++round) {
        Bytes bytes;
        if (round < 20) {
            bytes.resize(below(400));
            for (std::uint8_t& b : bytes)
                b = byte();
        } else {
            bytes = fileHeader(1 + below(3));
            bytes[4] = round % 2 ? 9 : 0; // half of them with the 1.9 extension
            bytes[5] = round % 2 ? 1 : 2;
            if (round % 2)
                bytes.resize(48, 0);
            const std::uint32_t pieces = 1 + below(12);
            for (std::uint32_t p = 0; p < pieces; ++p) {
                switch (below(4)) {
                case 0:
                    bytes = bytes + meshHeader(below(3));
                    break;
                case 1: {
                    MeshSection s = point("m", 1);
                    s.vertexCount = below(4);
                    s.triangleCount = below(4);
                    bytes = bytes + section(s);
                    break;
                }
                default:
                    for (std::uint32_t n = below(40); n > 0; --n)
                        bytes.push_back(byte());
                }
            }
        }
        const std::string what = "round " + std::to_string(round);
        try {
            (void)readModel(bytes.data(), bytes.size());
        } catch (const TextError& e) {
            expectRejected(bytes, e.what(), what);
            continue;
        }
        expectConverted(bytes, what);
    }
}

#ifndef _WIN32
// Inputs that are not regular files: a pipe has no length to check counts
// against, /dev/zero never ends.
class SpecialInput : public BadInput {
  protected:
    // Runs the tool on a named pipe that a child process fills with `bytes`.
    Outcome runOnPipe(const Bytes& bytes, const std::string& output = "out.obj") {
        const fs::path pipe = dir / "pipe.mod";
        if (::mkfifo(pipe.c_str(), 0600) != 0)
            return {};
        const pid_t writer = ::fork();
        if (writer == 0) {
            const int fd = ::open(pipe.c_str(), O_WRONLY);
            for (std::size_t done = 0; fd >= 0 && done < bytes.size();) {
                const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n <= 0)
                    break;
                done += static_cast<std::size_t>(n);
            }
            ::_exit(0);
        }
        const Outcome result = run(dir, {"pipe.mod", output});
        // A writer still waiting for a reader would wait for ever.
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        fs::remove(pipe);
        return result;
    }
};

TEST_F(SpecialInput, Pipes) {
    MeshSection hugeVertices = point("a", 1);
    hugeVertices.vertexCount = 0xFFFFFFFF;
    MeshSection hugeTriangles = point("a", 1);
    hugeTriangles.triangleCount = 0xFFFFFFFF;
    const std::pair<Bytes, const std::string&> rejected[] = {
        {{}, kTruncated},
        {fileHeader(1) + meshHeader(1) + section(hugeVertices), kTruncated},
        {fileHeader(1) + meshHeader(1) + section(hugeTriangles), kTruncated},
        {fileHeader(1) + meshHeader(0xFFFFFFFF) + section(point("a", 1)), kNoSection},
        {fileHeader(1) + bytesOf("HSE"), kNoMesh},
    };
    int index = 0;
    for (const auto& [bytes, message] : rejected) {
        reset({});
        const Outcome result = runOnPipe(bytes);
        const std::string what = "case " + std::to_string(index++);
        EXPECT_EQ(result.out, withLineEnds("Exception thrown: " + message + "\n")) << what;
        EXPECT_EQ(result.status, 1) << what;
        const std::map<std::string, std::string> expected = {
            {"in.mod", ""}, {"out.mtl", "old mtl"}, {"out.obj", "old obj"}};
        EXPECT_EQ(filesIn(dir), expected) << what;
    }

    const Bytes good =
        encodeModel(makeModel({makeMesh(identityTransform, {point("a", 1), point("b", 2)}),
                               makeMesh(kMoved, {point("a", 3)})}));
    std::ostringstream obj, mtl;
    writeObj(readModel(good.data(), good.size()), obj, mtl, "out.mtl");
    reset({});
    const Outcome result = runOnPipe(good);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.status, 0);
    const std::map<std::string, std::string> expected = {
        {"in.mod", ""}, {"out.mtl", mtl.str()}, {"out.obj", obj.str()}};
    EXPECT_EQ(filesIn(dir), expected);
}

// glTF reads a file twice; a pipe, read once, gives the same file.
TEST_F(SpecialInput, PipeToGltf) {
    const Bytes good =
        encodeModel(makeModel({makeMesh(identityTransform, {point("a", 1), point("b", 2)}),
                               makeMesh(kMoved, {point("a", 3)})}));
    reset({});
    {
        std::ofstream file(dir / "file.mod", std::ios::binary);
        file.write(reinterpret_cast<const char*>(good.data()),
                   static_cast<std::streamsize>(good.size()));
    }
    const Outcome fromFile = run(dir, {"file.mod", "file.glb"});
    const Outcome fromPipe = runOnPipe(good, "pipe.glb");
    EXPECT_EQ(fromFile.status, 0);
    EXPECT_EQ(fromPipe.status, 0);
    EXPECT_EQ(fromPipe.out, fromFile.out);
    const std::map<std::string, std::string> files = filesIn(dir);
    ASSERT_TRUE(files.count("file.glb") && files.count("pipe.glb"));
    EXPECT_FALSE(files.at("file.glb").empty());
    EXPECT_TRUE(files.at("pipe.glb") == files.at("file.glb"));
}

TEST_F(SpecialInput, EndlessZeros) {
    // Zeros read as a version 0.0 header of no meshes: an empty model.
    std::ostringstream obj, mtl;
    writeObj(makeModel({}), obj, mtl, "out.mtl");
    reset({});
    const Outcome result = run(dir, {"/dev/zero", "out.obj"});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.status, 0);
    const std::map<std::string, std::string> expected = {
        {"in.mod", ""}, {"out.mtl", mtl.str()}, {"out.obj", obj.str()}};
    EXPECT_EQ(filesIn(dir), expected);
}
#endif

} // namespace
} // namespace ulv
