// A section's arrays read again, a piece at a time, from the model file the
// reader read them from, at the places it found them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <vector>

namespace ulv {

class ArrayReader {
  public:
    // `start`: where reading the model began in `in`; places are counted from it.
    ArrayReader(std::istream& in, std::streamoff start) : in_(in), start_(start) {}

    // `count` floats at `at`, in the host's order. False when the stream
    // does not give them.
    bool floats(std::uint64_t at, std::size_t count, float* out);

    // `count` stored triangles at `at`: corners a, b, c each.
    bool triangles(std::uint64_t at, std::size_t count, std::uint32_t* corners);

  private:
    bool read(std::uint64_t at, void* into, std::size_t size);

    std::istream& in_;
    std::streamoff start_;
    std::vector<std::uint8_t> records_;
};

} // namespace ulv
