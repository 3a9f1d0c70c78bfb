#include "mod/over.h"

#include <cstring>

#include "mod/layout.h"
#include "mod/reader.h"

namespace ulv {
namespace {

// Where the block after each block of the template begins: the next tag, or
// the end of the file.
struct Gaps {
    std::vector<std::uint64_t> afterMeshHeader;
    std::vector<std::vector<std::uint64_t>> afterSection;
};

Gaps gapsOf(const TemplateFile& t) {
    // Every block's begin in file order, then each block's successor.
    std::vector<std::uint64_t> begins;
    for (const MeshPlace& mesh : t.places.meshes) {
        begins.push_back(mesh.begin);
        for (const SectionPlace& section : mesh.sections)
            begins.push_back(section.begin);
    }
    begins.push_back(t.bytes.size());
    Gaps gaps;
    std::size_t next = 1;
    for (const MeshPlace& mesh : t.places.meshes) {
        gaps.afterMeshHeader.push_back(begins[next++]);
        std::vector<std::uint64_t>& after = gaps.afterSection.emplace_back();
        for (std::size_t k = 0; k < mesh.sections.size(); ++k)
            after.push_back(begins[next++]);
    }
    return gaps;
}

void appendRange(Bytes& out, const Bytes& from, std::uint64_t begin, std::uint64_t end) {
    if (end > begin)
        out.insert(out.end(), from.begin() + static_cast<std::ptrdiff_t>(begin),
                   from.begin() + static_cast<std::ptrdiff_t>(end));
}

void appendAdded(Bytes& out, const Mesh& mesh, const std::vector<Reuse::Place>& places) {
    for (std::size_t s = 0; s < mesh.sections.size(); ++s)
        if (places[s].from == Reuse::none)
            appendSection(out, mesh.sections[s]);
}

Bytes build(const Model& model, const Reuse& reuse, const TemplateFile& t, bool between) {
    const Gaps gaps = gapsOf(t);
    Bytes out;
    appendFileHeader(out, model);
    const std::uint64_t firstBlock =
        t.places.meshes.empty() ? t.bytes.size() : t.places.meshes.front().begin;
    if (between)
        appendRange(out, t.bytes, t.places.headerEnd, firstBlock);
    for (std::size_t tm = 0; tm < t.places.meshes.size(); ++tm) {
        const MeshPlace& place = t.places.meshes[tm];
        std::size_t m = 0;
        while (m < reuse.meshes.size() && reuse.meshes[m] != static_cast<std::int64_t>(tm))
            ++m;
        const bool present = m < reuse.meshes.size();
        if (present)
            appendMeshHeader(out, model.meshes[m]);
        if (between)
            appendRange(out, t.bytes, place.headerEnd, gaps.afterMeshHeader[tm]);
        for (std::size_t tk = 0; tk < place.sections.size(); ++tk) {
            if (present) {
                const std::vector<Reuse::Place>& places = reuse.sections[m];
                for (std::size_t s = 0; s < places.size(); ++s) {
                    if (places[s].from != static_cast<std::int64_t>(tk))
                        continue;
                    if (places[s].same)
                        appendRange(out, t.bytes, place.sections[tk].begin, place.sections[tk].end);
                    else
                        appendSection(out, model.meshes[m].sections[s]);
                }
            }
            if (between)
                appendRange(out, t.bytes, place.sections[tk].end, gaps.afterSection[tm][tk]);
        }
        if (present)
            appendAdded(out, model.meshes[m], reuse.sections[m]);
    }
    for (std::size_t m = 0; m < model.meshes.size(); ++m) {
        if (reuse.meshes[m] != Reuse::none)
            continue;
        appendMeshHeader(out, model.meshes[m]);
        for (const MeshSection& section : model.meshes[m].sections)
            appendSection(out, section);
    }
    return out;
}

template <typename T> bool sameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

template <typename T> bool sameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// The records to the bit (so a NaN is itself), as encoding both would say,
// without the copies.
bool sameModel(const Model& a, const Model& b) {
    if (!sameBits(a.tag, b.tag) || a.minorVersion != b.minorVersion ||
        a.majorVersion != b.majorVersion || a.opaqueShort != b.opaqueShort ||
        a.numMeshes != b.numMeshes || a.size != b.size || a.opaqueWords != b.opaqueWords ||
        (layout::hasVersionExtension(a.minorVersion, a.majorVersion) &&
         a.versionExtension != b.versionExtension) ||
        a.meshes.size() != b.meshes.size())
        return false;
    for (std::size_t m = 0; m < a.meshes.size(); ++m) {
        const Mesh &x = a.meshes[m], &y = b.meshes[m];
        if (x.tag != y.tag || !sameBits(x.transform, y.transform) ||
            x.sectionCount != y.sectionCount || x.opaqueWords != y.opaqueWords ||
            x.sections.size() != y.sections.size())
            return false;
        for (std::size_t k = 0; k < x.sections.size(); ++k) {
            const MeshSection &s = x.sections[k], &t = y.sections[k];
            if (s.tag != t.tag || s.materialName != t.materialName ||
                s.opaqueWord1 != t.opaqueWord1 || s.faceCount != t.faceCount ||
                s.vertexCount != t.vertexCount || s.triangleCount != t.triangleCount ||
                s.lodCount != t.lodCount || s.opaqueWord2 != t.opaqueWord2 ||
                !sameBits(s.positions, t.positions) || !sameBits(s.normals, t.normals) ||
                !sameBits(s.texCoords, t.texCoords) || !sameBits(s.indices, t.indices))
                return false;
        }
    }
    return true;
}

bool readsAs(const Bytes& bytes, const Model& expected) {
    try {
        return sameModel(readModel(bytes.data(), bytes.size(), nullptr), expected);
    } catch (const TextError&) {
        return false;
    }
}

} // namespace

std::optional<TemplateFile> readTemplate(Bytes bytes) {
    TemplateFile t;
    t.bytes = std::move(bytes);
    try {
        t.model = readModel(t.bytes.data(), t.bytes.size(), t.places);
    } catch (const TextError&) {
        return std::nullopt;
    }
    return t;
}

Bytes writeOver(const Model& model, const Reuse& reuse, const TemplateFile& templ,
                bool& betweenKept) {
    betweenKept = true;
    Bytes out = build(model, reuse, templ, true);
    if (readsAs(out, model))
        return out;
    betweenKept = false;
    out = build(model, reuse, templ, false);
    return readsAs(out, model) ? out : encodeModel(model);
}

} // namespace ulv
