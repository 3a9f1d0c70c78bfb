#include "platform/environment.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace ulv {

#ifdef _WIN32
std::string environmentText(const char* name) {
    // The wide value: the narrow one is in the ANSI code page, which cannot
    // hold every folder name.
    const std::wstring wideName(name, name + std::char_traits<char>::length(name));
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), value.data(),
                                                     static_cast<DWORD>(value.size()));
        if (size == 0)
            return {};
        if (size < value.size()) {
            value.resize(size);
            break;
        }
        value.resize(size); // too small: `size` counts the terminating NUL
    }
    const int bytes = ::WideCharToMultiByte(
        CP_UTF8, 0, value.data(), static_cast<int>(value.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()), out.data(),
                          bytes, nullptr, nullptr);
    return out;
}
#else
std::string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}
#endif

} // namespace ulv
