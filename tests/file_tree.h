// What a folder holds after a run, for exact comparison: every entry below it
// by relative name, with a file's bytes, "/" for a folder and "-> target" for
// a link (never followed: a link may point at /dev/full or /dev/zero).
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "tests/support/process.h"

namespace ulv {

inline std::map<std::string, std::string> filesIn(const std::filesystem::path& dir) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = fs::relative(entry.path(), dir).generic_string();
        if (entry.is_symlink())
            out[name] = "-> " + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            out[name] = std::string(1, '/');
        else
            out[name] = slurp(entry.path());
    }
    return out;
}

} // namespace ulv
