#include "convert/convert_model.h"

#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <vector>

#include "convert/copy_textures.h"
#include "convert/from_gltf.h"
#include "convert/outputs.h"
#include "convert/read_twice.h"
#include "convert/textures.h"
#include "convert/to_mod.h"
#include "convert/write_files.h"
#include "gltf/to_model.h"
#include "mod/reader.h"
#include "platform/device_names.h"
#include "platform/interrupt.h"
#include "platform/utf8_path.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCannotOpen = "Unable to open the requested file";
constexpr const char* kCannotWrite = "Unable to write the output file";

// Whether writing the output replaces the model's own file.
bool isOutputOf(const fs::path& model, const std::string& outputPath) {
    for (const std::string& output : filesOf(outputPath)) {
        std::error_code error;
        if (fs::equivalent(model, utf8Path(output), error))
            return true;
    }
    return false;
}

// A folder opens on some systems but has no bytes to read. Of the Windows
// devices only NUL is read; see device_names.h.
bool readable(const fs::path& path) {
    std::error_code error;
    const std::string device = windowsDevice(path);
    return !fs::is_directory(path, error) && (device.empty() || device == "NUL");
}

// Runs `write`; memory running out there fails the writing, not the reading.
template <typename Write> void writing(Conversion& result, Write&& write) {
    try {
        write();
    } catch (const std::bad_alloc&) {
        result.failure = kCannotWrite;
    }
}

// The distinct material names, in the order of their sections.
std::vector<std::string> materialsOf(const Model& model) {
    std::vector<std::string> names;
    for (const Mesh& mesh : model.meshes)
        for (const MeshSection& section : mesh.sections)
            names.push_back(materialNameOf(section));
    return names;
}

// Where textures are looked up: beside the model first, then the folders
// the options give.
struct TextureLookup {
    std::vector<std::string> folders;
    std::vector<std::string>* missing = nullptr;
};

void writeHeldAs(Model model, const std::string& outputPath, const TextureLookup& lookup,
                 const ConvertOptions& options, std::ostream* dump, Conversion& result) {
    switch (outputFormatFor(outputPath)) {
    case OutputFormat::mod: {
        const std::optional<TemplateFile> templ = templateAt(outputPath);
        const Reuse reuse = templ ? reuseOf(model, templ->model) : reuseOf(model, Model());
        if (dump)
            *dump << sectionCounts(reuse) << std::endl;
        if (!writeModelFile(model, reuse, templ ? &*templ : nullptr, outputPath, {}, result.notes))
            result.failure = kCannotWrite;
        return;
    }
    case OutputFormat::glb:
    case OutputFormat::gltf: {
        const TextureSet textures =
            loadTextures(model, lookup.folders, result.notes, lookup.missing);
        HeldModel source(model);
        const GltfResult written = writeGltf(source, textures, outputPath, result.notes);
        if (written != GltfResult::ok)
            result.failure = messageFor(written);
        return;
    }
    case OutputFormat::obj:
        break;
    }
    const std::vector<std::string> materials =
        options.copies ? materialsOf(model) : std::vector<std::string>();
    if (!writeObj(std::move(model), outputPath)) {
        result.failure = kCannotWrite;
    } else if (options.copies) {
        std::vector<std::string> lost;
        options.copies->copy(materials, lookup.folders, utf8Path(outputPath).parent_path(),
                             result.notes, lookup.missing ? *lookup.missing : lost);
        // Without a list apart, a texture found nowhere is a note as for glTF.
        for (const std::string& name : lost)
            result.notes.push_back("Texture " + name + " not copied: not found");
    }
}

// A model in memory written to `outputPath` in its format.
void writeHeld(Model model, const std::string& outputPath, const TextureLookup& lookup,
               const ConvertOptions& options, std::ostream* dump, Conversion& result) {
    writing(result,
            [&] { writeHeldAs(std::move(model), outputPath, lookup, options, dump, result); });
}

// Made only once the input is read, so that one that cannot be read says so
// instead; false when it cannot be made.
bool makeOutputFolder(const std::string& outputPath, const ConvertOptions& options) {
    const fs::path folder = utf8Path(outputPath).parent_path();
    if (!options.makeFolder || folder.empty())
        return true;
    std::error_code error;
    fs::create_directories(folder, error);
    return !error;
}

void writeFromGltf(GltfScene& scene, ModelFromGltf& made, const std::optional<TemplateFile>& templ,
                   const std::string& outputPath, std::ostream* dump, Conversion& result);

// glTF in: to a model file over the one there, or to any other format.
void fromGltf(const std::string& inputPath, const std::string& outputPath, std::ostream* dump,
              const ConvertOptions& options, Conversion& result) {
    std::optional<GltfScene> scene;
    try {
        scene = readGltfFile(inputPath, result.notes);
    } catch (const GltfError& e) {
        result.failure = "Not a valid glTF file: " + e.what();
        return;
    }
    if (!scene) {
        result.failure = kCannotOpen;
        return;
    }
    if (!makeOutputFolder(outputPath, options)) {
        result.failure = kCannotWrite;
        return;
    }
    const OutputFormat format = outputFormatFor(outputPath);
    std::optional<TemplateFile> templ;
    if (format == OutputFormat::mod)
        templ = templateAt(outputPath);
    ModelFromGltf made = modelOf(*scene, templ ? &templ->model : nullptr, result.notes);
    writing(result, [&] { writeFromGltf(*scene, made, templ, outputPath, dump, result); });
}

void writeFromGltf(GltfScene& scene, ModelFromGltf& made, const std::optional<TemplateFile>& templ,
                   const std::string& outputPath, std::ostream* dump, Conversion& result) {
    const OutputFormat format = outputFormatFor(outputPath);
    if (format == OutputFormat::mod) {
        if (dump)
            *dump << sectionCounts(made.reuse) << std::endl;
        const SideFiles textures =
            texturesToWrite(scene, made.imageOfName, outputPath, result.notes);
        if (!writeModelFile(made.model, made.reuse, templ ? &*templ : nullptr, outputPath, textures,
                            result.notes))
            result.failure = kCannotWrite;
        return;
    }
    if (format == OutputFormat::obj) {
        // The library names NAME.BMP beside the OBJ.
        const SideFiles textures =
            texturesToWrite(scene, made.imageOfName, outputPath, result.notes);
        if (!writeObj(std::move(made.model), outputPath, textures))
            result.failure = kCannotWrite;
        return;
    }
    const TextureSet textures = texturesOf(scene, made.imageOfName, result.notes);
    scene = GltfScene();
    HeldModel source(made.model);
    const GltfResult written = writeGltf(source, textures, outputPath, result.notes);
    if (written != GltfResult::ok)
        result.failure = messageFor(written);
}

} // namespace

Conversion convertModel(const std::string& inputPath, const std::string& outputPath,
                        std::ostream* dump, const ConvertOptions& options) {
    Conversion result;
    const fs::path path = utf8Path(inputPath);
    try {
        if (inputFormatFor(inputPath) == InputFormat::gltf) {
            if (!readable(path))
                result.failure = kCannotOpen;
            else
                fromGltf(inputPath, outputPath, dump, options, result);
        } else {
            Model model;
            std::optional<SkimmedModel> skimmed;
            std::ifstream input;
            std::streamoff start = 0;
            const OutputFormat format = outputFormatFor(outputPath);
            const bool gltf = format == OutputFormat::glb || format == OutputFormat::gltf;
            if (readable(path))
                input.open(path, std::ios::binary);
            if (!input.is_open()) {
                result.failure = kCannotOpen;
                return result;
            }
            // glTF reads a file twice rather than hold it. A pipe is read
            // once, and so is a model that its own output replaces: Windows
            // replaces no file that is open.
            const std::istream::pos_type at = input.tellg();
            if (gltf && at != std::istream::pos_type(-1) && !isOutputOf(path, outputPath)) {
                start = at;
                skimmed = skimModel(input, dump);
            } else {
                input.clear();
                model = readModel(input, dump);
                input.close();
            }
            if (!makeOutputFolder(outputPath, options)) {
                result.failure = kCannotWrite;
                return result;
            }
            TextureLookup lookup;
            lookup.folders.push_back(utf8Text(path.parent_path()));
            lookup.folders.insert(lookup.folders.end(), options.textureFolders.begin(),
                                  options.textureFolders.end());
            lookup.missing = options.missingApart ? &result.missingTextures : nullptr;
            if (skimmed) {
                writing(result, [&] {
                    const TextureSet textures =
                        loadTextures(skimmed->model, lookup.folders, result.notes, lookup.missing);
                    SkimmedSource source(*skimmed, input, start);
                    const GltfResult written =
                        writeGltf(source, textures, outputPath, result.notes);
                    if (written != GltfResult::ok)
                        result.failure = messageFor(written);
                });
            } else {
                writeHeld(std::move(model), outputPath, lookup, options, dump, result);
            }
        }
    } catch (const TextError& e) {
        result.failure = std::string("Exception thrown: ") + e.what();
    } catch (const std::bad_alloc&) {
        result.failure = "Not enough memory to read the model";
    }
    // A failure stays one line.
    if (!result.failure.empty()) {
        result.notes.clear();
        result.missingTextures.clear();
        result.interrupted = interrupted();
    }
    return result;
}

} // namespace ulv
