// Number formatting for the OBJ text: exact, and independent of the locale.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace ulv {

// Room formatFixed6 may need: sign, 39 integer digits, point, six decimals.
// It may also overwrite bytes past the end it returns, within this room.
inline constexpr std::size_t maxFixed6Length = 48;

// Writes `value` as printf("%f") writes the float widened to double: six
// decimals, correctly rounded, "-0.000000", "nan", "-nan", "inf", "-inf".
// Returns the end of what was written.
char* formatFixed6(char* out, float value);

// Write the digits only, nothing past the end they return.
char* formatUint(char* out, std::uint32_t value);
char* formatInt(char* out, std::int32_t value);

// Defined here, not in format.cpp, so that the writer's loops inline them.
namespace format_detail {

static_assert(std::numeric_limits<float>::is_iec559);

// Entry k: the three digits of k with leading zeros, then k's digit count.
struct Triples {
    char text[4 * 1000];
};

inline constexpr Triples triples = [] {
    Triples t{};
    for (int k = 0; k < 1000; ++k) {
        t.text[4 * k] = static_cast<char>('0' + k / 100);
        t.text[4 * k + 1] = static_cast<char>('0' + k / 10 % 10);
        t.text[4 * k + 2] = static_cast<char>('0' + k % 10);
        t.text[4 * k + 3] = static_cast<char>(1 + (k >= 10) + (k >= 100));
    }
    return t;
}();

// These three write four bytes; the caller overwrites the excess.
inline char* putLeading(char* out, std::uint32_t value) {
    const char* entry = triples.text + 4 * value;
    const int count = entry[3];
    std::memcpy(out, entry + 3 - count, 4);
    return out + count;
}

inline char* putTriple(char* out, std::uint32_t value) {
    std::memcpy(out, triples.text + 4 * value, 4);
    return out + 3;
}

inline char* putWhole(char* out, std::uint32_t value) {
    if (value < 1000) {
        return putLeading(out, value);
    }
    if (value < 1000000) {
        const std::uint32_t high = value / 1000;
        return putTriple(putLeading(out, high), value - high * 1000);
    }
    const std::uint32_t high = value / 1000000;
    const std::uint32_t rest = value - high * 1000000;
    const std::uint32_t middle = rest / 1000;
    return putTriple(putTriple(putLeading(out, high), middle), rest - middle * 1000);
}

inline char* putLastTriple(char* out, std::uint32_t value) {
    std::memcpy(out, triples.text + 4 * value, 3);
    return out + 3;
}

inline char* putUint(char* out, std::uint32_t value) {
    if (value < 1000) {
        const char* entry = triples.text + 4 * value;
        const int count = entry[3];
        std::memcpy(out, entry + 3 - count, static_cast<std::size_t>(count));
        return out + count;
    }
    if (value < 1000000) {
        const std::uint32_t high = value / 1000;
        return putLastTriple(putLeading(out, high), value - high * 1000);
    }
    std::uint32_t rest = value;
    if (value >= 1000000000) {
        const std::uint32_t top = value / 1000000000;
        *out++ = static_cast<char>('0' + top);
        rest -= top * 1000000000;
        const std::uint32_t high = rest / 1000000;
        out = putTriple(out, high);
        rest -= high * 1000000;
    } else {
        const std::uint32_t high = value / 1000000;
        out = putLeading(out, high);
        rest -= high * 1000000;
    }
    const std::uint32_t middle = rest / 1000;
    return putLastTriple(putTriple(out, middle), rest - middle * 1000);
}

// |value| >= 2^23, infinities and NaNs, with the sign already written.
char* formatLarge(char* out, std::uint32_t bits);

} // namespace format_detail

inline char* formatFixed6(char* out, float value) {
    using namespace format_detail;
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const std::uint32_t biased = (bits >> 23) & 0xff;
    *out = '-';
    out += bits >> 31;
    if (biased >= 150) [[unlikely]] {
        return formatLarge(out, bits);
    }
    // |value| * 10^6 is exact in double (24 bits times 20), subnormals too.
    // Adding and taking away 2^52 rounds it to a whole number, half to even
    // as printf does in the default rounding mode; it stays below 2^43.
    const double scaled = static_cast<double>(std::bit_cast<float>(bits & 0x7fffffff)) * 1e6;
    const auto rounded =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(scaled + 0x1p52 - 0x1p52));
    const auto whole = static_cast<std::uint32_t>(rounded / 1000000);
    const auto fraction = static_cast<std::uint32_t>(rounded - std::uint64_t{whole} * 1000000);
    out = putWhole(out, whole);
    *out = '.';
    const std::uint32_t high = fraction / 1000;
    putTriple(putTriple(out + 1, high), fraction - high * 1000);
    return out + 7;
}

inline char* formatUint(char* out, std::uint32_t value) {
    return format_detail::putUint(out, value);
}

inline char* formatInt(char* out, std::int32_t value) {
    const auto magnitude = static_cast<std::uint32_t>(value);
    *out = '-';
    out += value < 0;
    return format_detail::putUint(out, value < 0 ? 0u - magnitude : magnitude);
}

} // namespace ulv
