#include "convert/read_twice.h"

#include "mod/layout.h"
#include "mod/section_hook.h"

namespace ulv {

SkimmedModel skimModel(std::istream& stream, std::ostream* dump) {
    SkimmedModel skimmed;
    Examiner examiner(skimmed.sections);
    skimmed.model = readModel(stream, dump,
                              [&](const Mesh& mesh, MeshSection& section, std::uint64_t arraysAt) {
                                  skimmed.arraysAt.push_back(arraysAt);
                                  examiner.take(mesh, section);
                              });
    examiner.finish();
    return skimmed;
}

SkimmedSource::SkimmedSource(const SkimmedModel& skimmed, std::istream& stream,
                             std::streamoff start)
    : skimmed_(skimmed), reader_(stream, start) {}

bool SkimmedSource::vertices(std::size_t section, VertexArray kind, std::uint64_t first,
                             std::size_t count, float* out) {
    const std::uint64_t vertices = skimmed_.sections[section].vertices;
    std::uint64_t at = skimmed_.arraysAt[section];
    switch (kind) {
    case VertexArray::positions:
        at += layout::positionsAt(vertices) + layout::positionSize * first;
        break;
    case VertexArray::normals:
        at += layout::normalsAt(vertices) + layout::normalSize * first;
        break;
    case VertexArray::texCoords:
        at += layout::texCoordsAt(vertices) + layout::texCoordSize * first;
        break;
    }
    const std::size_t width = kind == VertexArray::texCoords ? 2 : 3;
    return reader_.floats(at, width * count, out);
}

bool SkimmedSource::triangles(std::size_t section, std::uint64_t first, std::size_t count,
                              std::uint32_t* out) {
    const std::uint64_t at = skimmed_.arraysAt[section] +
                             layout::trianglesAt(skimmed_.sections[section].vertices) +
                             layout::triangleSize * first;
    return reader_.triangles(at, count, out);
}

GltfResult writeGlb(const SkimmedModel& skimmed, std::istream& stream, std::streamoff start,
                    const TextureSet& textures, std::ostream& out, Notes& notes) {
    SkimmedSource source(skimmed, stream, start);
    return writeGlb(source, textures, out, notes);
}

GltfResult writeGltf(const SkimmedModel& skimmed, std::istream& stream, std::streamoff start,
                     const TextureSet& textures, std::ostream& json, std::ostream& bin,
                     const std::string& binName, Notes& notes) {
    SkimmedSource source(skimmed, stream, start);
    return writeGltf(source, textures, json, bin, binName, notes);
}

} // namespace ulv
