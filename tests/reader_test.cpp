#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "mod/input.h"
#include "mod/reader.h"
#include "mod/section_hook.h"
#include "model/transform.h"
#include "tests/support/model_builder.h"
#include "tests/support/sample_model.h"
#include "tests/support/truncation.h"

namespace ulv {
namespace {

MeshSection triangle(std::string_view material, float offset = 0) {
    return makeSection(material, {offset, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 1, 0, 0, 1, 0, 0, 1},
                       {0, 0, 1, 0, 0, 1}, {0, 1, 2});
}

const Transform kMoved{{0, 1, 0, 1, 0, 0, 0, 0, 1, 10, 20, 30}};

// A stream that cannot seek, as a pipe: its length is unknown to the reader.
class PipeBuf : public std::streambuf {
  public:
    explicit PipeBuf(const Bytes& bytes) {
        char* begin = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
        setg(begin, begin, begin + bytes.size());
    }
};

// Small chunks make every tag and array of these small models cross the
// boundary between two chunks read from a stream.
constexpr std::size_t kSmallChunk = 64;

// Reads the same bytes from memory, from a seekable stream and from a pipe,
// the streams also in small chunks; all must agree.
Model readAll(const Bytes& bytes) {
    Model fromMemory = readModel(bytes.data(), bytes.size());
    std::istringstream stream(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(encodeModel(readModel(stream)), encodeModel(fromMemory));
    PipeBuf pipe(bytes);
    std::istream pipeStream(&pipe);
    EXPECT_EQ(encodeModel(readModel(pipeStream)), encodeModel(fromMemory));
    std::istringstream again(std::string(bytes.begin(), bytes.end()));
    InputBuffer small(again, kSmallChunk);
    EXPECT_EQ(encodeModel(readModel(small, nullptr)), encodeModel(fromMemory));
    PipeBuf pipeAgain(bytes);
    std::istream pipeAgainStream(&pipeAgain);
    InputBuffer smallPipe(pipeAgainStream, kSmallChunk);
    EXPECT_EQ(encodeModel(readModel(smallPipe, nullptr)), encodeModel(fromMemory));
    return fromMemory;
}

// The message each of the readers throws; they must agree.
std::string errorOf(const Bytes& bytes) {
    auto messageOf = [](auto&& read) -> std::string {
        try {
            read();
        } catch (const TextError& e) {
            return e.what();
        }
        return "no error";
    };
    const std::string fromMemory = messageOf([&] { readModel(bytes.data(), bytes.size()); });
    std::istringstream stream(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(messageOf([&] { readModel(stream); }), fromMemory);
    PipeBuf pipe(bytes);
    std::istream pipeStream(&pipe);
    EXPECT_EQ(messageOf([&] { readModel(pipeStream); }), fromMemory);
    std::istringstream again(std::string(bytes.begin(), bytes.end()));
    InputBuffer small(again, kSmallChunk);
    EXPECT_EQ(messageOf([&] { readModel(small, nullptr); }), fromMemory);
    PipeBuf pipeAgain(bytes);
    std::istream pipeAgainStream(&pipeAgain);
    InputBuffer smallPipe(pipeAgainStream, kSmallChunk);
    EXPECT_EQ(messageOf([&] { readModel(smallPipe, nullptr); }), fromMemory);
    return fromMemory;
}

Bytes header(std::uint32_t numMeshes, std::uint8_t minor = 0, std::uint8_t major = 2) {
    Model model = makeModel({}, minor, major);
    model.numMeshes = numMeshes;
    Bytes out;
    appendFileHeader(out, model);
    out.resize(24); // without the version extension
    return out;
}

void appendJunk(Bytes& out, std::size_t count, std::uint8_t value = 0xAB) {
    out.insert(out.end(), count, value);
}

TEST(Reader, SampleModelRoundTrips) {
    const Model sample = sampleModel();
    const Bytes bytes = encodeModel(sample);
    const Model read = readAll(bytes);
    EXPECT_EQ(encodeModel(read), bytes);
    ASSERT_EQ(read.meshes.size(), 2u);
    EXPECT_EQ(read.meshes[1].transform.m, sample.meshes[1].transform.m);
    EXPECT_EQ(read.meshes[1].sections[1].positions, sample.meshes[1].sections[1].positions);
    EXPECT_EQ(read.meshes[1].sections[1].indices, sample.meshes[1].sections[1].indices);
}

TEST(Reader, KeepsEveryField) {
    Model model = makeModel({makeMesh(kMoved, {triangle("wood")})}, 9, 1);
    model.tag = {'a', 'b', 'c', 'd'};
    model.opaqueShort = 0xBEEF;
    model.size = 77;
    model.opaqueWords = {1, 2};
    model.versionExtension = {3, 4, 5, 6, 7, 8};
    model.meshes[0].opaqueWords = {9, 10, 11, 12, 13, 14};
    MeshSection& section = model.meshes[0].sections[0];
    section.opaqueWord1 = 15;
    section.faceCount = 16;
    section.lodCount = 17;
    section.opaqueWord2 = 18;
    section.indices = {65535, 256, 1};
    const Model read = readAll(encodeModel(model));
    EXPECT_EQ(read.tag, model.tag);
    EXPECT_EQ(read.opaqueShort, 0xBEEF);
    EXPECT_EQ(read.size, 77u);
    EXPECT_EQ(read.versionExtension, model.versionExtension);
    EXPECT_EQ(read.meshes[0].opaqueWords, model.meshes[0].opaqueWords);
    EXPECT_EQ(read.meshes[0].sections[0].opaqueWord2, 18u);
    // 16-bit numbers widen without sign extension; the fourth is dropped.
    EXPECT_EQ(read.meshes[0].sections[0].indices, (std::vector<std::uint32_t>{65535, 256, 1}));
    EXPECT_EQ(encodeModel(read), encodeModel(model));
}

TEST(Reader, MaterialNames) {
    struct Case {
        std::string stored;
        std::string name;
    } cases[] = {
        {"wood", "wood"},
        {std::string(32, 'x'), std::string(32, 'x')},
        {std::string("\0wood", 5), ""},
        {std::string("ab\0cd", 5), "ab"},
        {"with space", "with space"},
    };
    for (const Case& c : cases) {
        const Model read =
            readAll(encodeModel(makeModel({makeMesh(kMoved, {triangle(c.stored)})})));
        EXPECT_EQ(materialNameOf(read.meshes[0].sections[0]), c.name);
    }
}

TEST(Reader, NoMeshesReadsOnlyTheHeader) {
    // Junk and even a mesh block after the header are left alone.
    Bytes bytes = header(0);
    appendMeshHeader(bytes, makeMesh(kMoved, {}));
    EXPECT_TRUE(readAll(bytes).meshes.empty());
    EXPECT_TRUE(readAll(header(0)).meshes.empty());
}

TEST(Reader, DataBeforeAndBetweenBlocksIsSkipped) {
    // Gaps around the tags: none, shorter than a tag, and longer ones, also
    // filled with the first byte of the tags.
    const std::pair<std::size_t, std::uint8_t> gaps[] = {{0, 0},    {1, 0xAB}, {3, 0x48},
                                                         {4, 0x50}, {7, 0x48}, {1000, 0}};
    for (const auto& [length, fill] : gaps) {
        Bytes bytes = header(2);
        appendJunk(bytes, length, fill);
        appendMeshHeader(bytes, makeMesh(identityTransform, {triangle("a"), triangle("b")}));
        appendJunk(bytes, length, fill);
        appendSection(bytes, triangle("a", 1));
        appendJunk(bytes, length, fill);
        appendSection(bytes, triangle("b", 2));
        appendJunk(bytes, length, fill);
        appendMeshHeader(bytes, makeMesh(kMoved, {triangle("c")}));
        appendSection(bytes, triangle("c", 3));
        appendJunk(bytes, length, fill);
        const Model read = readAll(bytes);
        ASSERT_EQ(read.meshes.size(), 2u) << "gap " << length;
        ASSERT_EQ(read.meshes[0].sections.size(), 2u);
        EXPECT_EQ(read.meshes[0].sections[1].positions[0], 2.0f);
        EXPECT_EQ(read.meshes[1].transform.m, kMoved.m);
        EXPECT_EQ(read.meshes[1].sections[0].positions[0], 3.0f);
    }
}

TEST(Reader, SurplusSectionsAreSkipped) {
    Bytes bytes = header(2);
    appendMeshHeader(bytes, makeMesh(identityTransform, {triangle("a")}));
    appendSection(bytes, triangle("a", 1));
    appendSection(bytes, triangle("surplus", 2));
    appendMeshHeader(bytes, makeMesh(kMoved, {triangle("b")}));
    appendSection(bytes, triangle("b", 3));
    const Model read = readAll(bytes);
    ASSERT_EQ(read.meshes.size(), 2u);
    ASSERT_EQ(read.meshes[0].sections.size(), 1u);
    EXPECT_EQ(materialNameOf(read.meshes[1].sections[0]), "b");
}

TEST(Reader, SectionSearchRunsIntoTheNextMesh) {
    // The first mesh promises two sections but holds one: the search passes
    // the second mesh's header and takes its section.
    Bytes bytes = header(1);
    Mesh first = makeMesh(identityTransform, {triangle("a")});
    first.sectionCount = 2;
    appendMeshHeader(bytes, first);
    appendSection(bytes, triangle("a"));
    appendMeshHeader(bytes, makeMesh(kMoved, {triangle("b")}));
    appendSection(bytes, triangle("b"));
    const Model read = readAll(bytes);
    ASSERT_EQ(read.meshes.size(), 1u);
    ASSERT_EQ(read.meshes[0].sections.size(), 2u);
    EXPECT_EQ(materialNameOf(read.meshes[0].sections[1]), "b");

    // With two meshes promised, nothing is left for the second.
    bytes[8] = 2;
    EXPECT_EQ(errorOf(bytes), kNoMesh);
}

TEST(Reader, VersionExtensionOnlyForOneNine) {
    // The extension's first word looks like a mesh tag: only a reader that
    // skips the extension finds the real mesh behind it.
    struct Case {
        std::uint8_t minor, major;
        bool extension;
    } cases[] = {{9, 1, true}, {1, 9, false}, {9, 2, false}, {0, 1, false}};
    for (const Case& c : cases) {
        Bytes bytes = header(1, c.minor, c.major);
        for (std::uint32_t word : {MESH_TAG, 1u, 2u, 3u, 4u, 5u})
            appendU32(bytes, word);
        appendMeshHeader(bytes, makeMesh(kMoved, {}));
        const Model read = readAll(bytes);
        ASSERT_EQ(read.meshes.size(), 1u);
        if (c.extension) {
            EXPECT_EQ(read.versionExtension,
                      (std::array<std::uint32_t, 6>{MESH_TAG, 1, 2, 3, 4, 5}));
            EXPECT_EQ(read.meshes[0].transform.m, kMoved.m);
        } else {
            EXPECT_EQ(read.versionExtension, (std::array<std::uint32_t, 6>{}));
            EXPECT_NE(read.meshes[0].transform.m, kMoved.m);
        }
    }
}

TEST(Reader, EmptySectionIsKept) {
    Bytes bytes = header(1);
    appendMeshHeader(bytes, makeMesh(identityTransform, {makeSection("e", {}, {}, {}, {})}));
    appendSection(bytes, makeSection("e", {}, {}, {}, {}));
    const Model read = readAll(bytes);
    ASSERT_EQ(read.meshes[0].sections.size(), 1u);
    EXPECT_TRUE(read.meshes[0].sections[0].positions.empty());
    EXPECT_TRUE(read.meshes[0].sections[0].indices.empty());
}

TEST(Reader, MalformedFiles) {
    const Bytes oneMesh = [] {
        Bytes bytes = header(1);
        appendMeshHeader(bytes, makeMesh(identityTransform, {triangle("a")}));
        return bytes;
    }();
    auto withTail = [](Bytes bytes, std::string_view tail) {
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        return bytes;
    };
    auto withCounts = [](std::uint32_t vertices, std::uint32_t triangles) {
        Bytes bytes = header(1);
        appendMeshHeader(bytes, makeMesh(identityTransform, {triangle("a")}));
        MeshSection section = triangle("a");
        section.vertexCount = vertices;
        section.triangleCount = triangles;
        appendSection(bytes, section);
        return bytes;
    };
    struct Case {
        const char* what;
        Bytes bytes;
        std::string message;
    } cases[] = {
        {"empty file", {}, kTruncated},
        {"short header", Bytes(23, 0), kTruncated},
        {"header promising a mesh", header(1), kNoMesh},
        {"half a mesh tag at the end", withTail(header(1), "HSE"), kNoMesh},
        {"mesh tag as the last bytes", withTail(header(1), "HSEM"), kTruncated},
        {"one-nine header without extension", header(0, 9, 1), kTruncated},
        {"mesh without its section", oneMesh, kNoSection},
        {"section tag as the last bytes", withTail(oneMesh, "PRGM"), kTruncated},
        {"section header cut short", withTail(oneMesh, "xxPRGMxx"), kTruncated},
        {"vertex count past the end", withCounts(4, 1), kTruncated},
        {"triangle count past the end", withCounts(3, 2), kTruncated},
        {"huge vertex count", withCounts(0xFFFFFFFF, 1), kTruncated},
        {"huge triangle count", withCounts(3, 0xFFFFFFFF), kTruncated},
        {"huge mesh count", withTail(header(0xFFFFFFFF), "HSEM"), kTruncated},
    };
    for (const Case& c : cases)
        EXPECT_EQ(errorOf(c.bytes), c.message) << c.what;
}

// Cutting a valid file anywhere must give the message of what was cut: a
// missing tag where the cut falls before a block's tag is complete, the end
// of file inside a header or array.
TEST(Reader, EveryPrefixFailsCleanly) {
    const Model model = makeModel({makeMesh(identityTransform, {triangle("a"), triangle("b")}),
                                   makeMesh(kMoved, {triangle("c")})},
                                  9, 1);
    const Prefixes prefixes = prefixesOf(model);
    const Bytes& bytes = prefixes.bytes;
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        const Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(errorOf(prefix), prefixes.messages[length]) << "prefix of " << length << " bytes";
    }
    EXPECT_EQ(encodeModel(readAll(bytes)), bytes);
}

TEST(Reader, TagsAcrossBufferBoundaries) {
    // A tag may straddle the boundary between two chunks read from a stream.
    for (std::size_t gap = InputBuffer::defaultChunkSize - 32;
         gap <= InputBuffer::defaultChunkSize + 4; ++gap) {
        Bytes bytes = header(1);
        appendJunk(bytes, gap - bytes.size(), 0x48);
        appendMeshHeader(bytes, makeMesh(kMoved, {triangle("a")}));
        appendJunk(bytes, 5, 0x50);
        appendSection(bytes, triangle("a", 7));
        const Model read = readAll(bytes);
        ASSERT_EQ(read.meshes.size(), 1u) << "tag at " << gap;
        EXPECT_EQ(read.meshes[0].transform.m, kMoved.m);
        EXPECT_EQ(read.meshes[0].sections[0].positions[0], 7.0f);
    }
}

TEST(Reader, LargeArraysCrossChunks) {
    // Arrays larger than a chunk, read from a stream in pieces.
    std::vector<float> positions, normals, texCoords;
    std::vector<std::uint32_t> indices;
    const std::uint32_t vertices = 100000;
    for (std::uint32_t k = 0; k < vertices; ++k) {
        positions.insert(positions.end(), {float(k), float(k) + 0.5f, -float(k)});
        normals.insert(normals.end(), {0, 0, float(k)});
        texCoords.insert(texCoords.end(), {float(k) / vertices, 0.25f});
        indices.insert(indices.end(), {k % 65536, (k + 1) % 65536, (k + 2) % 65536});
    }
    const Model model =
        makeModel({makeMesh(kMoved, {makeSection("big", positions, normals, texCoords, indices)})});
    const Bytes bytes = encodeModel(model);
    EXPECT_EQ(encodeModel(readAll(bytes)), bytes);
}

// The hook sees each section whole, with where its arrays lie, and the model
// keeps the headers without the arrays.
TEST(Reader, SectionHookSeesEachSectionWhereItLies) {
    std::vector<float> positions, normals, texCoords;
    std::vector<std::uint32_t> indices;
    for (std::uint32_t k = 0; k < 100000; ++k) {
        positions.insert(positions.end(), {float(k), 1, 2});
        normals.insert(normals.end(), {0, 0, float(k)});
        texCoords.insert(texCoords.end(), {0.5f, float(k)});
        indices.insert(indices.end(), {k % 65536, 1, 2});
    }
    Bytes bytes = header(2, 9, 1);
    appendJunk(bytes, 24 + 7, 0x48); // the version extension, and more
    std::vector<std::uint64_t> expectedAt;
    const auto section = [&](const MeshSection& s) {
        appendJunk(bytes, 5, 0x4D);
        expectedAt.push_back(bytes.size() + 60);
        appendSection(bytes, s);
    };
    appendMeshHeader(bytes, makeMesh(identityTransform, {triangle("a"), triangle("b")}));
    section(triangle("a", 1));
    section(makeSection("big", positions, normals, texCoords, indices));
    appendMeshHeader(bytes, makeMesh(kMoved, {triangle("c")}));
    section(triangle("c", 3));
    const Model whole = readModel(bytes.data(), bytes.size());

    PipeBuf pipe(bytes);
    std::istream pipeStream(&pipe);
    std::istringstream stream(std::string(bytes.begin(), bytes.end()));
    for (std::istream* in : {static_cast<std::istream*>(&stream), &pipeStream}) {
        std::vector<std::uint64_t> seenAt;
        std::vector<MeshSection> seen;
        std::vector<Transform> transforms;
        const Model skimmed =
            readModel(*in, nullptr, [&](const Mesh& mesh, MeshSection& s, std::uint64_t arraysAt) {
                seenAt.push_back(arraysAt);
                seen.push_back(s);
                transforms.push_back(mesh.transform);
            });
        EXPECT_EQ(seenAt, expectedAt);
        ASSERT_EQ(seen.size(), 3u);
        std::size_t k = 0;
        for (std::size_t m = 0; m < whole.meshes.size(); ++m) {
            for (std::size_t j = 0; j < whole.meshes[m].sections.size(); ++j, ++k) {
                const MeshSection& expected = whole.meshes[m].sections[j];
                EXPECT_EQ(encodeModel(makeModel({makeMesh(identityTransform, {seen[k]})})),
                          encodeModel(makeModel({makeMesh(identityTransform, {expected})})));
                EXPECT_EQ(transforms[k].m, whole.meshes[m].transform.m);
                const MeshSection& kept = skimmed.meshes[m].sections[j];
                EXPECT_EQ(kept.materialName, expected.materialName);
                EXPECT_EQ(kept.vertexCount, expected.vertexCount);
                EXPECT_EQ(kept.triangleCount, expected.triangleCount);
                EXPECT_TRUE(kept.positions.empty() && kept.normals.empty() &&
                            kept.texCoords.empty() && kept.indices.empty());
            }
        }
    }
}

TEST(FindTag, FindsTheFirstTagAtEveryOffset) {
    // Filler of near misses: each differs from the tag in one byte.
    const std::string nearMisses[] = {"xSEM", "HxEM", "HSxM", "HSEx", "HSE", "SEM", "HHSE"};
    for (const std::string& miss : nearMisses) {
        for (std::size_t length = 0; length <= 70; ++length) {
            Bytes filler;
            while (filler.size() < length)
                filler.insert(filler.end(), miss.begin(), miss.end());
            filler.resize(length);
            {
                InputBuffer input(filler.data(), filler.size());
                EXPECT_FALSE(findTag(input, MESH_TAG)) << miss << " " << length;
            }
            for (std::size_t at = 0; at <= length; ++at) {
                Bytes bytes = filler;
                bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), {'H', 'S', 'E', 'M'});
                bytes.insert(bytes.end(), {'H', 'S', 'E', 'M', '!'});
                InputBuffer input(bytes.data(), bytes.size());
                ASSERT_TRUE(findTag(input, MESH_TAG));
                // It stops after the first tag, not the second.
                ASSERT_EQ(input.remaining(), bytes.size() - at - 4) << miss << " " << at;
            }
        }
    }
}

struct CaptureCout {
    CaptureCout() : old(std::cout.rdbuf(captured.rdbuf())) {}
    ~CaptureCout() {
        std::cout.rdbuf(old);
        verbose = false;
    }
    std::ostringstream captured;
    std::streambuf* old;
};

TEST(Reader, VerboseDump) {
    const Transform odd{
        {1.5f, -0.25f, 1e7f, 1.0f / 3, 123456789.0f, 1e-5f, 0, -0.0f, 100, 7, 8, 9}};
    MeshSection section = triangle("a");
    section.faceCount = 5;
    section.lodCount = 2;
    Model model = makeModel({makeMesh(odd, {section})}, 9, 1);
    model.size = 4242;
    const Bytes bytes = encodeModel(model);
    {
        CaptureCout capture;
        verbose = true;
        readModel(bytes.data(), bytes.size());
        EXPECT_EQ(capture.captured.str(), "Minor version: 9\n"
                                          "Major version: 1\n"
                                          "numMeshes: 1\n"
                                          "size: 4242\n"
                                          "Transformation matrix: \n"
                                          "[ 1.5 -0.25 1e+07]\n"
                                          "[ 0.333333 1.23457e+08 1e-05]\n"
                                          "[ 0 -0 100]\n"
                                          "[ 7 8 9]\n"
                                          "Num mesh sections: 1\n"
                                          "Num faces: 5\n"
                                          "Num verts:3\n"
                                          "Num triangles: 1\n"
                                          "Num LODs: 2\n");
    }
    {
        CaptureCout capture;
        readModel(bytes.data(), bytes.size());
        EXPECT_EQ(capture.captured.str(), "");
    }
}

TEST(Reader, VerboseLinesBeforeAnErrorStay) {
    Bytes bytes = header(1);
    appendMeshHeader(bytes, makeMesh(identityTransform, {triangle("a")}));
    CaptureCout capture;
    verbose = true;
    EXPECT_THROW(readModel(bytes.data(), bytes.size()), TextError);
    EXPECT_EQ(capture.captured.str(), "Minor version: 0\nMajor version: 2\nnumMeshes: 1\nsize: 0\n"
                                      "Transformation matrix: \n[ 1 0 0]\n[ 0 1 0]\n[ 0 0 1]\n"
                                      "[ 0 0 0]\nNum mesh sections: 1\n");
}

TEST(TransformPoint, Examples) {
    struct Case {
        Transform transform;
        std::array<float, 3> in, out;
    } cases[] = {
        {identityTransform, {1, 2, 3}, {1, 2, 3}},
        {identityTransform, {-1e30f, 1e-30f, 0.1f}, {-1e30f, 1e-30f, 0.1f}},
        {kMoved, {1, 2, 3}, {12, 21, 33}},
        // Single precision (or a fused multiply-add) rounds this differently:
        // 3 * 16777215 = 50331645 is exact in double, not in float.
        {{{3, 0, 0, 0, 1, 0, 0, 0, 1, -50331644, 0, 0}}, {16777215, 0, 0}, {1, 0, 0}},
        // Summed left to right: any other order loses the 1 against 2^60.
        {{{0x1p60f, 0, 0, -0x1p60f, 0, 0, 1, 0, 0, 0, 0, 0}}, {1, 1, 1}, {1, 0, 0}},
    };
    for (const Case& c : cases) {
        std::array<float, 3> point = c.in;
        transformPoint(c.transform, point.data());
        EXPECT_EQ(point, c.out);
    }
}

// Many points at once give each point's own result, whatever its neighbours.
TEST(TransformPoint, ManyPointsAsOne) {
    const Transform transforms[] = {
        identityTransform,
        kMoved,
        {{3, 0, 0, 0, 1, 0, 0, 0, 1, -50331644, 0, 0}},
        {{0x1p60f, 0, 0, -0x1p60f, 0, 0, 1, 0, 0, 0, 0, 0}},
        {{0.3f, -1.7f, 2.2f, 1e-3f, 5e4f, -0.25f, 9, 8, -7, 0.1f, 0.2f, 0.3f}}};
    const std::vector<float> points = {1,        2,     3,  16777215, 0,   0,    -1e30f,
                                       1e-30f,   0.1f,  1,  1,        1,   0.7f, -0.3f,
                                       123.456f, -0.0f, -5, -6,       NAN, 1,    2};
    for (const Transform& t : transforms) {
        std::vector<float> together = points;
        transformPoints(t, together.data(), together.size() / 3);
        for (std::size_t k = 0; k < points.size(); k += 3) {
            float one[3] = {points[k], points[k + 1], points[k + 2]};
            transformPoint(t, one);
            EXPECT_EQ(std::memcmp(one, &together[k], sizeof one), 0) << "point " << k / 3;
        }
    }
}

} // namespace
} // namespace ulv
