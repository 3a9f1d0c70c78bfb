#include "platform/replace_files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>
#include <vector>

#include "platform/device_names.h"
#include "platform/utf8_path.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

struct Target {
    fs::path path;         // where the file ends up
    fs::path temp;         // empty when the target is written directly
    bool replaces = false; // a file is there now, which the temporary replaces
};

enum class Created { yes, taken, failed };

// Creates `path` only if nothing is there yet.
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

fs::path createTemp(const fs::path& target) {
    std::random_device seed;
    std::mt19937 random(seed());
    // Keep the temporary name within the usual 255-unit limit.
    fs::path::string_type stem = target.filename().native().substr(0, 200);
#ifdef _WIN32
    // Never keep half of a UTF-16 surrogate pair.
    if (!stem.empty() && stem.back() >= 0xD800 && stem.back() <= 0xDBFF)
        stem.pop_back();
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path name = ".";
        name += stem;
        name += ".";
        name += std::to_string(random() % 1000000);
        name += ".tmp";
        const fs::path temp = target.parent_path() / name;
        const Created created = createNew(temp);
        if (created == Created::yes)
            return temp;
        if (created == Created::failed)
            break;
    }
    return {};
}

bool prepare(Target& target, bool flushReplaced) {
    if (target.path.filename().empty())
        return false;
    // Windows devices exist for no file function; see device_names.h.
    if (const std::string device = windowsDevice(target.path); !device.empty())
        return device == "NUL";
    std::error_code error;
    const fs::file_status status = fs::status(target.path, error);
    if (fs::is_directory(status))
        return false;
    // Devices and pipes cannot be renamed over; they are written as they are.
    if (fs::exists(status) && !fs::is_regular_file(status))
        return true;
    // Replace what a link points to, not the link.
    if (fs::is_symlink(fs::symlink_status(target.path, error))) {
        const fs::path resolved = fs::canonical(target.path, error);
        if (!error)
            target.path = resolved;
    }
    target.replaces = flushReplaced && fs::is_regular_file(status);
    target.temp = createTemp(target.path);
    return !target.temp.empty();
}

bool open(std::ofstream& stream, const Target& target) {
    // The writer buffers; the stream passes its large writes straight through.
    stream.rdbuf()->pubsetbuf(nullptr, 0);
    if (target.temp.empty()) {
        stream.open(target.path, std::ios::binary | std::ios::out | std::ios::trunc);
    } else {
        // The temporary was just made, empty. Truncating it again would make
        // ext4 write all its data out within close(), as it does for a file
        // rewritten in place: a tenth of a second for 300 MB.
        stream.open(target.temp, std::ios::binary | std::ios::in | std::ios::out);
    }
    return stream.is_open();
}

bool close(std::ofstream& stream) {
    if (!stream.is_open())
        return false;
    stream.close();
    return !stream.fail();
}

// Puts the file's data, or a folder's entries, on the disk.
bool flush(const fs::path& path, bool folder) {
#ifdef _WIN32
    // NTFS journals its folders itself; only a file's data needs flushing.
    if (folder)
        return true;
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = ::FlushFileBuffers(handle) != 0;
    return ::CloseHandle(handle) != 0 && ok;
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    if (fd < 0)
        return false;
    // Some file systems cannot flush a folder; they keep no more than that.
    const bool ok = ::fsync(fd) == 0 || (folder && errno == EINVAL);
    return ::close(fd) == 0 && ok;
#endif
}

void discard(const Target& target) {
    std::error_code ignored;
    if (!target.temp.empty())
        fs::remove(target.temp, ignored);
}

bool commit(const Target& target) {
    if (target.temp.empty())
        return true;
#ifdef _WIN32
    // A plain rename there refuses to replace an existing file.
    const DWORD flags =
        MOVEFILE_REPLACE_EXISTING | (target.replaces ? MOVEFILE_WRITE_THROUGH : DWORD{0});
    return ::MoveFileExW(target.temp.c_str(), target.path.c_str(), flags) != 0;
#else
    std::error_code error;
    fs::rename(target.temp, target.path, error);
    return !error;
#endif
}

} // namespace

bool replaceFiles(const std::vector<std::string>& paths,
                  const std::function<bool(const std::vector<std::ostream*>&)>& write,
                  bool flushReplaced) {
    std::vector<Target> targets;
    for (const std::string& path : paths)
        targets.push_back({utf8Path(path), {}});
    bool ok = true;
    for (Target& target : targets)
        ok = ok && prepare(target, flushReplaced);
    if (ok) {
        std::vector<std::ofstream> files(targets.size());
        std::vector<std::ostream*> streams;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            ok = ok && open(files[i], targets[i]);
            streams.push_back(&files[i]);
        }
        ok = ok && write(streams);
        // All are closed whatever happened, and all must close cleanly.
        for (std::ofstream& file : files)
            ok = close(file) && ok;
    }
    // A file that replaces another is on the disk before its rename, so that
    // a power cut leaves the old file or the whole new one, never an empty one.
    // A new file replaces nothing that could be lost.
    for (const Target& target : targets)
        ok = ok && (!target.replaces || flush(target.temp, false));
    for (std::size_t i = targets.size(); ok && i-- > 0;)
        ok = commit(targets[i]);
    if (!ok) {
        for (const Target& target : targets)
            discard(target);
        return false;
    }
    // And the renames themselves, once per folder. Should that fail, the new
    // files are in place but may not survive a power cut: reported as a failure.
    std::vector<fs::path> folders;
    for (const Target& target : targets) {
        const fs::path folder = target.path.has_parent_path() ? target.path.parent_path() : ".";
        if (target.replaces && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    for (const fs::path& folder : folders)
        ok = flush(folder, true) && ok;
    return ok;
}

} // namespace ulv
