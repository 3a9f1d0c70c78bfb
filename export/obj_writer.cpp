#include "export/obj_writer.h"

#include <algorithm>
#include <ostream>
#include <unordered_set>
#include <vector>

#include "export/format.h"
#include "export/text_out.h"
#include "export/utf8_path.h"

namespace ulv {
namespace {

void writeVectors(TextOut& out, std::string_view prefix, const float* values, std::size_t count,
                  std::size_t width, bool negateLast) {
    for (std::size_t k = 0; k < count; ++k, values += width) {
        char* p = putText(out.room(), prefix);
        for (std::size_t c = 0; c < width; ++c) {
            *p++ = ' ';
            // Negation flips the sign bit only, so a stored 0 becomes -0.
            const float value = negateLast && c + 1 == width ? -values[c] : values[c];
            p = formatFixed6(p, value);
        }
        out.commit(endLine(p));
    }
}

void writeFaces(TextOut& out, const MeshSection& section, std::uint32_t base) {
    const std::uint32_t* index = section.indices.data();
    const std::size_t count =
        std::min(std::size_t{section.triangleCount}, section.indices.size() / 3);
    for (std::size_t t = 0; t < count; ++t, index += 3) {
        char* p = out.room();
        *p++ = 'f';
        for (int corner = 0; corner < 3; ++corner) {
            // Wraps as 32-bit unsigned arithmetic does; numbers are not range-checked.
            const std::uint32_t number = index[corner] + base;
            for (int slot = 0; slot < 3; ++slot) {
                *p++ = slot == 0 ? ' ' : '/';
                p = formatUint(p, number);
            }
        }
        out.commit(endLine(p));
    }
}

// The counts drive the loops; the array sizes only cap them, so that a model
// built by hand with short arrays is never read out of bounds.
std::size_t vertexLimit(const MeshSection& section) {
    return std::min({std::size_t{section.vertexCount}, section.positions.size() / 3,
                     section.normals.size() / 3, section.texCoords.size() / 2});
}

} // namespace

std::string mtlPathFor(const std::string& outputPath) {
    // On Windows a backslash ends a folder name as '/' does, so an extension
    // is never looked for across one.
    return utf8Text(utf8Path(outputPath).replace_extension(".mtl"));
}

bool writeObj(Model model, std::ostream& obj, std::ostream& mtl, const std::string& mtlName) {
    TextOut objOut(obj);
    TextOut mtlOut(mtl);
    objOut.line("# This is a converted version of a ULV .MOD file!");
    objOut.line();
    objOut.put("mtllib ");
    objOut.line(mtlName);
    objOut.line();

    std::vector<std::uint32_t> vertexBase;
    std::uint32_t base = 1;
    for (Mesh& mesh : model.meshes) {
        for (MeshSection& section : mesh.sections) {
            const std::size_t count = vertexLimit(section);
            float* position = section.positions.data();
            for (std::size_t k = 0; k < count; ++k, position += 3)
                transformPoint(mesh.transform, position);
            writeVectors(objOut, "v", section.positions.data(), count, 3, false);
            vertexBase.push_back(base);
            base += section.vertexCount;
        }
    }
    objOut.line();
    for (const Mesh& mesh : model.meshes)
        for (const MeshSection& section : mesh.sections)
            writeVectors(objOut, "vn", section.normals.data(), vertexLimit(section), 3, false);
    objOut.line();
    for (const Mesh& mesh : model.meshes)
        for (const MeshSection& section : mesh.sections)
            writeVectors(objOut, "vt", section.texCoords.data(), vertexLimit(section), 2, true);
    objOut.line();

    std::unordered_set<std::string> writtenMaterials;
    std::int32_t groupIndex = 0;
    for (const Mesh& mesh : model.meshes) {
        for (const MeshSection& section : mesh.sections) {
            objOut.commit(endLine(formatInt(putText(objOut.room(), "g group"), groupIndex)));
            const std::string name = materialNameOf(section);
            if (!name.empty()) {
                objOut.commit(endLine(putText(putText(objOut.room(), "usemtl "), name)));
                if (writtenMaterials.insert(name).second) {
                    mtlOut.commit(endLine(putText(putText(mtlOut.room(), "newmtl "), name)));
                    char* q = putText(putText(mtlOut.room(), "map_Kd .\\"), name);
                    mtlOut.commit(endLine(putText(q, ".BMP")));
                    mtlOut.line();
                }
            }
            writeFaces(objOut, section, vertexBase[static_cast<std::size_t>(groupIndex)]);
            ++groupIndex;
        }
        objOut.line();
    }
    const bool objOk = objOut.flush();
    const bool mtlOk = mtlOut.flush();
    return objOk && mtlOk;
}

} // namespace ulv
