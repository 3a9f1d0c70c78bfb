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

// ---- What a template's section looks like in glTF

struct TemplateForm {
    Form form;
    std::vector<std::uint32_t> original; // per kept triangle: its number in the section
    std::vector<bool> reversed;          // per kept triangle: written reversed
};

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

// A primitive in model space, for matching.
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
    Assembly(GltfScene& scene, const Model* templ, Notes& notes)
        : scene_(scene), templ_(templ), notes_(notes), names_(materialNames(scene, notes)) {}

    ModelFromGltf run();

  private:
    std::vector<Primitive> primitivesOf(GltfMeshNode& node);
    void fromEntries(Mesh& mesh, std::vector<Primitive>& primitives,
                     const std::vector<SectionEntry>& entries,
                     const std::vector<std::int64_t>& entryOf, Frame& frame,
                     const std::vector<StoredValue>& stored);
    void overTemplate(Mesh& mesh, const Mesh& old, std::vector<Primitive>& primitives,
                      const World& world, Frame& frame, std::vector<Reuse::Place>& places,
                      const std::vector<SectionEntry>& entries,
                      const std::vector<std::int64_t>& entryOf,
                      const std::vector<StoredValue>& stored);
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

void Assembly::overTemplate(Mesh& mesh, const Mesh& old, std::vector<Primitive>& primitives,
                            const World& world, Frame& frame, std::vector<Reuse::Place>& places,
                            const std::vector<SectionEntry>& entries,
                            const std::vector<std::int64_t>& entryOf,
                            const std::vector<StoredValue>& stored) {
    std::vector<TemplateForm> forms;
    std::vector<Form> existing, incoming;
    for (const MeshSection& s : old.sections) {
        forms.push_back(formOf(s, old.transform));
        existing.push_back(forms.back().form);
    }
    for (const Primitive& p : primitives)
        incoming.push_back(formOf(p, world));
    const std::vector<std::int64_t> matched = matchTriangles(existing, incoming);

    // Existing triangles by number: their section and kept number.
    std::vector<std::pair<std::size_t, std::size_t>> whose;
    for (std::size_t k = 0; k < forms.size(); ++k)
        for (std::size_t t = 0; t < forms[k].original.size(); ++t)
            whose.emplace_back(k, t);
    std::vector<std::vector<std::size_t>> keptOf(forms.size()); // matched kept numbers
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> newOf(forms.size());
    std::vector<std::vector<std::size_t>> addedOf(primitives.size());
    std::size_t at = 0;
    for (std::size_t p = 0; p < primitives.size(); ++p) {
        std::vector<std::size_t> count(forms.size(), 0), unmatched;
        for (std::size_t t = 0; t < primitives[p].triangles(); ++t, ++at) {
            if (matched[at] < 0) {
                unmatched.push_back(t);
                continue;
            }
            const auto [k, kept] = whose[static_cast<std::size_t>(matched[at])];
            keptOf[k].push_back(kept);
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
        MeshSection fields = changed;
        fields.positions.clear();
        fields.normals.clear();
        fields.texCoords.clear();
        fields.indices.clear();
        for (std::size_t p = 0; p < primitives.size(); ++p) {
            if (byPrimitive[p].empty())
                continue;
            Primitive turned = primitives[p];
            if (reverseNew)
                for (std::size_t t = 0; t < turned.triangles(); ++t)
                    reverseCorners(turned.indices.data() + 3 * t);
            std::vector<MeshSection> made =
                sectionsOf(turned, byPrimitive[p], false, fields, frame, false);
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
            for (const MeshSection& s : mesh.sections) {
                const TemplateForm form = formOf(s, mesh.transform);
                for (const bool r : form.reversed)
                    winding_.reversed += r;
                winding_.seen += form.reversed.size();
                if (!first_)
                    first_ = &s;
            }
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

    for (std::size_t i = 0; i < scene_.nodes.size(); ++i) {
        GltfMeshNode& node = scene_.nodes[i];
        const World world(node.world);
        Mesh& mesh = model.meshes.emplace_back();
        mesh.tag = MESH_TAG;
        const Mesh* old = templ_ && i < templ_->meshes.size() ? &templ_->meshes[i] : nullptr;
        bool fromWorld = true;
        if (old) {
            mesh.transform = old->transform;
            mesh.opaqueWords = old->opaqueWords;
            fromWorld = false;
        } else if (const std::string* extras = extraOf(node.nodeExtras, meshKey);
                   extras && readMeshExtras(*extras, mesh)) {
            fromWorld = false;
        } else {
            mesh.transform = world.asTransform();
        }
        Frame frame(world, mesh.transform, fromWorld);

        std::vector<Primitive> primitives = primitivesOf(node);
        // Which of our sections each primitive was: in order when they all
        // are there, else the first of its name not yet taken.
        const std::vector<SectionEntry>& entries = entriesOf[i];
        std::vector<std::int64_t> entryOf(primitives.size(), -1);
        std::vector<std::size_t> withPrimitive;
        for (std::size_t j = 0; j < entries.size(); ++j)
            if (entries[j].primitive)
                withPrimitive.push_back(j);
        bool inOrder = withPrimitive.size() == primitives.size();
        for (std::size_t k = 0; k < primitives.size() && inOrder; ++k)
            inOrder = materialNameOf(entries[withPrimitive[k]].fields) == primitives[k].name;
        std::vector<bool> taken(entries.size(), false);
        for (std::size_t k = 0; k < primitives.size(); ++k) {
            for (const std::size_t j : withPrimitive) {
                if (inOrder
                        ? j == withPrimitive[k]
                        : !taken[j] && materialNameOf(entries[j].fields) == primitives[k].name) {
                    entryOf[k] = static_cast<std::int64_t>(j);
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
            if (entryOf[k] >= 0)
                p.normals.assign(3 * p.vertices(), 0.0f);
            else
                makeFlat(p);
        }
        for (const Primitive& p : primitives)
            if (!p.name.empty())
                out_.imageOfName.emplace(p.name, p.image);

        std::vector<StoredValue> stored;
        const std::string* storedText = extraOf(node.meshExtras, storedKey);
        if (!storedText)
            storedText = extraOf(node.nodeExtras, storedKey);
        if (storedText)
            if (auto values = readStoredExtras(*storedText))
                stored = std::move(*values);
        if (old) {
            out_.reuse.meshes.push_back(static_cast<std::int64_t>(i));
            std::vector<Reuse::Place>& places = out_.reuse.sections.emplace_back();
            overTemplate(mesh, *old, primitives, world, frame, places, entries, entryOf, stored);
        } else {
            out_.reuse.meshes.push_back(Reuse::none);
            fromEntries(mesh, primitives, entries, entryOf, frame, stored);
            out_.reuse.sections.emplace_back(mesh.sections.size());
        }
        mesh.sectionCount = static_cast<std::uint32_t>(mesh.sections.size());
        inexact_ += frame.inexact();
    }
    if (templ_)
        for (std::size_t i = scene_.nodes.size(); i < templ_->meshes.size(); ++i)
            out_.reuse.dropped += templ_->meshes[i].sections.size();
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
