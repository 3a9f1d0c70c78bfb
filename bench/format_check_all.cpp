// Checks formatFixed6 against printf for every float bit pattern.
#include "obj/format.h"

#include <atomic>
#include <bit>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int threadCount = 2;
constexpr std::size_t reportedMismatches = 10;

struct Result {
    std::uint64_t checked = 0;
    std::uint64_t mismatches = 0;
    std::vector<std::uint32_t> firstMismatches;
};

void checkRange(std::uint64_t begin, std::uint64_t end, Result& result) {
    char expected[64];
    char actual[ulv::maxFixed6Length];
    for (std::uint64_t pattern = begin; pattern < end; ++pattern) {
        const auto bits = static_cast<std::uint32_t>(pattern);
        const float value = std::bit_cast<float>(bits);
        const int length =
            std::snprintf(expected, sizeof expected, "%f", static_cast<double>(value));
        const char* stop = ulv::formatFixed6(actual, value);
        ++result.checked;
        if (stop - actual != length ||
            std::memcmp(actual, expected, static_cast<std::size_t>(length)) != 0) {
            if (result.mismatches++ < reportedMismatches) {
                result.firstMismatches.push_back(bits);
            }
        }
    }
}

} // namespace

int main() {
    const auto start = std::chrono::steady_clock::now();
    constexpr std::uint64_t total = std::uint64_t{1} << 32;
    // Interleaved chunks, so that both threads get a share of the slow huge values.
    constexpr std::uint64_t chunk = std::uint64_t{1} << 20;
    std::atomic<std::uint64_t> next{0};
    Result results[threadCount];
    std::vector<std::thread> threads;
    for (Result& result : results) {
        threads.emplace_back([&] {
            for (std::uint64_t begin; (begin = next.fetch_add(chunk)) < total;) {
                checkRange(begin, begin + chunk, result);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    Result all;
    for (const Result& result : results) {
        all.checked += result.checked;
        all.mismatches += result.mismatches;
        all.firstMismatches.insert(all.firstMismatches.end(), result.firstMismatches.begin(),
                                   result.firstMismatches.end());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("checked %" PRIu64 " bit patterns, %" PRIu64 " mismatches, %.1f s on %d threads\n",
                all.checked, all.mismatches, seconds, threadCount);
    for (std::size_t k = 0; k < all.firstMismatches.size() && k < reportedMismatches; ++k) {
        const std::uint32_t bits = all.firstMismatches[k];
        char expected[64];
        char actual[ulv::maxFixed6Length];
        const float value = std::bit_cast<float>(bits);
        std::snprintf(expected, sizeof expected, "%f", static_cast<double>(value));
        const char* stop = ulv::formatFixed6(actual, value);
        std::printf("  0x%08" PRIx32 ": expected \"%s\", got \"%.*s\"\n", bits, expected,
                    static_cast<int>(stop - actual), actual);
    }
    return all.mismatches == 0 ? 0 : 1;
}
