// A large output buffer in front of a stream, so that numbers are formatted
// straight into memory and the stream sees few, large writes.
#pragma once

#include <cstddef>
#include <cstring>
#include <ostream>
#include <string_view>
#include <vector>

namespace ulv {

// The files are text: each line ends as the platform's text files do.
#ifdef _WIN32
inline constexpr std::string_view newline = "\r\n";
#else
inline constexpr std::string_view newline = "\n";
#endif

inline char* putText(char* p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

inline char* endLine(char* p) { return putText(p, newline); }

class TextOut {
  public:
    static constexpr std::size_t bufferSize = std::size_t{1} << 20;
    // Longest line a caller may write after one call to room().
    static constexpr std::size_t maxLine = 512;

    explicit TextOut(std::ostream& stream) : stream_(stream), buffer_(bufferSize) {}
    TextOut(const TextOut&) = delete;
    TextOut& operator=(const TextOut&) = delete;

    // A pointer with room for maxLine bytes; hand the end back to commit().
    char* room() {
        if (static_cast<std::size_t>(buffer_.data() + buffer_.size() - cursor_) < maxLine)
            drain();
        return cursor_;
    }
    void commit(char* end) { cursor_ = end; }

    // Text of any length; a line end goes in with endLine() or line().
    void put(std::string_view text) {
        while (!text.empty()) {
            char* p = room();
            const std::size_t n = std::min(text.size(), maxLine);
            std::memcpy(p, text.data(), n);
            commit(p + n);
            text.remove_prefix(n);
        }
    }

    void line(std::string_view text = {}) {
        put(text);
        commit(endLine(room()));
    }

    // Hands everything buffered to the stream and flushes it; false when the
    // stream failed at any point.
    bool flush() {
        drain();
        if (stream_)
            stream_.flush();
        return static_cast<bool>(stream_);
    }

  private:
    void drain() {
        const auto size = static_cast<std::streamsize>(cursor_ - buffer_.data());
        if (size > 0 && stream_)
            stream_.write(buffer_.data(), size);
        cursor_ = buffer_.data();
    }

    std::ostream& stream_;
    std::vector<char> buffer_;
    char* cursor_ = buffer_.data();
};

} // namespace ulv
