// Writes the glTF fuzzer's starting files: make_gltf_seeds OUTDIR
// Every broken file of the tests' table, small valid ones that use strips,
// sparse and quantized accessors, data URIs, a.bin and images, and the
// sample model as the tool's own writer makes it.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "gltf/writer.h"
#include "tests/support/broken_gltf.h"
#include "tests/support/sample_model.h"

namespace {

using namespace ulv;
using nlohmann::json;

std::vector<std::pair<std::string, Bytes>> seeds() {
    std::vector<std::pair<std::string, Bytes>> out;
    for (const BrokenGltf& broken : brokenGltfFiles())
        out.emplace_back("broken-" + broken.name, broken.main);

    // A strip with a.bin's triangle beside it, a sparse and quantized fan,
    // and an image from a data URI.
    GltfBuilder strip;
    strip.triangleScene(
        {{"attributes", {{"POSITION", strip.floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3")}}},
         {"indices", strip.indices({0, 1, 2}, 5121)},
         {"mode", 5}});
    out.emplace_back("strip.gltf", strip.gltf());
    out.emplace_back("strip.glb", strip.glb());

    GltfBuilder fan;
    const int values = fan.view(u8Bytes({1, 2, 3, 0}));
    const int at = fan.view(u8Bytes({1}));
    const json sparse = {{"count", 1},
                         {"indices", {{"bufferView", at}, {"componentType", 5121}}},
                         {"values", {{"bufferView", values}}}};
    fan.triangleScene(
        {{"attributes",
          {{"POSITION", fan.accessor(-1, 5121, 4, "VEC3", {{"sparse", sparse}})},
           {"NORMAL",
            fan.accessor(
                fan.view(u8Bytes({0, 0, 127, 0, 0, 0, 127, 0, 0, 0, 127, 0, 0, 0, 127, 0}), 4),
                5120, 4, "VEC3", {{"normalized", true}})},
           {"TEXCOORD_0", fan.accessor(fan.view(u16Bytes({0, 0, 65535, 0, 0, 65535, 1, 1})), 5123,
                                       4, "VEC2", {{"normalized", true}})}}},
         {"mode", 6},
         {"material", 0}});
    fan.json["extensionsUsed"] = fan.json["extensionsRequired"] = {"KHR_mesh_quantization"};
    fan.json["materials"] = {
        {{"name", "m"}, {"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}}};
    fan.json["textures"] = {{{"source", 0}}};
    fan.json["images"] = {{{"uri", "data:image/png;base64,iVBORw0KGgoD"}}};
    fan.json["nodes"][0]["extras"] = {{"ulvane_tag", "MESH"}};
    fan.json["nodes"][0]["rotation"] = {0, 0, 1, 0};
    out.emplace_back("fan.glb", fan.glb());

    std::ostringstream sample;
    Notes notes;
    writeGlb(sampleModel(), {}, sample, notes);
    const std::string text = sample.str();
    out.emplace_back("sample.glb", Bytes(text.begin(), text.end()));
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_gltf_seeds OUTDIR\n", stderr);
        return 2;
    }
    for (const auto& [name, bytes] : seeds()) {
        const std::string path = std::string(argv[1]) + "/" + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) {
            std::perror(path.c_str());
            return 1;
        }
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        if (std::fclose(file) != 0 || !written) {
            std::perror(path.c_str());
            return 1;
        }
    }
    return 0;
}
