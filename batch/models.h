// The models a batch run converts: found under the paths it is given, named
// in a fixed order, each with the output it writes.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ulv {

inline constexpr std::uint32_t noModel = UINT32_MAX;
inline constexpr std::uint32_t unreadableFolder = UINT32_MAX - 1;

// Kept small: a run over a folder of 100,000 models holds one per model.
// Its path is the text of its root (the PATH it was found under, or the
// folder of a file given directly), shared by all models under it, followed
// by its own part, which is also what is mirrored under an output folder.
struct BatchModel {
    std::uint32_t root = 0;  // in BatchList::roots
    std::uint32_t block = 0; // which of BatchList::blocks holds its own part
    std::uint32_t partAt = 0;
    std::uint32_t partLength = 0;
    // An earlier model with the same output, which this one must not
    // overwrite; or unreadableFolder. (Not a flag of its own: that would
    // make the record a quarter larger.)
    std::uint32_t collidesWith = noModel;
};

// Not a model: a folder whose entries could not be listed.
inline bool isUnreadableFolder(const BatchModel& model) {
    return model.collidesWith == unreadableFolder;
}

struct BatchList {
    // A deque and blocks of text grow without copying what they hold, so
    // the list never needs room for itself twice over.
    std::deque<BatchModel> models;
    std::vector<std::filesystem::path::string_type> roots;  // each ending in a separator, or empty
    std::vector<std::filesystem::path::string_type> blocks; // the models' own parts

    std::filesystem::path pathOf(const BatchModel& model) const;
    // The name a model is reported by, in UTF-8.
    std::string nameOf(const BatchModel& model) const;
};

// What a search through folders takes: model files (".mod"), or glTF files
// (".glb" and ".gltf") to make model files of; in any case.
enum class BatchInputs { models, gltf };

bool isBatchInput(const std::filesystem::path& path, BatchInputs inputs);

// Everything the paths hold (UTF-8; each must exist): a file is a model
// whatever its name; a folder is searched through, also its sub-folders,
// for regular files with a model extension, following links to files but
// not links to folders. Sorted by name; a model found more than once is
// kept once, as given nearest (a file given directly before the same file
// found in a folder).
BatchList findModels(const std::vector<std::string>& paths,
                     BatchInputs inputs = BatchInputs::models);

// The output file for `extension` (such as ".obj"): beside the model, or
// under `outputFolder`, mirroring the model's place under its PATH.
std::filesystem::path outputFor(const BatchList& list, const BatchModel& model,
                                const std::optional<std::filesystem::path>& outputFolder,
                                const std::filesystem::path& extension);

// Sets collidesWith for every model whose output an earlier one writes too.
void findCollisions(BatchList& list, const std::optional<std::filesystem::path>& outputFolder,
                    const std::filesystem::path& extension);

} // namespace ulv
