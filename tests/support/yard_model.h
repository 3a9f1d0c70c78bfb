// A model larger than the sample for the round trips through 3D programs:
// four meshes, each turned about a slanted axis and scaled (unevenly for
// two), smooth surfaces whose triangles share vertices beside flat boxes,
// u/v past 1 and below 0, one material in three meshes and twice in one.
#pragma once

#include "model/model.h"

namespace ulv {

Model yardModel();

} // namespace ulv
