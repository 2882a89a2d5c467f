// brackle-bench-parse: brackle's parser (Parser::next_event to StreamEnd)
// against libyaml's yaml_parser_parse (to its stream end) on the same bytes in
// the same run; inputs, measurement and table are those of bench_common.hpp.
#include "bench/bench_common.hpp"

#ifndef BRACKLE_REPO_ROOT
#error "BRACKLE_REPO_ROOT must name the repository root"
#endif
#ifndef BRACKLE_BENCH_HEAP
#error "BRACKLE_BENCH_HEAP must name the brackle-bench-heap binary"
#endif

int main(int argc, char** argv) {
    const brackle_bench::Bench bench{
        "brackle-bench-parse",
        "events",
        "parse",
        "parse",
        BRACKLE_BENCH_HEAP,
        brackle_bench::parse_brackle,
        brackle_bench::parse_libyaml,
    };
    return brackle_bench::bench_main(argc, argv, bench, BRACKLE_REPO_ROOT);
}
