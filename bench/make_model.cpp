// Writes large models for benchmarks, streamed section by section:
//   make_model OUT.mod VERTICES [GAP_BYTES [SECTION_VERTICES [MATERIALS]]]
// VERTICES vertices and as many triangles in four meshes with non-trivial
// transforms, sections of at most SECTION_VERTICES (60,000) vertices, using
// MATERIALS (12) material names in turn; the first mesh tag follows GAP_BYTES
// of filler.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/model_builder.h"

namespace {

bool put(std::FILE* file, const ulv::Bytes& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 6) {
        std::fputs(
            "usage: make_model OUT.mod VERTICES [GAP_BYTES [SECTION_VERTICES [MATERIALS]]]\n",
            stderr);
        return 2;
    }
    const unsigned long long vertices = std::strtoull(argv[2], nullptr, 10);
    const unsigned long long gap = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 0;
    const unsigned long long perSection =
        std::max(1ull, argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 60000);
    const int materials = std::max(1, argc > 5 ? std::atoi(argv[5]) : 12);
    constexpr int meshes = 4;
    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    bool ok = true;
    ulv::Bytes bytes;
    ulv::Model model = ulv::makeModel({}, 9, 1);
    model.numMeshes = meshes;
    ulv::appendFileHeader(bytes, model);
    ok = ok && put(file, bytes);
    {
        // Filler that holds the first byte of both tags, so a search cannot skip it.
        const ulv::Bytes filler(1 << 20, 0x48);
        for (unsigned long long left = gap; ok && left > 0;) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<unsigned long long>(left, filler.size()));
            ok = std::fwrite(filler.data(), 1, n, file) == n;
            left -= n;
        }
    }
    unsigned long long done = 0;
    int material = 0;
    for (int m = 0; ok && m < meshes; ++m) {
        const unsigned long long share =
            vertices / meshes + (m < static_cast<int>(vertices % meshes) ? 1 : 0);
        const unsigned long long sections = (share + perSection - 1) / perSection;
        // A rotation about z by a mesh-dependent angle, scaled, and moved.
        const float angle = 0.3f + 0.7f * static_cast<float>(m);
        const float c = std::cos(angle) * 1.7f, s = std::sin(angle) * 1.7f;
        ulv::Mesh mesh = ulv::makeMesh(
            {{c, s, 0, -s, c, 0, 0, 0, 1.7f, 12.5f * float(m), -3.25f, 100.125f}}, {});
        mesh.sectionCount = static_cast<std::uint32_t>(sections);
        bytes.clear();
        ulv::appendMeshHeader(bytes, mesh);
        ok = put(file, bytes);
        for (unsigned long long sIndex = 0; ok && sIndex < sections; ++sIndex) {
            const unsigned long long count = std::min(perSection, share - sIndex * perSection);
            std::vector<float> positions, normals, texCoords;
            std::vector<std::uint32_t> indices;
            positions.reserve(3 * count);
            normals.reserve(3 * count);
            texCoords.reserve(2 * count);
            indices.reserve(3 * count);
            for (unsigned long long k = 0; k < count; ++k, ++done) {
                const float t = static_cast<float>(done);
                positions.insert(positions.end(),
                                 {std::sin(t * 0.001f) * 250.0f, std::cos(t * 0.0013f) * 125.5f,
                                  t * 0.0001f - 50.0f});
                normals.insert(normals.end(), {std::sin(t), std::cos(t), 0.0f});
                texCoords.insert(texCoords.end(),
                                 {std::fmod(t * 0.37f, 1.0f), std::fmod(t * 0.61f, 1.0f)});
                const auto v = static_cast<std::uint32_t>(k);
                const auto n = static_cast<std::uint32_t>(count);
                indices.insert(indices.end(), {v, (v + 1) % n, (v + 2) % n});
            }
            const std::string name = "material" + std::to_string(material++ % materials);
            bytes.clear();
            ulv::appendSection(bytes,
                               ulv::makeSection(name, std::move(positions), std::move(normals),
                                                std::move(texCoords), std::move(indices)));
            ok = put(file, bytes);
        }
    }
    if (std::fclose(file) != 0 || !ok) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
