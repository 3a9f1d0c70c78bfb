// What flushing a replaced file costs: the OBJ and MTL of a model written
// over earlier ones, with and without the flush before the rename,
// alternating, each after a sync(). Prints the median wall time of each and
// of their paired differences.
//   flush_cost MODEL OUT.obj RUNS
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "convert/outputs.h"
#include "mod/reader.h"
#include "obj/writer.h"
#include "platform/replace_files.h"
#include "platform/utf8_path.h"

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: flush_cost MODEL OUT.obj RUNS\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const ulv::Model model = ulv::readModel(in);
    const std::string output = argv[2];
    const std::vector<std::string> paths = ulv::filesOf(output);
    const std::string mtlName = ulv::utf8Text(ulv::utf8Path(paths[1]).filename());
    const auto write = [&](bool flush) {
        ::sync();
        const auto start = std::chrono::steady_clock::now();
        const bool ok = ulv::replaceFiles(
            paths,
            [&](const std::vector<std::ostream*>& streams) {
                return ulv::writeObj(model, *streams[0], *streams[1], mtlName);
            },
            flush);
        if (!ok) {
            std::fprintf(stderr, "cannot write %s\n", output.c_str());
            std::exit(1);
        }
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };
    write(true); // so that every timed run replaces files
    std::vector<double> without, with, differences;
    for (int run = 0; run < std::atoi(argv[3]); ++run) {
        without.push_back(write(false));
        with.push_back(write(true));
        differences.push_back(with.back() - without.back());
    }
    std::printf("without flush: median %.0f ms\n", median(without));
    std::printf("with flush:    median %.0f ms\n", median(with));
    std::printf("paired difference: median %.0f ms over %zu runs\n", median(differences),
                differences.size());
    return 0;
}
