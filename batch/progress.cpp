#include "batch/progress.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
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

// The last `columns` characters of a UTF-8 text, "..." in front when cut.
std::string tail(const std::string& text, std::size_t columns) {
    const std::size_t have = columnsOf(text);
    if (have <= columns)
        return text;
    const std::size_t dots = columns > 3 ? 3 : 0;
    std::size_t start = 0;
    for (std::size_t skip = have - (columns - dots); skip > 0; --skip)
        do
            ++start;
        while (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80);
    return std::string(dots, '.') + text.substr(start);
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
                         std::chrono::duration<double> elapsed, const std::string& current,
                         std::size_t columns) {
    const double seconds = elapsed.count();
    const double rate = seconds > 0 ? static_cast<double>(bytesDone) / seconds : 0;
    char text[96];
    std::snprintf(text, sizeof text, "%zu/%zu done, ", done, total);
    const std::string counts = text;
    std::snprintf(text, sizeof text, "%.1f MB/s, ", rate / 1e6);
    const std::string speed = text;
    const std::string left =
        (done > 0 && seconds > 0
             ? clock(seconds / static_cast<double>(done) * static_cast<double>(total - done))
             : std::string("?:??")) +
        " left, ";
    // Each head in turn while fewer than this many columns are left for the path.
    const std::size_t pathColumns = std::min<std::size_t>(columnsOf(current), 20);
    for (const std::string& head : {counts + speed + left, counts + left, counts}) {
        const std::size_t used = columnsOf(head);
        if (used + pathColumns <= columns || head == counts)
            return head + tail(current, columns > used ? columns - used : 0);
    }
    return counts;
}

std::size_t ProgressLine::columns() {
    // The last column stays free: a line that fills it wraps on some
    // terminals, and "\r" then returns to the wrong line.
    return terminalWidth() - 1;
}

void ProgressLine::show(const std::string& text) {
    const std::string line = cut(text, columns());
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
