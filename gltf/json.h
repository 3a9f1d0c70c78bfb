// The glTF JSON: compact, built in memory, since it is small beside the
// binary data.
#pragma once

#include <string>

#include "gltf/layout.h"
#include "model/model.h"
#include "texture/texture.h"

namespace ulv {

// `binName`: the buffer's file beside a .gltf; none for a .glb, whose
// buffer is its own binary chunk.
std::string jsonOf(const Model& model, const Layout& layout, const TextureSet& textures,
                   const std::string* binName);

} // namespace ulv
