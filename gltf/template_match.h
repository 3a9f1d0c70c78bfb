// Which of a template's meshes and triangles a glTF scene still holds: both
// seen as glTF holds them, in model space. A node takes the place of the
// template mesh most of its triangles are; one none of whose triangles are
// there (moved whole) takes that of the mesh its extras name.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "gltf/match.h"
#include "gltf/stored.h"
#include "model/model.h"

namespace ulv {

// A template's section as glTF holds it.
struct TemplateForm {
    Form form;
    std::vector<std::uint32_t> original; // per kept triangle: its number in the section
    std::vector<bool> reversed;          // per kept triangle: written reversed
};

TemplateForm formOf(const MeshSection& s, const Transform& transform);

// A primitive in model space, for matching.
Form formOf(const Primitive& p, const World& world);

// A node as the match sees it: its primitives in model space, and the mesh
// fields its extras carry, if any.
struct NodeForms {
    std::vector<Form> primitives;
    std::optional<Mesh> fields;
};

// Where a triangle was found: its section in the template mesh and its
// number among that section's kept triangles; section -1 when nowhere.
struct Found {
    std::int64_t section = -1;
    std::uint32_t kept = 0;
};

struct TemplateMatch {
    std::vector<std::vector<TemplateForm>> forms;       // per template mesh, per section
    std::vector<std::int64_t> meshOf;                   // per node: its template mesh, or -1
    std::vector<std::vector<std::vector<Found>>> found; // per node, primitive, triangle
};

TemplateMatch matchTemplate(const Model& templ, const std::vector<NodeForms>& nodes);

} // namespace ulv
