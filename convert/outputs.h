// What an output's name asks for: its format, and every file it writes.
#pragma once

#include <string>
#include <vector>

namespace ulv {

enum class OutputFormat { obj, glb, gltf };

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
