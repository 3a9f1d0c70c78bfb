#include "convert/outputs.h"

#include <filesystem>

#include "platform/utf8_path.h"

namespace ulv {

namespace {

std::string extensionOf(const std::string& path) {
    std::string extension = utf8Text(utf8Path(path).extension());
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

} // namespace

OutputFormat outputFormatFor(const std::string& outputPath) {
    const std::string extension = extensionOf(outputPath);
    if (extension == ".glb")
        return OutputFormat::glb;
    if (extension == ".gltf")
        return OutputFormat::gltf;
    if (extension == ".mod")
        return OutputFormat::mod;
    return OutputFormat::obj;
}

InputFormat inputFormatFor(const std::string& inputPath) {
    const std::string extension = extensionOf(inputPath);
    return extension == ".glb" || extension == ".gltf" ? InputFormat::gltf : InputFormat::model;
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
    case OutputFormat::mod:
        break;
    }
    return {outputPath};
}

std::vector<std::string> sidePaths(const std::string& outputPath, const SideFiles& sideFiles) {
    std::vector<std::string> paths;
    const std::filesystem::path folder = utf8Path(outputPath).parent_path();
    for (const auto& [name, bytes] : sideFiles)
        paths.push_back(utf8Text(folder / utf8Path(name)));
    return paths;
}

} // namespace ulv
