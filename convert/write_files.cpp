#include "convert/write_files.h"

#include "convert/outputs.h"
#include "convert/textures.h"
#include "gltf/source.h"
#include "obj/writer.h"
#include "platform/replace_files.h"
#include "platform/utf8_path.h"

namespace ulv {

bool writeObj(Model model, const std::string& outputPath) {
    const std::vector<std::string> paths = filesOf(outputPath);
    // The library is renamed first: an OBJ in place always finds its materials.
    return replaceFiles(paths, [&](const std::vector<std::ostream*>& streams) {
        return writeObj(std::move(model), *streams[0], *streams[1],
                        utf8Text(utf8Path(paths[1]).filename()));
    });
}

GltfResult writeGltf(GltfSource& source, const TextureSet& textures, const std::string& outputPath,
                     Notes& notes) {
    GltfResult result = GltfResult::failed;
    const std::vector<std::string> paths = filesOf(outputPath);
    const bool ok = replaceFiles(paths, [&](const std::vector<std::ostream*>& streams) {
        if (streams.size() == 2)
            result = writeGltf(source, textures, *streams[0], *streams[1],
                               utf8Text(utf8Path(paths[1]).filename()), notes);
        else
            result = writeGlb(source, textures, *streams[0], notes);
        return result == GltfResult::ok;
    });
    return ok ? GltfResult::ok : result == GltfResult::ok ? GltfResult::failed : result;
}

GltfResult writeGltf(const Model& model, const std::string& outputPath,
                     const std::string& textureFolder, Notes& notes) {
    const TextureSet textures = loadTextures(model, textureFolder, notes);
    HeldModel source(model);
    return writeGltf(source, textures, outputPath, notes);
}

} // namespace ulv
