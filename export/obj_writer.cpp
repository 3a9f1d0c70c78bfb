#include "export/obj_writer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <unordered_set>
#include <vector>

#include "export/format.h"
#include "export/text_out.h"

namespace ulv {
namespace {

char* putText(char* p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

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
        *p++ = '\n';
        out.commit(p);
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
        *p++ = '\n';
        out.commit(p);
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
    return std::filesystem::path(outputPath).replace_extension(".mtl").string();
}

bool writeObj(Model model, std::ostream& obj, std::ostream& mtl, const std::string& mtlName) {
    TextOut objOut(obj);
    TextOut mtlOut(mtl);
    objOut.put("# This is a converted version of a ULV .MOD file!\n\nmtllib ");
    objOut.put(mtlName);
    objOut.put("\n\n");

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
    objOut.put("\n");
    for (const Mesh& mesh : model.meshes)
        for (const MeshSection& section : mesh.sections)
            writeVectors(objOut, "vn", section.normals.data(), vertexLimit(section), 3, false);
    objOut.put("\n");
    for (const Mesh& mesh : model.meshes)
        for (const MeshSection& section : mesh.sections)
            writeVectors(objOut, "vt", section.texCoords.data(), vertexLimit(section), 2, true);
    objOut.put("\n");

    std::unordered_set<std::string> writtenMaterials;
    std::int32_t groupIndex = 0;
    for (const Mesh& mesh : model.meshes) {
        for (const MeshSection& section : mesh.sections) {
            char* p = putText(objOut.room(), "g group");
            p = formatInt(p, groupIndex);
            *p++ = '\n';
            objOut.commit(p);
            const std::string name = materialNameOf(section);
            if (!name.empty()) {
                objOut.commit(putText(putText(objOut.room(), "usemtl "), name + "\n"));
                if (writtenMaterials.insert(name).second) {
                    char* q = putText(putText(mtlOut.room(), "newmtl "), name);
                    q = putText(putText(q, "\nmap_Kd .\\"), name);
                    mtlOut.commit(putText(q, ".BMP\n\n"));
                }
            }
            writeFaces(objOut, section, vertexBase[static_cast<std::size_t>(groupIndex)]);
            ++groupIndex;
        }
        objOut.put("\n");
    }
    const bool objOk = objOut.flush();
    const bool mtlOk = mtlOut.flush();
    return objOk && mtlOk;
}

} // namespace ulv
