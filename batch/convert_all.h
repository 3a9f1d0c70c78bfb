// Converts the models of a batch run on several threads at once, reporting
// each in the models' order whatever order they finish in.
#pragma once

#include <cstddef>
#include <filesystem>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "batch/models.h"

namespace ulv {

struct BatchOptions {
    std::optional<std::filesystem::path> outputFolder;
    std::filesystem::path extension = ".obj";
    unsigned jobs = 1;
    bool verbose = false;  // each model's header dump, under its name
    bool progress = false; // a progress line on standard error
    // Searched for textures after each model's own folder (UTF-8).
    std::vector<std::string> textureFolders;
    // OBJ into an output folder: the textures are copied beside the OBJs.
    bool copyTextures = false;
};

struct BatchCounts {
    std::size_t converted = 0;
    std::size_t failed = 0;
};

// Writes a line "NAME: MESSAGE" to `out` for each model that fails and each
// note about an output; with `verbose`, each model's dump first under a
// line "NAME:". Then one line for each texture found nowhere, with the
// number of models that wanted it. After an interrupt (platform/interrupt.h)
// no model is started; those being converted are given up, unreported.
BatchCounts convertAll(const BatchList& list, const BatchOptions& options, std::ostream& out);

} // namespace ulv
