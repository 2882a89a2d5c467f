// brackle-bench-heap scan|parse|load|roundtrip: runs brackle's scanner, parser, loader
// or round trip once over each benchmark input and prints, per input, the peak
// of the bytes held by operator new during the run, the items delivered, and
// the input's name. The timed benchmarks run it as a separate process, so that
// the counting operator new below never slows a timed run.
#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string_view>

#include "bench/bench_common.hpp"

#ifndef BRACKLE_REPO_ROOT
#error "BRACKLE_REPO_ROOT must name the repository root"
#endif

namespace {

// Counting is switched on only around the measured run.
bool heap_counting = false;
std::int64_t heap_current = 0;
std::int64_t heap_peak = 0;

void* counted_alloc(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    if (heap_counting) {
        heap_current += static_cast<std::int64_t>(malloc_usable_size(p));
        heap_peak = std::max(heap_peak, heap_current);
    }
    return p;
}

void counted_free(void* p) noexcept {
    if (p == nullptr) return;
    if (heap_counting) heap_current -= static_cast<std::int64_t>(malloc_usable_size(p));
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return counted_alloc(size); }
void* operator new[](std::size_t size) { return counted_alloc(size); }
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }

int main(int argc, char** argv) {
    std::string_view mode = argc == 2 ? argv[1] : "";
    brackle_bench::RunFn run = mode == "scan"        ? brackle_bench::scan_brackle
                               : mode == "parse"     ? brackle_bench::parse_brackle
                               : mode == "load"      ? brackle_bench::load_brackle
                               : mode == "roundtrip" ? brackle_bench::roundtrip_brackle
                                                     : nullptr;
    if (run == nullptr) {
        std::fprintf(stderr, "usage: brackle-bench-heap scan|parse|load|roundtrip\n");
        return 2;
    }
    for (const brackle_bench::Input& in :
         brackle_bench::standard_inputs(BRACKLE_REPO_ROOT, false)) {
        heap_current = 0;
        heap_peak = 0;
        heap_counting = true;
        brackle_bench::RunResult r = brackle_bench::run_all(in, run);
        heap_counting = false;
        std::printf("%lld %zu %s\n", static_cast<long long>(heap_peak), r.items, in.name.c_str());
    }
    return 0;
}
