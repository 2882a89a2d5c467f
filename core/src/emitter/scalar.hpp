// Scalars written from their value: which styles are legal for a text in a
// given place (with the reason when one is not), whether a plain text reads
// back as a string, the choice among the styles, and the writing of the five
// styles, folding at the width and escaping in double quotes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "brackle/document.hpp"

namespace brackle_core::emitter {

// What the place of a scalar contributes to its legality and layout.
struct ScalarContext {
    std::string_view line_break = "\n";
    std::uint64_t indent = 0;  // continuation lines and block scalar bodies
    std::uint64_t column = 0;  // where the first line begins, when right of `indent`
    std::uint64_t width = 0;   // 0: never fold
    std::uint64_t tail = 0;    // what follows on the last line (a flow item's comma or bracket)
    bool in_flow = false;
    bool is_key = false;
    bool allow_unicode = true;  // printable non-ASCII stays unescaped in double quotes
};

struct ScalarAnalysis {
    bool plain_ok = false;  // legal plain and reads back as a string
    bool single_ok = false;
    bool literal_ok = false;
    bool folded_ok = false;
};

// Each returns no reason when the style is legal, else a fixed message.
std::optional<std::string_view> plain_syntax_reason(std::string_view text, bool in_flow);
std::optional<std::string_view> single_syntax_reason(std::string_view text);
std::optional<std::string_view> block_syntax_reason(std::string_view text, const ScalarContext& ctx,
                                                    bool folded);

ScalarAnalysis analyze(std::string_view text, const ScalarContext& ctx);

// The number of LF characters at the end of `text`.
std::size_t trailing_breaks(std::string_view text);

// The style to write `value` in. `stored` is the node's style; the
// collection styles count as no preference.
NodeStyle choose_style(NodeStyle stored, std::string_view value, const ScalarContext& ctx,
                       bool preserve_quotes);

// How each character of a value becomes the text written for it (its atom).
enum class AtomMapping : std::uint8_t {
    Verbatim,      // plain and block styles: the character itself
    SingleQuoted,  // an apostrophe is doubled
    DoubleQuoted,  // escapes for breaks, controls, quotes and backslashes
};

// Appends the atoms of `text` to `out`, folding at `ctx.width` (never for a
// key): a single space between two non-blank atoms becomes a line break and
// the fold indentation once the running column has reached the width. No
// atom is ever split.
void write_atoms(std::string_view text, AtomMapping mapping, const ScalarContext& ctx,
                 std::string& out);

// The width of `value` written in `style` (a quoted or the plain style)
// up to the first space it may fold at, its quotes included: what must
// stand on the line where it begins.
std::uint64_t first_word_chars(std::string_view value, NodeStyle style, const ScalarContext& ctx);

// A style refused at write time, with the reason.
struct ScalarError {
    NodeStyle style;
    std::string_view reason;

    friend bool operator==(const ScalarError&, const ScalarError&) = default;
};

// The text of `value` written in `style`: plain as is; quoted styles with
// their quotes; block styles as the header followed, for each line, by the
// line break, the indentation and the line. The style's legality is checked
// first; double quotes hold any text. A collection style writes double quotes.
std::variant<std::string, ScalarError> write(std::string_view value, NodeStyle style,
                                             const ScalarContext& ctx);

// The same for a style that `choose_style` picked for `ctx`, and so found
// legal: the check is not made again.
std::string write_chosen(std::string_view value, NodeStyle style, const ScalarContext& ctx);

}  // namespace brackle_core::emitter
