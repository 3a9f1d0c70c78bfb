// What a glTF scene becomes as a model: one mesh per node that has a mesh, or
// that our own files mark as one, in scene order, with the node's world
// matrix as its transform; one section per primitive with its material's
// name. Our own glTF's extras give back the fields glTF has no place for,
// the transform each mesh had, and the stored order of reversed triangles.
// Written over a template, each of the template's sections whose triangles
// the scene still holds is kept as it is, and the rest follow the scene.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "gltf/reader.h"
#include "model/model.h"
#include "model/reuse.h"

namespace ulv {

struct ModelFromGltf {
    Model model;
    Reuse reuse; // the template's places each mesh and section takes
    // Each section's material name (8-bit) and its image in the scene.
    std::map<std::string, std::int64_t> imageOfName;
};

// `templ`: the model file the result is to be written over, or none. Notes
// get one line for each kind of thing that changes on the way. The scene's
// primitives give up their arrays; its images stay.
ModelFromGltf modelOf(GltfScene& scene, const Model* templ, Notes& notes);

} // namespace ulv
