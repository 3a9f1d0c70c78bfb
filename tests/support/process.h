// Running the built tool, and small file helpers for tests that do.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/model_builder.h"

namespace ulv {

struct Outcome {
    std::string out; // standard output
    int status = -1; // exit status, -1 when it did not exit normally
};

// Runs the built tool in `dir`.
Outcome run(const std::filesystem::path& dir, const std::vector<std::string>& args);

std::string slurp(const std::filesystem::path& path);
void spit(const std::filesystem::path& path, const Bytes& bytes);

// A fresh empty folder for the running test, removed again by its destructor.
struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::filesystem::path path;
};

} // namespace ulv
