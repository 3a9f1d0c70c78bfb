// The textures of a model's materials, read from the folders they are kept in.
#pragma once

#include <string>
#include <vector>

#include "model/model.h"
#include "texture/texture.h"

namespace ulv {

// Folders named in one text as PATH names them: separated by ':', by ';' on
// Windows (where ':' follows a drive letter). Empty entries are skipped.
#ifdef _WIN32
inline constexpr char folderListSeparator = ';';
#else
inline constexpr char folderListSeparator = ':';
#endif
std::vector<std::string> splitFolderList(const std::string& list);

// Finds each material's file NAME.BMP in `folder` (UTF-8), the name matched
// without regard to case, and converts it. Each texture that cannot be used
// adds one line to `notes`, naming it and saying why.
TextureSet loadTextures(const Model& model, const std::string& folder,
                        std::vector<std::string>& notes);

// The same over folders searched in order. With `missing`, the names of
// textures found in none of them (as textureNameOf spells them) go there
// instead of a line each in `notes`.
TextureSet loadTextures(const Model& model, const std::vector<std::string>& folders,
                        std::vector<std::string>& notes,
                        std::vector<std::string>* missing = nullptr);

} // namespace ulv
