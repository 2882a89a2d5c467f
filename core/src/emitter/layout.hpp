// The Writer: the emitter's only way to produce text. It decides where
// spaces and line breaks go. While the output still runs line for line in
// step with the source, it puts text back on its source line and column,
// repeats the source's own whitespace runs (tabs included) and restores
// whitespace that stood at the end of a source line; once out of step, it
// lays text out by indentation alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "brackle/document.hpp"

namespace brackle_core::emitter {

// Source lines whose whitespace the writer repeats, by line number.
using LineSpace = std::unordered_map<std::uint32_t, std::string>;

struct Writer {
    // The positional part of the state; a flow collection's second layout
    // attempt restores it after cutting `out` back.
    struct State {
        std::size_t out_size = 0;
        std::uint32_t line = 0;
        std::uint32_t column = 0;
        std::uint32_t pending = 0;
        std::uint32_t line_indent = 0;
        bool has_content = false;
        bool break_due = false;
        std::size_t after_question = 0;
    };

    // `line_break` ends every line, but, while in step, those of `others`.
    Writer(std::string_view line_break, const LineSpace* line_space,
           const OtherLineBreaks* others = nullptr);

    // Writes `text` at the current position, pending spaces first.
    void push(std::string_view text);
    // Moves the write position for what comes next: to source `line` and
    // `col` when `aligned` and still in step, else to `indent` on a new line
    // or one `space` further on the current one.
    void place(std::uint32_t at_line, std::uint32_t col, std::uint32_t indent, bool space,
               bool aligned);
    // Before a line break: the source line's trailing whitespace.
    void line_tail();
    // Repeats a stretch of source separation, its line breaks as they stood.
    void push_separation(std::string_view text);
    // Finishes the current line; an empty line is never ended twice.
    void end_line();
    // Writes one empty line after the current, ended one.
    void blank_line();
    // Moves right to column `col` by pending spaces.
    void pad_to(std::uint32_t col);
    // One separating space, counted as pending.
    void space() {
        ++column;
        ++pending;
    }

    State save() const {
        return {out.size(),  line,        column,    pending,
                line_indent, has_content, break_due, after_question};
    }
    void restore(const State& s);

    std::string out;
    std::string_view line_break;
    std::uint32_t line = 0;         // line breaks written so far
    std::uint32_t column = 0;       // in characters, pending spaces included
    std::uint32_t pending = 0;      // spaces counted in `column`, not yet in `out`
    std::uint32_t line_indent = 0;  // column of the current line's first text
    bool has_content = false;       // text was pushed since the last line break
    bool in_step = true;            // output lines still match source lines
    bool break_due = false;         // a comment ends the current line
    // The output's size just after the last `?` indicator: a `:` right
    // there would be text, not an indicator.
    std::size_t after_question = 0;
    // The output's size right after a block scalar that keeps its final line
    // breaks: blank lines written there would be read as its content.
    std::size_t kept_scalar_end = std::string::npos;

private:
    // The stored source text of the current line, when whitespace may be
    // repeated from it.
    const std::string* source_line() const;
    // The line break that ends the current line.
    std::string_view line_end() const;
    // Appends `text`, whose LFs stand for the source's own breaks: a
    // document read from a source with lone CRs holds an LF for each.
    void append(std::string_view text);
    // The break to write for a `written` one (LF, CR LF or CR) of a text
    // taken from the source: a lone LF where the line ended in a lone CR is
    // that CR again.
    std::string_view source_break(std::string_view written) const;

    const OtherLineBreaks* others_;
    mutable std::size_t others_cursor_ = 0;
    bool lf_may_be_cr_;  // some line ends in a lone CR: an LF of the text may stand for it

    // The source lines to repeat whitespace from, by line number. Lines are
    // asked for in rising order but for a flow collection's second attempt,
    // so a cursor walks them.
    std::vector<std::pair<std::uint32_t, const std::string*>> source_lines_;
    mutable std::size_t cursor_ = 0;  // the first entry at or after the line asked last
    void next_line();
    void advance(std::string_view text);
};

}  // namespace brackle_core::emitter
