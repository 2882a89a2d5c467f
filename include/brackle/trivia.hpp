// Trivia: the comments and blank lines of a document, attached to the nodes
// and documents around which they stood.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace brackle_core {

// A comment as written, beginning with its `#`.
struct Comment {
    std::string text;
    std::uint32_t col = 0;  // the column of the `#`
    bool own_line = false;  // it stood on a line of its own

    friend bool operator==(const Comment&, const Comment&) = default;
};

// A run of consecutive empty lines; never 0 of them.
struct Blank {
    std::uint32_t blank_lines = 1;

    friend bool operator==(const Blank&, const Blank&) = default;
};

// One comment or one run of blank lines.
using Trivia = std::variant<Comment, Blank>;

inline bool is_comment(const Trivia& t) { return std::holds_alternative<Comment>(t); }
inline bool is_own_line_comment(const Trivia& t) {
    const Comment* c = std::get_if<Comment>(&t);
    return c && c->own_line;
}

// The four trivia slots of a node.
struct Trivia4 {
    std::vector<Trivia> before;  // on the lines before the node
    std::optional<Trivia> eol;   // at the end of the node's line (a block scalar's header line)
    std::vector<Trivia> inner;   // inside a collection, written before its first child
    std::vector<Trivia> after;   // after the node

    bool empty() const { return before.empty() && !eol && inner.empty() && after.empty(); }
    friend bool operator==(const Trivia4&, const Trivia4&) = default;
};

}  // namespace brackle_core
