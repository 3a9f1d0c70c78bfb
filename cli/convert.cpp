#include "cli/convert.h"

#include <filesystem>
#include <fstream>
#include <new>

#include "export/device_names.h"
#include "export/gltf_writer.h"
#include "export/obj_writer.h"
#include "export/utf8_path.h"
#include "model/reader.h"

namespace ulv {

Conversion convertModel(const std::string& inputPath, const std::string& outputPath,
                        std::ostream* dump) {
    Conversion result;
    Model model;
    try {
        std::error_code error;
        std::ifstream input;
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
        model = readModel(input, dump);
    } catch (const TextError& e) {
        result.failure = std::string("Exception thrown: ") + e.what();
        return result;
    } catch (const std::bad_alloc&) {
        result.failure = "Not enough memory to read the model";
        return result;
    }

    if (outputFormatFor(outputPath) != OutputFormat::obj) {
        GltfResult written = GltfResult::failed;
        try {
            // Textures are looked up beside the model.
            const std::string folder = utf8Text(utf8Path(inputPath).parent_path());
            written = writeGltf(std::move(model), outputPath, folder, result.notes);
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

} // namespace ulv
