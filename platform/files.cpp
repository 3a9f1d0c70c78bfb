#include "platform/files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

#include <fstream>
#include <system_error>

#include "platform/huge_pages.h"

#include "platform/interrupt.h"
#include "platform/utf8_path.h"

namespace ulv {

namespace fs = std::filesystem;

bool existsAt(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

namespace {

// What the last failed call of the system's set.
std::error_code lastError() {
#ifdef _WIN32
    return {static_cast<int>(::GetLastError()), std::system_category()};
#else
    return {errno, std::generic_category()};
#endif
}

// The system's words, without the line end and full stop Windows adds.
std::string reasonFor(const std::error_code& error) {
    std::string text = error.message();
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

} // namespace

std::string makeWritableFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        return reasonFor(error);
    if (!fs::is_directory(folder, error))
        return reasonFor(std::make_error_code(std::errc::not_a_directory));
    // A file made and removed again: permissions, a read-only file system
    // and quotas all show, where a look at the folder's mode would not.
    LiveTemp probe;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const Created created =
            probe.create(folder / (".ulvtool-probe." + std::to_string(attempt) + ".tmp"));
        if (created == Created::yes) {
            probe.remove();
            return "";
        }
        if (created == Created::failed)
            return reasonFor(lastError());
    }
    return reasonFor(std::make_error_code(std::errc::file_exists));
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error))
        names.push_back(utf8Text(it->path().filename()));
    return names;
}

std::optional<std::vector<std::uint8_t>> readPlainFile(const fs::path& path, std::uintmax_t maxSize,
                                                       std::string& why) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::is_regular_file(status)) {
        why = !fs::exists(status)        ? "not found"
              : fs::is_directory(status) ? "is a folder"
                                         : "not a regular file";
        return std::nullopt;
    }
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) {
        why = "cannot be read";
        return std::nullopt;
    }
    if (size > maxSize) {
        why = "file too large";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(size));
    adviseHugePages(bytes.data(), static_cast<std::size_t>(size), true);
    bytes.resize(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)) ||
        in.peek() != std::ifstream::traits_type::eof()) {
        why = "cannot be read";
        return std::nullopt;
    }
    return bytes;
}

} // namespace ulv
