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

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cwchar>
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

// The environment block for CreateProcessW: this process's own with
// `changes` made, or null for no changes.
std::wstring environmentWith(const std::vector<std::pair<std::string, std::string>>& changes) {
    std::wstring block;
    if (changes.empty())
        return block;
    const auto nameOf = [](const std::wstring& entry) {
        // Entries such as "=C:=C:\\" start with '=': their name goes on past it.
        std::wstring name = entry.substr(0, entry.find(L'=', 1));
        ::CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
        return name;
    };
    std::vector<std::wstring> entries;
    wchar_t* own = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = own; *entry; entry += std::wcslen(entry) + 1)
        entries.emplace_back(entry);
    ::FreeEnvironmentStringsW(own);
    for (const auto& [name, value] : changes) {
        const std::wstring wanted = wide(name);
        std::wstring upper = wanted;
        ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
        std::erase_if(entries, [&](const std::wstring& entry) { return nameOf(entry) == upper; });
        entries.push_back(wanted + L"=" + wide(value));
    }
    for (const std::wstring& entry : entries)
        block += entry + L'\0';
    return block + L'\0';
}

// A program started with its output going into pipes.
struct Started {
    PROCESS_INFORMATION process{};
    HANDLE out = nullptr;
    HANDLE err = nullptr;
    bool ok = false;
};

Started start(const fs::path& program, const fs::path& dir, const std::vector<std::string>& args,
              const RunOptions& options, bool ownConsole) {
    std::wstring command = quoted(fs::absolute(program).native());
    for (const std::string& arg : args)
        command += L" " + quoted(wide(arg));

    Started started;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    HANDLE errWrite = nullptr;
    if (!::CreatePipe(&started.out, &writeEnd, &inherit, 0) ||
        (options.captureErr && !::CreatePipe(&started.err, &errWrite, &inherit, 0))) {
        std::fprintf(stderr, "CreatePipe failed with error %lu\n",
                     static_cast<unsigned long>(::GetLastError()));
        return started;
    }
    ::SetHandleInformation(started.out, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    if (options.captureErr) {
        ::SetHandleInformation(started.err, HANDLE_FLAG_INHERIT, 0);
        startup.hStdError = errWrite;
    } else {
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    }
    DWORD flags = 0;
    if (ownConsole) {
        // Its own console, so that Ctrl-C reaches it alone; not shown.
        flags |= CREATE_NEW_CONSOLE;
        startup.dwFlags |= STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    std::wstring environment = environmentWith(options.environment);
    if (!environment.empty())
        flags |= CREATE_UNICODE_ENVIRONMENT;
    // Under Wine on a loaded machine, starting a process now and then fails
    // with ERROR_INTERNAL_ERROR before the tool runs at all; that says
    // nothing about the tool, so try again.
    for (int attempt = 0; attempt < 5 && !started.ok; ++attempt) {
        if (attempt > 0)
            ::Sleep(100);
        started.ok = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, flags,
                                      environment.empty() ? nullptr : environment.data(),
                                      dir.c_str(), &startup, &started.process) != 0;
        if (!started.ok)
            std::fprintf(stderr, "CreateProcessW failed with error %lu\n",
                         static_cast<unsigned long>(::GetLastError()));
    }
    ::CloseHandle(writeEnd);
    if (errWrite)
        ::CloseHandle(errWrite);
    if (!started.ok) {
        ::CloseHandle(started.out);
        if (started.err)
            ::CloseHandle(started.err);
    }
    return started;
}

void drain(HANDLE from, std::string& into) {
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(from, buffer, sizeof buffer, &n, nullptr) && n > 0)
        into.append(buffer, n);
    ::CloseHandle(from);
}

// Its exit status, once it has ended.
int statusOf(const PROCESS_INFORMATION& process) {
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    // A crash ends the process with an exception code, not an exit status.
    if (code >= 0xC0000000u) {
        std::fprintf(stderr, "the tool ended with exception code 0x%08lX\n",
                     static_cast<unsigned long>(code));
        return -1;
    }
    return static_cast<int>(code);
}

} // namespace

Outcome runProgram(const fs::path& program, const fs::path& dir,
                   const std::vector<std::string>& args, const RunOptions& options) {
    Started started = start(program, dir, args, options, false);
    Outcome result;
    if (!started.ok)
        return result;
    const PROCESS_INFORMATION& process = started.process;
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
    if (started.err)
        errReader = std::thread(drain, started.err, std::ref(result.err));
    drain(started.out, result.out);
    if (errReader.joinable())
        errReader.join();
    watchdog.join();
    result.status = statusOf(process);
    return result;
}

struct Running::State {
    Started started;
    Outcome result;
    std::thread outReader, errReader;
    bool interrupted = false;
};

Running::Running(const fs::path& program, const fs::path& dir, const std::vector<std::string>& args)
    : state_(new State) {
    RunOptions options;
    options.captureErr = true;
    state_->started = start(program, dir, args, options, true);
    if (!state_->started.ok)
        return;
    state_->outReader = std::thread(drain, state_->started.out, std::ref(state_->result.out));
    state_->errReader = std::thread(drain, state_->started.err, std::ref(state_->result.err));
}

Running::~Running() {
    if (state_->started.ok && state_->outReader.joinable())
        finish();
    delete state_;
}

namespace {

using ProcessCall = LONG(NTAPI*)(HANDLE);

// ntdll's NtSuspendProcess or NtResumeProcess, which Windows does not declare.
ProcessCall processCall(const char* name) {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<ProcessCall>(
                       reinterpret_cast<void*>(::GetProcAddress(ntdll, name)))
                 : nullptr;
}

} // namespace

bool Running::pause() {
    const ProcessCall suspend = processCall("NtSuspendProcess");
    return state_->started.ok && suspend && suspend(state_->started.process.hProcess) == 0;
}

void Running::resume() {
    if (const ProcessCall resumeProcess = processCall("NtResumeProcess"))
        resumeProcess(state_->started.process.hProcess);
}

void Running::interrupt(int) {
    if (!state_->started.ok)
        return;
    // Ctrl-C goes to every process of a console: join the program's, and
    // ignore it here until the program has ended.
    ::FreeConsole();
    if (!::AttachConsole(state_->started.process.dwProcessId)) {
        std::fprintf(stderr, "AttachConsole failed with error %lu\n",
                     static_cast<unsigned long>(::GetLastError()));
        return;
    }
    ::SetConsoleCtrlHandler(nullptr, TRUE);
    if (!::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
        std::fprintf(stderr, "GenerateConsoleCtrlEvent failed with error %lu\n",
                     static_cast<unsigned long>(::GetLastError()));
    ::FreeConsole();
    state_->interrupted = true;
}

Outcome Running::finish() {
    Outcome result;
    if (!state_->started.ok)
        return result;
    const HANDLE process = state_->started.process.hProcess;
    if (::WaitForSingleObject(process, 300000) == WAIT_TIMEOUT) {
        std::fprintf(stderr, "the tool ran for 300 s and was ended\n");
        ::TerminateProcess(process, 0xC0000102u);
    }
    state_->outReader.join();
    state_->errReader.join();
    result = state_->result;
    result.status = statusOf(state_->started.process);
    state_->started.ok = false;
    if (state_->interrupted)
        ::SetConsoleCtrlHandler(nullptr, FALSE);
    return result;
}

Outcome run(const fs::path& dir, const std::vector<std::string>& args) {
    // Built as a path of the build machine; made whole while the current
    // drive is still the one that holds it.
    static const fs::path tool = fs::absolute(ULVTOOL_PATH);
    return runProgram(tool, dir, args, {});
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

// A program started with its output going into pipes (or a terminal).
struct Started {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
};

Started start(const fs::path& program, const fs::path& dir, const std::vector<std::string>& args,
              const std::uint64_t* fileSizeLimit, const RunOptions& options) {
    const std::string tool = program.native();
    // Made before the fork: the child may only make system calls.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (std::none_of(options.environment.begin(), options.environment.end(),
                         [&](const auto& change) { return change.first == name; }))
            environment.push_back(text);
    }
    for (const auto& [name, value] : options.environment)
        environment.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<char*> argv{const_cast<char*>(tool.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    Started started;
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return started;
    int errEnds[2] = {-1, -1};
    if (options.errToTerminal) {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = options.columns;
        if (::openpty(&errEnds[0], &errEnds[1], nullptr, nullptr,
                      options.columns ? &size : nullptr) != 0)
            return started;
    } else if (options.captureErr && ::pipe(errEnds) != 0) {
        return started;
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
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    if (errEnds[1] >= 0)
        ::close(errEnds[1]);
    started.pid = pid;
    started.out = pipeEnds[0];
    started.err = errEnds[0];
    return started;
}

void wait(pid_t pid, Outcome& result) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

Outcome runTool(const fs::path& program, const fs::path& dir, const std::vector<std::string>& args,
                const std::uint64_t* fileSizeLimit, const RunOptions& options) {
    const Started started = start(program, dir, args, fileSizeLimit, options);
    Outcome result;
    if (started.pid < 0)
        return result;
    // Both at once: either may fill while the other is being read.
    std::thread errReader;
    if (started.err >= 0)
        errReader = std::thread(readAll, started.err, std::ref(result.err));
    readAll(started.out, result.out);
    if (errReader.joinable())
        errReader.join();
    wait(started.pid, result);
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

struct Running::State {
    Started started;
    Outcome result;
    std::thread outReader, errReader;
};

Running::Running(const fs::path& program, const fs::path& dir, const std::vector<std::string>& args)
    : state_(new State) {
    RunOptions options;
    options.captureErr = true;
    state_->started = start(program, dir, args, nullptr, options);
    if (state_->started.pid < 0)
        return;
    state_->outReader = std::thread(readAll, state_->started.out, std::ref(state_->result.out));
    state_->errReader = std::thread(readAll, state_->started.err, std::ref(state_->result.err));
}

Running::~Running() {
    if (state_->started.pid >= 0)
        finish();
    delete state_;
}

bool Running::pause() {
    return state_->started.pid >= 0 && ::kill(state_->started.pid, SIGSTOP) == 0;
}

void Running::resume() {
    if (state_->started.pid >= 0)
        ::kill(state_->started.pid, SIGCONT);
}

void Running::interrupt(int signal) {
    if (state_->started.pid >= 0)
        ::kill(state_->started.pid, signal);
}

Outcome Running::finish() {
    if (state_->started.pid < 0)
        return {};
    state_->outReader.join();
    state_->errReader.join();
    wait(state_->started.pid, state_->result);
    state_->started.pid = -1;
    return state_->result;
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
