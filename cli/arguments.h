// The command line as UTF-8 text on every system.
#pragma once

#include <string>
#include <vector>

namespace ulv {

#ifdef _WIN32
// The arguments after the program's name as UTF-8, from the wide ones: the
// narrow ones are in the ANSI code page, which cannot hold every file name.
std::vector<std::string> utf8Arguments(int argc, wchar_t** argv);
#else
// The arguments after the program's name: on Linux a name is its bytes.
std::vector<std::string> utf8Arguments(int argc, char** argv);
#endif

} // namespace ulv
