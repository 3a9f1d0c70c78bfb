#include "platform/device_names.h"

#ifdef _WIN32
#include <windows.h>

#include <cwctype>
#include <vector>
#endif

namespace ulv {

std::string windowsDevice([[maybe_unused]] const std::filesystem::path& path) {
#ifdef _WIN32
    // The full path of a device name is \\.\NAME; which names count (with an
    // extension? after a folder?) differs between Windows versions, so the
    // system is asked rather than a list kept here.
    const std::wstring& name = path.native();
    if (name.empty())
        return {};
    std::vector<wchar_t> full(name.size() + MAX_PATH);
    DWORD size = 0;
    for (;;) {
        size =
            ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (size < full.size())
            break;
        full.resize(size); // the length needed, with its terminator
    }
    if (size == 0)
        return {};
    const std::wstring resolved(full.data(), size);
    if (resolved.rfind(L"\\\\.\\", 0) != 0)
        return {};
    std::string device;
    for (const wchar_t c : resolved.substr(4))
        device += static_cast<char>(c < 0x80 ? std::towupper(static_cast<wint_t>(c)) : L'?');
    return device;
#else
    return {};
#endif
}

} // namespace ulv
