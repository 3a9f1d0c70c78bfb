// Reads a .MOD file into a Model. Throws TextError on a malformed file; dumps
// the headers as it goes to `dump` when one is given, or, in the forms
// without it, on standard output when `verbose` is set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "model/model.h"

namespace ulv {

// The stream must be open for binary reading; it is left open.
Model readModel(std::istream& stream);
Model readModel(const std::uint8_t* data, std::size_t size);
// The dump goes to a stream of the caller's, so that models read at once on
// several threads each get their own; `verbose` plays no part.
Model readModel(std::istream& stream, std::ostream* dump);
Model readModel(const std::uint8_t* data, std::size_t size, std::ostream* dump);

} // namespace ulv
