// Which nodes a glTF scene holds, in order, and where each one stands: the
// node hierarchy checked to be a forest and every world matrix finite.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "gltf/tinygltf.h"

namespace ulv {

// Column-major, as glTF writes them.
using Matrix4 = std::array<double, 16>;

struct PlacedNode {
    std::size_t node = 0;
    Matrix4 world{}; // its ancestors' matrices times its own
};

struct SceneNodes {
    int scene = -1; // the chosen scene, or -1 for every root node
    std::vector<PlacedNode> nodes;
};

// The scene `scene` names, else scene 0, else every root node (one that no
// node lists as a child) in index order; its roots in order, each followed
// depth first by its descendants, parents before children.
SceneNodes sceneNodes(const tg::Model& model);

} // namespace ulv
