#include "convert/to_mod.h"

#include <filesystem>
#include <ostream>

#include "platform/files.h"
#include "platform/replace_files.h"
#include "platform/utf8_path.h"
#include "texture/find.h"

namespace ulv {

namespace fs = std::filesystem;

std::optional<TemplateFile> templateAt(const std::string& path) {
    std::string why;
    // A model file is read whole; one this large is no template anyone has.
    constexpr std::uintmax_t maxSize = std::uintmax_t{1} << 32;
    std::optional<std::vector<std::uint8_t>> bytes = readPlainFile(utf8Path(path), maxSize, why);
    if (!bytes)
        return std::nullopt;
    return readTemplate(std::move(*bytes));
}

fs::path existingCaseOf(const fs::path& wanted) {
    const fs::path folder = wanted.parent_path();
    const FolderNames listed(namesIn(folder.empty() ? fs::path(".") : folder));
    const std::optional<std::string> found = listed.match(utf8Text(wanted.filename()));
    return found ? folder / utf8Path(*found) : wanted;
}

Reuse reuseOf(const Model& model, const Model& templ) {
    Reuse reuse;
    for (std::size_t i = 0; i < model.meshes.size(); ++i) {
        const Mesh& mesh = model.meshes[i];
        std::vector<Reuse::Place>& places = reuse.sections.emplace_back();
        if (i >= templ.meshes.size()) {
            reuse.meshes.push_back(Reuse::none);
            places.resize(mesh.sections.size());
            reuse.added += mesh.sections.size();
            continue;
        }
        reuse.meshes.push_back(static_cast<std::int64_t>(i));
        const Mesh& old = templ.meshes[i];
        for (std::size_t j = 0; j < mesh.sections.size(); ++j) {
            if (j >= old.sections.size()) {
                places.emplace_back();
                ++reuse.added;
                continue;
            }
            Bytes a, b;
            appendSection(a, mesh.sections[j]);
            appendSection(b, old.sections[j]);
            places.push_back({static_cast<std::int64_t>(j), a == b});
            ++(a == b ? reuse.kept : reuse.changed);
        }
        if (old.sections.size() > mesh.sections.size())
            reuse.dropped += old.sections.size() - mesh.sections.size();
    }
    for (std::size_t i = model.meshes.size(); i < templ.meshes.size(); ++i)
        reuse.dropped += templ.meshes[i].sections.size();
    return reuse;
}

std::string sectionCounts(const Reuse& reuse) {
    return "Sections: " + std::to_string(reuse.kept) + " kept, " + std::to_string(reuse.changed) +
           " changed, " + std::to_string(reuse.added) + " added, " + std::to_string(reuse.dropped) +
           " dropped";
}

bool writeModelFile(const Model& model, const Reuse& reuse, const TemplateFile* templ,
                    const std::string& path, const SideFiles& sideFiles, Notes& notes) {
    std::vector<std::string> paths{path};
    for (std::string& side : sidePaths(path, sideFiles))
        paths.push_back(std::move(side));
    return replaceFiles(paths, [&](const std::vector<std::ostream*>& streams) {
        bool ok = true;
        if (templ) {
            bool betweenKept = true;
            const Bytes bytes = writeOver(model, reuse, *templ, betweenKept);
            if (!betweenKept)
                notes.push_back("The bytes between the template's blocks were left out: kept, "
                                "they would have been read as blocks of their own");
            ok = bool(streams[0]->write(reinterpret_cast<const char*>(bytes.data()),
                                        static_cast<std::streamsize>(bytes.size())));
            ok = ok && bool(streams[0]->flush());
        } else {
            ok = writeModel(model, *streams[0]);
        }
        for (std::size_t k = 0; k < sideFiles.size(); ++k) {
            const Bytes& bytes = sideFiles[k].second;
            ok = ok && bool(streams[k + 1]->write(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<std::streamsize>(bytes.size())));
            ok = ok && bool(streams[k + 1]->flush());
        }
        return ok;
    });
}

} // namespace ulv
