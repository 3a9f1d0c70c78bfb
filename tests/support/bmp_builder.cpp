#include "tests/support/bmp_builder.h"

namespace ulv {
namespace {

void appendU16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8 & 0xFF));
}

} // namespace

Bytes makeBmp(std::uint32_t width, std::uint32_t height, const std::vector<Rgb>& pixels) {
    const std::uint32_t row = (3 * width + 3) / 4 * 4;
    Bytes out{'B', 'M'};
    appendU32(out, 54 + row * height);
    appendU32(out, 0);
    appendU32(out, 54); // pixels start after the two headers
    appendU32(out, 40);
    appendU32(out, width);
    appendU32(out, height);
    appendU16(out, 1);
    appendU16(out, 24);
    appendU32(out, 0); // no compression
    appendU32(out, row * height);
    appendU32(out, 2835); // 72 dpi
    appendU32(out, 2835);
    appendU32(out, 0);
    appendU32(out, 0);
    for (std::uint32_t y = height; y-- > 0;) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const Rgb& p = pixels[std::size_t{y} * width + x];
            out.insert(out.end(), {p.b, p.g, p.r});
        }
        out.resize(out.size() + row - 3 * width, 0);
    }
    return out;
}

std::vector<Rgb> quadrants(std::uint32_t width, std::uint32_t height, Rgb colour) {
    const Rgb half{static_cast<std::uint8_t>(colour.r / 2), static_cast<std::uint8_t>(colour.g / 2),
                   static_cast<std::uint8_t>(colour.b / 2)};
    std::vector<Rgb> pixels;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const bool top = y < height / 2;
            const bool left = x < width / 2;
            pixels.push_back(top ? (left ? colour : Rgb{255, 255, 255})
                                 : (left ? Rgb{0, 0, 0} : half));
        }
    }
    return pixels;
}

std::vector<std::pair<std::string, Bytes>> sampleTextures() {
    return {{"WOOD.BMP", makeBmp(16, 16, quadrants(16, 16, {160, 100, 40}))},
            {"Metal.bmp", makeBmp(16, 8, quadrants(16, 8, {120, 130, 150}))},
            {"GLASS.bmp", makeBmp(8, 8, quadrants(8, 8, {60, 160, 220}))}};
}

} // namespace ulv
