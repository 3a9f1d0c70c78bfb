// Writes a Model as a Wavefront OBJ file and its MTL material library.
#pragma once

#include <iosfwd>
#include <string>

#include "model/model.h"

namespace ulv {

// Writes the OBJ text to `obj` and the library to `mtl`; the OBJ names the
// library as `mtlName`. False when either stream failed.
bool writeObj(Model model, std::ostream& obj, std::ostream& mtl, const std::string& mtlName);

} // namespace ulv
