// Literal (`|`) and folded (`>`) block scalars: the header with its chomping
// and indentation indicators, content indentation, folding and chomping.
#include <algorithm>

#include "scanner/src/scanner.hpp"

namespace brackle_scanner {

namespace {

enum class Chomping : std::uint8_t { Strip, Clip, Keep };

Chomping chomping_of(char32_t c) { return c == U'-' ? Chomping::Strip : Chomping::Keep; }

}  // namespace

bool Scanner::fetch_block_scalar(bool literal) {
    save_simple_key();
    simple_key_allowed_ = true;
    const SourceMark indicator = mark_;
    skip_char();
    unroll_one_col_indents();

    // Header: chomping and indentation indicators, in either order.
    Chomping chomping = Chomping::Clip;
    std::ptrdiff_t increment = 0;
    const char* zero_indicator =
        "while scanning a block scalar, found an indentation indicator equal to 0";
    if (ch() == U'+' || ch() == U'-') {
        chomping = chomping_of(ch());
        skip_char();
        if (is_digit(ch())) {
            if (ch() == U'0') return fail(indicator, zero_indicator);
            increment = ch() - U'0';
            skip_char();
        }
    } else if (is_digit(ch())) {
        if (ch() == U'0') return fail(indicator, zero_indicator);
        increment = ch() - U'0';
        skip_char();
        if (ch() == U'+' || ch() == U'-') {
            chomping = chomping_of(ch());
            skip_char();
        }
    }
    if (!skip_ws_to_eol(true)) return false;
    bool header_break = false;
    if (!at_endz()) {
        if (!is_break(ch())) {
            return fail(
                indicator,
                "while scanning a block scalar, did not find expected comment or line break");
        }
        skip_linebreak();
        header_break = true;
    }
    if (input_.byte_at(0) == '\t')
        return fail(indicator, "a block scalar content cannot start with a tab");

    // Content indentation: given, or the deepest of the leading empty lines
    // and the first content line.
    std::size_t trailing = 0;  // line feeds of empty lines since the last content line
    std::ptrdiff_t width = 0;
    if (increment > 0) {
        width = indent_ < 0 ? increment : indent_ + increment;
        skip_block_scalar_indent(width, trailing);
    } else {
        std::ptrdiff_t deepest = 0;
        for (;;) {
            skip_spaces();
            deepest = std::max(deepest, column());
            if (!is_break(ch())) break;
            skip_linebreak();
            ++trailing;
        }
        width = std::max(deepest, indent_ + 1);
    }

    // A header comment comes before the scalar; the value is then built in
    // its queue slot, as nothing else is queued meanwhile.
    flush_pending_comments();
    Token& token = push_token(TokenType::Scalar, Span::empty_at(indicator));
    token.style = literal ? ScalarStyle::Literal : ScalarStyle::Folded;
    std::string& value = token.value;
    if (at_endz()) {
        // No content lines.
        if (chomping != Chomping::Strip && (header_break || trailing > 0)) {
            if (chomping == Chomping::Keep && trailing > 0) {
                value.assign(trailing, '\n');
            } else {
                value += '\n';
            }
        }
    } else {
        if (column() < width && column() > indent_) {
            return fail(mark_, "wrongly indented line in block scalar");
        }
        token.span.start = mark_;
        bool leading_break = false;
        bool previous_more_indented = false;
        bool content_at_end = false;  // the text ends on a content line
        while (column() == width && !at_endz()) {
            if (width == 0 && input_.byte_at(0) == '.' && input_.next_is_document_indicator())
                break;
            const bool more_indented = is_blank(ch());
            if (!literal && leading_break && !previous_more_indented && !more_indented) {
                if (trailing == 0) {
                    value += ' ';
                } else {
                    value.append(trailing, '\n');
                }
            } else {
                if (leading_break) value += '\n';
                value.append(trailing, '\n');
            }
            leading_break = false;
            trailing = 0;
            previous_more_indented = more_indented;

            take_run(input_.run_until(byte_class::break_or_nul), value);

            if (at_endz()) {
                content_at_end = true;
                break;
            }
            skip_linebreak();
            leading_break = true;
            skip_block_scalar_indent(width, trailing);
        }
        // Chomping. The end of the text reads as a final line break: of the
        // last content line when it ends there, else of a last line of
        // blanks no deeper than the content, which is an empty line.
        const bool empty_last_line = at_endz() && !content_at_end && leading_break && column() > 0;
        if (chomping != Chomping::Strip) {
            if (leading_break) value += '\n';
            if (content_at_end) value += '\n';
            if (chomping == Chomping::Keep)
                value.append(trailing + (empty_last_line ? 1 : 0), '\n');
        }
    }

    token.span.end = mark_;
    return true;
}

// Consumes indentation up to the content column and the empty lines that
// stand before the next line with content. Tabs are never indentation.
void Scanner::skip_block_scalar_indent(std::ptrdiff_t width, std::size_t& trailing_breaks) {
    for (;;) {
        std::size_t spaces = 0;
        while (column() + static_cast<std::ptrdiff_t>(spaces) < width &&
               input_.byte_at(spaces) == ' ')
            ++spaces;
        advance(spaces, spaces);
        if (!is_break(ch())) return;
        skip_linebreak();
        ++trailing_breaks;
    }
}

}  // namespace brackle_scanner
