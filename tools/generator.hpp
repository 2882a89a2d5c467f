// The benchmark's input generator: deterministic, config-like YAML streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brackle_bench {

// splitmix64: a tiny generator whose output depends only on its seed, on every
// platform and standard library (std:: distributions differ between them).
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    // A value in [0, n): the top 32 bits scaled by multiplication, no division.
    std::uint32_t below(std::uint32_t n) {
        return static_cast<std::uint32_t>(((next() >> 32) * n) >> 32);
    }

    // A value in [lo, hi].
    int between(int lo, int hi) {
        return lo + static_cast<int>(below(static_cast<std::uint32_t>(hi - lo + 1)));
    }

    bool chance(unsigned percent) { return below(100) < percent; }

private:
    std::uint64_t state_;
};

// A config-like YAML stream of about `target_bytes` bytes. Whole documents are
// added until the target is reached, so the stream overshoots it by at most
// one document. The bytes depend only on the two arguments, and a smaller
// target with the same seed yields a prefix of a larger one.
std::string generate_config_stream(std::size_t target_bytes, std::uint64_t seed = 1);

}  // namespace brackle_bench
