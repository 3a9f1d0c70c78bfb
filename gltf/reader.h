// Reads glTF 2.0 (.glb or .gltf) into plain records: the meshes of one scene
// with their world matrices, the materials and the encoded images. Hostile
// files fail with a reason; nothing is read from the file system here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "gltf/reader_base.h"
#include "model/model.h"

namespace ulv {

// The `ulvane_` keys of an object's extras whose values are strings (our own files
// carry the model's fields there; Blender keeps extras as custom properties).
using GltfExtras = std::map<std::string, std::string>;

struct GltfPrimitive {
    std::vector<float> positions; // x, y, z per vertex, in the node's own space
    std::vector<float> normals;   // x, y, z per vertex; empty when the primitive has none
    std::vector<float> texCoords; // u, v per vertex from TEXCOORD_0; empty when none
    // a, b, c per triangle, wound as in the file; each < vertex count
    std::vector<std::uint32_t> indices;
    std::int64_t material = -1; // into GltfScene::materials
};

struct GltfMeshNode {
    std::string name;               // the node's, UTF-8
    std::array<double, 16> world{}; // column-major: its ancestors' matrices times its own
    bool hasMesh = false;
    std::vector<GltfPrimitive> primitives; // its mesh's triangle primitives, in order
    GltfExtras nodeExtras, meshExtras;
};

struct GltfMaterial {
    std::string name;        // UTF-8 as in the file; may be empty
    std::int64_t image = -1; // its base colour texture's image, into GltfScene::images
    GltfExtras extras;
};

struct GltfImage {
    // "image/png", "image/jpeg", ... as the file says, or from the bytes.
    std::string mimeType;
    // Encoded, as stored: not decoded here. Empty when the image could not
    // be had (a note says why).
    std::vector<std::uint8_t> bytes;
};

struct GltfScene {
    // Every node that has a mesh or `ulvane_` extras, in scene order: the
    // scene's roots in order, each depth first, parent before children.
    std::vector<GltfMeshNode> nodes;
    std::vector<GltfMaterial> materials; // as in the file
    std::vector<GltfImage> images;       // as in the file
    GltfExtras sceneExtras;              // the chosen scene's
};

// GltfError and ResourceLoader: gltf/reader_base.h.

// `data`: a whole .glb or .gltf file (decided by the 'glTF' magic). Throws GltfError with
// the reason in a few words (the tool prints "Not a valid glTF file: " + reason).
// `notes` gets one line for each kind of thing the records leave out.
GltfScene readGltf(const std::uint8_t* data, std::size_t size, const ResourceLoader& load,
                   Notes& notes);

} // namespace ulv
