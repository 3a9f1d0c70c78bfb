#include "gltf/to_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "gltf/arrays.h"
#include "gltf/extras.h"
#include "gltf/match.h"
#include "gltf/stored.h"
#include "gltf/template_match.h"
#include "model/transform.h"

namespace ulv {
namespace {

std::string countOf(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// ---- Names

// UTF-8 as the game's 8-bit text: code points up to U+00FF as one byte each,
// anything else as '?'; cut at a NUL and at 32 bytes.
std::string eightBitOf(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size() && out.size() < 32;) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        std::uint32_t code = '?';
        std::size_t length = 1;
        if (byte < 0x80) {
            code = byte;
        } else if ((byte & 0xE0) == 0xC0 && i + 1 < utf8.size() &&
                   (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
            code = (byte & 0x1Fu) << 6 | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            length = 2;
        } else {
            // A longer sequence: skip its continuation bytes.
            while (i + length < utf8.size() &&
                   (static_cast<unsigned char>(utf8[i + length]) & 0xC0) == 0x80)
                ++length;
        }
        if (code == 0)
            break;
        out += static_cast<char>(code <= 0xFF ? code : '?');
        i += length;
    }
    return out;
}

// Console text: control bytes could move the cursor.
std::string printable(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

const std::string* extraOf(const GltfExtras& extras, std::string_view key) {
    const auto found = extras.find(std::string(key));
    return found == extras.end() ? nullptr : &found->second;
}

// Each material's 8-bit name: the one our extras give, or its glTF name.
std::vector<std::string> materialNames(const GltfScene& scene, Notes& notes) {
    std::vector<std::string> names;
    for (const GltfMaterial& material : scene.materials) {
        std::optional<std::string> name;
        if (const std::string* extras = extraOf(material.extras, nameKey))
            name = readNameExtras(*extras);
        if (!name) {
            name = eightBitOf(material.name);
            if (latin1ToUtf8(*name) != material.name)
                notes.push_back("Material " + printable(material.name) + " written as " +
                                printable(latin1ToUtf8(*name)));
        }
        names.push_back(*name);
    }
    return names;
}

// Which way the game winds its triangles, going by the sections seen: when
// most were written reversed, new triangles are reversed too.
struct Winding {
    std::uint64_t reversed = 0, seen = 0;
    bool reverseNew() const { return 2 * reversed > seen; }
};

void restoreOrder(Primitive& p, const SectionEntry& entry) {
    if (entry.reversed.empty())
        return;
    if (entry.triangles == p.triangles()) {
        // The triangles as written: reverse those that were, back.
        reverseTriangles(p.indices.data(), p.triangles(), 0, entry.reversed);
        return;
    }
    // Triangles were added or removed since: follow the section's habit.
    std::uint64_t reversed = 0;
    for (const auto& [first, last] : entry.reversed)
        reversed += std::uint64_t{last} - first + 1;
    if (2 * reversed > entry.triangles)
        for (std::size_t t = 0; t < p.triangles(); ++t)
            reverseCorners(p.indices.data() + 3 * t);
}

class Assembly {
  public:
    // A node's parts as they go into a mesh.
    struct Node {
        World world;
        std::vector<Primitive> primitives;
        std::vector<SectionEntry> entries;
        std::vector<std::int64_t> entryOf; // per primitive: its entry, or -1
        std::vector<StoredValue> stored;
        std::optional<Mesh> fields; // the transform and words its extras carry
    };

    Assembly(GltfScene& scene, const Model* templ, Notes& notes)
        : scene_(scene), templ_(templ), notes_(notes), names_(materialNames(scene, notes)) {}

    ModelFromGltf run();

  private:
    std::vector<Primitive> primitivesOf(GltfMeshNode& node);
    void fromEntries(Mesh& mesh, std::vector<Primitive>& primitives,
                     const std::vector<SectionEntry>& entries,
                     const std::vector<std::int64_t>& entryOf, Frame& frame,
                     const std::vector<StoredValue>& stored);
    void overTemplate(Mesh& mesh, const Mesh& old, const std::vector<TemplateForm>& forms,
                      Node& node, const std::vector<std::vector<Found>>& found, Frame& frame,
                      std::vector<Reuse::Place>& places);
    // `place`: the template mesh it takes the place of, or Reuse::none.
    void emit(Node& node, std::int64_t place, const std::vector<TemplateForm>* forms,
              const std::vector<std::vector<Found>>* found);
    Node partsOf(GltfMeshNode& node, std::vector<SectionEntry> entries);
    void addOurs(Mesh& mesh, Primitive& p, const SectionEntry& entry, std::uint32_t number,
                 Frame& frame, const std::vector<StoredValue>& stored,
                 std::vector<Reuse::Place>* places);
    void addNew(Mesh& mesh, const Primitive& p, const std::vector<std::size_t>& triangles,
                Frame& frame, std::vector<Reuse::Place>* places, bool reverseNew);
    const MeshSection* like(const Mesh& mesh) const {
        if (!mesh.sections.empty())
            return &mesh.sections.front();
        return first_;
    }

    GltfScene& scene_;
    const Model* templ_;
    Notes& notes_;
    std::vector<std::string> names_;
    ModelFromGltf out_;
    const MeshSection* first_ = nullptr; // the model's first section seen, for new ones
    Winding winding_;                    // over the whole model
    std::uint64_t inexact_ = 0;
};

std::vector<Primitive> Assembly::primitivesOf(GltfMeshNode& node) {
    std::vector<Primitive> primitives;
    for (GltfPrimitive& g : node.primitives) {
        Primitive& p = primitives.emplace_back();
        if (g.material >= 0 && static_cast<std::size_t>(g.material) < names_.size()) {
            p.name = names_[static_cast<std::size_t>(g.material)];
            p.image = scene_.materials[static_cast<std::size_t>(g.material)].image;
        }
        p.hadNormals = !g.normals.empty();
        p.positions = std::move(g.positions);
        p.normals = std::move(g.normals);
        p.texCoords = std::move(g.texCoords);
        if (p.texCoords.empty())
            p.texCoords.assign(2 * p.vertices(), 0.0f);
        p.indices = std::move(g.indices);
    }
    return primitives;
}

void Assembly::addNew(Mesh& mesh, const Primitive& p, const std::vector<std::size_t>& triangles,
                      Frame& frame, std::vector<Reuse::Place>* places, bool reverseNew) {
    Primitive turned = p;
    if (reverseNew)
        for (std::size_t t = 0; t < turned.triangles(); ++t)
            reverseCorners(turned.indices.data() + 3 * t);
    const MeshSection fields = fieldsLike(like(mesh), p.name);
    for (MeshSection& s : sectionsOf(turned, triangles, false, fields, frame, true)) {
        mesh.sections.push_back(std::move(s));
        if (places)
            places->push_back({});
        ++out_.reuse.added;
    }
}

// A primitive of our own as the section it was: its fields, its stored
// order and the values the writer kept for it.
void Assembly::addOurs(Mesh& mesh, Primitive& p, const SectionEntry& entry, std::uint32_t number,
                       Frame& frame, const std::vector<StoredValue>& stored,
                       std::vector<Reuse::Place>* places) {
    restoreOrder(p, entry);
    MeshSection fields = entry.fields;
    fields.tag = MGRP_TAG;
    nameSection(fields, p.name);
    frame.useKept(stored, number);
    std::vector<MeshSection> made = sectionsOf(p, {}, true, fields, frame, false);
    frame.useKept({}, 0);
    for (MeshSection& s : made) {
        mesh.sections.push_back(std::move(s));
        if (places)
            places->push_back({});
        ++out_.reuse.added;
    }
}

void Assembly::fromEntries(Mesh& mesh, std::vector<Primitive>& primitives,
                           const std::vector<SectionEntry>& entries,
                           const std::vector<std::int64_t>& entryOf, Frame& frame,
                           const std::vector<StoredValue>& stored) {
    std::vector<std::int64_t> primitiveOf(entries.size(), -1);
    for (std::size_t k = 0; k < primitives.size(); ++k)
        if (entryOf[k] >= 0)
            primitiveOf[static_cast<std::size_t>(entryOf[k])] = static_cast<std::int64_t>(k);
    for (std::size_t j = 0; j < entries.size(); ++j) {
        const SectionEntry& e = entries[j];
        if (!e.primitive) {
            MeshSection s = e.fields;
            s.tag = MGRP_TAG;
            mesh.sections.push_back(s);
            ++out_.reuse.added;
            continue;
        }
        if (primitiveOf[j] < 0)
            continue; // its primitive is gone
        addOurs(mesh, primitives[static_cast<std::size_t>(primitiveOf[j])], e,
                static_cast<std::uint32_t>(j), frame, stored, nullptr);
    }
    for (std::size_t k = 0; k < primitives.size(); ++k)
        if (entryOf[k] < 0)
            addNew(mesh, primitives[k], {}, frame, nullptr, winding_.reverseNew());
}

void Assembly::overTemplate(Mesh& mesh, const Mesh& old, const std::vector<TemplateForm>& forms,
                            Node& node, const std::vector<std::vector<Found>>& found, Frame& frame,
                            std::vector<Reuse::Place>& places) {
    std::vector<Primitive>& primitives = node.primitives;
    const std::vector<SectionEntry>& entries = node.entries;
    const std::vector<std::int64_t>& entryOf = node.entryOf;
    const std::vector<StoredValue>& stored = node.stored;
    std::vector<std::vector<std::size_t>> keptOf(forms.size()); // matched kept numbers
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> newOf(forms.size());
    std::vector<std::vector<std::size_t>> addedOf(primitives.size());
    for (std::size_t p = 0; p < primitives.size(); ++p) {
        std::vector<std::size_t> count(forms.size(), 0), unmatched;
        for (std::size_t t = 0; t < primitives[p].triangles(); ++t) {
            const Found& f = found[p][t];
            if (f.section < 0) {
                unmatched.push_back(t);
                continue;
            }
            const auto k = static_cast<std::size_t>(f.section);
            keptOf[k].push_back(f.kept);
            ++count[k];
        }
        if (unmatched.empty())
            continue;
        // The section this primitive's other triangles are, or one of its
        // name that lost triangles.
        std::int64_t target = -1;
        std::size_t most = 0;
        for (std::size_t k = 0; k < forms.size(); ++k)
            if (count[k] > most) {
                most = count[k];
                target = static_cast<std::int64_t>(k);
            }
        for (std::size_t k = 0; k < forms.size() && target < 0; ++k)
            if (forms[k].form.name == primitives[p].name &&
                keptOf[k].size() < forms[k].original.size())
                target = static_cast<std::int64_t>(k);
        for (const std::size_t t : unmatched) {
            if (target >= 0)
                newOf[static_cast<std::size_t>(target)].emplace_back(p, t);
            else
                addedOf[p].push_back(t);
        }
    }

    for (std::size_t k = 0; k < forms.size(); ++k) {
        const MeshSection& s = old.sections[k];
        const TemplateForm& form = forms[k];
        if (keptOf[k].size() == form.original.size() && newOf[k].empty()) {
            mesh.sections.push_back(s);
            places.push_back({static_cast<std::int64_t>(k), true});
            ++out_.reuse.kept;
            continue;
        }
        if (keptOf[k].empty() && newOf[k].empty()) {
            ++out_.reuse.dropped;
            continue;
        }
        // Changed: the template's triangles still there, with its own
        // vertices in its order and numbers, then the new ones.
        std::sort(keptOf[k].begin(), keptOf[k].end());
        std::vector<std::uint32_t> triangles;
        for (const std::size_t kept : keptOf[k])
            triangles.push_back(form.original[kept]);
        std::vector<std::uint32_t> used;
        for (const std::uint32_t t : triangles)
            used.insert(used.end(), s.indices.begin() + 3 * t, s.indices.begin() + 3 * t + 3);
        std::sort(used.begin(), used.end());
        used.erase(std::unique(used.begin(), used.end()), used.end());
        MeshSection changed = s;
        changed.positions.clear();
        changed.normals.clear();
        changed.texCoords.clear();
        changed.indices.clear();
        std::unordered_map<std::uint32_t, std::uint32_t> numberOf;
        for (const std::uint32_t v : used) {
            numberOf[v] = static_cast<std::uint32_t>(numberOf.size());
            changed.positions.insert(changed.positions.end(), s.positions.begin() + 3 * v,
                                     s.positions.begin() + 3 * v + 3);
            changed.normals.insert(changed.normals.end(), s.normals.begin() + 3 * v,
                                   s.normals.begin() + 3 * v + 3);
            changed.texCoords.insert(changed.texCoords.end(), s.texCoords.begin() + 2 * v,
                                     s.texCoords.begin() + 2 * v + 2);
        }
        for (const std::uint32_t t : triangles)
            for (std::uint32_t c = 0; c < 3; ++c)
                changed.indices.push_back(numberOf.at(s.indices[3 * t + c]));
        std::uint64_t reversed = 0;
        for (const bool r : form.reversed)
            reversed += r;
        const bool reverseNew = 2 * reversed > form.reversed.size();
        // The new triangles, as one primitive's, into the same section while
        // their vertices fit, else into sections of their own.
        std::vector<std::vector<std::size_t>> byPrimitive(primitives.size());
        for (const auto& [p, t] : newOf[k])
            byPrimitive[p].push_back(t);
        std::vector<std::pair<std::size_t, std::vector<std::size_t>>> overflow;
        for (std::size_t p = 0; p < primitives.size(); ++p) {
            if (byPrimitive[p].empty())
                continue;
            Primitive turned = primitives[p];
            if (reverseNew)
                for (std::size_t t = 0; t < turned.triangles(); ++t)
                    reverseCorners(turned.indices.data() + 3 * t);
            std::vector<MeshSection> made =
                sectionsOf(turned, byPrimitive[p], false, changed, frame, false);
            if (made.size() == 1 &&
                changed.positions.size() / 3 + made[0].positions.size() / 3 <= maxVertices) {
                const auto base = static_cast<std::uint32_t>(changed.positions.size() / 3);
                const MeshSection& n = made[0];
                changed.positions.insert(changed.positions.end(), n.positions.begin(),
                                         n.positions.end());
                changed.normals.insert(changed.normals.end(), n.normals.begin(), n.normals.end());
                changed.texCoords.insert(changed.texCoords.end(), n.texCoords.begin(),
                                         n.texCoords.end());
                for (const std::uint32_t c : n.indices)
                    changed.indices.push_back(base + c);
            } else {
                overflow.emplace_back(p, byPrimitive[p]);
            }
        }
        setCounts(changed, s.faceCount == s.triangleCount);
        mesh.sections.push_back(std::move(changed));
        places.push_back({static_cast<std::int64_t>(k), false});
        ++out_.reuse.changed;
        for (const auto& [p, list] : overflow)
            addNew(mesh, primitives[p], list, frame, &places, reverseNew);
    }
    // A primitive none of whose triangles the template has: one of our own
    // comes back as the section it was, any other as a new one.
    for (std::size_t p = 0; p < primitives.size(); ++p) {
        if (addedOf[p].empty())
            continue;
        if (addedOf[p].size() == primitives[p].triangles() && entryOf[p] >= 0)
            addOurs(mesh, primitives[p], entries[static_cast<std::size_t>(entryOf[p])],
                    static_cast<std::uint32_t>(entryOf[p]), frame, stored, &places);
        else
            addNew(mesh, primitives[p], addedOf[p], frame, &places, winding_.reverseNew());
    }
}

Assembly::Node Assembly::partsOf(GltfMeshNode& source, std::vector<SectionEntry> entries) {
    Node node{World(source.world), primitivesOf(source), std::move(entries), {}, {}, {}};
    std::vector<Primitive>& primitives = node.primitives;
    // Which of our sections each primitive was: in order when they all are
    // there, else the first of its name not yet taken.
    node.entryOf.assign(primitives.size(), -1);
    std::vector<std::size_t> withPrimitive;
    for (std::size_t j = 0; j < node.entries.size(); ++j)
        if (node.entries[j].primitive)
            withPrimitive.push_back(j);
    bool inOrder = withPrimitive.size() == primitives.size();
    for (std::size_t k = 0; k < primitives.size() && inOrder; ++k)
        inOrder = materialNameOf(node.entries[withPrimitive[k]].fields) == primitives[k].name;
    std::vector<bool> taken(node.entries.size(), false);
    for (std::size_t k = 0; k < primitives.size(); ++k) {
        for (const std::size_t j : withPrimitive) {
            if (inOrder
                    ? j == withPrimitive[k]
                    : !taken[j] && materialNameOf(node.entries[j].fields) == primitives[k].name) {
                node.entryOf[k] = static_cast<std::int64_t>(j);
                taken[j] = true;
                break;
            }
        }
    }
    for (std::size_t k = 0; k < primitives.size(); ++k) {
        Primitive& p = primitives[k];
        if (p.hadNormals)
            continue;
        // One of ours that had none keeps none; any other gets flat ones.
        if (node.entryOf[k] >= 0)
            p.normals.assign(3 * p.vertices(), 0.0f);
        else
            makeFlat(p);
    }
    for (const Primitive& p : primitives)
        if (!p.name.empty())
            out_.imageOfName.emplace(p.name, p.image);
    const std::string* storedText = extraOf(source.meshExtras, storedKey);
    if (!storedText)
        storedText = extraOf(source.nodeExtras, storedKey);
    if (storedText)
        if (auto values = readStoredExtras(*storedText))
            node.stored = std::move(*values);
    if (const std::string* extras = extraOf(source.nodeExtras, meshKey)) {
        Mesh fields;
        if (readMeshExtras(*extras, fields))
            node.fields = fields;
    }
    return node;
}

void Assembly::emit(Node& node, std::int64_t place, const std::vector<TemplateForm>* forms,
                    const std::vector<std::vector<Found>>* found) {
    Mesh& mesh = out_.model.meshes.emplace_back();
    mesh.tag = MESH_TAG;
    const Mesh* old = place >= 0 ? &templ_->meshes[static_cast<std::size_t>(place)] : nullptr;
    const Mesh* fields = old ? old : node.fields ? &*node.fields : nullptr;
    if (fields) {
        mesh.transform = fields->transform;
        mesh.opaqueWords = fields->opaqueWords;
    } else {
        mesh.transform = node.world.asTransform();
    }
    Frame frame(node.world, mesh.transform, !fields);
    out_.reuse.meshes.push_back(place);
    std::vector<Reuse::Place>& places = out_.reuse.sections.emplace_back();
    if (old) {
        overTemplate(mesh, *old, *forms, node, *found, frame, places);
    } else {
        fromEntries(mesh, node.primitives, node.entries, node.entryOf, frame, node.stored);
        places.resize(mesh.sections.size());
    }
    mesh.sectionCount = static_cast<std::uint32_t>(mesh.sections.size());
    inexact_ += frame.inexact();
}

ModelFromGltf Assembly::run() {
    Model& model = out_.model;
    if (templ_) {
        model.tag = templ_->tag;
        model.minorVersion = templ_->minorVersion;
        model.majorVersion = templ_->majorVersion;
        model.opaqueShort = templ_->opaqueShort;
        model.size = templ_->size;
        model.opaqueWords = templ_->opaqueWords;
        model.versionExtension = templ_->versionExtension;
        for (const Mesh& mesh : templ_->meshes)
            if (!first_ && !mesh.sections.empty())
                first_ = &mesh.sections.front();
    } else if (const std::string* header = extraOf(scene_.sceneExtras, headerKey)) {
        readHeaderExtras(*header, model);
    }

    // Our own sections, per node, as the extras list them.
    std::vector<std::vector<SectionEntry>> entriesOf(scene_.nodes.size());
    for (std::size_t i = 0; i < scene_.nodes.size(); ++i) {
        const GltfMeshNode& node = scene_.nodes[i];
        const std::string* text = extraOf(node.meshExtras, sectionsKey);
        if (!text)
            text = extraOf(node.nodeExtras, sectionsKey);
        if (text)
            if (auto entries = readSectionExtras(*text))
                entriesOf[i] = std::move(*entries);
    }
    for (const auto& entries : entriesOf)
        for (const SectionEntry& e : entries) {
            winding_.seen += e.reversed.empty() ? 0 : e.triangles;
            for (const auto& [first, last] : e.reversed)
                winding_.reversed += std::uint64_t{last} - first + 1;
            if (!templ_ && !first_)
                first_ = &e.fields;
        }

    // Every node's parts first: written over a template, each node's place
    // depends on what all of them hold.
    std::vector<Node> nodes;
    nodes.reserve(scene_.nodes.size());
    for (std::size_t i = 0; i < scene_.nodes.size(); ++i)
        nodes.push_back(partsOf(scene_.nodes[i], std::move(entriesOf[i])));

    if (!templ_) {
        for (Node& node : nodes)
            emit(node, Reuse::none, nullptr, nullptr);
    } else {
        std::vector<NodeForms> forms;
        for (const Node& node : nodes) {
            NodeForms& f = forms.emplace_back();
            for (const Primitive& p : node.primitives)
                f.primitives.push_back(formOf(p, node.world));
            f.fields = node.fields;
        }
        const TemplateMatch match = matchTemplate(*templ_, forms);
        forms.clear();
        for (const std::vector<TemplateForm>& meshForms : match.forms)
            for (const TemplateForm& form : meshForms) {
                for (const bool r : form.reversed)
                    winding_.reversed += r;
                winding_.seen += form.reversed.size();
            }
        // In the template's order, then the nodes that take no place in it.
        for (std::size_t t = 0; t < templ_->meshes.size(); ++t) {
            const auto n = static_cast<std::size_t>(
                std::find(match.meshOf.begin(), match.meshOf.end(), static_cast<std::int64_t>(t)) -
                match.meshOf.begin());
            if (n == nodes.size()) {
                out_.reuse.dropped += templ_->meshes[t].sections.size();
                continue;
            }
            emit(nodes[n], static_cast<std::int64_t>(t), &match.forms[t], &match.found[n]);
        }
        for (std::size_t n = 0; n < nodes.size(); ++n)
            if (match.meshOf[n] < 0)
                emit(nodes[n], Reuse::none, nullptr, nullptr);
    }
    model.numMeshes = static_cast<std::uint32_t>(model.meshes.size());
    if (inexact_)
        notes_.push_back(countOf(inexact_, "position or normal", "positions or normals") +
                         " stored as near as their mesh's transform allows");
    return std::move(out_);
}

} // namespace

ModelFromGltf modelOf(GltfScene& scene, const Model* templ, Notes& notes) {
    return Assembly(scene, templ, notes).run();
}

} // namespace ulv
