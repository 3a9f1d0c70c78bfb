// What an output's name asks for: its format, and every file it writes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ulv {

enum class OutputFormat { obj, glb, gltf, mod };

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
    {"mod", OutputFormat::mod,
     "a model file from each *.glb and *.gltf instead; one already there is the "
     "template, its unchanged parts kept"},
};

// The format an output path asks for: its extension .glb, .gltf or .mod, in
// any case; OBJ for anything else.
OutputFormat outputFormatFor(const std::string& outputPath);

enum class InputFormat { model, gltf };

// How an input is read: as glTF when its extension is .glb or .gltf, in any
// case; as a model file otherwise.
InputFormat inputFormatFor(const std::string& inputPath);

// The library beside an OBJ: the output path with its extension, if its
// file name has one, replaced by ".mtl".
std::string mtlPathFor(const std::string& outputPath);

// The buffer file beside a .gltf: the path with its extension replaced by ".bin".
std::string binPathFor(const std::string& gltfPath);

// Every file that `outputPath` (UTF-8) writes, the one that names the others
// first: the OBJ and its library; the .glb; the .gltf and its .bin; the
// .mod. (Textures that a conversion from glTF writes beside its output
// depend on what it holds; the conversion adds them.)
std::vector<std::string> filesOf(const std::string& outputPath);

// Files a conversion writes beside its output besides those its name asks
// for: name (UTF-8) and bytes.
using SideFiles = std::vector<std::pair<std::string, std::vector<std::uint8_t>>>;

// The paths of `sideFiles` beside `outputPath`.
std::vector<std::string> sidePaths(const std::string& outputPath, const SideFiles& sideFiles);

} // namespace ulv
