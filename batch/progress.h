// One line on standard error, redrawn in place while a batch runs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ulv {

// Whether standard error is a terminal, where a redrawn line makes sense.
bool stderrIsTerminal();

// "12/300 done, 4.5 MB/s, 0:42 left, PATH": the rate of the models read so
// far, the time left from the models still to convert at the pace so far
// (their sizes are not looked up ahead: that would cost a look at every file
// before the first is converted). Fitted to `columns`: the end of the path
// tells models apart, so the rate and the time go first, then the start of
// the path, replaced by "...".
std::string progressText(std::size_t done, std::size_t total, std::uintmax_t bytesDone,
                         std::chrono::duration<double> elapsed, const std::string& current,
                         std::size_t columns);

class ProgressLine {
  public:
    // The columns a line may take.
    static std::size_t columns();
    // Draws `text` over the line shown before, cut to the terminal's width.
    void show(const std::string& text);
    // Blanks the line, so that other output starts on a clean one.
    void clear();

  private:
    std::size_t shown_ = 0; // columns now on the screen
};

} // namespace ulv
