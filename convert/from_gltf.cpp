#include "convert/from_gltf.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "platform/files.h"
#include "platform/huge_pages.h"
#include "platform/utf8_path.h"
#include "texture/find.h"

namespace ulv {

namespace fs = std::filesystem;

namespace {

// Buffers and images a .gltf names beside it are read whole; larger ones
// could not be glTF's anyway (its lengths are 32-bit).
constexpr std::uintmax_t maxResourceSize = std::uintmax_t{1} << 32;

std::string imageWhy(const GltfScene& scene, std::int64_t image) {
    return image < 0 || static_cast<std::size_t>(image) >= scene.images.size() ||
                   scene.images[static_cast<std::size_t>(image)].bytes.empty()
               ? "not in the file"
               : "";
}

} // namespace

std::optional<GltfScene> readGltfFile(const std::string& path, Notes& notes) {
    const fs::path file = utf8Path(path);
    std::error_code error;
    if (fs::is_directory(file, error))
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    // Whole, in one read when the size is known; a pipe a piece at a time.
    // The buffer is not cleared first: every byte used is read into it.
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0, got = 0;
    if (fs::is_regular_file(file, error)) {
        size = static_cast<std::size_t>(fs::file_size(file, error));
        bytes.reset(new std::uint8_t[size]);
        adviseHugePages(bytes.get(), size, true);
        in.read(reinterpret_cast<char*>(bytes.get()), static_cast<std::streamsize>(size));
        got = static_cast<std::size_t>(in.gcount());
    }
    while (in && in.peek() != std::ifstream::traits_type::eof()) {
        const std::size_t larger = std::max(2 * size, got + (std::size_t{1} << 20));
        std::unique_ptr<std::uint8_t[]> more(new std::uint8_t[larger]);
        std::copy_n(bytes.get(), got, more.get());
        bytes = std::move(more);
        size = larger;
        in.read(reinterpret_cast<char*>(bytes.get() + got),
                static_cast<std::streamsize>(size - got));
        got += static_cast<std::size_t>(in.gcount());
    }
    const fs::path folder = file.parent_path();
    const ResourceLoader load = [&](const std::string& uri,
                                    std::string& why) -> std::optional<std::vector<std::uint8_t>> {
        // Only files in the .gltf's folder or below it: a URL, an absolute
        // path or "..", from a file someone sent, could read anything.
        const fs::path relative = utf8Path(uri);
        const bool climbs = std::any_of(relative.begin(), relative.end(),
                                        [](const fs::path& part) { return part == ".."; });
        if (uri.find(':') != std::string::npos || relative.is_absolute() ||
            relative.has_root_name() || relative.has_root_directory() || climbs) {
            why = "not a file beside the .gltf";
            return std::nullopt;
        }
        return readPlainFile(folder / relative, maxResourceSize, why);
    };
    return readGltf(bytes.get(), got, load, notes);
}

TextureSet texturesOf(const GltfScene& scene,
                      const std::map<std::string, std::int64_t>& imageOfName, Notes& notes) {
    TextureSet set;
    std::map<std::int64_t, std::size_t> converted;
    for (const auto& [name, image] : imageOfName) {
        if (image < 0)
            continue;
        if (const auto known = converted.find(image); known != converted.end()) {
            set.imageOf[name] = known->second;
            continue;
        }
        std::string why = imageWhy(scene, image);
        if (why.empty()) {
            const std::vector<std::uint8_t>& bytes =
                scene.images[static_cast<std::size_t>(image)].bytes;
            if (auto png = imageToPng(bytes.data(), bytes.size(), why)) {
                converted[image] = set.images.size();
                set.imageOf[name] = set.images.size();
                set.images.push_back(std::move(*png));
                continue;
            }
        }
        notes.push_back("Texture of " + printable(latin1ToUtf8(name)) + " left out: " + why);
    }
    return set;
}

SideFiles texturesToWrite(const GltfScene& scene,
                          const std::map<std::string, std::int64_t>& imageOfName,
                          const std::string& outputPath, Notes& notes) {
    const fs::path folder = utf8Path(outputPath).parent_path();
    const FolderNames listed(namesIn(folder.empty() ? fs::path(".") : folder));
    SideFiles files;
    std::set<std::string> planned; // folded, as Windows compares names
    for (const auto& [name, image] : imageOfName) {
        if (image < 0)
            continue;
        const std::string file = textureNameOf(name);
        // The name must stay a name in this folder: a material called
        // "../x" writes nothing elsewhere.
        if (file.find_first_of("/\\:") != std::string::npos ||
            std::any_of(file.begin(), file.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
            notes.push_back("Texture " + printable(file) + " not written: not a plain file name");
            continue;
        }
        std::string folded = file;
        for (char& c : folded)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        // An existing texture is never replaced; two names that differ only
        // in case share one file, as the game's lookup on Windows would.
        if (findTexture(listed, name) || !planned.insert(folded).second)
            continue;
        std::string why = imageWhy(scene, image);
        if (why.empty()) {
            const std::vector<std::uint8_t>& bytes =
                scene.images[static_cast<std::size_t>(image)].bytes;
            if (auto bmp = imageToBmp(bytes.data(), bytes.size(), why)) {
                files.emplace_back(file, std::move(*bmp));
                continue;
            }
        }
        notes.push_back("Texture " + printable(file) + " not written: " + why);
    }
    return files;
}

} // namespace ulv
