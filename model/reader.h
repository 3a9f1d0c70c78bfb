// Reads a .MOD file into a Model. Throws TextError on a malformed file; with
// `verbose` set, dumps the headers on standard output as it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "model/model.h"

namespace ulv {

// The stream must be open for binary reading; it is left open.
Model readModel(std::istream& stream);
Model readModel(const std::uint8_t* data, std::size_t size);

} // namespace ulv
