// One model converted as the command line tools do it: read the file, write
// the output, and say what went wrong in the words ulvtool prints.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace ulv {

struct Conversion {
    // Lines about what the output leaves out; they do not make it fail.
    std::vector<std::string> notes;
    // The one-line message when nothing was written; empty on success.
    std::string failure;
};

// Reads the model at `inputPath` and writes `outputPath` (both UTF-8),
// replacing existing files only when the new ones are complete. The header
// dump goes to `dump` as the model is read, when one is given.
Conversion convertModel(const std::string& inputPath, const std::string& outputPath,
                        std::ostream* dump);

} // namespace ulv
