// A model written over an existing model file, the template, keeping every
// byte it does not change: the header's fields, the mesh headers, the
// sections it keeps, and whatever lies between blocks.
#pragma once

#include <optional>

#include "mod/section_hook.h"
#include "mod/writer.h"
#include "model/reuse.h"

namespace ulv {

struct TemplateFile {
    Bytes bytes;
    Model model;
    ModelPlaces places;
};

// The template in `bytes`, when they read as a model.
std::optional<TemplateFile> readTemplate(Bytes bytes);

// The file for `model`, whose meshes and sections take the places in
// `templ` that `reuse` says, in the template's order, the others after them:
// a kept section is the template's bytes, a changed one is written in its
// place, each followed by what followed it there, and new meshes and
// sections come after their template's. The result always reads back as
// `model`; where the template's bytes between blocks would be read as
// blocks of their own (a section added behind bytes that hold a section
// tag), they are left out, and `betweenKept` is false.
Bytes writeOver(const Model& model, const Reuse& reuse, const TemplateFile& templ,
                bool& betweenKept);

} // namespace ulv
