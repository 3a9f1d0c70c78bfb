#include "platform/replace_files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <system_error>
#include <vector>

#include "platform/device_names.h"
#include "platform/interrupt.h"
#include "platform/utf8_path.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

struct Target {
    fs::path path;         // where the file ends up
    LiveTemp temp;         // empty when the target is written directly
    bool replaces = false; // a file is there now, which the temporary replaces
};

// A file buffer whose writes fail once an interrupt has come, so that the
// writer stops and its temporary files are removed instead of completed.
class FileBuffer : public std::filebuf {
  protected:
    std::streamsize xsputn(const char* data, std::streamsize size) override {
        return interrupted() ? 0 : std::filebuf::xsputn(data, size);
    }
    int_type overflow(int_type c) override {
        return interrupted() ? traits_type::eof() : std::filebuf::overflow(c);
    }
};

// A temporary file beside `target`, created (see LiveTemp) under a new name.
bool createTemp(const fs::path& target, LiveTemp& temp) {
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
        const Created created = temp.create(target.parent_path() / name);
        if (created != Created::taken)
            return created == Created::yes;
    }
    return false;
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
    return createTemp(target.path, target.temp);
}

bool open(FileBuffer& file, const Target& target) {
    // The writer buffers; the stream passes its large writes straight through.
    file.pubsetbuf(nullptr, 0);
    if (target.temp.empty())
        return file.open(target.path, std::ios::binary | std::ios::out | std::ios::trunc);
    // The temporary was just made, empty. Truncating it again would make
    // ext4 write all its data out within close(), as it does for a file
    // rewritten in place: a tenth of a second for 300 MB.
    return file.open(target.temp.path(), std::ios::binary | std::ios::in | std::ios::out);
}

bool close(FileBuffer& file) { return file.is_open() && file.close(); }

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

bool commit(const Target& target, bool replace) {
    if (target.temp.empty())
        return true;
    const fs::path& temp = target.temp.path();
#ifdef _WIN32
    // A plain rename there refuses to replace an existing file.
    const DWORD flags = (replace ? MOVEFILE_REPLACE_EXISTING : DWORD{0}) |
                        (target.replaces ? MOVEFILE_WRITE_THROUGH : DWORD{0});
    return ::MoveFileExW(temp.c_str(), target.path.c_str(), flags) != 0;
#else
    if (!replace) {
        if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.path.c_str(), RENAME_NOREPLACE) ==
            0)
            return true;
        // A file system that cannot rename without replacing: look first.
        std::error_code error;
        if (errno != EINVAL || fs::exists(fs::symlink_status(target.path, error)))
            return false;
    }
    std::error_code error;
    fs::rename(temp, target.path, error);
    return !error;
#endif
}

bool writeFiles(const std::vector<std::string>& paths,
                const std::function<bool(const std::vector<std::ostream*>&)>& write,
                bool flushReplaced, bool replace) {
    std::vector<Target> targets;
    for (const std::string& path : paths)
        targets.push_back({utf8Path(path), {}});
    bool ok = true;
    for (Target& target : targets)
        ok = ok && prepare(target, flushReplaced);
    if (ok) {
        std::vector<FileBuffer> files(targets.size());
        std::vector<std::unique_ptr<std::ostream>> streams;
        std::vector<std::ostream*> pointers;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            ok = ok && open(files[i], targets[i]);
            streams.push_back(std::make_unique<std::ostream>(&files[i]));
            pointers.push_back(streams.back().get());
        }
        ok = ok && write(pointers);
        // All are closed whatever happened, and all must close cleanly.
        for (std::size_t i = 0; i < targets.size(); ++i)
            ok = close(files[i]) && !streams[i]->fail() && ok;
    }
    // A file that replaces another is on the disk before its rename, so that
    // a power cut leaves the old file or the whole new one, never an empty one.
    // A new file replaces nothing that could be lost.
    for (const Target& target : targets)
        ok = ok && (!target.replaces || flush(target.temp.path(), false));
    std::vector<LiveTemp*> temps;
    for (Target& target : targets)
        if (!target.temp.empty())
            temps.push_back(&target.temp);
    ok = ok && commitTemps(temps, [&] {
             for (std::size_t i = targets.size(); i-- > 0;)
                 if (!commit(targets[i], replace))
                     return false;
             return true;
         });
    if (!ok) {
        for (Target& target : targets)
            target.temp.remove();
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

} // namespace

bool replaceFiles(const std::vector<std::string>& paths,
                  const std::function<bool(const std::vector<std::ostream*>&)>& write,
                  bool flushReplaced) {
    return writeFiles(paths, write, flushReplaced, true);
}

bool createFile(const std::string& path, const std::function<bool(std::ostream&)>& write) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(utf8Path(path), error)))
        return false;
    return writeFiles(
        {path}, [&](const std::vector<std::ostream*>& streams) { return write(*streams[0]); },
        false, false);
}

} // namespace ulv
