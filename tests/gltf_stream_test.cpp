// glTF from a model file read twice instead of held: sections examined as
// they are read, arrays read again in pieces when written. The output must
// be the one the model in memory gives, and a file that changes between the
// two reads must fail instead of giving a file whose data and JSON disagree.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <sstream>
#include <string>

#if defined(__linux__) && defined(__x86_64__)
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <system_error>
#include <thread>
#endif

#include "convert/read_twice.h"
#include "gltf/writer.h"
#include "mod/reader.h"
#include "tests/support/gltf_files.h"
#include "tests/support/model_builder.h"
#include "tests/support/sample_model.h"

namespace ulv {
namespace {

struct Written {
    GltfResult glbResult = GltfResult::failed, gltfResult = GltfResult::failed;
    std::string glb, json, bin;
    Notes glbNotes, gltfNotes;
};

std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Written fromMemory(const Model& model, const TextureSet& textures) {
    Written w;
    std::ostringstream glb, json, bin;
    w.glbResult = writeGlb(model, textures, glb, w.glbNotes);
    w.gltfResult = writeGltf(model, textures, json, bin, "m.bin", w.gltfNotes);
    w.glb = glb.str();
    w.json = json.str();
    w.bin = bin.str();
    return w;
}

// Skims `bytes` after `prefix` bytes of something else, then writes both
// forms, reading the arrays again from `again` (the same bytes unless given).
Written fromFile(const Bytes& bytes, const TextureSet& textures, std::size_t prefix = 0,
                 const Bytes* again = nullptr) {
    const std::string lead(prefix, '\x5A');
    std::istringstream stream(lead + textOf(bytes));
    stream.seekg(static_cast<std::streamoff>(prefix));
    const SkimmedModel skimmed = skimModel(stream, nullptr);
    std::istringstream second(lead + textOf(again ? *again : bytes));
    std::istream& source = again ? second : stream;
    Written w;
    std::ostringstream glb, json, bin;
    w.glbResult =
        writeGlb(skimmed, source, static_cast<std::streamoff>(prefix), textures, glb, w.glbNotes);
    w.gltfResult = writeGltf(skimmed, source, static_cast<std::streamoff>(prefix), textures, json,
                             bin, "m.bin", w.gltfNotes);
    w.glb = glb.str();
    w.json = json.str();
    w.bin = bin.str();
    return w;
}

// One section larger than the pieces it is read again in, with corners past
// its vertices spread through it, non-finite numbers, and -0 and +0 as
// bounds, which must not depend on the order the pieces meet them in.
Model largeSection() {
    const std::uint32_t vertices = 70003;
    std::vector<float> positions, normals, texCoords;
    std::vector<std::uint32_t> indices;
    for (std::uint32_t k = 0; k < vertices; ++k) {
        const float x = k % 3 == 0 ? -0.0f : k % 3 == 1 ? 0.0f : float(k % 977) * 0.25f;
        positions.insert(positions.end(), {x, -float(k % 1013), k == 40000 ? NAN : 1.5f});
        normals.insert(normals.end(), {float(k % 7) - 3, 1, float(k % 5)});
        texCoords.insert(texCoords.end(), {float(k) / vertices, k == 50000 ? INFINITY : 0.5f});
    }
    for (std::uint32_t t = 0; t < 70000; ++t) {
        const std::uint32_t corner = t % 9000 == 0 ? 70001 + t % 100 : t;
        indices.insert(indices.end(), {t, corner % 65536, (t + 2) % vertices % 65536});
    }
    const Transform turned{{0, 2, 0, -2, 0, 0, 0, 0, -1, 5, 6, 7}};
    return makeModel(
        {makeMesh(turned, {makeSection("big", positions, normals, texCoords, indices)})});
}

// Bounds that meet -0 and +0 in an order that depends on how the vertices
// are shared out: the -0 survives only a translation of -0 with every other
// term -0 as well.
Model signedZeros() {
    const std::uint32_t vertices = 70002;
    std::vector<float> positions, normals, texCoords;
    for (std::uint32_t k = 0; k < vertices; ++k) {
        const float x = k < vertices / 2 ? 1.0f : k % 4 == 0 ? -0.0f : 0.0f;
        positions.insert(positions.end(), {x, -1, -1.0f - float(k % 3)});
        normals.insert(normals.end(), {0, 0, 1});
        texCoords.insert(texCoords.end(), {0, 0});
    }
    const Transform minusZero{{1, 0, 0, 0, 1, 0, 0, 0, 1, -0.0f, -0.0f, -0.0f}};
    return makeModel({makeMesh(minusZero, {makeSection("", positions, normals, texCoords,
                                                       {0, 1, 2, 35001, 35002, 35003})})});
}

// Sections large enough to be examined on a second thread between small
// ones examined at once, over several meshes.
Model largeAndSmall() {
    std::vector<Mesh> meshes;
    for (std::uint32_t m = 0; m < 3; ++m) {
        std::vector<MeshSection> sections;
        for (std::uint32_t k = 0; k < 4; ++k) {
            const std::uint32_t vertices = k % 2 ? 3 : 9000 + 1000 * m + k;
            std::vector<float> positions, normals, texCoords;
            for (std::uint32_t v = 0; v < vertices; ++v) {
                positions.insert(positions.end(), {float(v), float(m), -float(k)});
                normals.insert(normals.end(), {float(k), 1, float(v % 3)});
                texCoords.insert(texCoords.end(), {0.25f, float(v % 2)});
            }
            sections.push_back(makeSection(k % 2 ? "small" : "large", positions, normals, texCoords,
                                           {0, 1, 2, 2, 1, 0}));
        }
        meshes.push_back(
            makeMesh({{1, 0, 0, 0, float(m + 1), 0, 0, 0, 1, float(m), 0, 0}}, sections));
    }
    return makeModel(meshes);
}

TEST(GltfFromFile, SameBytesAsTheModelInMemory) {
    struct Case {
        std::string name;
        Model model;
        std::size_t prefix = 0;
    };
    std::vector<Case> cases;
    for (HostileModel& hostile : hostileModels())
        cases.push_back({hostile.name, std::move(hostile.model)});
    cases.push_back({"sample", sampleModel()});
    cases.push_back({"sample after other bytes", sampleModel(), 13});
    cases.push_back({"large section", largeSection()});
    cases.push_back({"signed zeros", signedZeros()});
    cases.push_back({"large and small sections in turn", largeAndSmall()});

    TextureSet textures;
    // Seven bytes: the image is padded in the buffer.
    textures.images.push_back({1, 1, {0x89, 'P', 'N', 'G', 1, 2, 3}});
    textures.imageOf["wood"] = 0;
    textures.imageOf["big"] = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = encodeModel(c.model);
        const Written expected = fromMemory(readModel(bytes.data(), bytes.size()), textures);
        ASSERT_EQ(expected.glbResult, GltfResult::ok);
        const Written got = fromFile(bytes, textures, c.prefix);
        EXPECT_EQ(got.glbResult, GltfResult::ok);
        EXPECT_EQ(got.gltfResult, GltfResult::ok);
        EXPECT_TRUE(got.glb == expected.glb) << "the .glb differs";
        EXPECT_EQ(got.json, expected.json);
        EXPECT_TRUE(got.bin == expected.bin) << "the .bin differs";
        EXPECT_EQ(got.glbNotes, expected.glbNotes);
        EXPECT_EQ(got.gltfNotes, expected.gltfNotes);
    }
}

TEST(GltfFromFile, MalformedFileFailsAsTheReaderDoes) {
    Bytes bytes = encodeModel(sampleModel());
    bytes.resize(bytes.size() - 5);
    std::istringstream stream(textOf(bytes));
    try {
        skimModel(stream, nullptr);
        ADD_FAILURE() << "no error";
    } catch (const TextError& e) {
        EXPECT_STREQ(e.what(), "Not a valid model file! Unexpected end of file!");
    }
}

// The file changes between the two reads in a way the JSON already written
// from the first read cannot describe.
TEST(GltfFromFile, FileChangedBetweenReadsFails) {
    const Model model = makeModel(
        {makeMesh(identityTransform, {makeSection("", {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0},
                                                  {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1},
                                                  {0, 0, 1, 0, 0, 1, 1, 1}, {0, 1, 2, 2, 1, 3})})});
    const Bytes bytes = encodeModel(model);
    // Where the arrays start: after the 24-byte file header, the 80-byte
    // mesh header and the 60-byte section header.
    const std::size_t positions = 24 + 80 + 60, normals = positions + 48,
                      indices = positions + 4 * 32;
    const auto setFloat = [](Bytes& b, std::size_t at, float v) { std::memcpy(&b[at], &v, 4); };
    const struct {
        const char* name;
        std::function<void(Bytes&)> change;
    } cases[] = {
        {"a bound moved", [&](Bytes& b) { setFloat(b, positions + 12, 2); }},
        {"a normal without direction",
         [&](Bytes& b) {
             for (int i = 0; i < 3; ++i)
                 setFloat(b, normals + 4 * static_cast<std::size_t>(i), 0);
         }},
        {"a corner past the vertices", [&](Bytes& b) { b[indices + 2] = 9; }},
        {"a corner back among the vertices", [&](Bytes& b) { b[indices + 8] = 2; }},
        {"shorter", [&](Bytes& b) { b.resize(indices + 4); }},
    };
    // The second triangle starts with a corner past the vertices, so that
    // one case can bring it back.
    Bytes original = bytes;
    original[indices + 8] = 7;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes changed = original;
        c.change(changed);
        const Written got = fromFile(original, {}, 0, &changed);
        EXPECT_EQ(got.glbResult, GltfResult::failed);
        EXPECT_EQ(got.gltfResult, GltfResult::failed);
    }
    // Unchanged, the same route succeeds.
    EXPECT_EQ(fromFile(original, {}, 0, &original).glbResult, GltfResult::ok);
}

// Normals moved two at a time must come out as those moved one at a time.
TEST(GltfFromFile, NormalsDoNotDependOnTheirNeighbours) {
    const Transform skewed{{0.3f, 1.7f, -0.2f, -2.5f, 0.1f, 0.9f, 0.4f, -0.6f, 3.1f, 0, 0, 0}};
    const std::vector<float> normals = {0.1f, 0.2f,   0.97f,  -1, 0,      0,      3,      -4,
                                        12,   1e-20f, 1e-20f, 1,  0.577f, 0.577f, -0.577f};
    std::vector<MeshSection> singles;
    for (std::size_t k = 0; k < 5; ++k)
        singles.push_back(makeSection("", {0, 0, 0},
                                      {normals[3 * k], normals[3 * k + 1], normals[3 * k + 2]},
                                      {0, 0}, {0, 0, 0}));
    const Written together = fromMemory(
        makeModel({makeMesh(skewed, {makeSection("", std::vector<float>(15, 0), normals,
                                                 std::vector<float>(10, 0), {0, 1, 2})})}),
        {});
    const Written apart = fromMemory(makeModel({makeMesh(skewed, singles)}), {});
    // Normals follow the 5 positions of 12 bytes; one at a time, each
    // section's follows all positions.
    EXPECT_EQ(together.bin.substr(60, 60), apart.bin.substr(60, 60));
}

#if defined(__linux__) && defined(__x86_64__)
// Makes every later thread creation in this process fail, as when a process
// has used up its threads: clone3 is refused as unknown, so the C library
// falls back to clone, which is refused for want of resources.
bool refuseThreads() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone3, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAGAIN),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Without a thread to be had, the work is done on the calling thread with
// the same result: the model is large enough for every helper thread.
TEST(GltfFromFile, NoThreadToBeHad) {
    const Bytes bytes = encodeModel(largeSection());
    const Written expected = fromFile(bytes, {});
    ASSERT_EQ(expected.glbResult, GltfResult::ok);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!refuseThreads())
            ::_exit(3);
        try {
            std::thread([] {}).join();
            ::_exit(4); // threads were still to be had
        } catch (const std::system_error&) {
        }
        const Written got = fromFile(bytes, {});
        const Written inMemory = fromMemory(readModel(bytes.data(), bytes.size()), {});
        const bool same = got.glbResult == GltfResult::ok && got.glb == expected.glb &&
                          got.bin == expected.bin && inMemory.glb == expected.glb;
        ::_exit(same ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: no filter, 4: threads still started, 1: other bytes";
}
#endif

} // namespace
} // namespace ulv
