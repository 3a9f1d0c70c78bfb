#include "platform/interrupt.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstring>

namespace ulv {

// Slots are never freed, and once linked never unlinked: the handler walks
// them without a lock, and a slot's name is read only while it is live.
struct TempSlot {
    std::atomic<int> state{1}; // claiming
    TempSlot* next = nullptr;
    std::filesystem::path::value_type* name = nullptr; // NUL-terminated, owned
    std::size_t capacity = 0;
};

namespace {

namespace fs = std::filesystem;
using Char = fs::path::value_type;
using Slot = TempSlot;

// What a slot holds. Its owner moves it between free, claiming, live and
// committing; the handler takes a live one (handling) and leaves it dead.
// The owner's moves happen with the signals blocked on its thread, so a
// handler that finds a slot claiming or committing runs on another thread
// and may wait for it.
enum State : int { freeSlot, claiming, live, committing, handling, dead };

std::atomic<Slot*> slots{nullptr};
std::atomic<bool> stopped{false};
std::atomic<int> mode{static_cast<int>(OnInterrupt::report)};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free &&
                  std::atomic<Slot*>::is_always_lock_free,
              "the handler may use only lock-free atomics");

#ifdef _WIN32
// The console handler is a thread of its own: nothing to block.
class BlockInterrupts {
  public:
    BlockInterrupts() {}
    ~BlockInterrupts() {}
    BlockInterrupts(const BlockInterrupts&) = delete;
    BlockInterrupts& operator=(const BlockInterrupts&) = delete;
};
#else
// Keeps the handler off this thread while a slot changes hands.
class BlockInterrupts {
  public:
    BlockInterrupts() {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&set, signal);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~BlockInterrupts() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    BlockInterrupts(const BlockInterrupts&) = delete;
    BlockInterrupts& operator=(const BlockInterrupts&) = delete;

  private:
    sigset_t old_;
};
#endif

// A slot of this thread's, claimed; called with the signals blocked.
Slot* claimSlot() {
    for (Slot* slot = slots.load(); slot; slot = slot->next) {
        int expected = freeSlot;
        if (slot->state.compare_exchange_strong(expected, claiming))
            return slot;
    }
    Slot* slot = new Slot;
    slot->next = slots.load();
    while (!slots.compare_exchange_weak(slot->next, slot)) {
    }
    return slot;
}

void releaseSlot(Slot* slot) {
    for (;;) {
        int state = slot->state.load();
        if (state == live && slot->state.compare_exchange_strong(state, freeSlot))
            return;
        if (state == dead) {
            slot->state.store(freeSlot);
            return;
        }
        // A handler on another thread is removing the file.
    }
}

void keepName(Slot* slot, const fs::path& path) {
    const Char* text = path.c_str();
    const std::size_t length = path.native().size();
    if (slot->capacity < length + 1) {
        delete[] slot->name;
        slot->name = new Char[length + 1];
        slot->capacity = length + 1;
    }
    std::memcpy(slot->name, text, (length + 1) * sizeof(Char));
}

Created createNew(const fs::path& path) {
#ifdef _WIN32
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
        return Created::yes;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Created::taken
                                                                       : Created::failed;
#else
    // 0666 less the umask, as a plain create gives; not mkstemp's 0600.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::close(fd);
        return Created::yes;
    }
    return errno == EEXIST ? Created::taken : Created::failed;
#endif
}

#ifdef _WIN32

// Whether every temporary file is gone or renamed.
bool noneLive() {
    for (Slot* slot = slots.load(); slot; slot = slot->next)
        if (slot->state.load() != freeSlot)
            return false;
    return true;
}

BOOL WINAPI onConsoleEvent(DWORD event) {
    stopped.store(true);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE; // the program stops its work and exits by itself
    // Closing the console, logoff, shutdown: Windows ends the process once
    // this returns, or after 5 s. The files being written are open, so only
    // their writers can remove them; their writes now fail and they do.
    for (int waited = 0; waited < 400 && !noneLive(); ++waited)
        ::Sleep(10);
    return TRUE;
}

#else

void onSignal(int signal) {
    const int savedErrno = errno;
    stopped.store(true);
    for (Slot* slot = slots.load(); slot; slot = slot->next) {
        int state = slot->state.load();
        while (state == claiming || state == committing)
            state = slot->state.load();
        if (state == live && slot->state.compare_exchange_strong(state, handling)) {
            ::unlink(slot->name);
            slot->state.store(dead);
        }
    }
    if (mode.load() == static_cast<int>(OnInterrupt::end)) {
        // The signal's own end, once this returns: the signal is blocked in
        // its handler, so raised again it waits until then.
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        ::sigaction(signal, &action, nullptr);
        ::raise(signal);
    }
    errno = savedErrno;
}

#endif

} // namespace

void catchInterrupts(OnInterrupt what) {
    mode.store(static_cast<int>(what));
#ifdef _WIN32
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    // One handler at a time per thread, whichever of the signals comes.
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored when the program started (nohup, a background
        // job of a shell without job control) stays ignored.
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
#endif
}

bool interrupted() { return stopped.load(); }

Created LiveTemp::create(const fs::path& path) {
    remove(); // a LiveTemp holds one file at a time
    const BlockInterrupts block;
    slot_ = claimSlot();
    // After the claim: a handler that went past this slot before it was
    // claimed had already set the flag.
    if (stopped.load()) {
        slot_->state.store(freeSlot);
        slot_ = nullptr;
        return Created::failed;
    }
    keepName(slot_, path);
    const Created created = createNew(path);
    if (created != Created::yes) {
        slot_->state.store(freeSlot);
        slot_ = nullptr;
        return created;
    }
    path_ = path;
    slot_->state.store(live);
    return Created::yes;
}

void LiveTemp::remove() {
    if (!slot_)
        return;
    std::error_code ignored;
    fs::remove(path_, ignored);
    path_.clear();
    forget();
}

void LiveTemp::forget() {
    if (!slot_)
        return;
    releaseSlot(slot_);
    slot_ = nullptr;
}

bool commitTemps(const std::vector<LiveTemp*>& temps, const std::function<bool()>& rename) {
    const BlockInterrupts block;
    std::size_t taken = 0;
    for (; taken < temps.size(); ++taken) {
        Slot* slot = temps[taken]->slot_;
        int expected = live;
        if (slot && !slot->state.compare_exchange_strong(expected, committing))
            break; // a handler has removed it
    }
    // After taking them: a handler that went past them before had already
    // set the flag.
    const bool go = taken == temps.size() && !stopped.load();
    if (!go) {
        for (std::size_t i = 0; i < taken; ++i)
            if (Slot* slot = temps[i]->slot_)
                slot->state.store(live);
        return false;
    }
    const bool renamed = rename();
    for (LiveTemp* temp : temps) {
        if (!temp->slot_)
            continue;
        if (renamed) {
            temp->slot_->state.store(freeSlot);
            temp->slot_ = nullptr;
        } else {
            temp->slot_->state.store(live);
        }
    }
    return renamed;
}

} // namespace ulv
