#include "gltf/reader.h"

#include <cstring>
#include <unordered_map>

#include "gltf/accessors.h"
#include "gltf/document.h"
#include "gltf/nodes.h"
#include "gltf/resources.h"
#include "texture/find.h"

namespace ulv {
namespace {

// What the records leave out, counted over the meshes read once each.
struct LeftOut {
    std::uint64_t pointsOrLines = 0, withoutPositions = 0, morphTargets = 0, jointSets = 0,
                  extraUvSets = 0, colourSets = 0, tangentSets = 0, otherAttributes = 0;
};

std::string countOf(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

GltfExtras ulvaneExtras(const tg::Value& extras) {
    GltfExtras out;
    if (!extras.IsObject())
        return out;
    for (const auto& [key, value] : extras.Get<tg::Value::Object>())
        if (key.rfind("ulvane_", 0) == 0 && value.IsString())
            out[key] = value.Get<std::string>();
    return out;
}

// Counts the attributes a primitive has that the records do not hold.
void countAttributes(const tg::Primitive& primitive, LeftOut& leftOut) {
    for (const auto& [name, accessor] : primitive.attributes) {
        if (name == "POSITION" || name == "NORMAL" || name == "TEXCOORD_0" ||
            name.rfind("WEIGHTS_", 0) == 0)
            continue;
        if (name.rfind("TEXCOORD_", 0) == 0)
            ++leftOut.extraUvSets;
        else if (name.rfind("COLOR_", 0) == 0)
            ++leftOut.colourSets;
        else if (name.rfind("JOINTS_", 0) == 0)
            ++leftOut.jointSets;
        else if (name == "TANGENT")
            ++leftOut.tangentSets;
        else
            ++leftOut.otherAttributes;
    }
    leftOut.morphTargets += primitive.targets.size();
}

// The corners of the triangles, as glTF orders them for each mode so that
// the winding is kept. Strips and fans join their parts with triangles that
// repeat a corner; those have no area and are dropped.
std::vector<std::uint32_t> triangles(int mode, std::vector<std::uint32_t> v, DecodeBudget& budget) {
    const std::size_t n = v.size();
    if (mode == TINYGLTF_MODE_TRIANGLES) {
        // An incomplete last triangle is no triangle.
        v.resize(n / 3 * 3);
        return v;
    }
    std::vector<std::uint32_t> out;
    if (n < 3)
        return out;
    budget.take(3 * (n - 2));
    out.reserve(3 * (n - 2));
    for (std::size_t i = 0; i + 2 < n; ++i) {
        std::uint32_t a, b, c;
        if (mode == TINYGLTF_MODE_TRIANGLE_STRIP) {
            a = v[i];
            b = v[i + 1 + i % 2];
            c = v[i + 2 - i % 2];
        } else {
            a = v[i + 1];
            b = v[i + 2];
            c = v[0];
        }
        if (a != b && b != c && a != c)
            out.insert(out.end(), {a, b, c});
    }
    return out;
}

class Reader {
  public:
    Reader(const GltfDocument& doc, DecodeBudget& budget) : doc_(doc), budget_(budget) {}

    // A mesh's triangle primitives, decoded on first use. `lastUse` hands
    // them over instead of copying: most meshes serve one node, and a copy
    // of every array cost as much as decoding them.
    std::vector<GltfPrimitive> mesh(std::size_t index, bool lastUse) {
        const auto found = meshes_.find(index);
        if (found != meshes_.end()) {
            if (lastUse) {
                std::vector<GltfPrimitive> out = std::move(found->second);
                meshes_.erase(found);
                return out;
            }
            // Each further node with the mesh holds a copy of its own.
            for (const GltfPrimitive& p : found->second)
                budget_.take(p.positions.size() + p.normals.size() + p.texCoords.size() +
                             p.indices.size());
            return found->second;
        }
        const tg::Mesh& mesh = doc_.model.meshes[index];
        std::vector<GltfPrimitive> out;
        for (std::size_t i = 0; i < mesh.primitives.size(); ++i)
            if (auto primitive = read(mesh.primitives[i], index, i))
                out.push_back(std::move(*primitive));
        if (lastUse)
            return out;
        return meshes_.emplace(index, std::move(out)).first->second;
    }

    const LeftOut& leftOut() const { return leftOut_; }

  private:
    std::optional<GltfPrimitive> read(const tg::Primitive& primitive, std::size_t meshIndex,
                                      std::size_t index) {
        const std::string name =
            "mesh " + std::to_string(meshIndex) + " primitive " + std::to_string(index);
        const int mode = primitive.mode;
        if (mode < TINYGLTF_MODE_POINTS || mode > TINYGLTF_MODE_TRIANGLE_FAN)
            throw GltfError(name + " has unknown mode " + std::to_string(mode));
        if (mode < TINYGLTF_MODE_TRIANGLES) {
            ++leftOut_.pointsOrLines;
            return std::nullopt;
        }
        const auto position = primitive.attributes.find("POSITION");
        if (position == primitive.attributes.end()) {
            ++leftOut_.withoutPositions;
            return std::nullopt;
        }
        countAttributes(primitive, leftOut_);

        GltfPrimitive out;
        if (primitive.material < -1 ||
            (primitive.material >= 0 &&
             static_cast<std::size_t>(primitive.material) >= doc_.model.materials.size()))
            throw GltfError(name + " refers to missing material " +
                            std::to_string(primitive.material));
        out.material = primitive.material;
        out.positions =
            readAttribute(doc_, position->second, Attribute::position, "POSITION", budget_);
        const std::uint64_t vertices = out.positions.size() / 3;
        const auto alongside = [&](const char* semantic, Attribute attribute) {
            const auto found = primitive.attributes.find(semantic);
            if (found == primitive.attributes.end())
                return std::vector<float>{};
            if (accessorAt(doc_, found->second).count != vertices)
                throw GltfError(std::string(semantic) + " accessor " +
                                std::to_string(found->second) + " and POSITION accessor " +
                                std::to_string(position->second) + " differ in count");
            return readAttribute(doc_, found->second, attribute, semantic, budget_);
        };
        out.normals = alongside("NORMAL", Attribute::normal);
        out.texCoords = alongside("TEXCOORD_0", Attribute::texCoord);

        std::vector<std::uint32_t> corners;
        if (primitive.indices == -1) {
            budget_.take(vertices);
            corners.resize(vertices);
            for (std::uint64_t i = 0; i < vertices; ++i)
                corners[i] = static_cast<std::uint32_t>(i);
        } else {
            corners = readIndices(doc_, primitive.indices, budget_);
            for (const std::uint32_t corner : corners)
                if (corner >= vertices)
                    throw GltfError("index " + std::to_string(corner) + " in accessor " +
                                    std::to_string(primitive.indices) + " is past the " +
                                    std::to_string(vertices) + " vertices of " + name);
        }
        out.indices = triangles(mode, std::move(corners), budget_);
        return out;
    }

    const GltfDocument& doc_;
    DecodeBudget& budget_;
    std::unordered_map<std::size_t, std::vector<GltfPrimitive>> meshes_;
    LeftOut leftOut_;
};

// What the bytes say they are, for an image whose JSON does not.
std::string sniffMimeType(const std::vector<std::uint8_t>& bytes) {
    const auto starts = [&](std::string_view magic, std::size_t at = 0) {
        return bytes.size() >= at + magic.size() &&
               std::memcmp(bytes.data() + at, magic.data(), magic.size()) == 0;
    };
    if (starts("\x89PNG\r\n\x1a\n"))
        return "image/png";
    if (starts("\xFF\xD8\xFF"))
        return "image/jpeg";
    if (starts("RIFF") && starts("WEBP", 8))
        return "image/webp";
    if (starts("\xABKTX 20\xBB"))
        return "image/ktx2";
    if (starts("GIF8"))
        return "image/gif";
    if (starts("BM"))
        return "image/bmp";
    return "";
}

std::vector<GltfImage> readImages(const GltfDocument& doc, ResourceCache& cache, Notes& notes) {
    std::vector<GltfImage> out;
    for (std::size_t i = 0; i < doc.images.size(); ++i) {
        const ImageSource& source = doc.images[i];
        const std::string name = "image " + std::to_string(i);
        GltfImage image;
        image.mimeType = source.mimeType;
        std::string why;
        if (!source.uri) {
            // A buffer view outside its buffer is as broken as an accessor's.
            const ByteRange bytes = viewBytes(doc, source.bufferView, name);
            image.bytes.assign(bytes.data, bytes.data + bytes.size);
        } else if (isDataUri(*source.uri)) {
            if (auto decoded = decodeDataUri(*source.uri, why)) {
                image.bytes = std::move(decoded->bytes);
                if (image.mimeType.empty() && decoded->mimeType.rfind("image/", 0) == 0)
                    image.mimeType = decoded->mimeType;
            } else {
                notes.push_back("Image " + std::to_string(i) + " left out: " + why);
            }
        } else {
            const std::string file = percentDecode(*source.uri);
            if (const auto* bytes = cache.fetch(file, why))
                image.bytes = *bytes;
            else
                notes.push_back("Image " + std::to_string(i) + " (" + printable(file) +
                                ") left out: " + printable(why));
        }
        if (image.mimeType.empty())
            image.mimeType = sniffMimeType(image.bytes);
        out.push_back(std::move(image));
    }
    return out;
}

std::vector<GltfMaterial> readMaterials(const tg::Model& model,
                                        const std::vector<GltfImage>& images) {
    std::vector<GltfMaterial> out;
    for (std::size_t i = 0; i < model.materials.size(); ++i) {
        const tg::Material& material = model.materials[i];
        GltfMaterial record;
        record.name = material.name;
        record.extras = ulvaneExtras(material.extras);
        const int texture = material.pbrMetallicRoughness.baseColorTexture.index;
        if (texture != -1) {
            if (texture < 0 || static_cast<std::size_t>(texture) >= model.textures.size())
                throw GltfError("material " + std::to_string(i) + " refers to missing texture " +
                                std::to_string(texture));
            const int image = model.textures[static_cast<std::size_t>(texture)].source;
            if (image < -1 || (image >= 0 && static_cast<std::size_t>(image) >= images.size()))
                throw GltfError("texture " + std::to_string(texture) + " refers to missing image " +
                                std::to_string(image));
            // An image that could not be had leaves its materials untextured.
            if (image >= 0 && !images[static_cast<std::size_t>(image)].bytes.empty())
                record.image = image;
        }
        out.push_back(std::move(record));
    }
    return out;
}

void addNotes(const LeftOut& leftOut, const tg::Model& model, int scene, Notes& notes) {
    const auto note = [&](std::uint64_t n, const char* one, const char* many, const char* rest) {
        if (n > 0)
            notes.push_back(countOf(n, one, many) + rest);
    };
    note(leftOut.pointsOrLines, "primitive", "primitives", " of points or lines left out");
    note(leftOut.withoutPositions, "primitive", "primitives", " without positions left out");
    note(leftOut.morphTargets, "morph target", "morph targets", " left out");
    note(model.skins.size(), "skin", "skins", " left out");
    note(leftOut.jointSets, "set", "sets", " of joints and weights left out");
    note(model.animations.size(), "animation", "animations", " left out");
    note(leftOut.extraUvSets, "texture coordinate set", "texture coordinate sets",
         " after the first left out");
    note(leftOut.colourSets, "vertex colour set", "vertex colour sets", " left out");
    note(leftOut.tangentSets, "tangent set", "tangent sets", " left out");
    note(leftOut.otherAttributes, "other vertex attribute", "other vertex attributes", " left out");
    note(model.cameras.size(), "camera", "cameras", " left out");
    note(model.lights.size(), "light", "lights", " left out");
    if (scene >= 0)
        note(model.scenes.size() - 1, "other scene", "other scenes", " left out");
}

} // namespace

GltfScene readGltf(const std::uint8_t* data, std::size_t size, const ResourceLoader& load,
                   Notes& notes) {
    ResourceCache cache(load);
    const GltfDocument doc = readDocument(data, size, cache);
    const tg::Model& model = doc.model;
    Notes imageNotes;
    GltfScene scene;
    scene.images = readImages(doc, cache, imageNotes);
    scene.materials = readMaterials(model, scene.images);

    const SceneNodes placed = sceneNodes(model);
    if (placed.scene >= 0)
        scene.sceneExtras =
            ulvaneExtras(model.scenes[static_cast<std::size_t>(placed.scene)].extras);
    DecodeBudget budget(size + cache.bytesFetched());
    Reader reader(doc, budget);
    std::unordered_map<int, std::size_t> usesLeft;
    for (const PlacedNode& p : placed.nodes)
        ++usesLeft[model.nodes[p.node].mesh];
    for (const PlacedNode& p : placed.nodes) {
        const tg::Node& node = model.nodes[p.node];
        GltfMeshNode record;
        record.nodeExtras = ulvaneExtras(node.extras);
        if (node.mesh < -1 ||
            (node.mesh >= 0 && static_cast<std::size_t>(node.mesh) >= model.meshes.size()))
            throw GltfError("node " + std::to_string(p.node) + " refers to missing mesh " +
                            std::to_string(node.mesh));
        if (node.mesh == -1 && record.nodeExtras.empty())
            continue;
        record.name = node.name;
        record.world = p.world;
        if (node.mesh >= 0) {
            const auto mesh = static_cast<std::size_t>(node.mesh);
            record.hasMesh = true;
            record.primitives = reader.mesh(mesh, --usesLeft[node.mesh] == 0);
            record.meshExtras = ulvaneExtras(model.meshes[mesh].extras);
        }
        scene.nodes.push_back(std::move(record));
    }
    addNotes(reader.leftOut(), model, placed.scene, notes);
    notes.insert(notes.end(), imageNotes.begin(), imageNotes.end());
    return scene;
}

} // namespace ulv
