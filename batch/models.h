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

// Kept small, with its path in a text shared by all: a run over a folder of
// 100,000 models holds one per model.
struct BatchModel {
    std::uint64_t pathAt = 0; // where its path starts in BatchList::paths
    std::uint32_t pathLength = 0;
    // Where, in its path, the part mirrored under an output folder starts.
    std::uint32_t mirroredFrom = 0;
    // An earlier model with the same output, which this one must not overwrite.
    std::uint32_t collidesWith = noModel;
    // Not a model: a folder whose entries could not be listed.
    bool unreadableFolder = false;
    std::uintmax_t size = 0; // bytes, when asked for
};

struct BatchList {
    std::vector<BatchModel> models;
    // The paths of all, one after another: the PATH each was found under,
    // joined with the way there.
    std::filesystem::path::string_type paths;

    std::filesystem::path pathOf(const BatchModel& model) const;
    // The name a model is reported by, in UTF-8.
    std::string nameOf(const BatchModel& model) const;
};

// Whether a found file is taken for a model: its extension is ".mod" in any case.
bool hasModelExtension(const std::filesystem::path& path);

// Everything the paths hold (UTF-8; each must exist): a file is a model
// whatever its name; a folder is searched through, also its sub-folders,
// for regular files with a model extension, following links to files but
// not links to folders. Sorted by name; a model found more than once is
// kept once, as given nearest (a file given directly before the same file
// found in a folder). `sizes`: also look up each file's size.
BatchList findModels(const std::vector<std::string>& paths, bool sizes);

// The output file for `extension` (such as ".obj"): beside the model, or
// under `outputFolder`, mirroring the model's place under its PATH.
std::filesystem::path outputFor(const BatchList& list, const BatchModel& model,
                                const std::optional<std::filesystem::path>& outputFolder,
                                const std::filesystem::path& extension);

// Sets collidesWith for every model whose output an earlier one writes too.
void findCollisions(BatchList& list, const std::optional<std::filesystem::path>& outputFolder,
                    const std::filesystem::path& extension);

} // namespace ulv
