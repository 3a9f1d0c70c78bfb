// The least any converter must do for an output of a given size: hand that
// many bytes of ready text to the kernel in 4 MiB writes.
//   write_floor OUT BYTES
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr std::size_t chunk = std::size_t{1} << 22;

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
#ifdef _WIN32
        const int n = ::_write(fd, data, static_cast<unsigned>(size));
#else
        const ssize_t n = ::write(fd, data, size);
#endif
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: write_floor OUT BYTES\n", stderr);
        return 2;
    }
    const unsigned long long total = std::strtoull(argv[2], nullptr, 10);
    // Lines like the OBJ's, filled before the first write.
    std::vector<char> text(chunk);
    const char line[] = "v -12.345678 0.250000 731.000001\n";
    for (std::size_t i = 0; i < chunk; ++i)
        text[i] = line[i % (sizeof line - 1)];
#ifdef _WIN32
    const int fd =
        ::_open(argv[1], _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
#endif
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    bool ok = true;
    for (unsigned long long left = total; ok && left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<unsigned long long>(left, chunk));
        ok = writeAll(fd, text.data(), n);
        left -= n;
    }
#ifdef _WIN32
    ok = ::_close(fd) == 0 && ok;
#else
    ok = ::close(fd) == 0 && ok;
#endif
    if (!ok) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
