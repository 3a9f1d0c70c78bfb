#include "batch/models.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include <algorithm>
#include <functional>
#include <system_error>
#include <utility>

#include "export/utf8_path.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

std::uint32_t offsetOf(std::size_t offset) { return static_cast<std::uint32_t>(offset); }

void addFile(std::vector<BatchModel>& models, const fs::directory_entry& entry,
             std::uint32_t mirroredFrom, bool sizes) {
    BatchModel& model = models.emplace_back();
    model.input = entry.path();
    model.mirroredFrom = mirroredFrom;
    if (sizes) {
        std::error_code error;
        const std::uintmax_t size = entry.file_size(error);
        model.size = error ? 0 : size;
    }
}

void addUnreadable(std::vector<BatchModel>& models, const fs::path& folder) {
    BatchModel& model = models.emplace_back();
    model.input = folder;
    model.unreadableFolder = true;
}

// Walks the tree with a list of folders still to list rather than by
// recursion, so that no depth of nesting can exhaust the stack.
void search(const fs::path& root, std::vector<BatchModel>& models, bool sizes) {
    // Where the part below the root starts in the paths of its entries.
    const std::uint32_t mirroredFrom = offsetOf((root / "x").native().size() - 1);
    std::vector<fs::path> folders{root};
    while (!folders.empty()) {
        const fs::path folder = std::move(folders.back());
        folders.pop_back();
        std::error_code error;
        fs::directory_iterator it(folder, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error)) {
            const fs::directory_entry& entry = *it;
            std::error_code ignored;
            const fs::file_status own = entry.symlink_status(ignored);
            if (fs::is_directory(own)) {
                folders.push_back(entry.path());
            } else if (fs::is_regular_file(own) ||
                       (fs::is_symlink(own) && fs::is_regular_file(entry.status(ignored)))) {
                if (hasModelExtension(entry.path()))
                    addFile(models, entry, mirroredFrom, sizes);
            }
        }
        // A folder that cannot be listed, or stops listing midway (it was
        // removed), fails on its own rather than silently giving fewer models.
        if (error)
            addUnreadable(models, folder);
    }
}

#ifdef _WIN32
// Names on Windows are compared without regard to case.
std::wstring collisionKey(const fs::path& output) {
    std::error_code error;
    std::wstring key = fs::absolute(output, error).lexically_normal().native();
    if (!key.empty())
        ::CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
    return key;
}
#else
std::string collisionKey(const fs::path& output) {
    std::error_code error;
    return fs::absolute(output, error).lexically_normal().native();
}
#endif

} // namespace

bool hasModelExtension(const fs::path& path) {
    const fs::path::string_type extension = path.extension().native();
    if (extension.size() != 4 || extension[0] != '.')
        return false;
    const auto lower = [](fs::path::value_type c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    return lower(extension[1]) == 'm' && lower(extension[2]) == 'o' && lower(extension[3]) == 'd';
}

std::vector<BatchModel> findModels(const std::vector<std::string>& paths, bool sizes) {
    std::vector<BatchModel> models;
    for (const std::string& text : paths) {
        const fs::path path = utf8Path(text);
        std::error_code error;
        if (fs::is_directory(fs::status(path, error))) {
            search(path, models, sizes);
        } else {
            const fs::directory_entry entry(path, error);
            addFile(models, entry, offsetOf(path.native().size() - path.filename().native().size()),
                    sizes);
        }
    }
    const auto byName = [](const BatchModel& a, const BatchModel& b) {
#ifdef _WIN32
        return nameOf(a) < nameOf(b);
#else
        return a.input.native() < b.input.native();
#endif
    };
    std::stable_sort(models.begin(), models.end(), byName);
    // A model named twice (a file and the folder that holds it, or one PATH
    // given twice) is converted once.
    const auto sameName = [](const BatchModel& a, const BatchModel& b) {
        return a.input.native() == b.input.native();
    };
    models.erase(std::unique(models.begin(), models.end(), sameName), models.end());
    return models;
}

std::string nameOf(const BatchModel& model) {
#ifdef _WIN32
    // One separator throughout, whichever the PATH was given with.
    return utf8Text(fs::path(model.input).make_preferred());
#else
    return utf8Text(model.input);
#endif
}

fs::path outputFor(const BatchModel& model, const std::optional<fs::path>& outputFolder,
                   const fs::path& extension) {
    fs::path output = outputFolder ? *outputFolder / model.input.native().substr(model.mirroredFrom)
                                   : model.input;
    output.replace_extension(extension);
    return output;
}

void findCollisions(std::vector<BatchModel>& models, const std::optional<fs::path>& outputFolder,
                    const fs::path& extension) {
    // Hashes of the outputs rather than the outputs themselves: for a large
    // folder only these are held at once, and only equal hashes are compared.
    using Key = decltype(collisionKey(fs::path()));
    std::vector<std::pair<std::size_t, std::uint32_t>> hashes;
    hashes.reserve(models.size());
    for (std::uint32_t i = 0; i < models.size(); ++i)
        if (!models[i].unreadableFolder)
            hashes.emplace_back(
                std::hash<Key>()(collisionKey(outputFor(models[i], outputFolder, extension))), i);
    std::sort(hashes.begin(), hashes.end());
    for (std::size_t first = 0; first < hashes.size();) {
        std::size_t end = first + 1;
        while (end < hashes.size() && hashes[end].first == hashes[first].first)
            ++end;
        // Each model in the run against the earliest one with the same output.
        for (std::size_t i = first + 1; i < end; ++i) {
            const std::uint32_t later = hashes[i].second;
            const Key key = collisionKey(outputFor(models[later], outputFolder, extension));
            for (std::size_t j = first; j < i; ++j) {
                const std::uint32_t earlier = hashes[j].second;
                if (models[earlier].collidesWith == noModel &&
                    collisionKey(outputFor(models[earlier], outputFolder, extension)) == key) {
                    models[later].collidesWith = earlier;
                    break;
                }
            }
        }
        first = end;
    }
}

} // namespace ulv
