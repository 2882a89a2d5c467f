// Directive lines, node tags with their percent escapes, anchors, aliases
// and comments.
#include "scanner/src/scanner.hpp"

namespace brackle_scanner {

bool Scanner::fetch_directive() {
    unroll_indent(-1);
    if (!remove_simple_key()) return false;
    simple_key_allowed_ = false;
    const SourceMark start = mark_;
    skip_char();

    const SourceMark name_mark = mark_;
    std::string name;
    const std::size_t n = input_.fetch_while_is_yaml_non_space(name);
    advance(0, n);
    if (n > 0) line_start_ = false;
    if (name.empty())
        return fail(name_mark,
                    "while scanning a directive, could not find expected directive name");
    if (!is_blank_or_breakz(ch())) {
        return fail(name_mark,
                    "while scanning a directive, found unexpected non-alphabetical character");
    }

    Token token;
    if (name == "YAML") {
        token.type = TokenType::VersionDirective;
        skip_blanks();
        if (!scan_version_directive_number(start, token.major)) return false;
        if (ch() != U'.') {
            return fail(
                start,
                "while scanning a YAML directive, did not find expected digit or '.' character");
        }
        skip_char();
        if (!scan_version_directive_number(start, token.minor)) return false;
    } else if (name == "TAG") {
        token.type = TokenType::TagDirective;
        skip_blanks();
        if (!scan_tag_handle(true, start, token.value)) return false;
        token.split = token.value.size();
        skip_blanks();
        if (ch() == U'!') {
            append_char(token.value);
        } else if (!is_tag_char(ch())) {
            return fail(start, "invalid global tag character");
        }
        if (!scan_tag_uri_chars(true, start, token.value)) return false;
        if (!is_blank_or_breakz(ch())) {
            return fail(start,
                        "while scanning TAG, did not find expected whitespace or line break");
        }
    } else {
        token.type = TokenType::ReservedDirective;
        token.value = std::move(name);
        while (is_blank(ch())) {
            skip_blanks();
            if (is_breakz(ch())) break;
            std::string param;
            advance(0, input_.fetch_while_is_yaml_non_space(param));
            token.params.push_back(std::move(param));
        }
    }
    token.span = Span{start, mark_};

    if (!skip_ws_to_eol(true)) return false;
    if (!at_endz() && !is_break(ch())) {
        return fail(start,
                    "while scanning a directive, did not find expected comment or line break");
    }
    skip_linebreak();
    tokens_.push_back(std::move(token));
    return true;
}

// One to nine decimal digits.
bool Scanner::scan_version_directive_number(SourceMark start, std::uint32_t& number) {
    if (!is_digit(ch()))
        return fail(start, "while scanning a YAML directive, did not find expected version number");
    number = 0;
    std::size_t length = 0;
    while (is_digit(ch())) {
        if (++length > 9)
            return fail(start,
                        "while scanning a YAML directive, found extremely long version number");
        number = number * 10 + static_cast<std::uint32_t>(ch() - U'0');
        skip_char();
    }
    return true;
}

// `!`, a run of letters, digits, `-` and `_`, and a closing `!` if present.
bool Scanner::scan_tag_handle(bool directive, SourceMark start, std::string& handle) {
    if (ch() != U'!') return fail(start, "while scanning a tag, did not find expected '!'");
    append_char(handle);
    while (is_alpha(ch())) append_char(handle);
    if (ch() == U'!') {
        append_char(handle);
    } else if (directive && handle != "!") {
        return fail(start, "while parsing a tag directive, did not find expected '!'");
    }
    return true;
}

// Appends URI characters (or, for a shorthand suffix, tag characters),
// decoding percent escapes.
bool Scanner::scan_tag_uri_chars(bool uri, SourceMark start, std::string& out) {
    for (;;) {
        const char32_t c = ch();
        if (c == U'%') {
            if (!scan_uri_escapes(start, out)) return false;
        } else if (uri ? is_uri_char(c) : is_tag_char(c)) {
            append_char(out);
        } else {
            return true;
        }
    }
}

// One percent-escaped UTF-8 sequence: `%` and two hexadecimal digits per byte.
bool Scanner::scan_uri_escapes(SourceMark start, std::string& out) {
    std::size_t length = 0;
    std::size_t taken = 0;
    char32_t code = 0;
    do {
        if (ch() != U'%' || !is_hex(peek_nth(1)) || !is_hex(peek_nth(2))) {
            return fail(start, "while parsing a tag, found an invalid escape sequence");
        }
        const unsigned byte = hex_value(peek_nth(1)) * 16 + hex_value(peek_nth(2));
        skip_chars(3);
        if (taken == 0) {
            if (byte < 0x80) {
                length = 1;
                code = byte;
            } else if ((byte & 0xE0) == 0xC0) {
                length = 2;
                code = byte & 0x1F;
            } else if ((byte & 0xF0) == 0xE0) {
                length = 3;
                code = byte & 0x0F;
            } else if ((byte & 0xF8) == 0xF0) {
                length = 4;
                code = byte & 0x07;
            } else {
                return fail(start, "while parsing a tag, found an incorrect leading UTF-8 byte");
            }
        } else {
            if ((byte & 0xC0) != 0x80)
                return fail(start, "while parsing a tag, found an incorrect trailing UTF-8 byte");
            code = (code << 6) | (byte & 0x3F);
        }
    } while (++taken < length);
    if (!is_unicode_scalar(code))
        return fail(start, "while parsing a tag, found an invalid UTF-8 codepoint");
    append_utf8(out, code);
    return true;
}

bool Scanner::fetch_tag() {
    save_simple_key();
    simple_key_allowed_ = false;
    const SourceMark start = mark_;
    std::string handle;
    std::string suffix;
    if (peek_nth(1) == U'<') {
        skip_chars(2);
        if (!scan_tag_uri_chars(true, start, suffix)) return false;
        if (ch() != U'>')
            return fail(start, "while scanning a verbatim tag, did not find the expected '>'");
        skip_char();
    } else {
        if (!scan_tag_handle(false, start, handle)) return false;
        if (handle.size() >= 2 && handle.back() == '!') {
            if (!scan_tag_uri_chars(false, start, suffix)) return false;
            if (suffix.empty())
                return fail(start, "while parsing a tag, did not find expected tag URI");
        } else {
            // `!name` is the primary handle with `name` as the start of its suffix.
            suffix.assign(handle, 1);
            if (!scan_tag_uri_chars(false, start, suffix)) return false;
            handle = "!";
            if (suffix.empty()) {
                handle.clear();
                suffix = "!";
            }
        }
    }
    const char32_t c = ch();
    if (!is_blank_or_breakz(c) && !(flow_level_ > 0 && is_flow(c))) {
        return fail(start, "while scanning a tag, did not find expected whitespace or line break");
    }
    Token& token = push_token(TokenType::Tag, Span{start, mark_});
    token.split = handle.size();
    token.value = std::move(handle);
    token.value += suffix;
    return true;
}

bool Scanner::fetch_anchor(bool alias) {
    save_simple_key();
    simple_key_allowed_ = false;
    const SourceMark start = mark_;
    skip_char();
    // Anchor characters run to a blank, a break, NUL, a flow indicator or
    // U+FEFF, the one stop character that is not ASCII.
    StrInput::Run run =
        input_.run_until(byte_class::break_or_nul | byte_class::blank | byte_class::flow);
    const std::string_view chars(input_.data(), run.bytes);
    if (const std::size_t bom = chars.find("\xEF\xBB\xBF"); bom != std::string_view::npos) {
        run = StrInput::Run{bom, 0};
        for (const char c : chars.substr(0, bom))
            run.chars += starts_char(static_cast<unsigned char>(c));
    }
    std::string name;
    take_run(run, name);
    if (name.empty()) {
        return fail(mark_,
                    "while scanning an anchor or alias, did not find expected alphabetic or "
                    "numeric character");
    }
    push_token(alias ? TokenType::Alias : TokenType::Anchor, Span{start, mark_}).value =
        std::move(name);
    return true;
}

// A comment runs from the `#` to the line break; it joins the pending
// comments, which follow the token of the current fetch step in the queue.
void Scanner::scan_comment() {
    const SourceMark start = mark_;
    const StrInput::Run run = input_.run_until(byte_class::break_or_nul);
    const char* text = input_.data();
    advance(run.bytes, run.chars);
    pending_comments_.emplace_back(TokenType::Comment, Span{start, mark_})
        .value.assign(text, run.bytes);
}

}  // namespace brackle_scanner
