// What the benchmarks share: their inputs, the best-of-N measurement of
// brackle against libyaml, brackle's peak heap (counted by a separate,
// untimed helper process), and the table.
//
// Inputs: generated config-like streams of 1, 10 and 64 MB (one seed, so the
// smaller are prefixes of the larger); every `in.yaml` of the YAML test suite;
// the YAML files in examples/. A multi-file input is held in one buffer and
// each file is run on its own (files end at errors on purpose, and a
// concatenation would not be one valid stream), the whole loop timed as one.
//
// Each measurement is repeated and the best time kept: the best is the run
// least disturbed by the rest of the machine. brackle and libyaml alternate,
// so a slow phase of the machine hits both alike. Sizes are in MB of 10^6
// bytes.
//
// Peak memory: counting the heap means replacing the global operator new,
// which would slow every allocation of the timed runs. So the timed binaries
// keep the standard one and ask brackle-bench-heap, which replaces it, to run
// brackle once over the same inputs; the peak is reported with the input
// itself, which brackle reads in place, as a multiple of the input size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/runs.hpp"

namespace brackle_bench {

namespace fs = std::filesystem;

inline constexpr double mb = 1e6;

struct Part {
    std::size_t offset;
    std::size_t size;
    std::string name;
};

struct Input {
    std::string name;
    std::string bytes;
    std::vector<Part> parts;  // run one by one
    bool generated = false;

    std::string_view part(const Part& p) const {
        return std::string_view(bytes).substr(p.offset, p.size);
    }
};

// The inputs, in table order. Missing directories are skipped, with a line on
// standard output when `report` is set.
std::vector<Input> standard_inputs(const fs::path& repo_root, bool report);

// `run` over every file of `in`.
RunResult run_all(const Input& in, RunFn run);

// A benchmark: what it runs, and how the table names it.
struct Bench {
    const char* program;      // for the usage line
    const char* items;        // "tokens" or "events"
    const char* activity;     // "scan" or "parse", for the footnotes
    const char* heap_mode;    // brackle-bench-heap's argument
    const char* heap_helper;  // brackle-bench-heap's path
    RunFn brackle;
    RunFn libyaml;
    bool same_items = true;  // both sides count the same kind of item
};

// The whole program: options (--reps N, --no-heap), inputs, measurement,
// table. Returns the exit status: 1 when a generated input stopped at an error.
int bench_main(int argc, char** argv, const Bench& bench, const fs::path& repo_root);

}  // namespace brackle_bench
