// Paths travel through the tool as UTF-8 text. On Windows a narrow string
// given to std::filesystem::path is read in the ANSI code page, which cannot
// hold every name, so the conversion is spelled out there; elsewhere a path is
// its bytes.
#pragma once

#include <filesystem>
#include <string>

namespace ulv {

inline std::filesystem::path utf8Path(const std::string& text) {
#ifdef _WIN32
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
#else
    return std::filesystem::path(text);
#endif
}

inline std::string utf8Text(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
#else
    return path.string();
#endif
}

} // namespace ulv
