#include "convert/textures.h"

#include <map>
#include <set>

#include "convert/texture_folders.h"
#include "platform/files.h"
#include "platform/utf8_path.h"

namespace ulv {

namespace fs = std::filesystem;

// BMP files are read whole; larger ones are refused rather than read.
constexpr std::uintmax_t maxTextureFileSize = std::uintmax_t{1} << 30;

std::vector<std::string> splitFolderList(const std::string& list) {
    std::vector<std::string> folders;
    std::size_t start = 0;
    for (std::size_t end; start <= list.size(); start = end + 1) {
        end = list.find(folderListSeparator, start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start)
            folders.push_back(list.substr(start, end - start));
    }
    return folders;
}

TextureSet loadTextures(const Model& model, const std::string& folder,
                        std::vector<std::string>& notes) {
    return loadTextures(model, std::vector<std::string>{folder}, notes);
}

TextureSet loadTextures(const Model& model, const std::vector<std::string>& folders,
                        std::vector<std::string>& notes, std::vector<std::string>* missing) {
    TextureSet set;
    TextureFolders lookup(folders);
    std::map<fs::path, std::size_t> imageOfFile;
    std::set<std::string> seen;
    for (const Mesh& mesh : model.meshes) {
        for (const MeshSection& section : mesh.sections) {
            const std::string name = materialNameOf(section);
            if (name.empty() || !seen.insert(name).second)
                continue;
            const std::optional<fs::path> file = lookup.find(name);
            std::string why;
            if (!file) {
                if (missing) {
                    missing->push_back(printable(textureNameOf(name)));
                    continue;
                }
                why = "not found";
            } else if (const auto known = imageOfFile.find(*file); known != imageOfFile.end()) {
                set.imageOf[name] = known->second;
                continue;
            } else if (const auto bytes = readPlainFile(*file, maxTextureFileSize, why)) {
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
