#include "gltf/template_match.h"

#include <algorithm>
#include <bit>
#include <map>

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

namespace {

struct Pair {
    std::size_t count, node, mesh;
};

// Places taken greedily: the pairs sharing the most triangles first, a
// node keeping its own place in a tie.
void assign(std::vector<Pair> pairs, std::vector<std::int64_t>& meshOf, std::vector<bool>& taken) {
    std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) {
        if (a.count != b.count)
            return a.count > b.count;
        if ((a.node == a.mesh) != (b.node == b.mesh))
            return a.node == a.mesh;
        return std::pair(a.node, a.mesh) < std::pair(b.node, b.mesh);
    });
    for (const Pair& pair : pairs)
        if (meshOf[pair.node] < 0 && !taken[pair.mesh]) {
            meshOf[pair.node] = static_cast<std::int64_t>(pair.mesh);
            taken[pair.mesh] = true;
        }
}

// A triangle's key with whose it is: a template mesh's or a node's.
struct Owned {
    std::uint64_t key;
    std::uint32_t owner;
    bool operator<(const Owned& o) const { return key < o.key; }
};

// How many triangles of the very same positions each node shares with each
// template mesh: per key, the fewer of the two sides' counts. A triangle
// that many meshes hold says nothing of which node is which, and would cost
// their product: keys in more than a few are not counted.
std::vector<Pair> exactPairs(const std::vector<Owned>& existing,
                             const std::vector<Owned>& incoming) {
    constexpr std::size_t fewOwners = 16;
    std::map<std::pair<std::size_t, std::size_t>, std::size_t> shared;
    std::vector<std::pair<std::uint32_t, std::size_t>> meshes, nodes;
    const auto countsOf = [](auto begin, auto end, auto& out) {
        out.clear();
        for (auto it = begin; it != end; ++it) {
            if (!out.empty() && out.back().first == it->owner)
                ++out.back().second;
            else if (out.size() > fewOwners)
                return false;
            else
                out.push_back({it->owner, 1});
        }
        return true;
    };
    auto e = existing.begin();
    for (auto i = incoming.begin(); i != incoming.end();) {
        const auto iEnd = std::upper_bound(i, incoming.end(), *i);
        e = std::lower_bound(e, existing.end(), *i);
        const auto eEnd = std::upper_bound(e, existing.end(), *i);
        if (e != eEnd && countsOf(e, eEnd, meshes) && countsOf(i, iEnd, nodes))
            for (const auto& [node, n] : nodes)
                for (const auto& [mesh, m] : meshes)
                    shared[{node, mesh}] += std::min(n, m);
        i = iEnd;
    }
    std::vector<Pair> pairs;
    for (const auto& [pair, count] : shared)
        pairs.push_back({count, pair.first, pair.second});
    return pairs;
}

} // namespace

TemplateMatch matchTemplate(const Model& templ, const std::vector<NodeForms>& nodes) {
    TemplateMatch match;
    for (const Mesh& mesh : templ.meshes) {
        std::vector<TemplateForm>& forms = match.forms.emplace_back();
        for (const MeshSection& section : mesh.sections)
            forms.push_back(formOf(section, mesh.transform));
    }
    // Each side's forms, once every form is made and the vectors no longer grow.
    std::vector<std::vector<const Form*>> formsOfMesh, formsOfNode;
    for (const std::vector<TemplateForm>& forms : match.forms) {
        std::vector<const Form*>& list = formsOfMesh.emplace_back();
        for (const TemplateForm& form : forms)
            list.push_back(&form.form);
    }
    for (const NodeForms& node : nodes) {
        std::vector<const Form*>& list = formsOfNode.emplace_back();
        for (const Form& p : node.primitives)
            list.push_back(&p);
    }
    const auto keysOf = [](const std::vector<std::vector<const Form*>>& sides) {
        std::vector<Owned> keys;
        for (std::uint32_t owner = 0; owner < sides.size(); ++owner)
            for (const Form* form : sides[owner])
                for (std::size_t t = 0; t < form->indices.size() / 3; ++t)
                    keys.push_back({exactKey(*form, t), owner});
        std::stable_sort(keys.begin(), keys.end());
        return keys;
    };

    // Which node takes which mesh's place: first by the triangles they share
    // to the bit, as a model that went through a 3D program unchanged does.
    match.meshOf.assign(nodes.size(), -1);
    std::vector<bool> taken(templ.meshes.size(), false);
    assign(exactPairs(keysOf(formsOfMesh), keysOf(formsOfNode)), match.meshOf, taken);

    // Then the nodes left by the triangles they share within the tolerance
    // with the meshes left.
    std::vector<const Form*> existing, incoming;
    std::vector<std::size_t> meshOfExisting, nodeOfIncoming; // per triangle
    for (std::size_t m = 0; m < formsOfMesh.size(); ++m)
        if (!taken[m])
            for (const Form* form : formsOfMesh[m]) {
                existing.push_back(form);
                meshOfExisting.insert(meshOfExisting.end(), form->indices.size() / 3, m);
            }
    for (std::size_t n = 0; n < formsOfNode.size(); ++n)
        if (match.meshOf[n] < 0)
            for (const Form* form : formsOfNode[n]) {
                incoming.push_back(form);
                nodeOfIncoming.insert(nodeOfIncoming.end(), form->indices.size() / 3, n);
            }
    if (!existing.empty() && !incoming.empty()) {
        const std::vector<std::int64_t> matched = matchTriangles(existing, incoming);
        std::map<std::pair<std::size_t, std::size_t>, std::size_t> shared;
        for (std::size_t t = 0; t < matched.size(); ++t)
            if (matched[t] >= 0)
                ++shared[{nodeOfIncoming[t], meshOfExisting[static_cast<std::size_t>(matched[t])]}];
        std::vector<Pair> pairs;
        for (const auto& [pair, count] : shared)
            pairs.push_back({count, pair.first, pair.second});
        assign(std::move(pairs), match.meshOf, taken);
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

    // Each node's triangles as found in its own template mesh alone.
    for (std::size_t n = 0; n < nodes.size(); ++n) {
        std::vector<std::vector<Found>>& perPrimitive = match.found.emplace_back();
        for (const Form& p : nodes[n].primitives)
            perPrimitive.emplace_back(p.indices.size() / 3);
        if (match.meshOf[n] < 0)
            continue;
        const auto mesh = static_cast<std::size_t>(match.meshOf[n]);
        struct Where {
            std::uint32_t section, kept;
        };
        std::vector<Where> whose;
        for (std::uint32_t k = 0; k < match.forms[mesh].size(); ++k)
            for (std::uint32_t kept = 0; kept < match.forms[mesh][k].original.size(); ++kept)
                whose.push_back({k, kept});
        const std::vector<std::int64_t> own = matchTriangles(formsOfMesh[mesh], formsOfNode[n]);
        std::size_t i = 0;
        for (std::vector<Found>& found : perPrimitive)
            for (Found& f : found) {
                if (own[i] >= 0) {
                    const Where& w = whose[static_cast<std::size_t>(own[i])];
                    f = {w.section, w.kept};
                }
                ++i;
            }
    }
    return match;
}

} // namespace ulv
