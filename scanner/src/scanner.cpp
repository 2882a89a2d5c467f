// The scanner's shared machinery: token delivery, skipping between tokens,
// the dispatch on a token's first character, the indentation stack and the
// simple-key bookkeeping. The token families live in the scan_*.cpp files.
#include "scanner/src/scanner.hpp"

namespace brackle_scanner {

namespace {

// The mark of byte `offset` of `text`, whose bytes before it are valid UTF-8,
// counted as the scanner counts: characters by the bytes that start them,
// and a line for each LF, CR LF or lone CR.
SourceMark mark_at_byte(std::string_view text, std::size_t offset) {
    SourceMark mark;
    for (std::size_t i = 0; i < offset; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (!starts_char(b)) continue;
        ++mark.index;
        // The CR of a CR LF is a character of its own; the LF ends the line.
        if (b == '\r' && i + 1 < offset && text[i + 1] == '\n') continue;
        if (b == '\n' || b == '\r') {
            ++mark.line;
            mark.col = 0;
        } else {
            ++mark.col;
        }
    }
    mark.byte = offset;
    return mark;
}

// The text up to and including its first NUL, which ends the stream.
std::string_view through_first_nul(std::string_view text) {
    const std::size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul + 1);
}

}  // namespace

// The token families read their text as UTF-8 (a lead byte gives a
// character's length), so text that is not UTF-8 is refused here, whole,
// before any token: no token ever holds such bytes, and the one check costs
// far less than checking inside every run of characters. A NUL ends the
// stream: the input stops after it (a directive name may take the NUL
// itself), so the bytes after it are never read and need no check.
Scanner::Scanner(std::string_view text) : input_(through_first_nul(text)) {
    const std::string_view read = text.substr(0, text.find('\0'));
    const std::size_t bad = first_invalid_utf8(read);
    if (bad != read.size()) fail(mark_at_byte(text, bad), not_utf8_message);
}

bool Scanner::fail(SourceMark mark, std::string_view message) {
    if (!error_) error_ = ScanError::new_str(mark, message);
    return false;
}

Delivery Scanner::peek_token(Token*& out) {
    if (error_) return Delivery::Error;
    if (stream_ended_) return Delivery::End;
    if (!token_ready_) {
        if (!fetch_more_tokens()) return Delivery::Error;
        if (tokens_.empty()) {
            fail(mark_, "did not find expected next token");
            return Delivery::Error;
        }
        token_ready_ = true;
    }
    out = &tokens_.front();
    return Delivery::Token;
}

void Scanner::skip_token() {
    if (tokens_.front().type == TokenType::StreamEnd) stream_ended_ = true;
    tokens_.pop_front();
    ++tokens_delivered_;
    token_ready_ = false;
}

Delivery Scanner::next_token(Token& out) {
    Token* token = nullptr;
    const Delivery delivery = peek_token(token);
    if (delivery == Delivery::Token) {
        out = std::move(*token);
        skip_token();
    }
    return delivery;
}

// Fetches until the front token can be handed out: a possible simple key
// whose `Key` would go in front of the queue holds delivery back.
bool Scanner::fetch_more_tokens() {
    for (;;) {
        if (!tokens_.empty()) {
            if (simple_keys_.empty()) return true;
            if (!stale_key_check()) return false;
            if (!key_waits_at_front()) return true;
        }
        if (!fetch_next_token()) return false;
    }
}

bool Scanner::check_stale_keys() {
    stale_checked_index_ = mark_.index;
    stale_checked_line_ = mark_.line;
    for (PendingKey& key : simple_keys_) {
        if (!key.possible) continue;
        if (key.mark.line < mark_.line || key.mark.index + max_simple_key_length < mark_.index) {
            if (key.required) return fail(mark_, "simple key expect ':'");
            key.possible = false;
        }
    }
    return true;
}

bool Scanner::fetch_next_token() {
    if (!stream_started_) {
        indent_ = -1;
        stream_started_ = true;
        simple_key_allowed_ = true;
        push_token(TokenType::StreamStart, Span::empty_at(mark_));
        simple_keys_.push_back(PendingKey{});
        return true;
    }
    if (!skip_to_next_token()) return false;
    flush_pending_comments();
    if (!stale_key_check()) return false;
    // A line that closes many blocks at once has their ends queued a batch
    // at a time: the next call, back at this same token, queues the next
    // batch, and only the last one goes on to the token itself.
    if (!unroll_indent(column(), block_ends_per_fetch)) return true;
    bool ok = dispatch();
    flush_pending_comments();
    return ok;
}

bool Scanner::dispatch() {
    if (at_endz()) return fetch_stream_end();
    const char32_t c = ch();
    if (mark_.col == 0) {
        if (c == U'%') return fetch_directive();
        if (input_.next_is_document_indicator()) {
            if (c == U'-') return fetch_document_indicator(TokenType::DocumentStart);
            if (!fetch_document_indicator(TokenType::DocumentEnd)) return false;
            if (!skip_ws_to_eol(true)) return false;
            if (!at_endz() && !is_break(ch())) {
                return fail(mark_, "invalid content after document end marker");
            }
            return true;
        }
    }
    if (column() < indent_) return fail(mark_, "invalid indentation");

    // The character after `-`, `?` and `:` decides what they start.
    const auto next_is_space = [this] { return is_blank_or_breakz(peek_nth(1)); };
    switch (c) {
        case U'[': return fetch_flow_collection_start(TokenType::FlowSequenceStart);
        case U'{': return fetch_flow_collection_start(TokenType::FlowMappingStart);
        case U']': return fetch_flow_collection_end(TokenType::FlowSequenceEnd);
        case U'}': return fetch_flow_collection_end(TokenType::FlowMappingEnd);
        case U',': return fetch_flow_entry();
        case U'-':
            if (next_is_space()) return fetch_block_entry();
            break;
        case U'?':
            if (next_is_space()) return fetch_key();
            break;
        case U':':
            if (next_is_space()) return fetch_value();
            if (flow_level_ > 0 &&
                (is_flow(peek_nth(1)) || mark_.index == adjacent_value_position_)) {
                return fetch_flow_value();
            }
            break;
        case U'*': return fetch_anchor(true);
        case U'&': return fetch_anchor(false);
        case U'!': return fetch_tag();
        case U'|':
            if (flow_level_ == 0) return fetch_block_scalar(true);
            break;
        case U'>':
            if (flow_level_ == 0) return fetch_block_scalar(false);
            break;
        case U'\'': return fetch_flow_scalar(true);
        case U'"': return fetch_flow_scalar(false);
        case U'%':
        case U'@':
        case U'`': {
            std::string message = "unexpected character: `";
            message += static_cast<char>(c);
            message += '\'';
            return fail(mark_, message);
        }
        default: break;
    }
    return fetch_plain_scalar();
}

bool Scanner::fetch_stream_end() {
    if (mark_.col != 0) {
        ++mark_.line;
        mark_.col = 0;
    }
    for (PendingKey& key : simple_keys_) {
        if (key.possible && key.required) return fail(mark_, "simple key expected");
        key.possible = false;
    }
    unroll_indent(-1);
    if (!remove_simple_key()) return false;
    simple_key_allowed_ = false;
    push_token(TokenType::StreamEnd, Span::empty_at(mark_));
    return true;
}

bool Scanner::fetch_document_indicator(TokenType type) {
    unroll_indent(-1);
    if (!remove_simple_key()) return false;
    simple_key_allowed_ = false;
    const SourceMark start = mark_;
    skip_chars(3);
    push_token(type, Span{start, mark_});
    return true;
}

// Skips blanks, line breaks and comments up to the start of the next token.
bool Scanner::skip_to_next_token() {
    for (;;) {
        if (at_end()) break;
        const unsigned char b = input_.byte_at(0);
        if (b == ' ') {
            skip_spaces();
        } else if (b == '\t') {
            if (!indents_.empty() && line_start_ && column() < indent_) {
                if (!skip_ws_to_eol(true)) return false;
                if (!at_endz() && !is_break(ch())) {
                    return fail(mark_, "tabs disallowed within this context (block indentation)");
                }
            } else {
                skip_blank();
            }
        } else if (b == '\n' || b == '\r') {
            skip_linebreak();
            if (flow_level_ == 0) simple_key_allowed_ = true;
        } else if (b == '#') {
            scan_comment();
        } else {
            break;
        }
    }
    if (comment_intercept_) {
        const SourceMark intercept = *comment_intercept_;
        comment_intercept_.reset();
        if (flow_level_ == 0 && mark_.line == intercept.line + 1 && indent_ < column() &&
            !at_endz() && !input_.next_is_document_indicator() &&
            !(ch() == U':' && is_blank_or_breakz(peek_nth(1)))) {
            return fail(intercept, "comment intercepting the multiline text");
        }
    }
    return true;
}

// Skips blanks (tabs only when allowed) and a comment up to, not including,
// the line break.
bool Scanner::skip_ws_to_eol(bool tabs_allowed, LineSkip* skipped) {
    LineSkip seen;
    for (;;) {
        const unsigned char b = input_.byte_at(0);
        if (b == ' ') {
            seen.space = true;
            skip_spaces();
        } else if (b == '\t' && tabs_allowed) {
            seen.tab = true;
            skip_blank();
        } else {
            break;
        }
    }
    if (skipped) *skipped = seen;
    if (input_.byte_at(0) == '#') {
        if (!seen.tab && !seen.space) {
            return fail(mark_, "comments must be separated from other tokens by whitespace");
        }
        scan_comment();
    }
    return true;
}

bool Scanner::remove_simple_key() {
    PendingKey& key = simple_keys_.back();
    if (key.possible && key.required) return fail(mark_, "simple key expected");
    key.possible = false;
    return true;
}

void Scanner::roll_indent(std::ptrdiff_t column, std::optional<std::size_t> token_number,
                          TokenType type, SourceMark mark) {
    if (flow_level_ > 0) return;
    if (indent_ <= column && !indents_.empty() && !indents_.back().emits_block_end) {
        indent_ = indents_.back().column;
        indents_.pop_back();
    }
    if (indent_ < column) {
        indents_.push_back(Indent{indent_, true});
        indent_ = column;
        if (token_number) {
            insert_token(*token_number - tokens_delivered_, type, Span::empty_at(mark));
        } else {
            push_token(type, Span::empty_at(mark));
        }
    }
}

bool Scanner::unroll_indent(std::ptrdiff_t column, std::size_t max_block_ends) {
    if (flow_level_ > 0) return true;
    for (std::size_t ends = 0; indent_ > column && !indents_.empty();) {
        if (ends == max_block_ends) return false;
        const Indent popped = indents_.back();
        indents_.pop_back();
        indent_ = popped.column;
        if (popped.emits_block_end) {
            push_token(TokenType::BlockEnd, Span::empty_at(mark_));
            ++ends;
        }
    }
    return true;
}

void Scanner::roll_one_col_indent() {
    if (flow_level_ > 0) return;
    if (!indents_.empty() && indents_.back().emits_block_end) {
        indents_.push_back(Indent{indent_, false});
        ++indent_;
    }
}

void Scanner::unroll_one_col_indents() {
    if (flow_level_ > 0) return;
    while (!indents_.empty() && !indents_.back().emits_block_end) {
        indent_ = indents_.back().column;
        indents_.pop_back();
    }
}

void Scanner::move_pending_comments() {
    for (Token& comment : pending_comments_) tokens_.push_back(std::move(comment));
    pending_comments_.clear();
}

void Scanner::skip_chars(std::size_t n) {
    for (; n > 0; --n) skip_char();
}

void Scanner::append_char(std::string& out) {
    out.append(input_.data(), input_.width_at_cursor());
    skip_char();
}

void Scanner::skip_spaces() {
    std::size_t n = 0;
    while (input_.byte_at(n) == ' ') ++n;
    advance(n, n);
}

void Scanner::skip_blanks() { advance(0, input_.skip_while_blank()); }

void Scanner::skip_linebreak() {
    const unsigned char b = input_.byte_at(0);
    const std::size_t width = b == '\r' && input_.byte_at(1) == '\n' ? 2 : 1;
    if (b != '\r' && b != '\n') return;
    input_.skip_bytes(width);
    mark_.index += width;
    mark_.byte = input_.offset();
    ++mark_.line;
    mark_.col = 0;
    line_start_ = true;
}

}  // namespace brackle_scanner
