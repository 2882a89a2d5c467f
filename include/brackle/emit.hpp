// Emitting: documents and options to one YAML stream, or the first error.
// Whatever a document still holds verbatim comes back as it was; the rest is
// laid out from the options.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "brackle/document.hpp"
#include "brackle/load.hpp"

namespace brackle_core {

struct EmitOptions {
    std::uint64_t map_indent = 2;  // above 32 bits: 2
    std::uint64_t seq_indent = 2;  // above 32 bits: 2
    std::uint64_t seq_offset = 0;  // above 32 bits: 0
    std::uint64_t width = 80;      // fold width, and the limit of a one-line flow collection
    // 0: the documents' own line break (`Document::line_break`), or for documents
    // that know none LF, or CR LF when any scalar's raw text holds a CR;
    // 1: LF; 2: CR LF; 3: CR.
    std::uint8_t line_break = 0;
    std::optional<bool> explicit_start;      // overrides each document's own
    std::optional<bool> explicit_end;        // overrides each document's own
    std::optional<bool> default_flow_style;  // every collection flow (true) or block (false)
    bool preserve_quotes = false;
    bool allow_unicode = true;
};

// Why an emission stopped: a scalar style that cannot hold its value where it
// stands (`style` set), or a tree the emitter cannot walk.
struct EmitError {
    std::optional<NodeStyle> style;
    std::string reason;

    // The text the caller reports.
    std::string message() const;
    friend bool operator==(const EmitError&, const EmitError&) = default;
};

using EmitResult = std::variant<std::string, EmitError>;
using RoundTripResult = std::variant<std::string, ParseError, EmitError>;

namespace emitter {

// The stream text of `documents`, or the first error.
EmitResult emit(std::span<const Document> documents, const EmitOptions& options);

// The text of `source` loaded and written back from `options`: what `emit`
// gives for the documents `loader::parse` gives, or the load's error; but
// each document is written as soon as it is loaded and let go then, so the
// stream is held one document at a time besides its text and the output.
RoundTripResult round_trip(std::string_view source, const EmitOptions& options);

// The longest run of blank lines a text laid out anew keeps.
inline constexpr std::uint32_t max_blank_lines = 2;

// The documents loaded from `source` laid out anew from `options`: every
// node written from its value, quoting and scalar styles kept where the
// options allow; each comment kept in its order, an end-of-line comment on
// its node's line and one on a line of its own placed relative to its node;
// the blank lines between entries kept, each run cut to `max_blank_lines`.
// Every line ends in the options' line break, LF for the documents' own.
EmitResult relayout(std::vector<Document> documents, std::string_view source,
                    const EmitOptions& options);

// The text of a tag as it is written.
std::string render_tag(const NodeTag& tag);

}  // namespace emitter
}  // namespace brackle_core
