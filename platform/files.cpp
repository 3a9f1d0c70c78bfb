#include "platform/files.h"

#include <fstream>
#include <system_error>

#include "platform/utf8_path.h"

namespace ulv {

namespace fs = std::filesystem;

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
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)) ||
        in.peek() != std::ifstream::traits_type::eof()) {
        why = "cannot be read";
        return std::nullopt;
    }
    return bytes;
}

} // namespace ulv
