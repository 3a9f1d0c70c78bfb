// Textures for the materials: the game's BMP files, turned into PNG for
// embedding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace ulv {

struct PngImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> png;
};

// The textures of a model's materials: one image per distinct file, and for
// each material name that has one, the index of its image.
struct TextureSet {
    std::vector<PngImage> images;
    std::unordered_map<std::string, std::size_t> imageOf;
};

// Decodes a BMP file held in memory and encodes it as PNG. On failure, the
// reason in a few words (for example "not a BMP file").
std::optional<PngImage> bmpToPng(const std::uint8_t* data, std::size_t size, std::string& why);

// An image that glTF holds (PNG, JPEG or BMP) as PNG for embedding; PNG
// files as they are, once they are known to decode.
std::optional<PngImage> imageToPng(const std::uint8_t* data, std::size_t size, std::string& why);

// An image as the game's textures are: an uncompressed 24-bit BMP, without
// the alpha channel.
std::optional<std::vector<std::uint8_t>> imageToBmp(const std::uint8_t* data, std::size_t size,
                                                    std::string& why);

} // namespace ulv
