// Writing model files: over the file already there when it reads as a model
// (the template), with the textures its materials need beside it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "convert/outputs.h"
#include "mod/over.h"
#include "model/model.h"
#include "model/reuse.h"

namespace ulv {

// The model file at `path`, when there is a plain file there that reads as
// a model.
std::optional<TemplateFile> templateAt(const std::string& path);

// The name a model file made for `wanted` takes: that of a file already in
// its folder whose name differs only in case (HOUSE.MOD, as the game names
// its files, for house.mod), so that it is the template and is replaced, as
// on Windows; else `wanted`.
std::filesystem::path existingCaseOf(const std::filesystem::path& wanted);

// The places in `templ` of a model read from another model file: each mesh
// and section takes the one at its own place, keeping its bytes where its
// records are the template's.
Reuse reuseOf(const Model& model, const Model& templ);

// The counts `-v` prints: "Sections: K kept, C changed, A added, D dropped".
std::string sectionCounts(const Reuse& reuse);

// Writes `model` at `path` (over `templ` as `reuse` says, when there is
// one) and `sideFiles` beside it; nothing is replaced unless all are written.
bool writeModelFile(const Model& model, const Reuse& reuse, const TemplateFile* templ,
                    const std::string& path, const SideFiles& sideFiles, Notes& notes);

} // namespace ulv
