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
#include <string_view>
#include <system_error>
#include <utility>

#include "export/utf8_path.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;
using Text = fs::path::string_type;
using TextView = std::basic_string_view<fs::path::value_type>;

std::uint32_t offsetOf(std::size_t offset) { return static_cast<std::uint32_t>(offset); }

BatchModel& add(BatchList& list, const fs::path& path, std::uint32_t mirroredFrom) {
    BatchModel& model = list.models.emplace_back();
    model.pathAt = list.paths.size();
    model.pathLength = offsetOf(path.native().size());
    model.mirroredFrom = mirroredFrom;
#ifdef _WIN32
    // One separator throughout, whichever the PATH was given with, so that
    // the same file given and found has one name.
    list.paths += fs::path(path).make_preferred().native();
#else
    list.paths += path.native();
#endif
    return model;
}

void addFile(BatchList& list, const fs::directory_entry& entry, std::uint32_t mirroredFrom,
             bool sizes) {
    BatchModel& model = add(list, entry.path(), mirroredFrom);
    if (sizes) {
        std::error_code error;
        const std::uintmax_t size = entry.file_size(error);
        model.size = error ? 0 : size;
    }
}

// Walks the tree with a list of folders still to list rather than by
// recursion, so that no depth of nesting can exhaust the stack.
void search(const fs::path& root, BatchList& list, bool sizes) {
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
                    addFile(list, entry, mirroredFrom, sizes);
            }
        }
        // A folder that cannot be listed, or stops listing midway (it was
        // removed), fails on its own rather than silently giving fewer models.
        if (error)
            add(list, folder, 0).unreadableFolder = true;
    }
}

TextView viewOf(const BatchList& list, const BatchModel& model) {
    return TextView(list.paths).substr(model.pathAt, model.pathLength);
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

fs::path BatchList::pathOf(const BatchModel& model) const {
    return fs::path(Text(viewOf(*this, model)));
}

std::string BatchList::nameOf(const BatchModel& model) const {
#ifdef _WIN32
    return utf8Text(pathOf(model));
#else
    return std::string(viewOf(*this, model));
#endif
}

bool hasModelExtension(const fs::path& path) {
    const Text extension = path.extension().native();
    if (extension.size() != 4 || extension[0] != '.')
        return false;
    const auto lower = [](fs::path::value_type c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    return lower(extension[1]) == 'm' && lower(extension[2]) == 'o' && lower(extension[3]) == 'd';
}

BatchList findModels(const std::vector<std::string>& paths, bool sizes) {
    BatchList list;
    for (const std::string& text : paths) {
        const fs::path path = utf8Path(text);
        std::error_code error;
        if (fs::is_directory(fs::status(path, error))) {
            search(path, list, sizes);
        } else {
            const fs::directory_entry entry(path, error);
            addFile(list, entry, offsetOf(path.native().size() - path.filename().native().size()),
                    sizes);
        }
    }
    // Sorted in place: no second list of the models, however many there are.
    const auto byName = [&](const BatchModel& a, const BatchModel& b) {
#ifdef _WIN32
        const std::string nameA = list.nameOf(a);
        const std::string nameB = list.nameOf(b);
#else
        const TextView nameA = viewOf(list, a);
        const TextView nameB = viewOf(list, b);
#endif
        // The same file found more than once: the one given nearest first.
        return nameA < nameB || (nameA == nameB && a.mirroredFrom > b.mirroredFrom);
    };
    std::sort(list.models.begin(), list.models.end(), byName);
    const auto sameName = [&](const BatchModel& a, const BatchModel& b) {
        return viewOf(list, a) == viewOf(list, b);
    };
    list.models.erase(std::unique(list.models.begin(), list.models.end(), sameName),
                      list.models.end());
    list.models.shrink_to_fit();
    return list;
}

fs::path outputFor(const BatchList& list, const BatchModel& model,
                   const std::optional<fs::path>& outputFolder, const fs::path& extension) {
    fs::path output = outputFolder
                          ? *outputFolder / Text(viewOf(list, model).substr(model.mirroredFrom))
                          : list.pathOf(model);
    output.replace_extension(extension);
    return output;
}

void findCollisions(BatchList& list, const std::optional<fs::path>& outputFolder,
                    const fs::path& extension) {
    // Hashes of the outputs rather than the outputs themselves: for a large
    // folder only these are held at once, and only equal hashes are compared.
    std::vector<BatchModel>& models = list.models;
    const auto keyOf = [&](std::uint32_t i) {
        return collisionKey(outputFor(list, models[i], outputFolder, extension));
    };
    using Key = decltype(keyOf(0));
    std::vector<std::pair<std::size_t, std::uint32_t>> hashes;
    hashes.reserve(models.size());
    for (std::uint32_t i = 0; i < models.size(); ++i)
        if (!models[i].unreadableFolder)
            hashes.emplace_back(std::hash<Key>()(keyOf(i)), i);
    std::sort(hashes.begin(), hashes.end());
    for (std::size_t first = 0; first < hashes.size();) {
        std::size_t end = first + 1;
        while (end < hashes.size() && hashes[end].first == hashes[first].first)
            ++end;
        // Each model in the run against the earliest one with the same output.
        for (std::size_t i = first + 1; i < end; ++i) {
            const std::uint32_t later = hashes[i].second;
            const Key key = keyOf(later);
            for (std::size_t j = first; j < i; ++j) {
                const std::uint32_t earlier = hashes[j].second;
                if (models[earlier].collidesWith == noModel && keyOf(earlier) == key) {
                    models[later].collidesWith = earlier;
                    break;
                }
            }
        }
        first = end;
    }
}

} // namespace ulv
