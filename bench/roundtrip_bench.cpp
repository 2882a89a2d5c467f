// brackle-bench-roundtrip: brackle's round trip (whole documents loaded and
// emitted unchanged, checked to give back the input) against libyaml's
// parse-plus-emit (its events fed straight to its emitter) on the same bytes
// in the same run; inputs, measurement and table are those of
// bench_common.hpp. The table counts the bytes each side writes.
#include "bench/bench_common.hpp"

#ifndef BRACKLE_REPO_ROOT
#error "BRACKLE_REPO_ROOT must name the repository root"
#endif
#ifndef BRACKLE_BENCH_HEAP
#error "BRACKLE_BENCH_HEAP must name the brackle-bench-heap binary"
#endif

int main(int argc, char** argv) {
    const brackle_bench::Bench bench{
        "brackle-bench-roundtrip",
        "bytes out",
        "round trip",
        "roundtrip",
        BRACKLE_BENCH_HEAP,
        brackle_bench::roundtrip_brackle,
        brackle_bench::roundtrip_libyaml,
        false,
    };
    return brackle_bench::bench_main(argc, argv, bench, BRACKLE_REPO_ROOT);
}
