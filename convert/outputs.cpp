#include "convert/outputs.h"

#include "platform/utf8_path.h"

namespace ulv {

OutputFormat outputFormatFor(const std::string& outputPath) {
    std::string extension = utf8Text(utf8Path(outputPath).extension());
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (extension == ".glb")
        return OutputFormat::glb;
    if (extension == ".gltf")
        return OutputFormat::gltf;
    return OutputFormat::obj;
}

std::string mtlPathFor(const std::string& outputPath) {
    // On Windows a backslash ends a folder name as '/' does, so an extension
    // is never looked for across one.
    return utf8Text(utf8Path(outputPath).replace_extension(".mtl"));
}

std::string binPathFor(const std::string& gltfPath) {
    return utf8Text(utf8Path(gltfPath).replace_extension(".bin"));
}

std::vector<std::string> filesOf(const std::string& outputPath) {
    switch (outputFormatFor(outputPath)) {
    case OutputFormat::obj:
        return {outputPath, mtlPathFor(outputPath)};
    case OutputFormat::gltf:
        return {outputPath, binPathFor(outputPath)};
    case OutputFormat::glb:
        break;
    }
    return {outputPath};
}

} // namespace ulv
