#pragma once

#include "model/model.h"

namespace ulv {

// The bundled example: two meshes, the second rotated and moved, four
// sections, one material shared between the meshes.
Model sampleModel();

} // namespace ulv
