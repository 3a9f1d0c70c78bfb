#include "cli/arguments.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace ulv {

#ifdef _WIN32
std::vector<std::string> utf8Arguments(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        // Ill-formed UTF-16 becomes U+FFFD, so such a name is reported as not found.
        const wchar_t* text = argv[i];
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        std::string out;
        if (size > 1) {
            out.resize(static_cast<std::size_t>(size));
            ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
            out.pop_back();
        }
        arguments.push_back(std::move(out));
    }
    return arguments;
}
#else
std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return {argv + (argc > 0 ? 1 : 0), argv + argc};
}
#endif

} // namespace ulv
