// The OBJ text as it is formatted: lines put straight into large blocks of
// memory, ended as the platform's text files end them.
#pragma once

#include <cstddef>
#include <cstring>
#include <iosfwd>
#include <memory>
#include <string_view>
#include <vector>

namespace ulv {

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

// Text formatted ahead of its turn to be written: a chain of large blocks that
// grows as needed and is kept for the next piece, so a thread that formats
// many pieces allocates only for the first.
class TextChain {
  public:
    // Holds a typical piece whole.
    static constexpr std::size_t blockSize = std::size_t{1} << 20;
    // Longest line a caller may write after one call to room().
    static constexpr std::size_t maxLine = 512;

    TextChain() = default;
    TextChain(const TextChain&) = delete;
    TextChain& operator=(const TextChain&) = delete;

    // A pointer with room for maxLine bytes; hand the end back to commit().
    char* room() {
        if (static_cast<std::size_t>(limit_ - cursor_) < maxLine)
            nextBlock();
        return cursor_;
    }
    void commit(char* end) { cursor_ = end; }

    // Text of any length; a line end goes in with endLine() or line().
    void put(std::string_view text);
    void line(std::string_view text = {});

    // Writes everything held, in as few writes as the blocks allow, and
    // empties the chain; nothing is written to a stream that already failed.
    void writeTo(std::ostream& stream);

  private:
    void nextBlock();

    std::vector<std::unique_ptr<char[]>> blocks_;
    std::vector<std::size_t> used_; // bytes in each block before the current one
    char* cursor_ = nullptr;
    char* limit_ = nullptr;
};

} // namespace ulv
