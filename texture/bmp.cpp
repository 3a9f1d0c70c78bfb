// Images in and out through stb_image and stb_image_write: the game's BMP
// files as PNG for glTF, and glTF's images as BMP for the game. Headers are
// checked here first: the decoder trusts the dimensions it reads, so a short
// file claiming a huge image would otherwise allocate for all of it.
#include <algorithm>
#include <cstring>
#include <limits>

#include "texture/texture.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_ASSERT(x) ((void)0)
#include <stb/stb_image.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

namespace ulv {
namespace {

std::uint32_t u16At(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8;
}

std::uint32_t u32At(const std::uint8_t* p) { return u16At(p) | u16At(p + 2) << 16; }

std::int64_t i32At(const std::uint8_t* p) {
    const std::uint32_t u = u32At(p);
    return u < 0x80000000u ? std::int64_t{u} : std::int64_t{u} - (std::int64_t{1} << 32);
}

// Refuses what the decoder would fail on or what the file cannot hold,
// before any pixel memory is allocated.
bool checkHeader(const std::uint8_t* data, std::size_t size, std::string& why) {
    if (size < 26 || data[0] != 'B' || data[1] != 'M') {
        why = "not a BMP file";
        return false;
    }
    const std::uint64_t offset = u32At(data + 10);
    const std::uint32_t headerSize = u32At(data + 14);
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t bits = 0;
    std::uint32_t compression = 0;
    if (headerSize == 12) {
        width = u16At(data + 18);
        height = u16At(data + 20);
        bits = u16At(data + 24);
    } else if (headerSize == 40 || headerSize == 56 || headerSize == 108 || headerSize == 124) {
        if (size < 34) {
            why = "truncated";
            return false;
        }
        width = i32At(data + 18);
        height = i32At(data + 22);
        bits = u16At(data + 28);
        compression = u32At(data + 30);
    } else {
        why = "unsupported BMP header";
        return false;
    }
    if (compression != 0 && compression != 3) {
        why = "unsupported compression";
        return false;
    }
    // A negative height means rows stored top to bottom.
    if (height < 0)
        height = -height;
    if (width <= 0 || height <= 0) {
        why = "no pixels";
        return false;
    }
    // The decoder's own limit on a side.
    constexpr std::int64_t maxSide = std::int64_t{1} << 24;
    if (width > maxSide || height > maxSide) {
        why = "dimensions too large";
        return false;
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        why = "unsupported pixel format";
        return false;
    }
    // Rows are padded to four bytes.
    const std::uint64_t row = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
    const std::uint64_t pixels = row * static_cast<std::uint64_t>(height);
    if (offset > size || pixels > size - offset) {
        why = "truncated";
        return false;
    }
    return true;
}

void append(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

// Encodes decoded pixels as PNG and frees them.
std::optional<PngImage> encodePng(stbi_uc* pixels, int width, int height, int channels,
                                  std::string& why) {
    PngImage image{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), {}};
    const int written = stbi_write_png_to_func(append, &image.png, width, height, channels, pixels,
                                               width * channels);
    stbi_image_free(pixels);
    if (!written) {
        why = "cannot be encoded as PNG";
        return std::nullopt;
    }
    return image;
}

} // namespace

std::optional<PngImage> bmpToPng(const std::uint8_t* data, std::size_t size, std::string& why) {
    if (!checkHeader(data, size, why))
        return std::nullopt;
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        why = "file too large";
        return std::nullopt;
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    stbi_uc* pixels =
        stbi_load_from_memory(data, static_cast<int>(size), &width, &height, &channels, 0);
    if (!pixels) {
        why = "unreadable BMP";
        return std::nullopt;
    }
    return encodePng(pixels, width, height, channels, why);
}

namespace {

// Images glTF holds may be made by anything: at most this many pixels are
// decoded, about a gigabyte with four channels, whatever the file claims.
constexpr std::uint64_t maxPixels = std::uint64_t{1} << 28;

// Decodes PNG, JPEG or BMP with `channels` channels; null and `why` when
// the image is refused or unreadable.
stbi_uc* decode(const std::uint8_t* data, std::size_t size, int channels, int& width, int& height,
                std::string& why) {
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        why = "file too large";
        return nullptr;
    }
    if (size >= 2 && data[0] == 'B' && data[1] == 'M' && !checkHeader(data, size, why))
        return nullptr;
    int stored = 0;
    if (!stbi_info_from_memory(data, static_cast<int>(size), &width, &height, &stored)) {
        why = "not an image the tool reads";
        return nullptr;
    }
    if (width <= 0 || height <= 0 ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > maxPixels) {
        why = "dimensions too large";
        return nullptr;
    }
    stbi_uc* pixels =
        stbi_load_from_memory(data, static_cast<int>(size), &width, &height, &stored, channels);
    if (!pixels)
        why = "unreadable image";
    return pixels;
}

bool isPng(const std::uint8_t* data, std::size_t size) {
    static constexpr std::uint8_t magic[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return size >= 24 && std::memcmp(data, magic, 8) == 0;
}

} // namespace

std::optional<PngImage> imageToPng(const std::uint8_t* data, std::size_t size, std::string& why) {
    int width = 0, height = 0, channels = 0;
    if (isPng(data, size)) {
        // Kept as it is, once it is known to decode.
        stbi_uc* pixels = decode(data, size, 0, width, height, why);
        if (!pixels)
            return std::nullopt;
        stbi_image_free(pixels);
        return PngImage{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                        std::vector<std::uint8_t>(data, data + size)};
    }
    if (!stbi_info_from_memory(
            data, static_cast<int>(std::min<std::size_t>(size, std::numeric_limits<int>::max())),
            &width, &height, &channels)) {
        why = "not an image the tool reads";
        return std::nullopt;
    }
    stbi_uc* pixels = decode(data, size, channels, width, height, why);
    if (!pixels)
        return std::nullopt;
    return encodePng(pixels, width, height, channels, why);
}

std::optional<std::vector<std::uint8_t>> imageToBmp(const std::uint8_t* data, std::size_t size,
                                                    std::string& why) {
    int width = 0, height = 0;
    stbi_uc* pixels = decode(data, size, 3, width, height, why);
    if (!pixels)
        return std::nullopt;
    std::vector<std::uint8_t> bmp;
    const int written = stbi_write_bmp_to_func(append, &bmp, width, height, 3, pixels);
    stbi_image_free(pixels);
    if (!written) {
        why = "cannot be encoded as BMP";
        return std::nullopt;
    }
    return bmp;
}

} // namespace ulv
