#include "gltf/layout.h"

#include <algorithm>
#include <map>

namespace ulv {
namespace {

constexpr std::uint32_t arrayBuffer = 34962;
constexpr std::uint32_t elementArrayBuffer = 34963;

std::string countOf(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

Layout plan(const Model& model, const std::vector<SectionFacts>& facts, const TextureSet& textures,
            Notes& notes) {
    Layout layout;
    std::uint64_t triangleFaults = 0, nonFinite = 0, withoutNormals = 0;
    std::map<std::string, std::size_t> materialIndex;
    std::map<std::size_t, std::size_t> textureIndex;
    std::size_t k = 0; // the section's number in the model
    for (std::size_t m = 0; m < model.meshes.size(); ++m) {
        layout.firstPrimitive.push_back(layout.primitives.size());
        layout.firstSection.push_back(k);
        for (const MeshSection& section : model.meshes[m].sections) {
            const SectionFacts& f = facts[k];
            Primitive p;
            p.mesh = m;
            p.sectionNumber = k++;
            const std::uint64_t vertices = f.vertices, triangles = f.triangles;
            if (vertices == 0)
                triangleFaults += triangles;
            if (vertices == 0 || triangles == 0)
                continue;
            triangleFaults += triangles - f.kept;
            if (f.kept == 0)
                continue;
            p.vertices = static_cast<std::uint32_t>(vertices);
            p.triangles = static_cast<std::uint32_t>(f.kept);
            p.allTriangles = static_cast<std::uint32_t>(triangles);
            std::copy_n(f.min, 3, p.min);
            std::copy_n(f.max, 3, p.max);
            p.hasNormals = f.normalsOk;
            p.reversed = &f.reversed;
            p.stored = &f.stored;
            // Viewers compute flat normals for a primitive without them, which
            // beats inventing a direction for the vertices that have none.
            withoutNormals += !p.hasNormals;
            nonFinite += f.nonFinite;

            const std::string name = materialNameOf(section);
            if (!name.empty()) {
                const auto [it, added] = materialIndex.emplace(name, layout.materials.size());
                if (added) {
                    layout.materials.push_back(name);
                    std::int64_t texture = -1;
                    if (const auto image = textures.imageOf.find(name);
                        image != textures.imageOf.end() && image->second < textures.images.size()) {
                        const auto [known, isNew] =
                            textureIndex.emplace(image->second, layout.images.size());
                        if (isNew)
                            layout.images.push_back(image->second);
                        texture = static_cast<std::int64_t>(known->second);
                    }
                    layout.textureOfMaterial.push_back(texture);
                }
                p.material = static_cast<std::int64_t>(it->second);
            }
            layout.primitives.push_back(p);
        }
    }
    layout.firstPrimitive.push_back(layout.primitives.size());

    // Attributes first, each kind in one view, then the indices, then the images.
    std::uint64_t at = 0;
    const auto place = [&](View& view, std::uint32_t target, std::uint32_t stride, auto&& size,
                           auto&& offset) {
        view.offset = at;
        view.target = target;
        view.stride = stride;
        for (Primitive& p : layout.primitives) {
            const std::uint64_t bytes = size(p);
            if (bytes == 0)
                continue;
            offset(p) = at - view.offset;
            at += bytes;
        }
        view.length = at - view.offset;
    };
    place(
        layout.positions, arrayBuffer, 12,
        [](const Primitive& p) { return 12 * std::uint64_t{p.vertices}; },
        [](Primitive& p) -> std::uint64_t& { return p.positionAt; });
    place(
        layout.normals, arrayBuffer, 12,
        [](const Primitive& p) { return p.hasNormals ? 12 * std::uint64_t{p.vertices} : 0; },
        [](Primitive& p) -> std::uint64_t& { return p.normalAt; });
    place(
        layout.texCoords, arrayBuffer, 8,
        [](const Primitive& p) { return 8 * std::uint64_t{p.vertices}; },
        [](Primitive& p) -> std::uint64_t& { return p.texCoordAt; });
    place(
        layout.indices, elementArrayBuffer, 0,
        [](const Primitive& p) { return 12 * std::uint64_t{p.triangles}; },
        [](Primitive& p) -> std::uint64_t& { return p.indexAt; });
    for (const std::size_t image : layout.images) {
        layout.imageAt.push_back(at);
        at += (textures.images[image].png.size() + 3) / 4 * 4;
    }
    layout.binarySize = at;

    if (triangleFaults)
        notes.push_back(countOf(triangleFaults, "triangle", "triangles") +
                        " left out: a corner past the section's vertices");
    if (withoutNormals)
        notes.push_back(countOf(withoutNormals, "section", "sections") +
                        " written without normals: a normal of zero length or not finite");
    if (nonFinite)
        notes.push_back(countOf(nonFinite, "number", "numbers") +
                        " not finite in positions or texture coordinates, written as 0");
    return layout;
}

} // namespace ulv
