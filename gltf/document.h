// A glTF file before its meshes are decoded: the JSON read into tinygltf's
// records, and the buffers, which tinygltf never sees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gltf/reader_base.h"
#include "gltf/resources.h"
#include "gltf/tinygltf.h"

namespace ulv {

struct ByteRange {
    const std::uint8_t* data = nullptr;
    std::uint64_t size = 0;
};

// An image as the JSON states it: one of a uri (a data URI or another file)
// and a buffer view.
struct ImageSource {
    std::optional<std::string> uri;
    std::int64_t bufferView = -1;
    std::string mimeType;
};

struct GltfDocument {
    tg::Model model;                // without its buffers and images
    std::vector<ByteRange> buffers; // each exactly its byteLength
    std::vector<ImageSource> images;
    bool quantized = false;                         // KHR_mesh_quantization is in use
    std::vector<std::vector<std::uint8_t>> decoded; // the data URIs' bytes
};

// Reads the .glb framing or the .gltf text, checks what tinygltf leaves
// unchecked or gets wrong, lets it read the rest of the JSON, and fetches the
// buffers' bytes (the file's own, data URIs, or through `cache`).
GltfDocument readDocument(const std::uint8_t* data, std::size_t size, ResourceCache& cache);

} // namespace ulv
