// Environment variables as UTF-8 text on every system.
#pragma once

#include <string>

namespace ulv {

// The value of the variable `name` (ASCII), in UTF-8; empty when it is not set.
std::string environmentText(const char* name);

} // namespace ulv
