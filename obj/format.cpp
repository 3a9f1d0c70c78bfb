#include "obj/format.h"

#include <bit>
#include <charconv>
#include <cstring>

namespace ulv::format_detail {

char* formatLarge(char* out, std::uint32_t bits) {
    const std::uint32_t biased = (bits >> 23) & 0xff;
    const std::uint32_t mantissa = bits & 0x7fffff;
    if (biased == 0xff) {
        std::memcpy(out, mantissa != 0 ? "nan" : "inf", 3);
        return out + 3;
    }
    // Below 2^64 the value is a whole number that fits 64 bits.
    if (biased < 150 + 41) {
        const std::uint64_t whole = std::uint64_t{mantissa | 0x800000} << (biased - 150);
        out = std::to_chars(out, out + 20, whole).ptr;
        std::memcpy(out, ".000000", 7);
        return out + 7;
    }
    const double magnitude = std::bit_cast<float>(bits & 0x7fffffff);
    return std::to_chars(out, out + maxFixed6Length - 1, magnitude, std::chars_format::fixed, 6)
        .ptr;
}

} // namespace ulv::format_detail
