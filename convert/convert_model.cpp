#include "convert/convert_model.h"

#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <vector>

#include "convert/from_gltf.h"
#include "convert/outputs.h"
#include "convert/read_twice.h"
#include "convert/textures.h"
#include "convert/to_mod.h"
#include "convert/write_files.h"
#include "gltf/to_model.h"
#include "mod/reader.h"
#include "platform/device_names.h"
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

void writeHeldAs(Model model, const std::string& outputPath, const std::string& textureFolder,
                 std::ostream* dump, Conversion& result) {
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
        const GltfResult written = writeGltf(model, outputPath, textureFolder, result.notes);
        if (written != GltfResult::ok)
            result.failure = messageFor(written);
        return;
    }
    case OutputFormat::obj:
        break;
    }
    if (!writeObj(std::move(model), outputPath))
        result.failure = kCannotWrite;
}

// A model in memory written to `outputPath` in its format. `textureFolder`:
// where NAME.BMP is looked up for glTF.
void writeHeld(Model model, const std::string& outputPath, const std::string& textureFolder,
               std::ostream* dump, Conversion& result) {
    writing(result,
            [&] { writeHeldAs(std::move(model), outputPath, textureFolder, dump, result); });
}

void writeFromGltf(GltfScene& scene, ModelFromGltf& made, const std::optional<TemplateFile>& templ,
                   const std::string& outputPath, std::ostream* dump, Conversion& result);

// glTF in: to a model file over the one there, or to any other format.
void fromGltf(const std::string& inputPath, const std::string& outputPath, std::ostream* dump,
              Conversion& result) {
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
                        std::ostream* dump) {
    Conversion result;
    const fs::path path = utf8Path(inputPath);
    try {
        if (inputFormatFor(inputPath) == InputFormat::gltf) {
            if (!readable(path))
                result.failure = kCannotOpen;
            else
                fromGltf(inputPath, outputPath, dump, result);
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
            // Textures are looked up beside the model.
            const std::string folder = utf8Text(path.parent_path());
            if (skimmed) {
                writing(result, [&] {
                    const TextureSet textures = loadTextures(skimmed->model, folder, result.notes);
                    SkimmedSource source(*skimmed, input, start);
                    const GltfResult written =
                        writeGltf(source, textures, outputPath, result.notes);
                    if (written != GltfResult::ok)
                        result.failure = messageFor(written);
                });
            } else {
                writeHeld(std::move(model), outputPath, folder, dump, result);
            }
        }
    } catch (const TextError& e) {
        result.failure = std::string("Exception thrown: ") + e.what();
    } catch (const std::bad_alloc&) {
        result.failure = "Not enough memory to read the model";
    }
    // A failure stays one line.
    if (!result.failure.empty())
        result.notes.clear();
    return result;
}

} // namespace ulv
