#include "convert/copy_textures.h"

#include <optional>
#include <set>

#include "convert/texture_folders.h"
#include "platform/files.h"
#include "platform/interrupt.h"
#include "platform/replace_files.h"
#include "platform/utf8_path.h"
#include "texture/find.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t maxCopySize = std::uintmax_t{1} << 30;

// The file name the library spells: its bytes on Linux, where a name is
// bytes; on Windows, where a name is Unicode, the 8-bit name read as Latin-1.
std::string libraryName(const std::string& material) {
#ifdef _WIN32
    return textureNameOf(material);
#else
    return material + ".BMP";
#endif
}

// Puts `source` at `target` unless something is there; "" when the target
// then holds the texture, otherwise why not.
std::string place(const fs::path& source, const fs::path& target) {
    std::error_code error;
    std::string why;
    if (fs::exists(fs::symlink_status(target, error))) {
        if (fs::equivalent(source, target, error))
            return "";
        const auto wanted = readPlainFile(source, maxCopySize, why);
        if (!wanted)
            return why;
        const auto there = readPlainFile(target, maxCopySize, why);
        if (there && *there == *wanted)
            return "";
        return utf8Text(target) + " is a different file";
    }
    const auto bytes = readPlainFile(source, maxCopySize, why);
    if (!bytes)
        return why;
    const bool written = createFile(utf8Text(target), [&](std::ostream& out) {
        out.write(reinterpret_cast<const char*>(bytes->data()),
                  static_cast<std::streamsize>(bytes->size()));
        return static_cast<bool>(out);
    });
    if (written)
        return "";
    // Made meanwhile by someone else: the same texture is as good.
    const auto there = readPlainFile(target, maxCopySize, why);
    if (there && *there == *bytes)
        return "";
    return "unable to write " + utf8Text(target);
}

} // namespace

void TextureCopies::copy(const std::vector<std::string>& materials,
                         const std::vector<std::string>& folders, const fs::path& objFolder,
                         Notes& notes, std::vector<std::string>& missing) {
    TextureFolders lookup(folders);
    std::set<std::string> seen;
    for (const std::string& material : materials) {
        if (material.empty() || !seen.insert(material).second)
            continue;
        const std::optional<fs::path> source = lookup.find(material);
        if (!source) {
            missing.push_back(printable(textureNameOf(material)));
            continue;
        }
        const fs::path target = (objFolder.empty() ? fs::path(".") : objFolder).lexically_normal() /
                                utf8Path(libraryName(material));
        {
            std::unique_lock lock(mutex_);
            done_.wait(lock, [&] {
                const auto found = copied_.find(target);
                return found == copied_.end() || !found->second.busy;
            });
            const auto [entry, added] = copied_.try_emplace(target);
            // Once per folder: this very file was copied there, or found in
            // the way and said so, already.
            if (!added && entry->second.source == *source)
                continue;
            entry->second.busy = true;
        }
        const std::string why = place(*source, target);
        {
            const std::lock_guard lock(mutex_);
            Copied& entry = copied_[target];
            entry.busy = false;
            entry.source = *source;
        }
        done_.notify_all();
        if (!why.empty() && !interrupted())
            notes.push_back("Texture " + printable(textureNameOf(material)) +
                            " not copied: " + printable(why));
    }
}

} // namespace ulv
