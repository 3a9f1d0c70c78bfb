// Reading what a folder and its files hold, for inputs found by name rather
// than given: textures looked up beside a model.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ulv {

// The names of a folder's entries in UTF-8; none when it cannot be listed.
std::vector<std::string> namesIn(const std::filesystem::path& folder);

// A plain file's bytes, at most `maxSize` of them; otherwise nothing, and
// `why` says in a few words ("is a folder", "file too large", ...). Pipes and
// devices are refused unread: reading one could block for ever.
std::optional<std::vector<std::uint8_t>> readPlainFile(const std::filesystem::path& path,
                                                       std::uintmax_t maxSize, std::string& why);

} // namespace ulv
