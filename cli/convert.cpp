#include "cli/convert.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <vector>

#include "export/device_names.h"
#include "export/gltf_stream.h"
#include "export/gltf_writer.h"
#include "export/obj_writer.h"
#include "export/utf8_path.h"
#include "model/reader.h"

namespace ulv {
namespace {

// Whether writing the glTF output replaces the model's own file.
bool isOutputOf(const std::filesystem::path& model, const std::string& outputPath) {
    std::vector<std::string> outputs{outputPath};
    if (outputFormatFor(outputPath) == OutputFormat::gltf)
        outputs.push_back(binPathFor(outputPath));
    for (const std::string& output : outputs) {
        std::error_code error;
        if (std::filesystem::equivalent(model, utf8Path(output), error))
            return true;
    }
    return false;
}

} // namespace

Conversion convertModel(const std::string& inputPath, const std::string& outputPath,
                        std::ostream* dump) {
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

    if (gltf) {
        GltfResult written = GltfResult::failed;
        try {
            // Textures are looked up beside the model.
            const std::string folder = utf8Text(utf8Path(inputPath).parent_path());
            written = skimmed ? writeGltf(std::move(*skimmed), input, start, outputPath, folder,
                                          result.notes)
                              : writeGltf(std::move(model), outputPath, folder, result.notes);
        } catch (const std::bad_alloc&) {
            written = GltfResult::failed;
        }
        // A failure stays one line.
        if (written != GltfResult::ok) {
            result.notes.clear();
            result.failure = messageFor(written);
        }
        return result;
    }

    bool written = false;
    try {
        written = writeObj(std::move(model), outputPath);
    } catch (const std::bad_alloc&) {
        written = false;
    }
    if (!written)
        result.failure = "Unable to write the output file";
    return result;
}

#ifdef _WIN32
std::vector<std::string> utf8Arguments(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        // Ill-formed UTF-16 becomes U+FFFD, so such a name is reported as not found.
        const wchar_t* text = argv[i];
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        std::string out;
        if (size > 1) {
            out.resize(static_cast<std::size_t>(size));
            ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
            out.pop_back();
        }
        arguments.push_back(std::move(out));
    }
    return arguments;
}
#endif

} // namespace ulv
