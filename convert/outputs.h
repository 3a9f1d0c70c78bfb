// What an output's name asks for: its format, and every file it writes.
#pragma once

#include <string>
#include <vector>

namespace ulv {

enum class OutputFormat { obj, glb, gltf };

// The formats as a command line names them, each also its output's extension
// ("." and the name). One line per format.
struct OutputFormatName {
    const char* name;
    OutputFormat format;
    const char* about;
};
inline constexpr OutputFormatName outputFormats[] = {
    {"obj", OutputFormat::obj, "Wavefront OBJ, with its .mtl library beside it"},
    {"glb", OutputFormat::glb, "binary glTF 2.0, one file with the textures inside"},
    {"gltf", OutputFormat::gltf, "glTF 2.0 as JSON, with its data in a .bin beside it"},
};

// The format an output path asks for: its extension .glb or .gltf, in any
// case; OBJ for anything else.
OutputFormat outputFormatFor(const std::string& outputPath);

// The library beside an OBJ: the output path with its extension, if its
// file name has one, replaced by ".mtl".
std::string mtlPathFor(const std::string& outputPath);

// The buffer file beside a .gltf: the path with its extension replaced by ".bin".
std::string binPathFor(const std::string& gltfPath);

// Every file that `outputPath` (UTF-8) writes, the one that names the others
// first: the OBJ and its library; the .glb; the .gltf and its .bin.
std::vector<std::string> filesOf(const std::string& outputPath);

} // namespace ulv
