// The glTF binary buffer: every primitive's arrays, then the images.
#pragma once

#include <iosfwd>

#include "gltf/layout.h"
#include "gltf/source.h"
#include "texture/texture.h"

namespace ulv {

// Takes each primitive's arrays from `source` a piece at a time, moves them
// as they were moved when examined, and writes them to `out`, followed by
// the images. False when the stream fails, the source cannot give the
// arrays, or they no longer hold what the layout was planned from (a file
// read twice that changed in between).
bool writeBinary(std::ostream& out, const Layout& layout, GltfSource& source,
                 const TextureSet& textures);

} // namespace ulv
