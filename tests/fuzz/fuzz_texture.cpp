// libFuzzer target: arbitrary bytes as a BMP file. Decoding must fail with a
// reason or give a PNG of the size the header states; memory stays in
// proportion to the input (the run sets a malloc limit).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "texture/texture.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_texture: %s\n", what);
    std::abort();
}

std::uint32_t bigEndian(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
           std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string why;
    const auto image = ulv::bmpToPng(data, size, why);
    if (!image) {
        if (why.empty())
            fail("refused without a reason");
        return 0;
    }
    if (image->width == 0 || image->height == 0)
        fail("an image without pixels was accepted");
    // The PNG's header chunk states the size that was decoded.
    const std::vector<std::uint8_t>& png = image->png;
    if (png.size() < 24 || png[1] != 'P' || png[2] != 'N' || png[3] != 'G')
        fail("not a PNG");
    if (bigEndian(png, 16) != image->width || bigEndian(png, 20) != image->height)
        fail("the PNG's size differs from the image's");
    return 0;
}
