#include "convert/write_files.h"

#include "convert/outputs.h"
#include "convert/textures.h"
#include "gltf/source.h"
#include "obj/writer.h"
#include "platform/replace_files.h"
#include "platform/utf8_path.h"

namespace ulv {

bool writeObj(Model model, const std::string& outputPath, const SideFiles& sideFiles) {
    std::vector<std::string> paths = filesOf(outputPath);
    const std::string mtlName = utf8Text(utf8Path(paths[1]).filename());
    for (std::string& side : sidePaths(outputPath, sideFiles))
        paths.push_back(std::move(side));
    // The library is renamed before the OBJ: an OBJ in place always finds
    // its materials.
    return replaceFiles(paths, [&](const std::vector<std::ostream*>& streams) {
        bool ok = writeObj(std::move(model), *streams[0], *streams[1], mtlName);
        for (std::size_t k = 0; k < sideFiles.size(); ++k) {
            const std::vector<std::uint8_t>& bytes = sideFiles[k].second;
            ok = ok && bool(streams[k + 2]->write(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<std::streamsize>(bytes.size())));
            ok = ok && bool(streams[k + 2]->flush());
        }
        return ok;
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
