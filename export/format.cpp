#include "export/format.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace ulv {

char *formatFixed6(char *out, float value) {
    if (std::isnan(value)) {
        // The sign of a NaN shows, as it does with printf.
        const bool negative = std::bit_cast<std::uint32_t>(value) >> 31;
        std::memcpy(out, negative ? "-nan" : "nan", negative ? 4 : 3);
        return out + (negative ? 4 : 3);
    }
    return std::to_chars(out, out + maxFixed6Length, static_cast<double>(value),
                         std::chars_format::fixed, 6)
        .ptr;
}

char *formatUint(char *out, std::uint32_t value) { return std::to_chars(out, out + 10, value).ptr; }

char *formatInt(char *out, std::int32_t value) { return std::to_chars(out, out + 11, value).ptr; }

} // namespace ulv
