#include "tests/support/process.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <grp.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace ulv {

namespace fs = std::filesystem;

#ifdef _WIN32

namespace {

std::wstring wide(const std::string& utf8) {
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
    return out;
}

// Quotes one argument so that the C runtime's parser gives it back unchanged.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal except before a quote.
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

} // namespace

Outcome run(const fs::path& dir, const std::vector<std::string>& args) {
    // Built as a path of the build machine; made whole while the current
    // drive is still the one that holds it.
    static const fs::path tool = fs::absolute(ULVTOOL_PATH);
    return runProgram(tool, dir, args, {});
}

Outcome runProgram(const fs::path& program, const fs::path& dir,
                   const std::vector<std::string>& args, const RunOptions& options) {
    std::wstring command = quoted(fs::absolute(program).native());
    for (const std::string& arg : args)
        command += L" " + quoted(wide(arg));

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    HANDLE errRead = nullptr;
    HANDLE errWrite = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0) ||
        (options.captureErr && !::CreatePipe(&errRead, &errWrite, &inherit, 0))) {
        std::fprintf(stderr, "CreatePipe failed with error %lu\n",
                     static_cast<unsigned long>(::GetLastError()));
        return {};
    }
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    if (options.captureErr) {
        ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
        startup.hStdError = errWrite;
    } else {
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION process{};
    // Under Wine on a loaded machine, starting a process now and then fails
    // with ERROR_INTERNAL_ERROR before the tool runs at all; that says
    // nothing about the tool, so try again.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        if (attempt > 0)
            ::Sleep(100);
        started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   dir.c_str(), &startup, &process);
        if (!started)
            std::fprintf(stderr, "CreateProcessW failed with error %lu\n",
                         static_cast<unsigned long>(::GetLastError()));
    }
    ::CloseHandle(writeEnd);
    if (errWrite)
        ::CloseHandle(errWrite);
    Outcome result;
    const auto drain = [](HANDLE from, std::string& into) {
        char buffer[4096];
        DWORD n = 0;
        while (::ReadFile(from, buffer, sizeof buffer, &n, nullptr) && n > 0)
            into.append(buffer, n);
        ::CloseHandle(from);
    };
    if (!started) {
        ::CloseHandle(readEnd);
        if (errRead)
            ::CloseHandle(errRead);
        return result;
    }
    // A tool that waits for ever (on a device it should not have opened, say)
    // fails the test instead of hanging it: ended after five minutes.
    std::thread watchdog([&process] {
        if (::WaitForSingleObject(process.hProcess, 300000) == WAIT_TIMEOUT) {
            std::fprintf(stderr, "the tool ran for 300 s and was ended\n");
            ::TerminateProcess(process.hProcess, 0xC0000102u);
        }
    });
    // Both pipes at once: either may fill while the other is being read.
    std::thread errReader;
    if (errRead)
        errReader = std::thread(drain, errRead, std::ref(result.err));
    drain(readEnd, result.out);
    if (errReader.joinable())
        errReader.join();
    watchdog.join();
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    // A crash ends the process with an exception code, not an exit status.
    if (code >= 0xC0000000u) {
        std::fprintf(stderr, "the tool ended with exception code 0x%08lX\n",
                     static_cast<unsigned long>(code));
        result.status = -1;
    } else {
        result.status = static_cast<int>(code);
    }
    return result;
}

#else

namespace {

void readAll(int fd, std::string& into) {
    char buffer[4096];
    // A pseudo-terminal's reading end fails with EIO once the other end closes.
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        into.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
}

Outcome runTool(const fs::path& program, const fs::path& dir, const std::vector<std::string>& args,
                const std::uint64_t* fileSizeLimit, const RunOptions& options) {
    const std::string tool = program.native();
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return {};
    int errEnds[2] = {-1, -1};
    if (options.errToTerminal) {
        if (::openpty(&errEnds[0], &errEnds[1], nullptr, nullptr, nullptr) != 0)
            return {};
    } else if (options.captureErr && ::pipe(errEnds) != 0) {
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeEnds[1], 1);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        if (errEnds[1] >= 0) {
            ::dup2(errEnds[1], 2);
            ::close(errEnds[0]);
            ::close(errEnds[1]);
        }
        if (::chdir(dir.c_str()) != 0)
            ::_exit(127);
        if (fileSizeLimit) {
            const auto bytes = static_cast<rlim_t>(*fileSizeLimit);
            const rlimit limit{bytes, bytes};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(127);
        }
        if (options.uid >= 0) {
            const auto id = static_cast<uid_t>(options.uid);
            if (::setgroups(0, nullptr) != 0 || ::setgid(id) != 0 || ::setuid(id) != 0)
                ::_exit(127);
        }
        std::vector<char*> argv{const_cast<char*>(tool.c_str())};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    if (errEnds[1] >= 0)
        ::close(errEnds[1]);
    Outcome result;
    // Both at once: either may fill while the other is being read.
    std::thread errReader;
    if (errEnds[0] >= 0)
        errReader = std::thread(readAll, errEnds[0], std::ref(result.err));
    readAll(pipeEnds[0], result.out);
    if (errReader.joinable())
        errReader.join();
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace

Outcome run(const fs::path& dir, const std::vector<std::string>& args) {
    return runTool(ULVTOOL_PATH, dir, args, nullptr, {});
}

Outcome run(const fs::path& dir, const std::vector<std::string>& args,
            std::uint64_t fileSizeLimit) {
    return runTool(ULVTOOL_PATH, dir, args, &fileSizeLimit, {});
}

Outcome runProgram(const fs::path& program, const fs::path& dir,
                   const std::vector<std::string>& args, const RunOptions& options) {
    return runTool(program, dir, args, options.fileSizeLimit ? &options.fileSizeLimit : nullptr,
                   options);
}

#endif

std::string withLineEnds(std::string_view text) {
#ifdef _WIN32
    std::string out;
    for (const char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
#else
    return std::string(text);
#endif
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::map<std::string, std::string> filesIn(const fs::path& dir) {
    const auto utf8 = [](const fs::path& path) {
        const std::u8string text = path.generic_u8string();
        return std::string(text.begin(), text.end());
    };
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = utf8(fs::relative(entry.path(), dir));
        if (entry.is_symlink())
            out[name] = "-> " + utf8(fs::read_symlink(entry.path()));
        else if (entry.is_directory())
            out[name] = std::string(1, '/'); // not "/": a false -Wrestrict in GCC 12
        else
            out[name] = slurp(entry.path());
    }
    return out;
}

void spit(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

ScratchDir::ScratchDir() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
#ifdef _WIN32
    const auto pid = ::GetCurrentProcessId();
#else
    const auto pid = ::getpid();
#endif
    path = fs::temp_directory_path() /
           ("ulv-" + std::to_string(pid) + "-" + test->test_suite_name() + "-" + test->name());
    fs::remove_all(path);
    fs::create_directories(path);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

} // namespace ulv
