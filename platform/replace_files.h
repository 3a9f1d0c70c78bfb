// Replacing output files safely: every file is written beside its target
// under a temporary name, and all are renamed into place only when every one
// is complete, so a failure leaves whatever was there before.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace ulv {

// Writes the files at `paths` (UTF-8) through `write`, which gets one stream
// per path, in order, and says whether it succeeded. The files are renamed
// into place from the last to the first, so the first, which names the
// others, is never in place without them. A file that replaces another is
// put on the disk before its rename unless `flushReplaced` is false (which
// only a measurement of what the flush costs wants). False when anything
// failed.
bool replaceFiles(const std::vector<std::string>& paths,
                  const std::function<bool(const std::vector<std::ostream*>&)>& write,
                  bool flushReplaced = true);

} // namespace ulv
