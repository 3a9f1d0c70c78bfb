// Writes BMP files for texture fixtures and the sample's textures.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/model_builder.h"

namespace ulv {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// A 24-bit uncompressed BMP, rows stored bottom to top as is usual; `pixels`
// holds width * height colours, the top row first.
Bytes makeBmp(std::uint32_t width, std::uint32_t height, const std::vector<Rgb>& pixels);

// Four quadrants of different colours, so that a flipped or mirrored image
// shows: top left `colour`, top right white, bottom left black, bottom right
// `colour` at half brightness.
std::vector<Rgb> quadrants(std::uint32_t width, std::uint32_t height, Rgb colour);

// The sample's textures: file name and bytes. The names differ in case from
// the material names, as the game's files often do.
std::vector<std::pair<std::string, Bytes>> sampleTextures();

} // namespace ulv
