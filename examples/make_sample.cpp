// Writes the bundled sample model, and its textures beside it:
//   make_sample OUTPUT.mod
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/bmp_builder.h"
#include "tests/support/model_builder.h"
#include "tests/support/sample_model.h"

namespace {

bool writeFile(const std::string& path, const ulv::Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::perror(path.c_str());
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(path.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_sample OUTPUT.mod\n", stderr);
        return 2;
    }
    if (!writeFile(argv[1], ulv::encodeModel(ulv::sampleModel())))
        return 1;
    const std::filesystem::path folder = std::filesystem::path(argv[1]).parent_path();
    for (const auto& [name, bytes] : ulv::sampleTextures())
        if (!writeFile((folder / name).string(), bytes))
            return 1;
    return 0;
}
