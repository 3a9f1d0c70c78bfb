// Large output buffers in front of a stream, so that numbers are formatted
// straight into memory and the stream sees few, large writes. Once a first
// buffer is full, a background thread writes it while the next one fills, so
// formatting and writing use both cores; small outputs never start a thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <ostream>
#include <string_view>
#include <thread>
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
    static constexpr std::size_t bufferSize = std::size_t{1} << 22;
    // Longest line a caller may write after one call to room().
    static constexpr std::size_t maxLine = 512;

    // Smaller buffers stay in the cache between the thread that fills them
    // and the one that writes them, which pays for more, smaller writes when
    // filling them is quick.
    explicit TextOut(std::ostream& stream, std::size_t size = bufferSize);
    ~TextOut();
    TextOut(const TextOut&) = delete;
    TextOut& operator=(const TextOut&) = delete;

    // A pointer with room for maxLine bytes; hand the end back to commit().
    char* room() {
        if (static_cast<std::size_t>(limit_ - cursor_) < maxLine)
            handOff();
        return cursor_;
    }
    void commit(char* end) { cursor_ = end; }
    // A pointer with room for `size` bytes, at most the buffer size.
    char* room(std::size_t size) {
        if (static_cast<std::size_t>(limit_ - cursor_) < size)
            handOff();
        return cursor_;
    }

    // Text of any length; a line end goes in with endLine() or line().
    void put(std::string_view text);
    void line(std::string_view text = {});

    // Writes everything buffered and flushes the stream; false when the
    // stream failed at any point.
    bool flush();

  private:
    void handOff();
    void waitForWriter(std::unique_lock<std::mutex>& lock);
    void writeInBackground();

    std::ostream& stream_;
    std::size_t bufferSize_;
    // Not zero-filled: pages are touched only as far as text is written.
    std::unique_ptr<char[]> buffers_[2];
    int current_ = 0;
    char* cursor_ = nullptr;
    char* limit_ = nullptr;

    std::thread writer_;
    std::mutex mutex_;
    std::condition_variable changed_;
    const char* pending_ = nullptr; // a full buffer the writer has not written yet
    std::size_t pendingSize_ = 0;
    bool stopping_ = false;
    bool writeHere_ = false; // no thread could be started
};

// Text formatted ahead of its turn to be written: a chain of large blocks that
// grows as needed and is kept for the next piece, so a thread that formats
// many pieces allocates only for the first.
class TextChain {
  public:
    // Holds a typical piece whole.
    static constexpr std::size_t blockSize = std::size_t{1} << 20;
    static constexpr std::size_t maxLine = TextOut::maxLine;

    TextChain() = default;
    TextChain(const TextChain&) = delete;
    TextChain& operator=(const TextChain&) = delete;

    char* room() {
        if (static_cast<std::size_t>(limit_ - cursor_) < maxLine)
            nextBlock();
        return cursor_;
    }
    void commit(char* end) { cursor_ = end; }

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
