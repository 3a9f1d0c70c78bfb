#include "obj/format.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>

namespace ulv {
namespace {

std::string fixed6(float value) {
    char buffer[maxFixed6Length];
    return {buffer, formatFixed6(buffer, value)};
}

// The integer writers promise to leave everything after the digits alone.
template <class Integer, class Format> std::string integerText(Integer value, Format format) {
    char buffer[24];
    std::memset(buffer, '#', sizeof buffer);
    const char* end = format(buffer, value);
    const std::string_view written(buffer, static_cast<std::size_t>(end - buffer));
    const std::string_view after(end, static_cast<std::size_t>(buffer + sizeof buffer - end));
    EXPECT_EQ(after.find_first_not_of('#'), std::string_view::npos)
        << "wrote past the digits of " << written;
    return std::string(written);
}

std::string uintText(std::uint32_t value) { return integerText(value, formatUint); }

std::string intText(std::int32_t value) { return integerText(value, formatInt); }

float fromBits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

std::uint32_t draw(std::mt19937& random) { return static_cast<std::uint32_t>(random()); }

struct Fixed6Case {
    float value;
    const char* expected;
};

TEST(FormatFixed6, ExactOutputForEdgeValues) {
    const Fixed6Case cases[] = {
        {0.0f, "0.000000"},
        {-0.0f, "-0.000000"},
        {1.0f, "1.000000"},
        {-1.0f, "-1.000000"},
        {0.5f, "0.500000"},
        // Exact halves of the sixth decimal go to the even neighbour.
        {0.0078125f, "0.007812"},
        {-0.0078125f, "-0.007812"},
        {0.0234375f, "0.023438"},
        {123456.789f, "123456.789062"},
        {65536.0078125f, "65536.007812"},
        {131071.9921875f, "131071.992188"},
        // One ulp either side of a half.
        {std::nextafter(0.0078125f, 0.0f), "0.007812"},
        {std::nextafter(0.0078125f, 1.0f), "0.007813"},
        {std::nextafter(0.0234375f, 0.0f), "0.023437"},
        {std::nextafter(0.0234375f, 1.0f), "0.023438"},
        {std::nextafter(-0.0234375f, -1.0f), "-0.023438"},
        // The float nearest 5e-7 lies below it; the next one rounds up.
        {0x1.0c6f7ap-21f, "0.000000"},
        {0x1.0c6f7cp-21f, "0.000001"},
        {1e-7f, "0.000000"},
        {-1e-7f, "-0.000000"},
        {0x1.fffffep-1f, "1.000000"},
        {-0x1.fffffep-1f, "-1.000000"},
        {999.99994f, "999.999939"},
        {fromBits(0x00000001), "0.000000"},
        {fromBits(0x80000001), "-0.000000"},
        {fromBits(0x007fffff), "0.000000"},
        {FLT_MIN, "0.000000"},
        {-FLT_MIN, "-0.000000"},
        {8388607.5f, "8388607.500000"},
        {0x1p23f, "8388608.000000"},
        {0x1p24f, "16777216.000000"},
        {0x1p40f, "1099511627776.000000"},
        {0x1p63f, "9223372036854775808.000000"},
        {0x1.fffffep63f, "18446742974197923840.000000"},
        {0x1p64f, "18446744073709551616.000000"},
        {-0x1p64f, "-18446744073709551616.000000"},
        {FLT_MAX, "340282346638528859811704183484516925440.000000"},
        {-FLT_MAX, "-340282346638528859811704183484516925440.000000"},
        {std::numeric_limits<float>::infinity(), "inf"},
        {-std::numeric_limits<float>::infinity(), "-inf"},
        {fromBits(0x7fc00000), "nan"},
        {fromBits(0xffc00000), "-nan"},
        {fromBits(0x7f800001), "nan"},
        {fromBits(0xffbfffff), "-nan"},
        {fromBits(0x7fe12345), "nan"},
    };
    for (const Fixed6Case& c : cases) {
        EXPECT_EQ(fixed6(c.value), c.expected)
            << "bits 0x" << std::hex << std::bit_cast<std::uint32_t>(c.value);
    }
}

TEST(FormatInteger, ExactOutputForEdgeValues) {
    EXPECT_EQ(uintText(0), "0");
    EXPECT_EQ(uintText(7), "7");
    EXPECT_EQ(uintText(4294967295u), "4294967295");
    EXPECT_EQ(intText(0), "0");
    EXPECT_EQ(intText(-1), "-1");
    EXPECT_EQ(intText(std::numeric_limits<std::int32_t>::max()), "2147483647");
    EXPECT_EQ(intText(std::numeric_limits<std::int32_t>::min()), "-2147483648");
}

// Each power of ten adds a digit; both sides of every step must come out right.
TEST(FormatInteger, AroundEveryPowerOfTen) {
    for (std::uint64_t power = 1; power <= 1000000000; power *= 10) {
        for (std::uint64_t value = power - 1; value <= power + 1; ++value) {
            const auto u = static_cast<std::uint32_t>(value);
            const auto i = static_cast<std::int32_t>(value);
            EXPECT_EQ(uintText(u), std::to_string(u));
            EXPECT_EQ(intText(i), std::to_string(i));
            EXPECT_EQ(intText(-i), std::to_string(-i));
        }
    }
}

// Compares with printf bit pattern by bit pattern; reports the first mismatch.
class PrintfComparison {
  public:
    void check(std::uint32_t bits) {
        const float value = std::bit_cast<float>(bits);
        char expected[64];
        int length = 0;
        if (std::isnan(value)) {
            // Not every C library shows the sign of a NaN (MinGW's does not);
            // glibc does, and so must we.
            length = std::snprintf(expected, sizeof expected, "%s", bits >> 31 ? "-nan" : "nan");
        } else {
            length = std::snprintf(expected, sizeof expected, "%f", static_cast<double>(value));
        }
        // Bytes past the guaranteed room must stay untouched.
        char actual[maxFixed6Length + 16];
        std::memset(actual, '#', sizeof actual);
        const char* end = formatFixed6(actual, value);
        const bool inRoom = end >= actual && end <= actual + maxFixed6Length &&
                            std::memcmp(actual + maxFixed6Length, "################", 16) == 0;
        ++checked_;
        if (inRoom && end - actual == length &&
            std::memcmp(actual, expected, static_cast<std::size_t>(length)) == 0) {
            return;
        }
        if (mismatches_++ == 0) {
            char text[128];
            std::snprintf(text, sizeof text, "bits 0x%08" PRIx32 ": expected \"%s\", got \"%.*s\"",
                          bits, expected, inRoom ? static_cast<int>(end - actual) : 0, actual);
            first_ = inRoom ? text : text + std::string(" (wrote past the room)");
        }
    }

    ~PrintfComparison() {
        EXPECT_EQ(mismatches_, 0u) << "of " << checked_ << " values; first: " << first_;
        EXPECT_GT(checked_, 0u);
    }

  private:
    std::uint64_t checked_ = 0;
    std::uint64_t mismatches_ = 0;
    std::string first_;
};

// Random mantissas for every exponent and sign, plus the first and last
// mantissas of each exponent, where the fast path meets the others.
TEST(FormatFixed6, MatchesPrintfOverAllExponents) {
    PrintfComparison comparison;
    std::mt19937 random(20240611);
    for (std::uint32_t sign = 0; sign < 2; ++sign) {
        for (std::uint32_t exponent = 0; exponent < 256; ++exponent) {
            const std::uint32_t base = sign << 31 | exponent << 23;
            for (std::uint32_t m = 0; m < 256; ++m) {
                comparison.check(base | m);
                comparison.check(base | (0x7fffff - m));
            }
            for (int k = 0; k < 8192; ++k) {
                comparison.check(base | (draw(random) & 0x7fffff));
            }
        }
    }
}

// The exact halves are the odd multiples of 2^-7 below 2^17. All of them up to
// 2^14, a sample of the rest, each with its neighbours.
TEST(FormatFixed6, MatchesPrintfAroundEveryTie) {
    PrintfComparison comparison;
    std::mt19937 random(7);
    const auto checkAround = [&](std::uint32_t odd) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(static_cast<float>(odd) / 128.0f);
        const std::uint32_t sign = (odd >> 1 & 1) << 31;
        comparison.check((bits - 1) | sign);
        comparison.check(bits | sign);
        comparison.check((bits + 1) | sign);
    };
    for (std::uint32_t odd = 1; odd < (1u << 21); odd += 2) {
        checkAround(odd);
    }
    for (int k = 0; k < 300000; ++k) {
        checkAround((draw(random) & 0xffffff) | 1);
    }
}

TEST(FormatFixed6, MatchesPrintfForSubnormals) {
    PrintfComparison comparison;
    std::mt19937 random(11);
    for (std::uint32_t m = 1; m < 65536; ++m) {
        comparison.check(m);
        comparison.check(0x80000000 | m);
    }
    for (int k = 0; k < 500000; ++k) {
        comparison.check(draw(random) & 0x807fffff);
    }
}

// The largest floats print up to 39 digits.
TEST(FormatFixed6, MatchesPrintfForTheLargestFloats) {
    PrintfComparison comparison;
    for (std::uint32_t k = 0; k < 200000; ++k) {
        comparison.check(0x7f7fffff - k);
        comparison.check(0xff7fffff - k);
    }
}

TEST(FormatFixed6, MatchesPrintfForNanPayloads) {
    PrintfComparison comparison;
    std::mt19937 random(13);
    for (std::uint32_t m = 0; m < 4096; ++m) {
        for (const std::uint32_t base : {0x7f800000u, 0xff800000u}) {
            comparison.check(base | m);
            comparison.check(base | (0x7fffff - m));
        }
    }
    for (int k = 0; k < 200000; ++k) {
        comparison.check(draw(random) | 0x7f800000);
    }
}

} // namespace
} // namespace ulv
