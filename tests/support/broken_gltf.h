// glTF files for the reader's tests: a builder for small ones, a loader that
// serves side files from memory, and a table of broken files with the exact
// reason the reader gives for each.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "gltf/reader.h"

namespace ulv {

using Bytes = std::vector<std::uint8_t>;
using SideFiles = std::map<std::string, Bytes>;

// Numbers as little-endian bytes.
Bytes floatBytes(std::initializer_list<float> values);
Bytes u8Bytes(std::initializer_list<std::uint8_t> values);
Bytes u16Bytes(std::initializer_list<std::uint16_t> values);
Bytes u32Bytes(std::initializer_list<std::uint32_t> values);
Bytes textBytes(const std::string& text);

// A .glb of the JSON text and a BIN chunk (none when `bin` is empty), each
// padded to 4 bytes as glTF asks.
Bytes makeGlb(const std::string& json, const Bytes& bin);

// A glTF file under construction: its JSON, and one buffer that grows as
// arrays are added.
class GltfBuilder {
  public:
    GltfBuilder(); // {"asset":{"version":"2.0"}}

    nlohmann::json json;
    Bytes bin;

    // Appends the bytes (from a multiple of 4 on) and a buffer view over them.
    int view(const Bytes& bytes, int byteStride = 0);
    // An accessor of `count` elements; `more` is merged into its JSON.
    int accessor(int view, int componentType, std::uint64_t count, const std::string& type,
                 const nlohmann::json& more = nlohmann::json::object());
    // A view and a float accessor of `type` over the values.
    int floats(std::initializer_list<float> values, const std::string& type);
    // A view and a SCALAR accessor of 8, 16 or 32-bit indices.
    int indices(std::initializer_list<std::uint32_t> values, int componentType = 5125);
    // A mesh of one primitive, a node holding it and a scene of that node.
    void triangleScene(const nlohmann::json& primitive);

    Bytes glb() const; // buffer 0 is the BIN chunk
    // The JSON text, with buffer 0 in a side file `binUri` holding `bin`.
    Bytes gltf(const std::string& binUri = "a.bin") const;
};

// Serves `files` by uri; any other is "not found".
ResourceLoader loaderOf(const SideFiles& files);

struct BrokenGltf {
    std::string name;   // the main file's name, NAME.glb or NAME.gltf
    Bytes main;         // its bytes
    SideFiles sides;    // the files it refers to, by uri, beside it
    std::string reason; // what readGltf throws; a missing side file's reason
                        // ends in "(not found)", as loaderOf() says
};

std::vector<BrokenGltf> brokenGltfFiles();

} // namespace ulv
