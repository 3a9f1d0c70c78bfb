// The model's own fields in glTF extras: written as text, read back to the
// bit, and text that is not what the writer makes is refused whole.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>

#include "gltf/extras.h"

namespace ulv {
namespace {

TEST(GltfExtras, HeaderFieldsRoundTrip) {
    Model model;
    model.tag = {'\0', '\xff', 'M', '\x7f'};
    model.minorVersion = 9;
    model.majorVersion = 1;
    model.opaqueShort = 0xBEEF;
    model.numMeshes = 3;
    model.size = 0xFFFFFFFF;
    model.opaqueWords = {1, 0x80000000};
    model.versionExtension = {0, 1, 2, 3, 4, 0xFFFFFFFF};
    const std::string text = headerExtras(model);
    EXPECT_EQ(text, "00ff4d7f 09 01 beef ffffffff 00000001 80000000 00000000 00000001 00000002 "
                    "00000003 00000004 ffffffff");
    Model read;
    read.numMeshes = 7; // counts are the file's, not the extras'
    ASSERT_TRUE(readHeaderExtras(text, read));
    EXPECT_EQ(read.tag, model.tag);
    EXPECT_EQ(read.opaqueShort, model.opaqueShort);
    EXPECT_EQ(read.size, model.size);
    EXPECT_EQ(read.opaqueWords, model.opaqueWords);
    EXPECT_EQ(read.versionExtension, model.versionExtension);
    EXPECT_EQ(read.numMeshes, 7u);
}

TEST(GltfExtras, MeshTransformKeepsEveryBit) {
    Mesh mesh;
    mesh.transform.m = {std::numeric_limits<float>::quiet_NaN(),
                        -0.0f,
                        std::numeric_limits<float>::infinity(),
                        1e-45f,
                        1,
                        2,
                        3,
                        4,
                        5,
                        6,
                        7,
                        8};
    mesh.opaqueWords = {9, 8, 7, 6, 5, 4};
    Mesh read;
    ASSERT_TRUE(readMeshExtras(meshExtras(mesh), read));
    EXPECT_EQ(std::memcmp(read.transform.m.data(), mesh.transform.m.data(), 48), 0);
    EXPECT_EQ(read.opaqueWords, mesh.opaqueWords);
}

TEST(GltfExtras, SectionsRoundTrip) {
    std::vector<SectionEntry> entries(3);
    // The whole name field, bytes after the first NUL too.
    std::memcpy(entries[0].fields.materialName.data(), "wood\0junk", 9);
    entries[0].fields.opaqueWord1 = 0xFFFFFFFF;
    entries[0].fields.faceCount = 12;
    entries[0].fields.lodCount = 3;
    entries[0].fields.opaqueWord2 = 7;
    entries[0].reversed = {{0, 0}, {2, 5}, {9, 9}};
    entries[0].triangles = 120;
    entries[1].primitive = false;
    entries[1].fields.materialName.fill('\xe9');
    entries[2].fields.opaqueWord2 = 1;
    const std::string text = sectionExtras(entries);
    std::string e9;
    for (int i = 0; i < 32; ++i)
        e9 += "e9";
    EXPECT_EQ(text, "776f6f64006a756e6b" + std::string(46, '0') +
                        ".ffffffff.0000000c.00000003.00000007/120:0,2-5,9 ~" + e9 +
                        ".00000000.00000000.00000000.00000000 " + std::string(64, '0') +
                        ".00000000.00000000.00000000.00000001");
    const auto read = readSectionExtras(text);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const MeshSection& a = (*read)[i].fields;
        const MeshSection& b = entries[i].fields;
        EXPECT_EQ(a.materialName, b.materialName);
        EXPECT_EQ(a.opaqueWord1, b.opaqueWord1);
        EXPECT_EQ(a.faceCount, b.faceCount);
        EXPECT_EQ(a.lodCount, b.lodCount);
        EXPECT_EQ(a.opaqueWord2, b.opaqueWord2);
        EXPECT_EQ((*read)[i].primitive, entries[i].primitive);
        EXPECT_EQ((*read)[i].reversed, entries[i].reversed);
        EXPECT_EQ((*read)[i].triangles, entries[i].triangles);
    }
    EXPECT_TRUE(readSectionExtras("")->empty());
}

// Scattered reversed triangles take one bit each instead of a long list.
TEST(GltfExtras, ScatteredRunsAsBits) {
    std::vector<SectionEntry> entries(1);
    entries[0].triangles = 62;
    for (std::uint32_t t = 0; t < 60; t += 2)
        entries[0].reversed.emplace_back(t, t);
    entries[0].reversed.emplace_back(61, 61);
    const std::string text = sectionExtras(entries);
    // Bits 0, 2 and 4 of each six: 21, "V"; of the last two, bit 1: "C".
    EXPECT_EQ(text.substr(text.find('/')), "/62:b" + std::string(10, 'V') + "C");
    const auto read = readSectionExtras(text);
    ASSERT_TRUE(read);
    EXPECT_EQ((*read)[0].reversed, entries[0].reversed);
    const std::string fields = text.substr(0, text.find('/'));
    for (const std::string& bad :
         {"/62:b" + std::string(10, 'V'), "/62:b" + std::string(11, 'V') + "C",
          "/62:b" + std::string(10, 'V') + "*", "/62:b" + std::string(11, 'A'),
          "/62:b" + std::string(10, 'V') + "E", "/60:b" + std::string(10, 'V') + "C"})
        EXPECT_FALSE(readSectionExtras(fields + bad)) << bad;
}

TEST(GltfExtras, NamesRoundTrip) {
    for (const std::string& name :
         {std::string("wood"), std::string("\x01\xff\"\\", 4), std::string(32, 'x')}) {
        EXPECT_EQ(readNameExtras(nameExtras(name)), name);
    }
}

// Anything but what the writer makes is refused, so that a field is never
// half read: another program's extras, or ours edited by hand.
TEST(GltfExtras, MalformedTextIsRefused) {
    const std::string field = std::string(64, '0') + ".00000000.00000000.00000000.00000000";
    for (const std::string& text :
         {std::string("x"), std::string("~"), std::string(" "), field + " ", field.substr(2) + "00",
          field + ".00000000", field + "/", field + "/2-1", field + "/3,1", field + "/1,1",
          field + "/-1", field + "/1-", field + "/a", std::string(63, '0') + "g" + field.substr(64),
          field.substr(0, 70) + "+" + field.substr(71)}) {
        EXPECT_FALSE(readSectionExtras(text)) << text;
    }
    Model model;
    Mesh mesh;
    const std::string header = headerExtras(model), meshText = meshExtras(mesh);
    for (const std::string& text :
         {std::string(""), header + " 00000000", header.substr(1),
          header.substr(0, header.size() - 1) + "g", std::string("ulvm")}) {
        EXPECT_FALSE(readHeaderExtras(text, model)) << text;
    }
    for (const std::string& text :
         {std::string(""), meshText + " 00000000", meshText.substr(0, meshText.size() - 9),
          meshText.substr(0, 8) + "  " + meshText.substr(9)}) {
        EXPECT_FALSE(readMeshExtras(text, mesh)) << text;
    }
    for (const std::string& text : {std::string("a"), std::string("zz"), std::string(66, 'a')})
        EXPECT_FALSE(readNameExtras(text)) << text;
}

} // namespace
} // namespace ulv
