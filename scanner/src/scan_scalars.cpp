// Plain, single-quoted and double-quoted scalars: where each ends, how line
// breaks and blanks inside fold into the value, and double-quoted escapes.
#include "scanner/src/scanner.hpp"

namespace brackle_scanner {

// A run crossing no break keeps its blanks; one break folds to a space; n
// breaks fold to n-1 line feeds. After an escaped break only the later
// breaks count.
void Scanner::Folding::fold_into(std::string& value) {
    if (!crossed) {
        value.append(blanks, blank_count);
    } else if (!leading || trailing > 0) {
        value.append(trailing, '\n');
    } else {
        value += ' ';
    }
    blank_count = 0;
    crossed = leading = false;
    trailing = 0;
}

bool Scanner::fetch_plain_scalar() {
    save_simple_key();
    simple_key_allowed_ = false;
    unroll_one_col_indents();
    const SourceMark start = mark_;
    // Inside flow collections a plain scalar left of its block's content
    // column has already failed with "invalid indentation": the column check
    // before every token counts the extra column that `:`, `-` and `[` `{`
    // reserve, which is exactly where YAML wants flow content to stand.
    const bool flow = flow_level_ > 0;

    // The value is built in its queue slot; nothing else is queued meanwhile.
    Token& token = push_token(TokenType::Scalar, Span::empty_at(start));
    std::string& value = token.value;
    Folding fold;
    SourceMark end = start;
    for (;;) {
        if (at_endz()) break;
        if (mark_.col == 0 && input_.next_is_document_indicator()) break;
        const char32_t c = ch();
        if (c == U'#') break;
        const char32_t n = peek_nth(1);
        if (flow && c == U'-' && is_flow(n)) {
            return fail(mark_, "plain scalar cannot start with '-' followed by ,[]{}");
        }
        const bool may_start =
            c == U':' ? !is_blank_or_breakz(n) && !(flow && is_flow(n)) : !(flow && is_flow(c));
        if (!may_start) break;
        fold.fold_into(value);
        line_start_ = false;
        scan_plain_word(value);
        end = mark_;
        const unsigned char b = input_.byte_at(0);
        if (b != ' ' && b != '\t' && b != '\n' && b != '\r') break;
        if (!scan_plain_gap(fold, start)) return false;
        if (!flow && column() < indent_ + 1) break;
    }
    if (!flow && !value.empty() && fold.blank_count > 0 && ch() == U'#') comment_intercept_ = mark_;
    if (line_start_) simple_key_allowed_ = true;
    if (value.empty()) return fail(start, "unexpected end of plain scalar");
    token.span.end = end;
    return true;
}

// Appends one word: characters up to a blank, a break, NUL, a `:` followed
// by whitespace and, inside flow collections, a flow indicator or a `:`
// followed by one. Blanks followed on the same line by the start of another
// word fold to themselves, so such words are taken in the same run.
void Scanner::scan_plain_word(std::string& value) {
    const bool flow = flow_level_ > 0;
    const std::uint8_t stop = byte_class::break_or_nul | byte_class::blank | byte_class::colon |
                              (flow ? byte_class::flow : 0);
    StrInput::Run run{0, 0};
    for (;;) {
        const StrInput::Run part = input_.run_until(stop, run.bytes);
        run.bytes = part.bytes;
        run.chars += part.chars;
        const unsigned char b = input_.byte_at(run.bytes);
        if (b == ':') {
            const unsigned char next = input_.byte_at(run.bytes + 1);
            if (is_blank_or_breakz(next) || (flow && is_flow(next))) break;
            ++run.bytes;  // a `:` inside the word
            ++run.chars;
            continue;
        }
        if (b != ' ' && b != '\t') break;
        std::size_t blanks = 1;
        while (is_blank(input_.byte_at(run.bytes + blanks))) ++blanks;
        if (!starts_plain_word(run.bytes + blanks)) break;
        run.bytes += blanks;
        run.chars += blanks;
    }
    take_run(run, value);
}

// Whether a word may start `offset` bytes past the cursor on the current line
// without any of the checks that the word loop makes at a word's start.
bool Scanner::starts_plain_word(std::size_t offset) const {
    const bool flow = flow_level_ > 0;
    const unsigned char c = input_.byte_at(offset);
    if (c >= 0x80) return true;
    if ((byte_classes[c] & (byte_class::break_or_nul | byte_class::blank)) || c == '#')
        return false;
    const unsigned char next = input_.byte_at(offset + 1);
    if (flow && (is_flow(c) || (c == '-' && is_flow(next)))) return false;
    return c != ':' || !(is_blank_or_breakz(next) || (flow && is_flow(next)));
}

// Consumes the blanks and breaks after a word, recording what they fold to.
bool Scanner::scan_plain_gap(Folding& fold, SourceMark start) {
    for (;;) {
        const unsigned char b = input_.byte_at(0);
        if (b == ' ' || b == '\t') {
            if (!fold.crossed) {
                fold.add_blank(input_.data());
                skip_blank();
            } else if (b == '\t' && column() < indent_ + 1) {
                if (!skip_ws_to_eol(true)) return false;
                if (!at_endz() && !is_break(ch())) {
                    return fail(start, "while scanning a plain scalar, found a tab");
                }
            } else {
                skip_blank();
            }
        } else if (b == '\n' || b == '\r') {
            fold.add_break();
            skip_linebreak();
        } else {
            return true;
        }
    }
}

bool Scanner::fetch_flow_scalar(bool single) {
    save_simple_key();
    simple_key_allowed_ = false;
    const SourceMark start = mark_;
    const char32_t quote = single ? U'\'' : U'"';
    skip_char();

    // The value is built in its queue slot; nothing else is queued meanwhile.
    Token& token = push_token(TokenType::Scalar, Span::empty_at(start));
    token.style = single ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted;
    std::string& value = token.value;
    Folding fold;
    for (;;) {
        if (mark_.col == 0 && input_.next_is_document_indicator()) {
            return fail(start,
                        "while scanning a quoted scalar, found unexpected document indicator");
        }
        if (at_endz())
            return fail(start, "while scanning a quoted scalar, found unexpected end of stream");
        if (column() < indent_) return fail(start, "invalid indentation in quoted scalar");

        // Non-blank content up to a blank, a break, NUL or the closing quote.
        bool escaped_break = false;
        for (;;) {
            scan_quoted_run(single, value);
            const char32_t c = ch();
            if (is_blank_or_breakz(c)) break;
            const char32_t n = peek_nth(1);
            if (single) {
                if (n != U'\'') break;  // the closing quote
                value += '\'';
                skip_chars(2);
            } else if (c == U'"') {
                break;
            } else if (is_break(n)) {
                skip_char();
                skip_linebreak();
                fold.add_escaped_break();
                escaped_break = true;
                break;
            } else if (!scan_escape(value, start)) {
                return false;
            }
        }
        if (!escaped_break && ch() == quote) break;

        for (;;) {
            const unsigned char b = input_.byte_at(0);
            if (b == ' ' || b == '\t') {
                if (!fold.crossed) {
                    fold.add_blank(input_.data());
                } else if (b == '\t' && column() < indent_) {
                    return fail(mark_, "tab cannot be used as indentation");
                }
                skip_blank();
            } else if (b == '\n' || b == '\r') {
                fold.add_break();
                skip_linebreak();
            } else {
                break;
            }
        }
        fold.fold_into(value);
    }
    skip_char();
    token.span.end = mark_;

    if (!skip_ws_to_eol(true)) return false;
    const char32_t c = ch();
    const bool flow = flow_level_ > 0;
    const bool fits = at_endz() || is_break(c) || (flow && (c == U',' || c == U']' || c == U'}')) ||
                      (c == U':' && (flow || mark_.line == start.line));
    if (!fits) return fail(mark_, "invalid trailing content after double-quoted scalar");
    if (!skip_to_next_token()) return false;
    adjacent_value_position_ = mark_.index;
    return true;
}

// Appends the run of characters that need no special handling inside a
// quoted scalar: everything but blanks, breaks, NUL, quotes and (double
// quoted) backslashes.
void Scanner::scan_quoted_run(bool single, std::string& value) {
    const std::uint8_t stop =
        byte_class::break_or_nul | byte_class::blank |
        (single ? byte_class::single_quote : byte_class::double_quote_or_backslash);
    take_run(input_.run_until(stop), value);
}

// A backslash and the character after it; `\x`, `\u` and `\U` take 2, 4
// and 8 hexadecimal digits.
bool Scanner::scan_escape(std::string& value, SourceMark start) {
    char32_t code = 0;
    std::size_t digits = 0;
    switch (peek_nth(1)) {
        case U'0': code = 0x00; break;
        case U'a': code = 0x07; break;
        case U'b': code = 0x08; break;
        case U't':
        case U'\t': code = 0x09; break;
        case U'n': code = 0x0A; break;
        case U'v': code = 0x0B; break;
        case U'f': code = 0x0C; break;
        case U'r': code = 0x0D; break;
        case U'e': code = 0x1B; break;
        case U' ': code = U' '; break;
        case U'"': code = U'"'; break;
        case U'/': code = U'/'; break;
        case U'\\': code = U'\\'; break;
        case U'N': code = 0x85; break;
        case U'_': code = 0xA0; break;
        case U'L': code = 0x2028; break;
        case U'P': code = 0x2029; break;
        case U'x': digits = 2; break;
        case U'u': digits = 4; break;
        case U'U': digits = 8; break;
        default:
            return fail(start, "while parsing a quoted scalar, found unknown escape character");
    }
    skip_chars(2);
    if (digits > 0) {
        for (std::size_t i = 0; i < digits; ++i) {
            const char32_t d = peek_nth(i);
            if (!is_hex(d)) {
                return fail(
                    start,
                    "while parsing a quoted scalar, did not find expected hexadecimal number");
            }
            code = code * 16 + hex_value(d);
        }
        if (!is_unicode_scalar(code)) {
            return fail(
                start,
                "while parsing a quoted scalar, found invalid Unicode character escape code");
        }
        skip_chars(digits);
    }
    append_utf8(value, code);
    return true;
}

}  // namespace brackle_scanner
