// Ctrl-C and its kin: SIGINT, SIGTERM and SIGHUP on Linux; Ctrl-C,
// Ctrl-Break, closing the console, logoff and shutdown on Windows. Every
// temporary file is created through LiveTemp, which keeps its name where the
// handler finds it without allocating, so that an interrupt leaves no
// temporary file behind and every target as it was.
#pragma once

#include <filesystem>
#include <functional>
#include <vector>

namespace ulv {

// The exit status of a run cut short, as shells give for SIGINT.
inline constexpr int interruptedStatus = 130;

enum class OnInterrupt {
    // Linux: remove the temporary files and end the process as the signal
    // would have, so a shell loop around the tool stops too. Windows: the
    // writing in progress fails, removes its files, and the program exits.
    end,
    // Remove the temporary files (Linux) and let the program see
    // interrupted(): writing in progress fails, and the program stops its
    // work and reports.
    report,
};

// Installs the handlers; call once, early, before any thread is started.
void catchInterrupts(OnInterrupt what);

// Whether an interrupt has come. From then on no temporary file is created
// or renamed into place, and writes to the files being made fail.
bool interrupted();

enum class Created { yes, taken, failed };

struct TempSlot;

// A temporary file known to the interrupt handler while it exists.
class LiveTemp {
  public:
    LiveTemp() = default;
    ~LiveTemp() { forget(); }
    LiveTemp(LiveTemp&& other) noexcept : slot_(other.slot_), path_(std::move(other.path_)) {
        other.slot_ = nullptr;
    }
    LiveTemp& operator=(LiveTemp&&) = delete;
    LiveTemp(const LiveTemp&) = delete;
    LiveTemp& operator=(const LiveTemp&) = delete;

    // Creates the file at `path` only if nothing is there yet, and keeps its
    // name. Refused (failed) once an interrupt has come.
    Created create(const std::filesystem::path& path);

    const std::filesystem::path& path() const { return path_; }
    bool empty() const { return path_.empty(); }

    // Removes the file, and forgets it.
    void remove();

  private:
    friend bool commitTemps(const std::vector<LiveTemp*>& temps,
                            const std::function<bool()>& rename);
    void forget();

    TempSlot* slot_ = nullptr;
    std::filesystem::path path_;
};

// Runs `rename`, which moves the temporaries into place, unless an interrupt
// came first: then nothing is renamed and the result is false. An interrupt
// during the renames waits for them, so the targets are all old or all new.
// Renamed temporaries are forgotten; on failure they stay, for remove().
bool commitTemps(const std::vector<LiveTemp*>& temps, const std::function<bool()>& rename);

} // namespace ulv
