// libFuzzer target: arbitrary bytes as a .glb or .gltf file, which may name
// one more file, a.bin, served from memory so that buffers and images in
// other files are reached too. Reading must fail with a reason or give
// records that keep their promises; memory stays in proportion to the input
// (the run sets a malloc limit). What it reads then becomes a model, alone
// and over the sample as a template: every triangle's corners exist, and
// the file written over the template reads back as that model.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "gltf/reader.h"
#include "gltf/to_model.h"
#include "mod/over.h"
#include "mod/reader.h"
#include "tests/support/sample_model.h"

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

void checkModel(const ulv::Model& model) {
    for (const ulv::Mesh& mesh : model.meshes) {
        if (mesh.sectionCount != mesh.sections.size())
            fail("a mesh's section count is not its sections'");
        for (const ulv::MeshSection& s : mesh.sections) {
            if (s.positions.size() != 3 * std::size_t{s.vertexCount} ||
                s.normals.size() != s.positions.size() ||
                s.texCoords.size() != 2 * std::size_t{s.vertexCount} ||
                s.indices.size() != 3 * std::size_t{s.triangleCount})
                fail("a section's counts are not its arrays'");
            for (const std::uint32_t index : s.indices)
                if (index >= s.vertexCount || index > 0xFFFF)
                    fail("a corner past the section's vertices or 16 bits");
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
    static const std::optional<ulv::TemplateFile> sample =
        ulv::readTemplate(ulv::encodeModel(ulv::sampleModel()));
    ulv::Notes notes;
    ulv::GltfScene scene;
    try {
        scene = ulv::readGltf(data, size, load, notes);
    } catch (const ulv::GltfError& e) {
        if (e.what().empty())
            fail("refused without a reason");
        return 0;
    }
    check(scene);
    ulv::GltfScene alone = scene; // each reading takes the arrays
    checkModel(ulv::modelOf(alone, nullptr, notes).model);
    const ulv::ModelFromGltf over = ulv::modelOf(scene, &sample->model, notes);
    checkModel(over.model);
    bool betweenKept = false;
    const ulv::Bytes written = ulv::writeOver(over.model, over.reuse, *sample, betweenKept);
    if (ulv::encodeModel(ulv::readModel(written.data(), written.size(), nullptr)) !=
        ulv::encodeModel(over.model))
        fail("the file written over the template does not read back as the model");
    return 0;
}
