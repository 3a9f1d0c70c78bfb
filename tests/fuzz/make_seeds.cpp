// Writes the starting corpus of the fuzzer: make_seeds OUTDIR
// Small models that between them reach every branch of the reader: both
// header layouts, gaps before and between blocks, surplus and missing
// sections, empty sections and names, and the sample model.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/model_builder.h"
#include "tests/support/sample_model.h"

namespace {

using namespace ulv;

MeshSection triangle(std::string_view material, float offset = 0) {
    return makeSection(material, {offset, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 1, 0, 0, 1, 0, 0, 1},
                       {0, 0, 1, 0, 0, 1}, {0, 1, 2});
}

const Transform kMoved{{0, 1, 0, 1, 0, 0, 0, 0, 1, 10, 20, 30}};

Bytes withGaps(const Model& model) {
    Bytes out;
    appendFileHeader(out, model);
    out.insert(out.end(), 7, 0x48);
    for (const Mesh& mesh : model.meshes) {
        appendMeshHeader(out, mesh);
        for (const MeshSection& section : mesh.sections) {
            out.insert(out.end(), 5, 0x50);
            appendSection(out, section);
        }
        out.insert(out.end(), 3, 0xAB);
    }
    return out;
}

std::vector<std::pair<std::string, Bytes>> seeds() {
    const Model twoMeshes = makeModel({makeMesh(identityTransform, {triangle("a"), triangle("b")}),
                                       makeMesh(kMoved, {triangle("a")})},
                                      9, 1);
    Model surplus = makeModel({makeMesh(identityTransform, {triangle("a"), triangle("b")})});
    surplus.meshes[0].sectionCount = 1;
    Model missing = makeModel(
        {makeMesh(identityTransform, {triangle("a")}), makeMesh(kMoved, {triangle("b")})});
    missing.meshes[0].sectionCount = 2;
    missing.meshes[1].sectionCount = 0;
    MeshSection longName = triangle("");
    longName.materialName.fill('n');
    const Model odd = makeModel({makeMesh(kMoved, {makeSection("", {}, {}, {}, {}), longName}),
                                 makeMesh(identityTransform, {})},
                                1, 9);
    return {
        {"sample", encodeModel(sampleModel())},
        {"no-meshes", encodeModel(makeModel({}))},
        {"no-meshes-1.9", encodeModel(makeModel({}, 9, 1))},
        {"one-triangle", encodeModel(makeModel({makeMesh(identityTransform, {triangle("wood")})}))},
        {"two-meshes", encodeModel(twoMeshes)},
        {"gaps", withGaps(twoMeshes)},
        {"surplus-section", encodeModel(surplus)},
        {"section-from-next-mesh", encodeModel(missing)},
        {"empty-section-long-name", encodeModel(odd)},
    };
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_seeds OUTDIR\n", stderr);
        return 2;
    }
    for (const auto& [name, bytes] : seeds()) {
        const std::string path = std::string(argv[1]) + "/" + name + ".mod";
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
