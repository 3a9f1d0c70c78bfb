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
    int signal = 0;  // the signal that ended it (not on Windows)
};

// How runProgram() starts a program.
struct RunOptions {
    bool captureErr = false; // otherwise standard error is the test's own
    // Environment variables set (UTF-8) on top of the test's own.
    std::vector<std::pair<std::string, std::string>> environment;
#ifndef _WIN32
    bool errToTerminal = false;      // standard error is a pseudo-terminal, read into `err`
    unsigned short columns = 0;      // the pseudo-terminal's width, when not 0
    int uid = -1;                    // run as this user and group (the test must be root)
    std::uint64_t fileSizeLimit = 0; // RLIMIT_FSIZE in bytes, when not 0
#endif
};

// Runs `program` in `dir`; the arguments are UTF-8 text.
Outcome runProgram(const std::filesystem::path& program, const std::filesystem::path& dir,
                   const std::vector<std::string>& args, const RunOptions& options);

// A program left running, to be interrupted: started as runProgram() starts
// it (standard error captured), with a console of its own on Windows so that
// Ctrl-C can be sent to it alone.
class Running {
  public:
    Running(const std::filesystem::path& program, const std::filesystem::path& dir,
            const std::vector<std::string>& args);
    ~Running();
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

    // Stops and resumes all its threads, where the system can.
    bool pause();
    void resume();
    // Linux: sends `signal`; Windows: Ctrl-C (`signal` is not used there).
    void interrupt(int signal);
    // Waits for it to end.
    Outcome finish();

  private:
    struct State;
    State* state_;
};

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
