#include "gltf/template_match.h"

#include <algorithm>
#include <bit>

#include "gltf/arrays.h"
#include "model/transform.h"

namespace ulv {

TemplateForm formOf(const MeshSection& s, const Transform& transform) {
    TemplateForm f;
    f.form.name = materialNameOf(s);
    const std::size_t vertices = vertexLimit(s), triangles = faceLimit(s);
    f.form.positions.assign(s.positions.begin(),
                            s.positions.begin() + static_cast<std::ptrdiff_t>(3 * vertices));
    float lo[3], hi[3];
    movePositions(transform, f.form.positions.data(), vertices, lo, hi);
    f.form.normals.assign(s.normals.begin(),
                          s.normals.begin() + static_cast<std::ptrdiff_t>(3 * vertices));
    const bool hasNormals = moveNormals(normalMatrixOf(transform), f.form.normals.data(), vertices);
    f.form.texCoords.assign(s.texCoords.begin(),
                            s.texCoords.begin() + static_cast<std::ptrdiff_t>(2 * vertices));
    zeroNonFinite(f.form.texCoords.data(), f.form.texCoords.size());
    for (std::uint32_t t = 0; t < triangles; ++t) {
        const std::uint32_t* c = s.indices.data() + 3 * t;
        if (c[0] >= vertices || c[1] >= vertices || c[2] >= vertices)
            continue;
        std::uint32_t corners[3] = {c[0], c[1], c[2]};
        const bool against =
            hasNormals &&
            windsAgainst(f.form.positions.data() + 3 * c[0], f.form.positions.data() + 3 * c[1],
                         f.form.positions.data() + 3 * c[2], f.form.normals.data() + 3 * c[0],
                         f.form.normals.data() + 3 * c[1], f.form.normals.data() + 3 * c[2]);
        if (against)
            reverseCorners(corners);
        f.form.indices.insert(f.form.indices.end(), corners, corners + 3);
        f.original.push_back(t);
        f.reversed.push_back(against);
    }
    // Without normals, a 3D program makes its own: they cannot be compared.
    if (!hasNormals)
        f.form.normals.clear();
    return f;
}

Form formOf(const Primitive& p, const World& world) {
    Form f;
    f.name = p.name;
    f.positions.resize(p.positions.size());
    for (std::size_t v = 0; v < p.vertices(); ++v)
        world.position(p.positions.data() + 3 * v, f.positions.data() + 3 * v);
    if (p.hadNormals) {
        f.normals.resize(p.normals.size());
        for (std::size_t v = 0; v < p.vertices(); ++v)
            world.normal(p.normals.data() + 3 * v, f.normals.data() + 3 * v);
    }
    f.texCoords = p.texCoords;
    f.indices = p.indices;
    return f;
}

TemplateMatch matchTemplate(const Model& templ, const std::vector<NodeForms>& nodes) {
    TemplateMatch match;
    std::vector<Form> existing, incoming;
    // Existing triangles by number: their mesh, section and kept number.
    struct Where {
        std::size_t mesh, section;
        std::uint32_t kept;
    };
    std::vector<Where> whose;
    for (std::size_t t = 0; t < templ.meshes.size(); ++t) {
        std::vector<TemplateForm>& forms = match.forms.emplace_back();
        for (std::size_t k = 0; k < templ.meshes[t].sections.size(); ++k) {
            forms.push_back(formOf(templ.meshes[t].sections[k], templ.meshes[t].transform));
            existing.push_back(forms.back().form);
            for (std::uint32_t kept = 0; kept < forms.back().original.size(); ++kept)
                whose.push_back({t, k, kept});
        }
    }
    for (const NodeForms& node : nodes)
        incoming.insert(incoming.end(), node.primitives.begin(), node.primitives.end());
    const std::vector<std::int64_t> matched = matchTriangles(existing, incoming);

    // How many of each node's triangles each template mesh holds; the
    // largest counts first take their places.
    std::vector<std::vector<std::size_t>> counts(nodes.size(),
                                                 std::vector<std::size_t>(templ.meshes.size(), 0));
    std::size_t at = 0;
    for (std::size_t n = 0; n < nodes.size(); ++n)
        for (const Form& p : nodes[n].primitives)
            for (std::size_t t = 0; t < p.indices.size() / 3; ++t, ++at)
                if (matched[at] >= 0)
                    ++counts[n][whose[static_cast<std::size_t>(matched[at])].mesh];
    struct Pair {
        std::size_t count, node, mesh;
    };
    std::vector<Pair> pairs;
    for (std::size_t n = 0; n < nodes.size(); ++n)
        for (std::size_t t = 0; t < templ.meshes.size(); ++t)
            if (counts[n][t] > 0)
                pairs.push_back({counts[n][t], n, t});
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const Pair& a, const Pair& b) { return a.count > b.count; });
    match.meshOf.assign(nodes.size(), -1);
    std::vector<bool> taken(templ.meshes.size(), false);
    for (const Pair& pair : pairs)
        if (match.meshOf[pair.node] < 0 && !taken[pair.mesh]) {
            match.meshOf[pair.node] = static_cast<std::int64_t>(pair.mesh);
            taken[pair.mesh] = true;
        }
    // A node moved or changed whole: the first free mesh its extras name.
    for (std::size_t n = 0; n < nodes.size(); ++n) {
        if (match.meshOf[n] >= 0 || !nodes[n].fields)
            continue;
        for (std::size_t t = 0; t < templ.meshes.size(); ++t) {
            const Mesh& mesh = templ.meshes[t];
            if (!taken[t] && mesh.opaqueWords == nodes[n].fields->opaqueWords &&
                std::equal(mesh.transform.m.begin(), mesh.transform.m.end(),
                           nodes[n].fields->transform.m.begin(), [](float a, float b) {
                               return std::bit_cast<std::uint32_t>(a) ==
                                      std::bit_cast<std::uint32_t>(b);
                           })) {
                match.meshOf[n] = static_cast<std::int64_t>(t);
                taken[t] = true;
                break;
            }
        }
    }
    // A triangle found in another node's mesh was taken by the wrong node:
    // such nodes, and those of the meshes it was taken from, are matched
    // again against their own mesh alone.
    std::vector<bool> again(nodes.size(), false), crossed(templ.meshes.size(), false);
    at = 0;
    for (std::size_t n = 0; n < nodes.size(); ++n)
        for (const Form& p : nodes[n].primitives)
            for (std::size_t t = 0; t < p.indices.size() / 3; ++t, ++at)
                if (matched[at] >= 0) {
                    const std::size_t mesh = whose[static_cast<std::size_t>(matched[at])].mesh;
                    if (static_cast<std::int64_t>(mesh) != match.meshOf[n]) {
                        again[n] = true;
                        crossed[mesh] = true;
                    }
                }
    for (std::size_t n = 0; n < nodes.size(); ++n)
        if (match.meshOf[n] >= 0 && crossed[static_cast<std::size_t>(match.meshOf[n])])
            again[n] = true;

    // Each node's triangles as found in its own template mesh.
    std::size_t first = 0; // the node's first triangle among all incoming ones
    for (std::size_t n = 0; n < nodes.size(); ++n) {
        std::vector<std::vector<Found>>& perPrimitive = match.found.emplace_back();
        std::size_t count = 0;
        for (const Form& p : nodes[n].primitives) {
            perPrimitive.emplace_back(p.indices.size() / 3);
            count += p.indices.size() / 3;
        }
        if (match.meshOf[n] < 0) {
            first += count;
            continue;
        }
        const std::size_t mesh = static_cast<std::size_t>(match.meshOf[n]);
        std::vector<std::int64_t> own;
        std::vector<Where> ownWhose;
        if (again[n]) {
            std::vector<Form> mine;
            for (std::size_t k = 0; k < match.forms[mesh].size(); ++k) {
                mine.push_back(match.forms[mesh][k].form);
                for (std::uint32_t kept = 0; kept < match.forms[mesh][k].original.size(); ++kept)
                    ownWhose.push_back({mesh, k, kept});
            }
            own = matchTriangles(mine, nodes[n].primitives);
        } else {
            own.assign(matched.begin() + static_cast<std::ptrdiff_t>(first),
                       matched.begin() + static_cast<std::ptrdiff_t>(first + count));
        }
        const std::vector<Where>& table = again[n] ? ownWhose : whose;
        std::size_t i = 0;
        for (std::vector<Found>& found : perPrimitive)
            for (Found& f : found) {
                if (own[i] >= 0) {
                    const Where& w = table[static_cast<std::size_t>(own[i])];
                    if (w.mesh == mesh)
                        f = {static_cast<std::int64_t>(w.section), w.kept};
                }
                ++i;
            }
        first += count;
    }
    return match;
}

} // namespace ulv
