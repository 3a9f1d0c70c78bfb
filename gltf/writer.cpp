#include "gltf/writer.h"

#include <ostream>

#include "gltf/binary.h"
#include "gltf/json.h"
#include "gltf/layout.h"
#include "gltf/source.h"

namespace ulv {
namespace {

bool put(std::ostream& out, const std::string& bytes) {
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bool(out);
}

void putU32(std::string& out, std::uint64_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>(value >> shift & 0xFF);
}

} // namespace

GltfResult writeGlb(GltfSource& source, const TextureSet& textures, std::ostream& out, Notes& notes,
                    std::uint64_t sizeLimit) {
    const Layout layout = plan(source.model(), source.facts(), textures, notes);
    std::string json = jsonOf(source.model(), layout, textures, nullptr);
    json.append((4 - json.size() % 4) % 4, ' ');
    const std::uint64_t binChunk = layout.binarySize ? 8 + layout.binarySize : 0;
    const std::uint64_t total = 12 + 8 + json.size() + binChunk;
    if (total > sizeLimit)
        return GltfResult::tooLarge;
    std::string head = "glTF";
    putU32(head, 2);
    putU32(head, total);
    putU32(head, json.size());
    head += "JSON";
    bool ok = put(out, head) && put(out, json);
    if (binChunk) {
        std::string binHead;
        putU32(binHead, layout.binarySize);
        binHead.append("BIN\0", 4);
        ok = ok && put(out, binHead) && writeBinary(out, layout, source, textures);
    }
    out.flush();
    return ok && out ? GltfResult::ok : GltfResult::failed;
}

GltfResult writeGltf(GltfSource& source, const TextureSet& textures, std::ostream& json,
                     std::ostream& bin, const std::string& binName, Notes& notes,
                     std::uint64_t sizeLimit) {
    const Layout layout = plan(source.model(), source.facts(), textures, notes);
    if (layout.binarySize > sizeLimit)
        return GltfResult::tooLarge;
    const std::string text = jsonOf(source.model(), layout, textures, &binName) + "\n";
    const bool ok = put(json, text) && writeBinary(bin, layout, source, textures);
    json.flush();
    bin.flush();
    return ok && json && bin ? GltfResult::ok : GltfResult::failed;
}

GltfResult writeGlb(const Model& model, const TextureSet& textures, std::ostream& out, Notes& notes,
                    std::uint64_t sizeLimit) {
    HeldModel source(model);
    return writeGlb(source, textures, out, notes, sizeLimit);
}

GltfResult writeGltf(const Model& model, const TextureSet& textures, std::ostream& json,
                     std::ostream& bin, const std::string& binName, Notes& notes,
                     std::uint64_t sizeLimit) {
    HeldModel source(model);
    return writeGltf(source, textures, json, bin, binName, notes, sizeLimit);
}

const char* messageFor(GltfResult result) {
    switch (result) {
    case GltfResult::ok:
        return "";
    case GltfResult::tooLarge:
        return "The model is too large for glTF: over 4 GiB of data";
    case GltfResult::failed:
        break;
    }
    return "Unable to write the output file";
}

} // namespace ulv
