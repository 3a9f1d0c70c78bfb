#include "tests/support/bmp_builder.h"

#include <algorithm>

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

namespace {

Rgb shade(Rgb colour, int percent) {
    const auto scale = [percent](std::uint8_t c) {
        return static_cast<std::uint8_t>(std::min(255, c * percent / 100));
    };
    return {scale(colour.r), scale(colour.g), scale(colour.b)};
}

// Vertical planks with dark joints and a little grain.
std::vector<Rgb> planks(std::uint32_t size) {
    std::vector<Rgb> pixels;
    for (std::uint32_t y = 0; y < size; ++y)
        for (std::uint32_t x = 0; x < size; ++x) {
            const std::uint32_t plank = x / 8;
            const int grain = ((x * 7 + y * 3 + plank * 11) % 13 < 2) ? 85 : 100;
            pixels.push_back(x % 8 == 0 ? Rgb{70, 42, 20}
                                        : shade({166, 112, 62}, grain - int(plank % 2) * 8));
        }
    return pixels;
}

// Corrugated sheets: ridges across, lit from one side.
std::vector<Rgb> corrugated(std::uint32_t size) {
    static const int light[8] = {70, 85, 100, 112, 118, 110, 95, 78};
    std::vector<Rgb> pixels;
    for (std::uint32_t y = 0; y < size; ++y)
        for (std::uint32_t x = 0; x < size; ++x)
            pixels.push_back(shade({150, 160, 172}, light[x % 8]));
    return pixels;
}

// Four panes of sky in a white frame.
std::vector<Rgb> window(std::uint32_t size) {
    std::vector<Rgb> pixels;
    for (std::uint32_t y = 0; y < size; ++y)
        for (std::uint32_t x = 0; x < size; ++x) {
            const bool frame = x < 2 || y < 2 || x >= size - 2 || y >= size - 2 ||
                               x / 2 == size / 4 || y / 2 == size / 4;
            pixels.push_back(frame ? Rgb{240, 240, 235} : shade({90, 170, 230}, 80 + int(y) * 2));
        }
    return pixels;
}

} // namespace

std::vector<std::pair<std::string, Bytes>> sampleTextures() {
    return {{"WOOD.BMP", makeBmp(32, 32, planks(32))},
            {"Metal.bmp", makeBmp(32, 32, corrugated(32))},
            {"GLASS.bmp", makeBmp(32, 32, window(32))}};
}

} // namespace ulv
