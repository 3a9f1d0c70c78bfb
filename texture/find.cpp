#include "texture/find.h"

#include <algorithm>

#include "model/model.h"

namespace ulv {
namespace {

std::string foldCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

FolderNames::FolderNames(const std::vector<std::string>& names) {
    for (const std::string& name : names)
        byFolded_[foldCase(name)].push_back(name);
    for (auto& entry : byFolded_)
        std::sort(entry.second.begin(), entry.second.end());
}

std::optional<std::string> FolderNames::match(const std::string& wanted) const {
    const auto found = byFolded_.find(foldCase(wanted));
    if (found == byFolded_.end())
        return std::nullopt;
    const std::vector<std::string>& names = found->second;
    if (std::find(names.begin(), names.end(), wanted) != names.end())
        return wanted;
    return names.front();
}

std::string textureNameOf(const std::string& materialName) {
    return latin1ToUtf8(materialName + ".BMP");
}

std::optional<std::string> findTexture(const FolderNames& folder, const std::string& materialName) {
#ifdef _WIN32
    return folder.match(textureNameOf(materialName));
#else
    // The name's own bytes, or the UTF-8 that folders unpacked on Linux
    // usually use.
    if (std::optional<std::string> file = folder.match(materialName + ".BMP"))
        return file;
    return folder.match(textureNameOf(materialName));
#endif
}

std::string printable(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

} // namespace ulv
