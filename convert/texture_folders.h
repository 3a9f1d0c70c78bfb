// Where a material's texture file is: NAME.BMP in the first of several
// folders that has it.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "texture/find.h"

namespace ulv {

// Searches folders in order, the name matched without regard to case. Each
// folder is listed once, when first needed, and only names listed there can
// match: a material name with a slash or ".." reaches nothing else.
class TextureFolders {
  public:
    explicit TextureFolders(std::vector<std::string> folders); // UTF-8; "" is the current one

    // The file that holds the texture of `materialName`, from the first
    // folder that has one.
    std::optional<std::filesystem::path> find(const std::string& materialName);

  private:
    std::vector<std::string> folders_;
    std::map<std::size_t, FolderNames> listed_;
};

} // namespace ulv
