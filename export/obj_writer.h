// Writes a Model as a Wavefront OBJ file and its MTL material library.
#pragma once

#include <iosfwd>
#include <string>

#include "model/model.h"

namespace ulv {

// The library beside the OBJ: the output path with its extension, if its file
// name has one, replaced by ".mtl".
std::string mtlPathFor(const std::string& outputPath);

// Writes the OBJ text to `obj` and the library to `mtl`; the OBJ names the
// library as `mtlName`. False when either stream failed.
bool writeObj(Model model, std::ostream& obj, std::ostream& mtl, const std::string& mtlName);

// Writes `outputPath` and the library beside it. Existing files are replaced
// only once both new ones are complete; on failure both are left as they were
// and false is returned.
bool writeObj(Model model, const std::string& outputPath);

} // namespace ulv
