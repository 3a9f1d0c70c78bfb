// Replacing output files safely: both files are written beside their targets
// under temporary names and renamed into place only when both are complete.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "export/obj_writer.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

struct Target {
    fs::path path; // where the file ends up
    fs::path temp; // empty when the target is written directly
};

fs::path createTemp(const fs::path& target) {
    std::random_device seed;
    std::mt19937 random(seed());
    // Keep the temporary name within the usual 255-byte limit.
    const std::string stem = target.filename().string().substr(0, 200);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path temp =
            target.parent_path() / ("." + stem + "." + std::to_string(random() % 1000000) + ".tmp");
        // 0666 less the umask, as a plain create gives; not mkstemp's 0600.
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return temp;
        }
        if (errno != EEXIST)
            break;
    }
    return {};
}

bool prepare(Target& target) {
    if (target.path.filename().empty())
        return false;
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
    target.temp = createTemp(target.path);
    return !target.temp.empty();
}

bool open(std::ofstream& stream, const Target& target) {
    // TextOut buffers; the stream passes its large writes straight through.
    stream.rdbuf()->pubsetbuf(nullptr, 0);
    stream.open(target.temp.empty() ? target.path : target.temp,
                std::ios::binary | std::ios::out | std::ios::trunc);
    return stream.is_open();
}

bool close(std::ofstream& stream) {
    if (!stream.is_open())
        return false;
    stream.close();
    return !stream.fail();
}

void discard(const Target& target) {
    std::error_code ignored;
    if (!target.temp.empty())
        fs::remove(target.temp, ignored);
}

bool commit(const Target& target) {
    std::error_code error;
    if (!target.temp.empty())
        fs::rename(target.temp, target.path, error);
    return !error;
}

} // namespace

bool writeObj(Model model, const std::string& outputPath) {
    const std::string mtlPath = mtlPathFor(outputPath);
    Target obj{outputPath, {}};
    Target mtl{mtlPath, {}};
    bool ok = prepare(obj) && prepare(mtl);
    if (ok) {
        std::ofstream objStream;
        std::ofstream mtlStream;
        ok = open(objStream, obj) && open(mtlStream, mtl);
        if (ok)
            ok = writeObj(std::move(model), objStream, mtlStream,
                          fs::path(mtlPath).filename().string());
        // Both are closed whatever happened, and both must close cleanly.
        const bool objClosed = close(objStream);
        const bool mtlClosed = close(mtlStream);
        ok = ok && objClosed && mtlClosed;
    }
    // The library goes first: an OBJ in place always finds its materials.
    ok = ok && commit(mtl) && commit(obj);
    if (!ok) {
        discard(obj);
        discard(mtl);
    }
    return ok;
}

} // namespace ulv
