#include "obj/format.h"

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace {

// Positions in [-1000, 1000], normals in [-1, 1], texture coordinates in
// [0, 1], interleaved as a model's vertex lines are.
std::vector<float> coordinates() {
    std::mt19937 random(1);
    std::uniform_real_distribution<float> position(-1000.0f, 1000.0f);
    std::uniform_real_distribution<float> normal(-1.0f, 1.0f);
    std::uniform_real_distribution<float> texture(0.0f, 1.0f);
    std::vector<float> values;
    for (int k = 0; k < 4096; ++k) {
        for (int c = 0; c < 3; ++c) {
            values.push_back(position(random));
        }
        for (int c = 0; c < 3; ++c) {
            values.push_back(normal(random));
        }
        for (int c = 0; c < 2; ++c) {
            values.push_back(texture(random));
        }
    }
    return values;
}

// Face indices of a large model: mostly six and seven digits.
std::vector<std::uint32_t> indices() {
    std::mt19937 random(2);
    std::uniform_int_distribution<std::uint32_t> index(1, 3000000);
    std::vector<std::uint32_t> values(16384);
    for (std::uint32_t& value : values) {
        value = index(random);
    }
    return values;
}

template <class Format> void run(benchmark::State& state, const auto& values, Format format) {
    char buffer[64];
    for (auto _ : state) {
        for (const auto value : values) {
            char* end = format(buffer, value);
            benchmark::DoNotOptimize(end);
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}

void Fixed6_formatFixed6(benchmark::State& state) {
    run(state, coordinates(), [](char* out, float v) { return ulv::formatFixed6(out, v); });
}

void Fixed6_snprintf(benchmark::State& state) {
    run(state, coordinates(), [](char* out, float v) {
        return out + std::snprintf(out, 64, "%f", static_cast<double>(v));
    });
}

void Fixed6_toChars(benchmark::State& state) {
    run(state, coordinates(), [](char* out, float v) {
        return std::to_chars(out, out + 64, static_cast<double>(v), std::chars_format::fixed, 6)
            .ptr;
    });
}

void Uint_formatUint(benchmark::State& state) {
    run(state, indices(), [](char* out, std::uint32_t v) { return ulv::formatUint(out, v); });
}

void Uint_snprintf(benchmark::State& state) {
    run(state, indices(), [](char* out, std::uint32_t v) {
        return out + std::snprintf(out, 64, "%u", static_cast<unsigned>(v));
    });
}

void Uint_toChars(benchmark::State& state) {
    run(state, indices(),
        [](char* out, std::uint32_t v) { return std::to_chars(out, out + 64, v).ptr; });
}

BENCHMARK(Fixed6_formatFixed6);
BENCHMARK(Fixed6_snprintf);
BENCHMARK(Fixed6_toChars);
BENCHMARK(Uint_formatUint);
BENCHMARK(Uint_snprintf);
BENCHMARK(Uint_toChars);

} // namespace
