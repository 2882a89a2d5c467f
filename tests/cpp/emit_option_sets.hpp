// The emit options that break a document's alignment with its source, one
// at a time: what the re-reading tests and the round-trip fuzz target emit
// with. Their names are the suffixes of the `reread-NAME` checks.
#pragma once

#include <vector>

#include "core/src/emitter/emitter.hpp"

namespace brackle_test {

struct NamedOptions {
    const char* name;
    brackle_core::EmitOptions options;
};

inline std::vector<NamedOptions> alignment_breaking_options() {
    std::vector<NamedOptions> sets(5);
    sets[0].name = "explicit-start";
    sets[0].options.explicit_start = true;
    sets[1].name = "flow";
    sets[1].options.default_flow_style = true;
    sets[2].name = "width";
    sets[2].options.width = 20;
    sets[3].name = "seq-indent";
    sets[3].options.seq_indent = 4;
    sets[3].options.seq_offset = 2;
    sets[4].name = "crlf";
    sets[4].options.line_break = 2;
    return sets;
}

}  // namespace brackle_test
