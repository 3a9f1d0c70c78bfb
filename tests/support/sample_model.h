#pragma once

#include "model/model.h"

namespace ulv {

// The bundled example, a small house: two meshes, the second (its roof)
// turned, scaled and moved; five sections, wound counter-clockwise seen from
// where their normals point; one material shared between the meshes.
Model sampleModel();

} // namespace ulv
