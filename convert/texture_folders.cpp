#include "convert/texture_folders.h"

#include "platform/files.h"
#include "platform/utf8_path.h"

namespace ulv {

namespace fs = std::filesystem;

TextureFolders::TextureFolders(std::vector<std::string> folders) : folders_(std::move(folders)) {}

std::optional<fs::path> TextureFolders::find(const std::string& materialName) {
    for (std::size_t i = 0; i < folders_.size(); ++i) {
        const fs::path folder = utf8Path(folders_[i].empty() ? "." : folders_[i]);
        auto listed = listed_.find(i);
        if (listed == listed_.end())
            listed = listed_.emplace(i, FolderNames(namesIn(folder))).first;
        if (const std::optional<std::string> file = findTexture(listed->second, materialName))
            return folder / utf8Path(*file);
    }
    return std::nullopt;
}

} // namespace ulv
