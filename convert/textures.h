// The textures of a model's materials, read from the folders they are kept in.
#pragma once

#include <string>
#include <vector>

#include "model/model.h"
#include "texture/texture.h"

namespace ulv {

// Finds each material's file NAME.BMP in `folder` (UTF-8), the name matched
// without regard to case, and converts it. Each texture that cannot be used
// adds one line to `notes`, naming it and saying why.
TextureSet loadTextures(const Model& model, const std::string& folder,
                        std::vector<std::string>& notes);

} // namespace ulv
