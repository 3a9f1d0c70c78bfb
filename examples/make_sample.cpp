// Writes the bundled sample model: make_sample OUTPUT.mod
#include <cstdio>

#include "tests/support/model_builder.h"
#include "tests/support/sample_model.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_sample OUTPUT.mod\n", stderr);
        return 2;
    }
    const ulv::Bytes bytes = ulv::encodeModel(ulv::sampleModel());
    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
