// The models a batch run converts: found under the paths it is given, named
// in a fixed order, each with the output it writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ulv {

inline constexpr std::uint32_t noModel = UINT32_MAX;

// Kept small: a run over a folder of 100,000 models holds one per model.
struct BatchModel {
    // The PATH it was found under, joined with the way there.
    std::filesystem::path input;
    // Where, in input.native(), the part mirrored under an output folder starts.
    std::uint32_t mirroredFrom = 0;
    // An earlier model with the same output, which this one must not overwrite.
    std::uint32_t collidesWith = noModel;
    // Not a model: a folder whose entries could not be listed.
    bool unreadableFolder = false;
    std::uintmax_t size = 0; // bytes, when asked for
};

// Whether a found file is taken for a model: its extension is ".mod" in any case.
bool hasModelExtension(const std::filesystem::path& path);

// Everything the paths hold (UTF-8; each must exist): a file is a model
// whatever its name; a folder is searched through, also its sub-folders,
// for regular files with a model extension, following links to files but
// not links to folders. Sorted by name, each model once. `sizes`: also
// look up each file's size.
std::vector<BatchModel> findModels(const std::vector<std::string>& paths, bool sizes);

// The name a model is reported by, in UTF-8.
std::string nameOf(const BatchModel& model);

// The output file for `extension` (such as ".obj"): beside the model, or
// under `outputFolder`, mirroring the model's place under its PATH.
std::filesystem::path outputFor(const BatchModel& model,
                                const std::optional<std::filesystem::path>& outputFolder,
                                const std::filesystem::path& extension);

// Sets collidesWith for every model whose output an earlier one writes too.
void findCollisions(std::vector<BatchModel>& models,
                    const std::optional<std::filesystem::path>& outputFolder,
                    const std::filesystem::path& extension);

} // namespace ulv
