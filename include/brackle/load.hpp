// Loading: a source text to documents, or the first error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "brackle/document.hpp"

namespace brackle_core {

// The error of a load: the scanner's or parser's message and mark, with the
// line counted from 0.
struct ParseError {
    std::string message;
    std::size_t index = 0;   // character index of the mark
    std::uint32_t line = 0;  // from 0
    std::uint32_t col = 0;
    bool internal = false;  // a broken invariant, not a fault of the input

    friend bool operator==(const ParseError&, const ParseError&) = default;
};

using LoadResult = std::variant<std::vector<Document>, ParseError>;

// Where each node's source text starts and ends, per document: the character
// indexes (counted after a leading byte-order mark) of node i's start and end
// at 2i and 2i + 1. An editor cuts and splices the source with them.
using NodeSpans = std::vector<std::vector<std::size_t>>;

namespace loader {
// Every document of `source`, in stream order, or the first error; with
// `spans`, also where each node stands (one list per document returned).
LoadResult parse(std::string_view source, NodeSpans* spans = nullptr);
}  // namespace loader

}  // namespace brackle_core
