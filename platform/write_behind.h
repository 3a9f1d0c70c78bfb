// Large buffers in front of a stream, so that data is put straight into
// memory and the stream sees few, large writes. Once a first buffer is full,
// a background thread writes it while the next one fills, so filling and
// writing use both cores; small outputs never start a thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <ostream>
#include <string_view>
#include <thread>

namespace ulv {

class WriteBehind {
  public:
    static constexpr std::size_t bufferSize = std::size_t{1} << 22;

    // Smaller buffers stay in the cache between the thread that fills them
    // and the one that writes them, which pays for more, smaller writes when
    // filling them is quick.
    explicit WriteBehind(std::ostream& stream, std::size_t size = bufferSize);
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // A pointer with room for `size` bytes, at most the buffer size; hand the
    // end of what was put there back to commit(). The room starts at a
    // multiple of `size`'s alignment as long as every commit was one.
    char* room(std::size_t size) {
        if (static_cast<std::size_t>(limit_ - cursor_) < size)
            handOff();
        return cursor_;
    }
    void commit(char* end) { cursor_ = end; }

    // Bytes of any length.
    void put(std::string_view bytes);

    // Writes everything buffered and flushes the stream; false when the
    // stream failed at any point.
    bool flush();

  private:
    void handOff();
    void waitForWriter(std::unique_lock<std::mutex>& lock);
    void writeInBackground();

    std::ostream& stream_;
    std::size_t bufferSize_;
    // Not zero-filled: pages are touched only as far as data is put.
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

} // namespace ulv
