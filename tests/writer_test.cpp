#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "convert/outputs.h"
#include "convert/write_files.h"
#include "obj/writer.h"
#include "tests/support/model_builder.h"
#include "tests/support/process.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

struct Written {
    std::string obj, mtl;
};

Written write(const Model& model) {
    std::ostringstream obj, mtl;
    EXPECT_TRUE(writeObj(model, obj, mtl, "m.mtl"));
    return {obj.str(), mtl.str()};
}

// The part after the three vertex passes.
std::string facesOf(const std::string& obj) {
    const std::size_t start = obj.find("\ng");
    return start == std::string::npos ? "" : obj.substr(start + 1);
}

MeshSection section(std::string_view material, std::uint32_t vertices,
                    std::vector<std::uint32_t> indices = {0, 1, 2}) {
    std::vector<float> positions, normals, texCoords;
    for (std::uint32_t k = 0; k < vertices; ++k) {
        positions.insert(positions.end(), {float(k), 0, 0});
        normals.insert(normals.end(), {0, 0, 1});
        texCoords.insert(texCoords.end(), {0, 0});
    }
    return makeSection(material, positions, normals, texCoords, std::move(indices));
}

// The expected text is written with "\n"; withLineEnds() gives the file's bytes.
const std::string kHead = "# This is a converted version of a ULV .MOD file!\n\nmtllib m.mtl\n\n";

TEST(Writer, NoMeshes) {
    const Written out = write(makeModel({}));
    EXPECT_EQ(out.obj, withLineEnds(kHead + "\n\n\n"));
    EXPECT_EQ(out.mtl, "");
}

TEST(Writer, OneTriangleWholeFile) {
    const MeshSection wood =
        makeSection("wood", {1, 2, 3, -4.5f, 0.25f, 1e-7f, 100, -0.0f, -1e-7f},
                    {0, 0, 1, 0, 1, 0, 1, 0, 0}, {0, 0, 0.5f, 1, 1, -0.25f}, {0, 1, 2});
    const Written out = write(makeModel({makeMesh(identityTransform, {wood})}));
    EXPECT_EQ(out.obj, withLineEnds(kHead + "v 1.000000 2.000000 3.000000\n"
                                            "v -4.500000 0.250000 0.000000\n"
                                            // -0 plus the +0 terms of the transform is +0.
                                            "v 100.000000 0.000000 -0.000000\n"
                                            "\n"
                                            "vn 0.000000 0.000000 1.000000\n"
                                            "vn 0.000000 1.000000 0.000000\n"
                                            "vn 1.000000 0.000000 0.000000\n"
                                            "\n"
                                            "vt 0.000000 -0.000000\n"
                                            "vt 0.500000 -1.000000\n"
                                            "vt 1.000000 0.250000\n"
                                            "\n"
                                            "g group0\n"
                                            "usemtl wood\n"
                                            "f 1/1/1 2/2/2 3/3/3\n"
                                            "\n"));
    EXPECT_EQ(out.mtl, withLineEnds("newmtl wood\nmap_Kd .\\wood.BMP\n\n"));
}

TEST(Writer, FacesAndMaterials) {
    struct Case {
        const char* what;
        Model model;
        std::string faces, mtl;
    } cases[] = {
        {"second section starts after the first's vertices",
         makeModel({makeMesh(identityTransform, {section("a", 4), section("b", 3)})}),
         "g group0\nusemtl a\nf 1/1/1 2/2/2 3/3/3\ng group1\nusemtl b\nf 5/5/5 6/6/6 7/7/7\n\n",
         "newmtl a\nmap_Kd .\\a.BMP\n\nnewmtl b\nmap_Kd .\\b.BMP\n\n"},
        {"a shared material is defined once",
         makeModel(
             {makeMesh(identityTransform, {section("wood", 3), section("wood", 3, {2, 1, 0})})}),
         "g group0\nusemtl wood\nf 1/1/1 2/2/2 3/3/3\ng group1\nusemtl wood\nf 6/6/6 5/5/5 "
         "4/4/4\n\n",
         "newmtl wood\nmap_Kd .\\wood.BMP\n\n"},
        {"names differ by case",
         makeModel({makeMesh(identityTransform, {section("Wood", 3), section("wood", 3)})}),
         "g group0\nusemtl Wood\nf 1/1/1 2/2/2 3/3/3\ng group1\nusemtl wood\nf 4/4/4 5/5/5 "
         "6/6/6\n\n",
         "newmtl Wood\nmap_Kd .\\Wood.BMP\n\nnewmtl wood\nmap_Kd .\\wood.BMP\n\n"},
        {"an empty name gets no usemtl and no library entry",
         makeModel({makeMesh(identityTransform, {section("", 3)})}),
         "g group0\nf 1/1/1 2/2/2 3/3/3\n\n", ""},
        {"a full 32-byte name",
         makeModel({makeMesh(identityTransform, {section(std::string(32, 'n'), 3)})}),
         "g group0\nusemtl " + std::string(32, 'n') + "\nf 1/1/1 2/2/2 3/3/3\n\n",
         "newmtl " + std::string(32, 'n') + "\nmap_Kd .\\" + std::string(32, 'n') + ".BMP\n\n"},
        {"a mesh without sections still ends with an empty line",
         makeModel(
             {makeMesh(identityTransform, {}), makeMesh(identityTransform, {section("a", 3)})}),
         "g group0\nusemtl a\nf 1/1/1 2/2/2 3/3/3\n\n", "newmtl a\nmap_Kd .\\a.BMP\n\n"},
        {"an empty section takes a group and shares its base",
         makeModel({makeMesh(identityTransform,
                             {section("a", 2, {}), section("e", 0, {}), section("b", 3)})}),
         "g group0\nusemtl a\ng group1\nusemtl e\ng group2\nusemtl b\nf 3/3/3 4/4/4 5/5/5\n\n",
         "newmtl a\nmap_Kd .\\a.BMP\n\nnewmtl e\nmap_Kd .\\e.BMP\n\nnewmtl b\nmap_Kd .\\b.BMP\n\n"},
        {"groups count on across meshes",
         makeModel({makeMesh(identityTransform, {section("", 3), section("", 3)}),
                    makeMesh(identityTransform, {section("", 3), section("", 3)})}),
         "g group0\nf 1/1/1 2/2/2 3/3/3\ng group1\nf 4/4/4 5/5/5 6/6/6\n\n"
         "g group2\nf 7/7/7 8/8/8 9/9/9\ng group3\nf 10/10/10 11/11/11 12/12/12\n\n",
         ""},
        {"vertex numbers are written as stored, not checked",
         makeModel({makeMesh(identityTransform, {section("", 3), section("", 1, {65535, 0, 7})})}),
         "g group0\nf 1/1/1 2/2/2 3/3/3\ng group1\nf 65539/65539/65539 4/4/4 11/11/11\n\n", ""},
    };
    for (const Case& c : cases) {
        const Written out = write(c.model);
        EXPECT_EQ(facesOf(out.obj), withLineEnds(c.faces)) << c.what;
        EXPECT_EQ(out.mtl, withLineEnds(c.mtl)) << c.what;
    }
}

TEST(Writer, PositionsMoveNormalsDoNot) {
    // Quarter turn, then moved; the second mesh's positions use its own transform.
    const Transform turned{{0, 1, 0, -1, 0, 0, 0, 0, 1, 10, 20, 30}};
    const Transform wide{{3, 0, 0, 0, 1, 0, 0, 0, 1, -50331644, 0, 0}};
    const MeshSection first = makeSection("", {1, 2, 3}, {1, 0, 0}, {0.5f, 0.5f}, {});
    const MeshSection second = makeSection("", {16777215, 0, 0}, {0, 1, 0}, {0, 2}, {});
    const Model model = makeModel({makeMesh(turned, {first}), makeMesh(wide, {second})});
    const Written out = write(model);
    EXPECT_EQ(out.obj, withLineEnds(kHead + "v 8.000000 21.000000 33.000000\n"
                                            // Exact in double, 0 in single precision.
                                            "v 1.000000 0.000000 0.000000\n"
                                            "\n"
                                            "vn 1.000000 0.000000 0.000000\n"
                                            "vn 0.000000 1.000000 0.000000\n"
                                            "\n"
                                            "vt 0.500000 -0.500000\n"
                                            "vt 0.000000 -2.000000\n"
                                            "\n"
                                            "g group0\n\ng group1\n\n"));
    // The caller's model is not changed.
    EXPECT_EQ(model.meshes[0].sections[0].positions, (std::vector<float>{1, 2, 3}));
}

TEST(Writer, NumbersAsPrintfWritesThem) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // Only normals and texture coordinates: they pass through no arithmetic.
    const MeshSection odd =
        makeSection("", {1, 2, 3, 4, 5, 6}, {nan, -nan, inf, -inf, 3.4028235e38f, 0.0000005f},
                    {0.0078125f, nan, 1e-7f, -nan}, {});
    const Written out = write(makeModel({makeMesh(identityTransform, {odd})}));
    EXPECT_EQ(out.obj,
              withLineEnds(kHead +
                           "v 1.000000 2.000000 3.000000\nv 4.000000 5.000000 6.000000\n\n"
                           "vn nan -nan inf\n"
                           "vn -inf 340282346638528859811704183484516925440.000000 0.000000\n\n"
                           // A tie rounds to even; negation flips a NaN's sign too.
                           "vt 0.007812 -nan\nvt 0.000000 nan\n\n"
                           "g group0\n\n"));
}

TEST(Writer, LongOutputKeepsEveryLine) {
    // More text than one output buffer holds.
    const Model model = makeModel({makeMesh(
        identityTransform, {section("big", 40000, std::vector<std::uint32_t>(60000 * 3, 1))})});
    const Written out = write(model);
    std::istringstream lines(out.obj);
    std::string line;
    std::size_t v = 0, vn = 0, vt = 0, f = 0;
    while (std::getline(lines, line)) {
#ifdef _WIN32
        // getline splits at the LF and leaves the CR of each CR LF.
        ASSERT_TRUE(line.ends_with('\r')) << line;
        line.pop_back();
#endif
        v += line.starts_with("v ");
        vn += line.starts_with("vn ");
        vt += line.starts_with("vt ");
        if (line.starts_with("f ")) {
            ++f;
            EXPECT_EQ(line, "f 2/2/2 2/2/2 2/2/2");
        }
    }
    EXPECT_EQ(v, 40000u);
    EXPECT_EQ(vn, 40000u);
    EXPECT_EQ(vt, 40000u);
    EXPECT_EQ(f, 60000u);
    EXPECT_NE(out.obj.find(withLineEnds("v 39999.000000 0.000000 0.000000\n\nvn ")),
              std::string::npos);
}

TEST(Writer, ShortArraysAreNotReadPastTheirEnd) {
    // A model built by hand may claim more than its arrays hold.
    MeshSection liar = section("x", 1, {0, 0, 0});
    liar.vertexCount = 1000;
    liar.triangleCount = 1000;
    const Written out = write(makeModel({makeMesh(identityTransform, {liar})}));
    EXPECT_EQ(facesOf(out.obj), withLineEnds("g group0\nusemtl x\nf 1/1/1 1/1/1 1/1/1\n\n"));
}

TEST(Writer, FailingStreamIsReported) {
    std::ostringstream good;
    std::ostringstream bad;
    bad.setstate(std::ios::badbit);
    const Model model = makeModel({makeMesh(identityTransform, {section("a", 3)})});
    EXPECT_FALSE(writeObj(model, bad, good, "m.mtl"));
    EXPECT_FALSE(writeObj(model, good, bad, "m.mtl"));
}

TEST(MtlPath, ReplacesTheFileNamesExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"default.obj", "default.mtl"},
        {"model.old.obj", "model.old.mtl"},
        {"out", "out.mtl"},
        {"./out", "./out.mtl"},
        {"../out", "../out.mtl"},
        {"dir.v2/model", "dir.v2/model.mtl"},
        {".hidden", ".hidden.mtl"},
        {"sub/model.obj", "sub/model.mtl"},
        {"/abs/x.y/z.OBJ", "/abs/x.y/z.mtl"},
#ifdef _WIN32
        // A backslash separates folders there too; separators stay as given.
        {"sub\\model.obj", "sub\\model.mtl"},
        {"dir.v2\\model", "dir.v2\\model.mtl"},
        {"C:\\x.y\\z", "C:\\x.y\\z.mtl"},
        {"a.b/c.d\\e", "a.b/c.d\\e.mtl"},
#else
        // A backslash is a letter of the file name here.
        {"sub\\model.obj", "sub\\model.mtl"},
        {"dir.v2\\model", "dir.mtl"},
        {"a.b/c.d\\e", "a.b/c.mtl"},
#endif
    };
    for (const auto& [output, mtl] : cases)
        EXPECT_EQ(mtlPathFor(output), mtl) << output;
}

class WriteFiles : public ::testing::Test {
  protected:
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(dir))
            out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    ScratchDir scratch;
    const fs::path dir = scratch.path;
    Model model = makeModel({makeMesh(identityTransform, {section("a", 3)})});
};

TEST_F(WriteFiles, WritesBothWithPlainPermissions) {
#ifndef _WIN32
    const mode_t old = ::umask(022);
#endif
    ASSERT_TRUE(writeObj(model, (dir / "out.obj").string()));
#ifndef _WIN32
    ::umask(old);
#endif
    EXPECT_EQ(names(), (std::vector<std::string>{"out.mtl", "out.obj"}));
    std::ostringstream obj, mtl;
    writeObj(model, obj, mtl, "out.mtl");
    EXPECT_EQ(slurp(dir / "out.obj"), obj.str());
    EXPECT_EQ(slurp(dir / "out.mtl"), mtl.str());
#ifndef _WIN32
    EXPECT_EQ(fs::status(dir / "out.obj").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
#endif
}

TEST_F(WriteFiles, FailuresLeaveTargetsAlone) {
    { std::ofstream(dir / "old.obj") << "old obj"; }
    fs::create_directory(dir / "old.mtl");
    fs::create_directory(dir / "folder.obj");
    const std::string cases[] = {
        (dir / "old.obj").string(),           // its library is a folder
        (dir / "folder.obj").string(),        // the target itself is a folder
        (dir / "missing" / "x.obj").string(), // no such folder
        "",
        (dir / "").string(),
    };
    for (const std::string& output : cases)
        EXPECT_FALSE(writeObj(model, output)) << output;
    EXPECT_EQ(slurp(dir / "old.obj"), "old obj");
    EXPECT_EQ(names(), (std::vector<std::string>{"folder.obj", "old.mtl", "old.obj"}));
}

TEST_F(WriteFiles, ReplacesExistingFiles) {
    {
        std::ofstream(dir / "out.obj") << "old obj";
        std::ofstream(dir / "out.mtl") << "old mtl";
    }
    ASSERT_TRUE(writeObj(model, (dir / "out.obj").string()));
    EXPECT_EQ(slurp(dir / "out.obj").substr(0, 2), "# ");
    EXPECT_EQ(slurp(dir / "out.mtl"), withLineEnds("newmtl a\nmap_Kd .\\a.BMP\n\n"));
    EXPECT_EQ(names(), (std::vector<std::string>{"out.mtl", "out.obj"}));
}

TEST_F(WriteFiles, DevicesAreWrittenDirectly) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX devices and symbolic links";
#endif
    // A full disk: the write fails and is reported.
    if (fs::exists("/dev/full")) {
        EXPECT_FALSE(writeObj(model, "/dev/full"));
    }
    fs::create_symlink("/dev/null", dir / "null.obj");
    EXPECT_TRUE(writeObj(model, (dir / "null.obj").string()));
    EXPECT_TRUE(fs::is_symlink(dir / "null.obj"));
    EXPECT_EQ(names(), (std::vector<std::string>{"null.mtl", "null.obj"}));
}

TEST_F(WriteFiles, LinksAreFollowed) {
#ifdef _WIN32
    GTEST_SKIP() << "making a symbolic link needs a privilege on Windows";
#endif
    { std::ofstream(dir / "real.obj") << "old"; }
    fs::create_symlink("real.obj", dir / "link.obj");
    ASSERT_TRUE(writeObj(model, (dir / "link.obj").string()));
    EXPECT_TRUE(fs::is_symlink(dir / "link.obj"));
    EXPECT_EQ(slurp(dir / "real.obj").substr(0, 2), "# ");
    EXPECT_EQ(names(), (std::vector<std::string>{"link.mtl", "link.obj", "real.obj"}));
}

} // namespace
} // namespace ulv
