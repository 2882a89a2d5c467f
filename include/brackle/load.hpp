// Loading: a source text to documents, or the first error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
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

// Where each node's source text starts and ends, per document: the byte
// offsets (counted after a leading byte-order mark) of node i's start and end
// at 2i and 2i + 1. An editor cuts and splices the source with them.
using NodeSpans = std::vector<std::vector<std::size_t>>;

// Where the documents of a source stand, and on request their nodes: what an
// editor that reloads one document at a time cuts the source with.
struct SourceSpans {
    // The character index (counted after a leading byte-order mark) where
    // each document's text begins: 0 for the first; for a later one, the
    // line after the previous document's content or `...`. The directive
    // lines, comments and blank lines between two documents go with the
    // later one, as the load attaches them, so each document's text loads
    // on its own as that one document.
    std::vector<std::size_t> document_starts;
    bool with_nodes = true;  // whether `nodes` is filled
    NodeSpans nodes;
};

namespace loader {
// Every document of `source`, in stream order, or the first error; with
// `spans`, also where each document (and each node) stands, one entry per
// document returned. The documents share one copy of the source, which
// their scalars' texts view.
LoadResult parse(std::string_view source, SourceSpans* spans = nullptr);

// The documents of `source` one at a time, in stream order, for a caller
// that holds one document at a time however long the stream is. A document
// from here has its nodes and its own trivia; the facts `parse` adds to the
// first document from the whole stream (the byte-order mark, the lines
// whose whitespace is kept) are left out unless `stream_facts` asks for
// them, as a writer of the stream needs them. The documents' scalar texts
// view `source` itself, so `source` must outlive the reader and every
// document it hands out.
class Reader {
public:
    explicit Reader(std::string_view source, bool stream_facts = false);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The next document; nothing at the stream's end or at an error (then
    // `error` holds it). The documents finished before an error come first.
    std::optional<Document> next();
    // Whether every document has been handed out (false at an error).
    bool at_end();
    const std::optional<ParseError>& error() const;

    // One read of the source; `parse` runs one to the end.
    struct Run;

private:
    bool read_ahead();

    std::unique_ptr<Run> run_;
    bool stream_facts_;
    bool first_ = true;
};
}  // namespace loader

}  // namespace brackle_core
