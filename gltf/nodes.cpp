#include "gltf/nodes.h"

#include <cmath>
#include <string>

#include "gltf/reader_base.h"

namespace ulv {
namespace {

constexpr std::size_t none = static_cast<std::size_t>(-1);

std::string nodeName(std::size_t index) { return "node " + std::to_string(index); }

Matrix4 multiply(const Matrix4& a, const Matrix4& b) {
    Matrix4 out{};
    for (std::size_t column = 0; column < 4; ++column)
        for (std::size_t row = 0; row < 4; ++row) {
            double sum = 0;
            for (std::size_t k = 0; k < 4; ++k)
                sum += a[k * 4 + row] * b[column * 4 + k];
            out[column * 4 + row] = sum;
        }
    return out;
}

// Its `matrix`, or translation * rotation * scale.
Matrix4 localMatrix(const tg::Node& node, std::size_t index) {
    const std::string name = nodeName(index);
    if (!node.matrix.empty()) {
        if (node.matrix.size() != 16)
            throw GltfError(name + "'s matrix is not 16 numbers");
        Matrix4 m{};
        std::copy(node.matrix.begin(), node.matrix.end(), m.begin());
        return m;
    }
    if (!node.translation.empty() && node.translation.size() != 3)
        throw GltfError(name + "'s translation is not 3 numbers");
    if (!node.rotation.empty() && node.rotation.size() != 4)
        throw GltfError(name + "'s rotation is not 4 numbers");
    if (!node.scale.empty() && node.scale.size() != 3)
        throw GltfError(name + "'s scale is not 3 numbers");
    const std::vector<double> t =
        node.translation.empty() ? std::vector<double>{0, 0, 0} : node.translation;
    const std::vector<double> q =
        node.rotation.empty() ? std::vector<double>{0, 0, 0, 1} : node.rotation;
    const std::vector<double> s = node.scale.empty() ? std::vector<double>{1, 1, 1} : node.scale;
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    // The rotation's columns, as glTF's unit quaternion gives them.
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)},
                            {2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)},
                            {2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)}};
    Matrix4 m{};
    for (std::size_t column = 0; column < 3; ++column)
        for (std::size_t row = 0; row < 3; ++row)
            m[column * 4 + row] = r[column][row] * s[column];
    m[12] = t[0];
    m[13] = t[1];
    m[14] = t[2];
    m[15] = 1;
    return m;
}

// Each node's parent, or `none`; throws unless the nodes form a forest.
std::vector<std::size_t> parentsOf(const tg::Model& model) {
    const std::size_t count = model.nodes.size();
    std::vector<std::size_t> parent(count, none);
    for (std::size_t i = 0; i < count; ++i)
        for (const int child : model.nodes[i].children) {
            if (child < 0 || static_cast<std::size_t>(child) >= count)
                throw GltfError(nodeName(i) + " refers to missing node " + std::to_string(child));
            const auto c = static_cast<std::size_t>(child);
            if (parent[c] == i)
                throw GltfError(nodeName(i) + " lists " + nodeName(c) + " twice");
            if (parent[c] != none)
                throw GltfError(nodeName(c) + " has two parents");
            parent[c] = i;
        }
    // With one parent each, a node that no root reaches hangs from a cycle:
    // following its parents from there must come round to a node seen before.
    std::vector<char> reached(count, 0);
    std::vector<std::size_t> stack;
    for (std::size_t i = 0; i < count; ++i)
        if (parent[i] == none)
            stack.push_back(i);
    while (!stack.empty()) {
        const std::size_t n = stack.back();
        stack.pop_back();
        reached[n] = 1;
        for (const int child : model.nodes[n].children)
            stack.push_back(static_cast<std::size_t>(child));
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (reached[i])
            continue;
        std::size_t n = i;
        while (reached[n] != 2) {
            reached[n] = 2;
            n = parent[n];
        }
        throw GltfError("the nodes form a cycle through " + nodeName(n));
    }
    return parent;
}

} // namespace

SceneNodes sceneNodes(const tg::Model& model) {
    const std::vector<std::size_t> parent = parentsOf(model);
    SceneNodes out;
    std::vector<std::size_t> roots;
    if (model.defaultScene != -1 || !model.scenes.empty()) {
        const int scene = model.defaultScene == -1 ? 0 : model.defaultScene;
        if (scene < 0 || static_cast<std::size_t>(scene) >= model.scenes.size())
            throw GltfError("scene " + std::to_string(scene) + " does not exist");
        out.scene = scene;
        const std::string name = "scene " + std::to_string(scene);
        std::vector<char> listed(model.nodes.size(), 0);
        for (const int node : model.scenes[static_cast<std::size_t>(scene)].nodes) {
            if (node < 0 || static_cast<std::size_t>(node) >= model.nodes.size())
                throw GltfError(name + " refers to missing node " + std::to_string(node));
            const auto n = static_cast<std::size_t>(node);
            if (parent[n] != none)
                throw GltfError(name + " lists " + nodeName(n) + ", which has a parent");
            if (listed[n])
                throw GltfError(name + " lists " + nodeName(n) + " twice");
            listed[n] = 1;
            roots.push_back(n);
        }
    } else {
        for (std::size_t i = 0; i < model.nodes.size(); ++i)
            if (parent[i] == none)
                roots.push_back(i);
    }

    const Matrix4 identity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    // Depth first without recursion: a chain of nodes may be as long as the file allows.
    std::vector<PlacedNode> stack;
    for (auto root = roots.rbegin(); root != roots.rend(); ++root)
        stack.push_back({*root, identity});
    while (!stack.empty()) {
        PlacedNode placed = stack.back();
        stack.pop_back();
        const tg::Node& node = model.nodes[placed.node];
        placed.world = multiply(placed.world, localMatrix(node, placed.node));
        for (const double v : placed.world)
            if (!std::isfinite(v))
                throw GltfError(nodeName(placed.node) + "'s world matrix is not finite");
        for (auto child = node.children.rbegin(); child != node.children.rend(); ++child)
            stack.push_back({static_cast<std::size_t>(*child), placed.world});
        out.nodes.push_back(placed);
    }
    return out;
}

} // namespace ulv
