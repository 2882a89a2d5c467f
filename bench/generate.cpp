// brackle-gen SIZE_MB [SEED]: writes a deterministic config-like YAML stream
// of about SIZE_MB megabytes (10^6 bytes) to standard output.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/generator.hpp"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: brackle-gen SIZE_MB [SEED]\n");
        return 2;
    }
    char* end = nullptr;
    errno = 0;
    double mb = std::strtod(argv[1], &end);
    if (errno != 0 || end == argv[1] || *end != '\0' || !(mb >= 0) || mb > 4096) {
        std::fprintf(stderr, "brackle-gen: SIZE_MB must be a number from 0 to 4096\n");
        return 2;
    }
    std::uint64_t seed = 1;
    if (argc == 3) {
        errno = 0;
        seed = std::strtoull(argv[2], &end, 10);
        if (errno != 0 || end == argv[2] || *end != '\0') {
            std::fprintf(stderr, "brackle-gen: SEED must be an unsigned integer\n");
            return 2;
        }
    }
    std::string text =
        brackle_bench::generate_config_stream(static_cast<std::size_t>(mb * 1e6), seed);
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
        std::fprintf(stderr, "brackle-gen: write failed\n");
        return 1;
    }
    return 0;
}
