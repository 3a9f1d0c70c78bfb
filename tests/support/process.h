// Running the built tool, and small file helpers for tests that do.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/model_builder.h"

namespace ulv {

struct Outcome {
    std::string out; // standard output
    int status = -1; // exit status, -1 when it did not exit normally
    std::string err; // standard error, when asked for
};

// How runProgram() starts a program.
struct RunOptions {
    bool captureErr = false; // otherwise standard error is the test's own
#ifndef _WIN32
    bool errToTerminal = false;      // standard error is a pseudo-terminal, read into `err`
    int uid = -1;                    // run as this user and group (the test must be root)
    std::uint64_t fileSizeLimit = 0; // RLIMIT_FSIZE in bytes, when not 0
#endif
};

// Runs `program` in `dir`; the arguments are UTF-8 text.
Outcome runProgram(const std::filesystem::path& program, const std::filesystem::path& dir,
                   const std::vector<std::string>& args, const RunOptions& options);

// Runs the built tool in `dir`; the arguments are UTF-8 text.
Outcome run(const std::filesystem::path& dir, const std::vector<std::string>& args);

#ifndef _WIN32
// As run(), with the tool's files limited to `fileSizeLimit` bytes
// (RLIMIT_FSIZE), as a full disk or a quota limits them.
Outcome run(const std::filesystem::path& dir, const std::vector<std::string>& args,
            std::uint64_t fileSizeLimit);
#endif

// Text with each "\n" turned into the line end the tool writes here: its files
// and its console lines end in CR LF on Windows, in LF elsewhere.
std::string withLineEnds(std::string_view text);

std::string slurp(const std::filesystem::path& path);

// What a folder holds after a run, for exact comparison: every entry below it
// by relative UTF-8 name with '/' between folders, with a file's bytes, "/"
// for a folder and "-> target" for a link (never followed: a link may point
// at /dev/full or /dev/zero).
std::map<std::string, std::string> filesIn(const std::filesystem::path& dir);
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
