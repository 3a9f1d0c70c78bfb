// Textures copied beside the OBJ files of a run that writes into an output
// folder: the library names each texture .\NAME.BMP, a file beside it, which
// is otherwise left behind with the models.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "model/model.h"

namespace ulv {

// Shared by the conversions of one run, on any number of threads.
class TextureCopies {
  public:
    // Copies the texture of each of `materials`, found through `folders` as
    // for glTF, into `objFolder` under the very name the library spells.
    // Each name is copied once per folder, never over a different file of
    // that name (a line in `notes` says so) and never onto itself. Textures
    // found nowhere go to `missing`, as textureNameOf spells them.
    void copy(const std::vector<std::string>& materials, const std::vector<std::string>& folders,
              const std::filesystem::path& objFolder, Notes& notes,
              std::vector<std::string>& missing);

  private:
    struct Copied {
        bool busy = true;             // a conversion is copying it now
        std::filesystem::path source; // the file last copied, or tried
    };
    std::mutex mutex_;
    std::condition_variable done_;
    std::map<std::filesystem::path, Copied> copied_; // by target
};

} // namespace ulv
