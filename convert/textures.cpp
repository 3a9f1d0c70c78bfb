#include "convert/textures.h"

#include <map>
#include <optional>

#include "platform/files.h"
#include "platform/utf8_path.h"
#include "texture/find.h"

namespace ulv {

namespace fs = std::filesystem;

// BMP files are read whole; larger ones are refused rather than read.
constexpr std::uintmax_t maxTextureFileSize = std::uintmax_t{1} << 30;

TextureSet loadTextures(const Model& model, const std::string& folder,
                        std::vector<std::string>& notes) {
    TextureSet set;
    const fs::path folderPath = utf8Path(folder.empty() ? "." : folder);
    std::optional<FolderNames> listed; // listed once, when the first name needs it
    std::map<std::string, std::size_t> imageOfFile;
    std::map<std::string, bool> seen;
    for (const Mesh& mesh : model.meshes) {
        for (const MeshSection& section : mesh.sections) {
            const std::string name = materialNameOf(section);
            if (name.empty() || !seen.emplace(name, true).second)
                continue;
            if (!listed)
                listed.emplace(namesIn(folderPath));
            const std::optional<std::string> file = findTexture(*listed, name);
            std::string why;
            if (!file) {
                why = "not found";
            } else if (const auto known = imageOfFile.find(*file); known != imageOfFile.end()) {
                set.imageOf[name] = known->second;
                continue;
            } else if (const auto bytes =
                           readPlainFile(folderPath / utf8Path(*file), maxTextureFileSize, why)) {
                if (auto image = bmpToPng(bytes->data(), bytes->size(), why)) {
                    imageOfFile[*file] = set.images.size();
                    set.imageOf[name] = set.images.size();
                    set.images.push_back(std::move(*image));
                    continue;
                }
            }
            notes.push_back("Texture " + printable(textureNameOf(name)) + " left out: " + why);
        }
    }
    return set;
}

} // namespace ulv
