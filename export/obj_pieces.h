// The OBJ text is cut into pieces of whole lines, formatted by up to two
// threads and written strictly in order. Exposed for the tests that compare
// one thread with two.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

#include "model/model.h"

namespace ulv {

// About 4 MiB of typical text each: few hand-offs between the threads, and
// little memory held by a piece waiting for its turn.
inline constexpr std::size_t vertexLinesPerPiece = std::size_t{1} << 17;
inline constexpr std::size_t faceLinesPerPiece = std::size_t{1} << 16;

// writeObj with at most `threads` formatting threads. A second thread starts
// only when the model has more than one piece's worth of lines.
bool writeObjWith(Model model, std::ostream& obj, std::ostream& mtl, const std::string& mtlName,
                  unsigned threads);

} // namespace ulv
