// BMP files turned into PNG, hostile ones refused with a reason, and the
// lookup of NAME.BMP beside the model.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <string>

#include "convert/textures.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/model_builder.h"
#include "tests/support/process.h"
#include "texture/texture.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

void putU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A PNG's size from its IHDR chunk, which must come first.
std::pair<std::uint32_t, std::uint32_t> pngSize(const std::vector<std::uint8_t>& png) {
    const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (png.size() < 24 || !std::equal(signature, signature + 8, png.begin()) ||
        std::string(png.begin() + 12, png.begin() + 16) != "IHDR")
        return {0, 0};
    const auto be = [&](std::size_t at) {
        return std::uint32_t{png[at]} << 24 | std::uint32_t{png[at + 1]} << 16 |
               std::uint32_t{png[at + 2]} << 8 | png[at + 3];
    };
    return {be(16), be(20)};
}

TEST(Texture, BmpBecomesPng) {
    const Bytes bmp = makeBmp(5, 3, quadrants(5, 3, {10, 20, 30}));
    std::string why;
    const auto image = bmpToPng(bmp.data(), bmp.size(), why);
    ASSERT_TRUE(image) << why;
    EXPECT_EQ(image->width, 5u);
    EXPECT_EQ(image->height, 3u);
    EXPECT_EQ(pngSize(image->png), std::make_pair(5u, 3u));
}

TEST(Texture, HostileBmpsAreRefusedWithAReason) {
    const Bytes good = makeBmp(4, 4, quadrants(4, 4, {1, 2, 3}));
    struct Case {
        const char* name;
        Bytes bytes;
        const char* why;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, "not a BMP file"});
    cases.push_back({"not a BMP", Bytes(100, 'x'), "not a BMP file"});
    cases.push_back({"header cut", Bytes(good.begin(), good.begin() + 30), "truncated"});
    cases.push_back({"pixels cut", Bytes(good.begin(), good.end() - 1), "truncated"});
    {
        // 100 bytes claiming 65,535 x 65,535 pixels: refused before decoding.
        Bytes huge(good.begin(), good.begin() + 100);
        putU32(huge, 18, 65535);
        putU32(huge, 22, 65535);
        cases.push_back({"100 bytes, 65535 x 65535", huge, "truncated"});
    }
    {
        Bytes zero = good;
        putU32(zero, 18, 0);
        putU32(zero, 22, 0);
        cases.push_back({"0 x 0", zero, "no pixels"});
    }
    {
        Bytes negative = good;
        putU32(negative, 18, 0xFFFFFFFC); // -4
        cases.push_back({"negative width", negative, "no pixels"});
    }
    {
        Bytes lowest = good;
        putU32(lowest, 22, 0x80000000); // the lowest 32-bit integer as height
        cases.push_back({"height -2^31", lowest, "dimensions too large"});
    }
    {
        Bytes rle = good;
        putU32(rle, 30, 1); // BI_RLE8
        cases.push_back({"RLE compression", rle, "unsupported compression"});
        putU32(rle, 30, 4); // BI_JPEG
        cases.push_back({"JPEG inside", rle, "unsupported compression"});
    }
    {
        Bytes header = good;
        putU32(header, 14, 64);
        cases.push_back({"unknown header size", header, "unsupported BMP header"});
    }
    {
        Bytes bits = good;
        bits[28] = 7;
        cases.push_back({"7 bits per pixel", bits, "unsupported pixel format"});
    }
    {
        Bytes offset = good;
        putU32(offset, 10, 0xFFFFFFF0);
        cases.push_back({"pixels past the end", offset, "truncated"});
    }
    for (const Case& c : cases) {
        std::string why;
        EXPECT_FALSE(bmpToPng(c.bytes.data(), c.bytes.size(), why)) << c.name;
        EXPECT_EQ(why, c.why) << c.name;
    }
}

TEST(Texture, TopDownBmpKeepsItsRows) {
    // A negative height stores the top row first: both orders of one image
    // must give the same PNG.
    const std::vector<Rgb> pixels = quadrants(4, 2, {200, 0, 0});
    const Bytes bottomUp = makeBmp(4, 2, pixels);
    Bytes topDown = bottomUp;
    putU32(topDown, 22, static_cast<std::uint32_t>(-2));
    // Rows swapped: 12 bytes each.
    std::copy(bottomUp.begin() + 54, bottomUp.begin() + 66, topDown.begin() + 66);
    std::copy(bottomUp.begin() + 66, bottomUp.begin() + 78, topDown.begin() + 54);
    std::string why;
    const auto a = bmpToPng(bottomUp.data(), bottomUp.size(), why);
    const auto b = bmpToPng(topDown.data(), topDown.size(), why);
    ASSERT_TRUE(a && b) << why;
    EXPECT_EQ(a->png, b->png);
}

class TextureLookup : public ::testing::Test {
  protected:
    Model modelWith(std::vector<std::string> materials) {
        std::vector<MeshSection> sections;
        for (const std::string& m : materials)
            sections.push_back(makeSection(m, {}, {}, {}, {}));
        return makeModel({makeMesh(identityTransform, std::move(sections))});
    }
    TextureSet load(const Model& model) {
        notes.clear();
        return loadTextures(model, scratch.path.string(), notes);
    }

    ScratchDir scratch;
    std::vector<std::string> notes;
    const Bytes bmp = makeBmp(2, 2, quadrants(2, 2, {9, 9, 9}));
};

TEST_F(TextureLookup, NameMatchedWithoutRegardToCase) {
    spit(scratch.path / "WOOD.bmp", bmp);
    spit(scratch.path / "Metal.BMP", makeBmp(3, 1, quadrants(3, 1, {1, 1, 1})));
    const TextureSet set = load(modelWith({"wood", "metal", "WoOd", "", "glass"}));
    EXPECT_EQ(notes, (std::vector<std::string>{"Texture glass.BMP left out: not found"}));
    ASSERT_EQ(set.images.size(), 2u);
    // wood and WoOd are one file, so one image.
    EXPECT_EQ(set.imageOf.at("wood"), 0u);
    EXPECT_EQ(set.imageOf.at("WoOd"), 0u);
    EXPECT_EQ(set.imageOf.at("metal"), 1u);
    EXPECT_EQ(set.images[1].width, 3u);
    EXPECT_EQ(set.imageOf.count("glass"), 0u);
}

#ifndef _WIN32
TEST_F(TextureLookup, ExactNamePreferredOverOtherCase) {
    spit(scratch.path / "wood.bmp", bmp);
    spit(scratch.path / "wood.BMP", makeBmp(7, 1, quadrants(7, 1, {1, 1, 1})));
    const TextureSet set = load(modelWith({"wood"}));
    ASSERT_EQ(set.images.size(), 1u);
    EXPECT_EQ(set.images[0].width, 7u);
}

TEST_F(TextureLookup, EightBitNameFindsItsUtf8File) {
    spit(scratch.path / "caf\xc3\xa9.bmp", bmp);
    const TextureSet set = load(modelWith({"caf\xe9"}));
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(set.images.size(), 1u);
}
#endif

TEST_F(TextureLookup, UnusableFilesGiveOneNoteEach) {
    fs::create_directory(scratch.path / "folder.BMP");
    spit(scratch.path / "cut.BMP", Bytes(bmp.begin(), bmp.end() - 3));
    spit(scratch.path / "text.BMP", Bytes{'h', 'e', 'l', 'l', 'o'});
    fs::create_directory(scratch.path / "sub");
    spit(scratch.path / "sub" / "deep.BMP", bmp);
    const TextureSet set =
        load(modelWith({"folder", "cut", "text", "sub/deep", "../texture_test", "cut"}));
    EXPECT_TRUE(set.images.empty());
    EXPECT_EQ(notes, (std::vector<std::string>{
                         "Texture folder.BMP left out: is a folder",
                         "Texture cut.BMP left out: truncated",
                         "Texture text.BMP left out: not a BMP file",
                         // Only names in the model's folder: no path reaches elsewhere.
                         "Texture sub/deep.BMP left out: not found",
                         "Texture ../texture_test.BMP left out: not found",
                     }));
}

#ifndef _WIN32
TEST_F(TextureLookup, PipeIsNotOpened) {
    // Reading a pipe with no writer would block for ever.
    ASSERT_EQ(::mkfifo((scratch.path / "pipe.BMP").c_str(), 0644), 0);
    load(modelWith({"pipe"}));
    EXPECT_EQ(notes, (std::vector<std::string>{"Texture pipe.BMP left out: not a regular file"}));
}

TEST_F(TextureLookup, LinkToAFileIsFollowed) {
    spit(scratch.path / "real.bmp", bmp);
    fs::create_symlink("real.bmp", scratch.path / "LINKED.BMP");
    const TextureSet set = load(modelWith({"linked"}));
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(set.images.size(), 1u);
}
#endif

TEST_F(TextureLookup, MissingFolderMeansNoTextures) {
    notes.clear();
    const TextureSet set =
        loadTextures(modelWith({"wood"}), (scratch.path / "nowhere").string(), notes);
    EXPECT_TRUE(set.images.empty());
    EXPECT_EQ(notes, (std::vector<std::string>{"Texture wood.BMP left out: not found"}));
}

} // namespace
} // namespace ulv
