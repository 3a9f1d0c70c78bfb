#include "mod/array_reader.h"

#include <bit>

#include "mod/layout.h"

namespace ulv {

bool ArrayReader::read(std::uint64_t at, void* into, std::size_t size) {
    in_.clear();
    if (!in_.seekg(start_ + static_cast<std::streamoff>(at)))
        return false;
    in_.read(static_cast<char*>(into), static_cast<std::streamsize>(size));
    return in_.gcount() == static_cast<std::streamsize>(size);
}

bool ArrayReader::floats(std::uint64_t at, std::size_t count, float* out) {
    if (!read(at, out, 4 * count))
        return false;
    if constexpr (std::endian::native != std::endian::little)
        for (std::size_t i = 0; i < count; ++i)
            out[i] = layout::loadF32(reinterpret_cast<const std::uint8_t*>(out + i));
    return true;
}

bool ArrayReader::triangles(std::uint64_t at, std::size_t count, std::uint32_t* corners) {
    const std::size_t size = layout::triangleSize * count;
    if (records_.size() < size)
        records_.resize(size);
    if (!read(at, records_.data(), size))
        return false;
    const std::uint8_t* record = records_.data();
    for (std::size_t t = 0; t < count; ++t, record += layout::triangleSize, corners += 3)
        layout::loadTriangle(record, corners);
    return true;
}

} // namespace ulv
