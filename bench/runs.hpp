// The loops the benchmarks time: brackle and libyaml over one text, each
// until its stream end or its first error.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brackle_bench {

// What runs over the files of one input found.
struct RunResult {
    std::size_t items = 0;     // tokens, events or nodes delivered (the stream end included)
    std::size_t comments = 0;  // brackle's comment tokens or events (libyaml has none)
    std::size_t errors = 0;    // files that stopped at an error
    // The first error: its message, its file and its position (line from 1).
    std::string first_error;
    std::size_t error_part = 0;
    std::size_t error_line = 0;
    std::size_t error_col = 0;

    bool same_counts(const RunResult& o) const {
        return items == o.items && comments == o.comments && errors == o.errors;
    }
};

// One run over `text`, the file numbered `part`, adding to `r`.
using RunFn = void (*)(std::string_view text, std::size_t part, RunResult& r);

// brackle's Scanner::next_token and libyaml's yaml_parser_scan, to the stream end.
void scan_brackle(std::string_view text, std::size_t part, RunResult& r);
void scan_libyaml(std::string_view text, std::size_t part, RunResult& r);

// brackle's Parser::next_event and libyaml's yaml_parser_parse, to the stream end.
void parse_brackle(std::string_view text, std::size_t part, RunResult& r);
void parse_libyaml(std::string_view text, std::size_t part, RunResult& r);

// brackle's whole load (documents with every node, trivia and position);
// counts nodes. Compared with libyaml's events, which build nothing.
void load_brackle(std::string_view text, std::size_t part, RunResult& r);

// The round trip: brackle's load and emit with default options, and
// libyaml's events fed straight to its emitter; both count the bytes they
// write. brackle's output must be the input itself: a difference counts as
// an error.
void roundtrip_brackle(std::string_view text, std::size_t part, RunResult& r);
void roundtrip_libyaml(std::string_view text, std::size_t part, RunResult& r);

}  // namespace brackle_bench
