// Buffered forward-only input for the reader: whole arrays in few reads, and a
// tag search that scans memory instead of stepping a stream byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <vector>

namespace ulv {

class InputBuffer {
  public:
    static constexpr std::size_t defaultChunkSize = std::size_t{1} << 20;

    InputBuffer(const std::uint8_t* data, std::size_t size);
    // Small chunks make every tag and array of a small input cross chunk
    // boundaries, which is what the reader's tests and fuzzing want.
    explicit InputBuffer(std::istream& stream, std::size_t chunkSize = defaultChunkSize);

    // Copies exactly `size` bytes; false when the input ends first.
    bool read(void* out, std::size_t size);
    // `size` (at most chunkSize()) contiguous bytes, or nullptr when fewer
    // remain.
    const std::uint8_t* take(std::size_t size);
    // Bytes left when the input's length is known (memory, a seekable file).
    std::optional<std::uint64_t> remaining() const;
    // Bytes consumed since reading began.
    std::uint64_t position() const;
    // The most take() gives at once.
    std::size_t chunkSize() const { return chunkSize_; }

  private:
    friend bool findTag(InputBuffer& input, std::uint32_t tagValue);
    // Keeps the unread bytes and appends more; false when nothing was added.
    bool refill();

    // Reads at least this large go from the stream straight to their
    // destination instead of through the chunk: a section's arrays are well
    // below a chunk, and a second copy of every array costs more than the
    // extra calls.
    std::size_t directSize() const { return chunkSize_ / 16; }

    std::size_t chunkSize_ = defaultChunkSize;
    std::istream* stream_ = nullptr;
    std::optional<std::uint64_t> streamLeft_; // bytes not yet pulled from the stream
    std::uint64_t pulled_ = 0;                // bytes pulled from the stream
    const std::uint8_t* begin_ = nullptr;     // of the memory form
    std::vector<std::uint8_t> storage_;
    const std::uint8_t* cur_ = nullptr;
    const std::uint8_t* end_ = nullptr;
};

// Finds the four bytes of `tagValue` (little-endian) at or after the current
// position, at any byte offset; on success the input stands just after them.
bool findTag(InputBuffer& input, std::uint32_t tagValue);

} // namespace ulv
