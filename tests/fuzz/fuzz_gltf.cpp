// libFuzzer target: arbitrary bytes as a .glb or .gltf file, which may name
// one more file, a.bin, served from memory so that buffers and images in
// other files are reached too. Reading must fail with a reason or give
// records that keep their promises; memory stays in proportion to the input
// (the run sets a malloc limit).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gltf/reader.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_gltf: %s\n", what);
    std::abort();
}

// A triangle's positions and 16-bit indices, as the seeds' a.bin holds them,
// then bytes of every value.
std::vector<std::uint8_t> sideFile() {
    const float positions[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const std::uint16_t indices[3] = {0, 1, 2};
    std::vector<std::uint8_t> bytes(44 + 256);
    std::memcpy(bytes.data(), positions, sizeof positions);
    std::memcpy(bytes.data() + 36, indices, sizeof indices);
    for (std::size_t i = 0; i < 256; ++i)
        bytes[44 + i] = static_cast<std::uint8_t>(i);
    return bytes;
}

void check(const ulv::GltfScene& scene) {
    for (const ulv::GltfMaterial& material : scene.materials)
        if (material.image != -1 &&
            (material.image < 0 ||
             static_cast<std::size_t>(material.image) >= scene.images.size() ||
             scene.images[static_cast<std::size_t>(material.image)].bytes.empty()))
            fail("a material's image is missing");
    for (const ulv::GltfMeshNode& node : scene.nodes) {
        for (const double v : node.world)
            if (!std::isfinite(v))
                fail("a world matrix is not finite");
        if (!node.hasMesh && !node.primitives.empty())
            fail("primitives without a mesh");
        for (const ulv::GltfPrimitive& p : node.primitives) {
            const std::size_t vertices = p.positions.size() / 3;
            if (p.positions.size() % 3 != 0 || p.indices.size() % 3 != 0)
                fail("an incomplete vertex or triangle");
            if (!p.normals.empty() && p.normals.size() != p.positions.size())
                fail("normals and positions differ in count");
            if (!p.texCoords.empty() && p.texCoords.size() != 2 * vertices)
                fail("texture coordinates and positions differ in count");
            for (const std::uint32_t index : p.indices)
                if (index >= vertices)
                    fail("an index past the vertices");
            if (p.material != -1 &&
                (p.material < 0 || static_cast<std::size_t>(p.material) >= scene.materials.size()))
                fail("a primitive's material is missing");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::uint8_t> side = sideFile();
    const ulv::ResourceLoader load =
        [](const std::string& uri, std::string& why) -> std::optional<std::vector<std::uint8_t>> {
        if (uri == "a.bin")
            return side;
        why = "not found";
        return std::nullopt;
    };
    ulv::Notes notes;
    try {
        check(ulv::readGltf(data, size, load, notes));
    } catch (const ulv::GltfError& e) {
        if (e.what().empty())
            fail("refused without a reason");
    }
    return 0;
}
