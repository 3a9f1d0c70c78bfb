#include "tests/support/truncation.h"

namespace ulv {

Prefixes prefixesOf(const Model& model) {
    struct Block {
        std::size_t tagStart, end;
        const std::string& missing;
    };
    std::vector<Block> blocks;
    Prefixes out;
    Bytes& bytes = out.bytes;
    appendFileHeader(bytes, model);
    const std::size_t headerEnd = bytes.size();
    for (const Mesh& mesh : model.meshes) {
        const std::size_t meshStart = bytes.size();
        appendMeshHeader(bytes, mesh);
        blocks.push_back({meshStart, bytes.size(), kNoMesh});
        for (const MeshSection& section : mesh.sections) {
            const std::size_t start = bytes.size();
            appendSection(bytes, section);
            blocks.push_back({start, bytes.size(), kNoSection});
        }
    }
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        const std::string* message = &kTruncated;
        for (const Block& block : blocks)
            if (length >= headerEnd && length < block.end) {
                if (length < block.tagStart + 4)
                    message = &block.missing;
                break;
            }
        out.messages.push_back(*message);
    }
    return out;
}

} // namespace ulv
