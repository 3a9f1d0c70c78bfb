// What ulvtool prints for --help and --version.
#pragma once

#include <string>

namespace ulv {

// The help text: the command line, the formats by extension, -v, where
// textures are looked up, and the exit statuses. Lines end in "\n".
std::string toolHelp();

// "ulvtool VERSION".
std::string toolVersion();

} // namespace ulv
