// One model converted as the command line tools do it: read the file, write
// the output, and say what went wrong in the words ulvtool prints.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace ulv {

class TextureCopies;

struct ConvertOptions {
    // Searched for textures after the model's own folder, in order (UTF-8).
    std::vector<std::string> textureFolders;
    // Textures found in no folder go to Conversion::missingTextures instead
    // of a note each.
    bool missingApart = false;
    // For OBJ, the textures its library names are copied beside it.
    TextureCopies* copies = nullptr;
    // The output's folder is made, with its parents, once the model is read.
    bool makeFolder = false;
};

struct Conversion {
    // Lines about what the output leaves out; they do not make it fail.
    std::vector<std::string> notes;
    // With ConvertOptions::missingApart: the textures found nowhere, by file
    // name (NAME.BMP).
    std::vector<std::string> missingTextures;
    // The one-line message when nothing was written; empty on success.
    std::string failure;
    // Nothing was written because an interrupt came (see platform/interrupt.h).
    bool interrupted = false;
};

// Reads the model at `inputPath` and writes `outputPath` (both UTF-8),
// replacing existing files only when the new ones are complete. The header
// dump goes to `dump` as the model is read, when one is given.
Conversion convertModel(const std::string& inputPath, const std::string& outputPath,
                        std::ostream* dump, const ConvertOptions& options = {});

} // namespace ulv
