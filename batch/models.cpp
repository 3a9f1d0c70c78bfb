#include "batch/models.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <functional>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "convert/to_mod.h"
#include "platform/utf8_path.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;
using Text = fs::path::string_type;
using TextView = std::basic_string_view<fs::path::value_type>;

std::uint32_t offsetOf(std::size_t offset) { return static_cast<std::uint32_t>(offset); }

#ifdef _WIN32
// One separator throughout, whichever the PATH was given with, so that the
// same file given and found has one name.
Text withOneSeparator(Text text) {
    std::replace(text.begin(), text.end(), L'/', L'\\');
    return text;
}
#else
Text withOneSeparator(Text text) { return text; }
#endif

std::uint32_t addRoot(BatchList& list, const fs::path& root) {
    list.roots.push_back(withOneSeparator(root.native()));
    return offsetOf(list.roots.size() - 1);
}

BatchModel& add(BatchList& list, std::uint32_t root, const Text& part) {
    const Text text = withOneSeparator(part);
    constexpr std::size_t blockSize = 1 << 16;
    if (list.blocks.empty() || list.blocks.back().size() + text.size() > blockSize)
        list.blocks.emplace_back().reserve(std::max(blockSize, text.size()));
    Text& block = list.blocks.back();
    BatchModel& model = list.models.emplace_back();
    model.root = root;
    model.block = offsetOf(list.blocks.size() - 1);
    model.partAt = offsetOf(block.size());
    model.partLength = offsetOf(text.size());
    block += text;
    return model;
}

#ifdef _WIN32
// Names on Windows are compared without regard to case.
Text foldedKey(Text key) {
    if (!key.empty())
        ::CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
    return key;
}
#else
Text foldedKey(Text key) { return key; }
#endif

// What tells folders apart whatever the spelling that reached them: the
// path with links resolved.
Text folderKey(const fs::path& folder) {
    std::error_code error;
    fs::path resolved = fs::canonical(folder, error);
    if (error)
        resolved = fs::absolute(folder, error).lexically_normal();
    return foldedKey(withOneSeparator(resolved.native()));
}

// The folders given as PATHs, by key: roots that overlap share their models,
// each model going to the first root given that holds it.
struct FolderRoots {
    std::unordered_map<Text, std::size_t> order; // by key, the place among the PATHs
    std::vector<bool> covered;                   // searched as part of an earlier root
};

// Walks the tree with a list of folders still to list rather than by
// recursion, so that no depth of nesting can exhaust the stack. The folders
// below a root are real ones (links to folders are not followed), so their
// keys are the root's with their own part added.
void search(const fs::path& path, std::size_t place, FolderRoots& others, BatchList& list,
            BatchInputs inputs) {
    // The root with a separator at its end, as the paths of its entries have.
    const fs::path withSeparator = path / "x";
    const Text& text = withSeparator.native();
    const std::size_t rootLength = text.size() - 1;
    const std::uint32_t root = addRoot(list, text.substr(0, rootLength));
    Text rootKey;
    if (others.order.size() > 1) {
        rootKey = folderKey(path);
        if (rootKey.back() != fs::path::preferred_separator)
            rootKey += fs::path::preferred_separator;
    }
    std::vector<fs::path> folders{path};
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
                if (!rootKey.empty()) {
                    const Text part = withOneSeparator(entry.path().native().substr(rootLength));
                    const auto given = others.order.find(rootKey + foldedKey(part));
                    if (given != others.order.end() && given->second < place)
                        continue; // an earlier root holds it
                    if (given != others.order.end())
                        others.covered[given->second] = true;
                }
                folders.push_back(entry.path());
            } else if (fs::is_regular_file(own) ||
                       (fs::is_symlink(own) && fs::is_regular_file(entry.status(ignored)))) {
                if (isBatchInput(entry.path(), inputs))
                    add(list, root, entry.path().native().substr(rootLength));
            }
        }
        // A folder that cannot be listed, or stops listing midway (it was
        // removed), fails on its own rather than silently giving fewer models.
        if (error) {
            const Text& name = folder.native();
            add(list, root, name.size() > rootLength ? name.substr(rootLength) : Text())
                .collidesWith = unreadableFolder;
        }
    }
}

TextView rootOf(const BatchList& list, const BatchModel& model) { return list.roots[model.root]; }

TextView partOf(const BatchList& list, const BatchModel& model) {
    return TextView(list.blocks[model.block]).substr(model.partAt, model.partLength);
}

// Compares the texts a1 a2 and b1 b2, each made of two parts, without making them.
int compareJoined(TextView a1, TextView a2, TextView b1, TextView b2) {
    while (!a1.empty() || !a2.empty()) {
        if (a1.empty())
            std::swap(a1, a2);
        if (b1.empty()) {
            if (b2.empty())
                return 1;
            std::swap(b1, b2);
        }
        const std::size_t n = std::min(a1.size(), b1.size());
        if (const int c = a1.substr(0, n).compare(b1.substr(0, n)); c != 0)
            return c;
        a1.remove_prefix(n);
        b1.remove_prefix(n);
    }
    return b1.empty() && b2.empty() ? 0 : -1;
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
    Text text(rootOf(*this, model));
    text += partOf(*this, model);
    return fs::path(std::move(text));
}

std::string BatchList::nameOf(const BatchModel& model) const { return utf8Text(pathOf(model)); }

bool isBatchInput(const fs::path& path, BatchInputs inputs) {
    const fs::path suffix = path.extension();
    std::string extension;
    for (const fs::path::value_type c : suffix.native()) {
        using Unit = std::make_unsigned_t<fs::path::value_type>;
        const auto unit = static_cast<std::uint32_t>(static_cast<Unit>(c));
        extension += static_cast<char>(unit >= 'A' && unit <= 'Z' ? unit + 32
                                       : unit > 0x7F              ? '?'
                                                                  : unit);
    }
    if (inputs == BatchInputs::models)
        return extension == ".mod";
    return extension == ".glb" || extension == ".gltf";
}

BatchList findModels(const std::vector<std::string>& paths, BatchInputs inputs) {
    BatchList list;
    FolderRoots roots;
    std::vector<Text> keys(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::error_code error;
        const fs::path path = utf8Path(paths[i]);
        if (fs::is_directory(fs::status(path, error))) {
            keys[i] = folderKey(path);
            roots.order.try_emplace(keys[i], i);
        }
    }
    roots.covered.assign(paths.size(), false);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const fs::path path = utf8Path(paths[i]);
        std::error_code error;
        if (fs::is_directory(fs::status(path, error))) {
            // Given before, or searched through already as part of an earlier root.
            if (roots.order.at(keys[i]) == i && !roots.covered[i])
                search(path, i, roots, list, inputs);
        } else {
            const Text& name = path.native();
            const std::size_t folderLength = name.size() - path.filename().native().size();
            add(list, addRoot(list, name.substr(0, folderLength)), name.substr(folderLength));
        }
    }
    // Sorted in place: no second list of the models, however many there are.
    const auto compare = [&](const BatchModel& a, const BatchModel& b) {
#ifdef _WIN32
        // By UTF-8 bytes, which UTF-16 units do not always order alike.
        return list.nameOf(a).compare(list.nameOf(b));
#else
        return compareJoined(rootOf(list, a), partOf(list, a), rootOf(list, b), partOf(list, b));
#endif
    };
    const auto byName = [&](const BatchModel& a, const BatchModel& b) {
        const int order = compare(a, b);
        // The same file found more than once: the one given nearest (with
        // the longest root) first.
        return order < 0 || (order == 0 && rootOf(list, a).size() > rootOf(list, b).size());
    };
    std::sort(list.models.begin(), list.models.end(), byName);
    const auto sameName = [&](const BatchModel& a, const BatchModel& b) {
        return compareJoined(rootOf(list, a), partOf(list, a), rootOf(list, b), partOf(list, b)) ==
               0;
    };
    list.models.erase(std::unique(list.models.begin(), list.models.end(), sameName),
                      list.models.end());
    return list;
}

fs::path outputFor(const BatchList& list, const BatchModel& model,
                   const std::optional<fs::path>& outputFolder, const fs::path& extension) {
    fs::path output = outputFolder ? *outputFolder / Text(partOf(list, model)) : list.pathOf(model);
    output.replace_extension(extension);
    // A model file goes over the game's own, whatever the case of its name.
    if (extension == ".mod")
        output = existingCaseOf(output);
    return output;
}

void findCollisions(BatchList& list, const std::optional<fs::path>& outputFolder,
                    const fs::path& extension) {
    // Short hashes of the outputs rather than the outputs themselves: for a
    // large folder only these are held at once, and only models with equal
    // hashes are compared.
    std::deque<BatchModel>& models = list.models;
    const auto keyOf = [&](std::uint32_t i) {
        return collisionKey(outputFor(list, models[i], outputFolder, extension));
    };
    using Key = decltype(keyOf(0));
    std::vector<std::pair<std::uint32_t, std::uint32_t>> hashes;
    hashes.reserve(models.size());
    for (std::uint32_t i = 0; i < models.size(); ++i)
        if (!isUnreadableFolder(models[i]))
            hashes.emplace_back(static_cast<std::uint32_t>(std::hash<Key>()(keyOf(i))), i);
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
