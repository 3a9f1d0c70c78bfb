// The game's files come from Windows, so a texture NAME.BMP is matched
// without regard to case. Only names listed in a folder can match: a
// material name with a slash or ".." never reaches outside it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ulv {

// The names of one folder's entries (UTF-8), looked up without regard to case.
class FolderNames {
  public:
    explicit FolderNames(const std::vector<std::string>& names);

    // The listed name for `wanted`: the same bytes if there, else the first,
    // in bytewise order, that differs only in case.
    std::optional<std::string> match(const std::string& wanted) const;

  private:
    std::map<std::string, std::vector<std::string>> byFolded_;
};

// The file name of a material's texture as the game spells it, NAME.BMP,
// in UTF-8 (the name's 8-bit bytes read as Latin-1).
std::string textureNameOf(const std::string& materialName);

// The listed file that holds the texture of `materialName`, if any.
std::optional<std::string> findTexture(const FolderNames& folder, const std::string& materialName);

// Text fit for a console line: control bytes could move the cursor or clear
// the screen, so each becomes '?'.
std::string printable(std::string text);

} // namespace ulv
