// brackle-bench-load: brackle's whole load (loader::parse: documents with
// every node, trivia and position) against libyaml's yaml_parser_parse (events
// only, nothing built) on the same bytes in the same run; inputs, measurement
// and table are those of bench_common.hpp. The table counts brackle's nodes.
#include "bench/bench_common.hpp"

#ifndef BRACKLE_REPO_ROOT
#error "BRACKLE_REPO_ROOT must name the repository root"
#endif
#ifndef BRACKLE_BENCH_HEAP
#error "BRACKLE_BENCH_HEAP must name the brackle-bench-heap binary"
#endif

int main(int argc, char** argv) {
    const brackle_bench::Bench bench{
        "brackle-bench-load",
        "nodes",
        "load",
        "load",
        BRACKLE_BENCH_HEAP,
        brackle_bench::load_brackle,
        brackle_bench::parse_libyaml,
        false,
    };
    return brackle_bench::bench_main(argc, argv, bench, BRACKLE_REPO_ROOT);
}
