// Number formatting for the OBJ text: exact, and independent of the locale.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ulv {

// Room formatFixed6 may need: sign, 39 integer digits, point, six decimals.
inline constexpr std::size_t maxFixed6Length = 48;

// Writes `value` as printf("%f") writes the float widened to double: six
// decimals, correctly rounded, "-0.000000", "nan", "-nan", "inf", "-inf".
// Returns the end of what was written.
char *formatFixed6(char *out, float value);

char *formatUint(char *out, std::uint32_t value);
char *formatInt(char *out, std::int32_t value);

} // namespace ulv
