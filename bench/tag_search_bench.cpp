// The tag search over filler: bytes per second for filler that never holds a
// tag byte, and for filler made of the tag's first byte, which defeats a
// search that looks for that byte first.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "mod/input.h"
#include "model/model.h"

namespace {

std::vector<std::uint8_t> filler(std::size_t size, std::uint8_t value) {
    std::vector<std::uint8_t> bytes(size + 4, value);
    const std::uint8_t tag[4] = {0x48, 0x53, 0x45, 0x4D};
    std::memcpy(bytes.data() + size, tag, 4);
    return bytes;
}

void searchMemory(benchmark::State& state, std::uint8_t value) {
    const auto bytes = filler(std::size_t{64} << 20, value);
    for (auto _ : state) {
        ulv::InputBuffer input(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(ulv::findTag(input, ulv::MESH_TAG));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void searchStream(benchmark::State& state, std::uint8_t value) {
    const auto bytes = filler(std::size_t{64} << 20, value);
    std::istringstream stream(std::string(bytes.begin(), bytes.end()));
    for (auto _ : state) {
        stream.clear();
        stream.seekg(0);
        ulv::InputBuffer input(stream);
        benchmark::DoNotOptimize(ulv::findTag(input, ulv::MESH_TAG));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK_CAPTURE(searchMemory, zeros, std::uint8_t{0});
BENCHMARK_CAPTURE(searchMemory, firstTagByte, std::uint8_t{0x48});
BENCHMARK_CAPTURE(searchStream, zeros, std::uint8_t{0});
BENCHMARK_CAPTURE(searchStream, firstTagByte, std::uint8_t{0x48});

} // namespace
