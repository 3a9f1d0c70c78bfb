#include "convert/convert_model.h"

#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <vector>

#include "convert/copy_textures.h"
#include "convert/outputs.h"
#include "convert/read_twice.h"
#include "convert/textures.h"
#include "convert/write_files.h"
#include "mod/reader.h"
#include "platform/device_names.h"
#include "platform/interrupt.h"
#include "platform/utf8_path.h"

namespace ulv {
namespace {

// Whether writing the output replaces the model's own file.
bool isOutputOf(const std::filesystem::path& model, const std::string& outputPath) {
    for (const std::string& output : filesOf(outputPath)) {
        std::error_code error;
        if (std::filesystem::equivalent(model, utf8Path(output), error))
            return true;
    }
    return false;
}

// The distinct material names, in the order of their sections.
std::vector<std::string> materialsOf(const Model& model) {
    std::vector<std::string> names;
    for (const Mesh& mesh : model.meshes)
        for (const MeshSection& section : mesh.sections)
            names.push_back(materialNameOf(section));
    return names;
}

} // namespace

Conversion convertModel(const std::string& inputPath, const std::string& outputPath,
                        std::ostream* dump, const ConvertOptions& options) {
    Conversion result;
    Model model;
    std::optional<SkimmedModel> skimmed;
    std::ifstream input;
    std::streamoff start = 0;
    const bool gltf = outputFormatFor(outputPath) != OutputFormat::obj;
    try {
        std::error_code error;
        // A folder opens on some systems but has no bytes to read. Of the
        // Windows devices only NUL is read; see device_names.h.
        const std::filesystem::path path = utf8Path(inputPath);
        const std::string device = windowsDevice(path);
        if (!std::filesystem::is_directory(path, error) && (device.empty() || device == "NUL"))
            input.open(path, std::ios::binary);
        if (!input.is_open()) {
            result.failure = "Unable to open the requested file";
            return result;
        }
        // glTF reads a file twice rather than hold it. A pipe is read once,
        // and so is a model that its own output replaces: Windows replaces
        // no file that is open.
        const std::istream::pos_type at = input.tellg();
        if (gltf && at != std::istream::pos_type(-1) && !isOutputOf(path, outputPath)) {
            start = at;
            skimmed = skimModel(input, dump);
        } else {
            input.clear();
            model = readModel(input, dump);
            input.close();
        }
    } catch (const TextError& e) {
        result.failure = std::string("Exception thrown: ") + e.what();
        return result;
    } catch (const std::bad_alloc&) {
        result.failure = "Not enough memory to read the model";
        return result;
    }

    // Made only now, so that a model that cannot be read says so instead.
    const std::filesystem::path outputFolder = utf8Path(outputPath).parent_path();
    if (options.makeFolder && !outputFolder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(outputFolder, error);
        if (error) {
            result.failure = "Unable to write the output file";
            return result;
        }
    }
    // Textures are looked up beside the model first.
    std::vector<std::string> folders{utf8Text(utf8Path(inputPath).parent_path())};
    folders.insert(folders.end(), options.textureFolders.begin(), options.textureFolders.end());
    std::vector<std::string>* missing = options.missingApart ? &result.missingTextures : nullptr;

    if (gltf) {
        GltfResult written = GltfResult::failed;
        try {
            const Model& held = skimmed ? skimmed->model : model;
            const TextureSet textures = loadTextures(held, folders, result.notes, missing);
            if (skimmed) {
                SkimmedSource source(*skimmed, input, start);
                written = writeGltf(source, textures, outputPath, result.notes);
            } else {
                HeldModel source(model);
                written = writeGltf(source, textures, outputPath, result.notes);
            }
        } catch (const std::bad_alloc&) {
            written = GltfResult::failed;
        }
        // A failure stays one line.
        if (written != GltfResult::ok) {
            result.notes.clear();
            result.missingTextures.clear();
            result.failure = messageFor(written);
            result.interrupted = interrupted();
        }
        return result;
    }

    const std::vector<std::string> materials =
        options.copies ? materialsOf(model) : std::vector<std::string>();
    bool written = false;
    try {
        written = writeObj(std::move(model), outputPath);
    } catch (const std::bad_alloc&) {
        written = false;
    }
    if (!written) {
        result.failure = "Unable to write the output file";
        result.interrupted = interrupted();
    } else if (options.copies) {
        std::vector<std::string> lost;
        options.copies->copy(materials, folders, outputFolder, result.notes,
                             missing ? *missing : lost);
        // Without a list apart, a texture found nowhere is a note as for glTF.
        for (const std::string& name : lost)
            result.notes.push_back("Texture " + name + " not copied: not found");
    }
    return result;
}

} // namespace ulv
