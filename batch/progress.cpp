#include "batch/progress.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <cmath>
#include <cstdio>

namespace ulv {
namespace {

std::size_t terminalWidth() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info))
        return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
#else
    winsize size{};
    if (::ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return 80;
}

// Columns a UTF-8 text takes, taking every character for one.
std::size_t columnsOf(const std::string& text) {
    std::size_t columns = 0;
    for (const char c : text)
        columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return columns;
}

// The text cut after `columns` characters, never inside one.
std::string cut(const std::string& text, std::size_t columns) {
    std::size_t end = 0;
    for (std::size_t seen = 0; end < text.size(); ++end) {
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && seen++ == columns)
            break;
    }
    return text.substr(0, end);
}

void writeOut(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

std::string clock(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(seconds));
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

} // namespace

bool stderrIsTerminal() {
#ifdef _WIN32
    return ::_isatty(::_fileno(stderr)) != 0;
#else
    return ::isatty(2) != 0;
#endif
}

std::string progressText(std::size_t done, std::size_t total, std::uintmax_t bytesDone,
                         std::chrono::duration<double> elapsed, const std::string& current) {
    const double seconds = elapsed.count();
    const double rate = seconds > 0 ? static_cast<double>(bytesDone) / seconds : 0;
    char head[96];
    std::snprintf(head, sizeof head, "%zu/%zu done, %.1f MB/s, ", done, total, rate / 1e6);
    std::string text = head;
    if (done > 0 && seconds > 0)
        text += clock(seconds / static_cast<double>(done) * static_cast<double>(total - done)) +
                " left";
    else
        text += "?:?? left";
    return text + ", " + current;
}

void ProgressLine::show(const std::string& text) {
    // The last column stays free: a line that fills it wraps on some
    // terminals, and "\r" then returns to the wrong line.
    const std::string line = cut(text, terminalWidth() - 1);
    const std::size_t columns = columnsOf(line);
    // Spaces over what is left of a longer line before; no escape
    // sequences, which not every console understands.
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on "\r" + text.
    std::string out(1, '\r');
    out += line;
    if (columns < shown_) {
        out.append(shown_ - columns, ' ');
        out += '\r';
        out += line;
    }
    writeOut(out);
    shown_ = columns;
}

void ProgressLine::clear() {
    if (shown_ == 0)
        return;
    std::string out(1, '\r');
    out.append(shown_, ' ');
    out += '\r';
    writeOut(out);
    shown_ = 0;
}

} // namespace ulv
