// The game's files come from Windows, so NAME.BMP is matched without regard
// to case. Only names listed in the folder can match: a material name with a
// slash or ".." never reaches outside it.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "export/utf8_path.h"
#include "texture/texture.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

// Larger files are refused rather than read whole.
constexpr std::uintmax_t maxFileSize = std::uintmax_t{1} << 30;

std::string foldCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// For the console: control bytes could move the cursor or clear the screen.
std::string printable(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

struct Folder {
    // Folded name to the names that fold to it, in bytewise order.
    std::map<std::string, std::vector<std::string>> entries;
};

Folder listFolder(const fs::path& folder) {
    Folder listed;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = utf8Text(it->path().filename());
        listed.entries[foldCase(name)].push_back(name);
    }
    for (auto& entry : listed.entries)
        std::sort(entry.second.begin(), entry.second.end());
    return listed;
}

// The listed name for `wanted`: the same bytes if there, else the first that
// differs only in case.
std::optional<std::string> match(const Folder& folder, const std::string& wanted) {
    const auto found = folder.entries.find(foldCase(wanted));
    if (found == folder.entries.end())
        return std::nullopt;
    const std::vector<std::string>& names = found->second;
    if (std::find(names.begin(), names.end(), wanted) != names.end())
        return wanted;
    return names.front();
}

std::optional<std::vector<std::uint8_t>> readFile(const fs::path& path, std::string& why) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    // Only plain files: a pipe or a device could block the read for ever.
    if (!fs::is_regular_file(status)) {
        why = fs::is_directory(status) ? "is a folder" : "not a regular file";
        return std::nullopt;
    }
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) {
        why = "cannot be read";
        return std::nullopt;
    }
    if (size > maxFileSize) {
        why = "file too large";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)) ||
        in.peek() != std::ifstream::traits_type::eof()) {
        why = "cannot be read";
        return std::nullopt;
    }
    return bytes;
}

} // namespace

TextureSet loadTextures(const Model& model, const std::string& folder,
                        std::vector<std::string>& notes) {
    TextureSet set;
    const fs::path folderPath = utf8Path(folder.empty() ? "." : folder);
    std::optional<Folder> listed; // listed once, when the first name needs it
    std::map<std::string, std::size_t> imageOfFile;
    std::map<std::string, bool> seen;
    for (const Mesh& mesh : model.meshes) {
        for (const MeshSection& section : mesh.sections) {
            const std::string name = materialNameOf(section);
            if (name.empty() || !seen.emplace(name, true).second)
                continue;
            if (!listed)
                listed = listFolder(folderPath);
            const std::string wanted = name + ".BMP";
            const std::string wantedUtf8 = latin1ToUtf8(wanted);
#ifdef _WIN32
            const std::optional<std::string> file = match(*listed, wantedUtf8);
#else
            // The name's own bytes, or the UTF-8 that folders unpacked on
            // Linux usually use.
            std::optional<std::string> file = match(*listed, wanted);
            if (!file)
                file = match(*listed, wantedUtf8);
#endif
            std::string why;
            if (!file) {
                why = "not found";
            } else if (const auto known = imageOfFile.find(*file); known != imageOfFile.end()) {
                set.imageOf[name] = known->second;
                continue;
            } else if (const auto bytes = readFile(folderPath / utf8Path(*file), why)) {
                if (auto image = bmpToPng(bytes->data(), bytes->size(), why)) {
                    imageOfFile[*file] = set.images.size();
                    set.imageOf[name] = set.images.size();
                    set.images.push_back(std::move(*image));
                    continue;
                }
            }
            notes.push_back("Texture " + printable(wantedUtf8) + " left out: " + why);
        }
    }
    return set;
}

} // namespace ulv
