// Reading back what the glTF writer made, and the hostile models that the
// writer, the validator and the real readers are all run on.
#pragma once

#include <string>
#include <vector>

#include "gltf/writer.h"

namespace ulv {

struct GlbParts {
    bool valid = false;
    std::string error; // why not valid
    std::string json, bin;
};

// Checks the GLB framing (magic, version, total length, chunk types and
// lengths, padding) and returns the two chunks.
GlbParts splitGlb(const std::string& glb);

struct HostileModel {
    std::string name; // also usable as a file name
    Model model;
    Notes notes;                      // exactly what the writer says
    std::vector<std::string> present; // pieces of the JSON that must be there
    std::vector<std::string> absent;  // and that must not
};

std::vector<HostileModel> hostileModels();

} // namespace ulv
