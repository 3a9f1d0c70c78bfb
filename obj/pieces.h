// The OBJ text is cut into pieces of whole lines, formatted by up to two
// threads and written strictly in order. Exposed for the tests that compare
// one thread with two.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

#include "model/model.h"

namespace ulv {

// About half a MiB of typical text each, so that the text is still in the
// core's cache when the kernel copies it: measured cheaper than 4 MiB pieces
// by a third of the CPU time, for 600 hand-offs between the threads.
inline constexpr std::size_t vertexLinesPerPiece = std::size_t{1} << 14;
inline constexpr std::size_t faceLinesPerPiece = std::size_t{1} << 13;

// writeObj with at most `threads` formatting threads. A second thread starts
// only when the model has more than one piece's worth of lines.
bool writeObjWith(Model model, std::ostream& obj, std::ostream& mtl, const std::string& mtlName,
                  unsigned threads);

} // namespace ulv
