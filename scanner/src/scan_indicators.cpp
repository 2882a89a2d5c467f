// The indicators that shape collections: flow brackets, `,`, the block entry
// `-`, the explicit key `?` and the value `:`. The value indicator is where
// a simple key becomes a key: it inserts `Key`, and the `BlockMappingStart`
// or implicit `FlowMappingStart` that opens the mapping, in front of the
// key's already scanned tokens.
#include "scanner/src/scanner.hpp"

namespace brackle_scanner {

bool Scanner::fetch_flow_collection_start(TokenType type) {
    save_simple_key();
    roll_one_col_indent();
    simple_keys_.push_back(PendingKey{});
    if (flow_level_ == max_flow_level) return fail(mark_, "recursion limit exceeded");
    ++flow_level_;
    simple_key_allowed_ = true;
    const SourceMark start = mark_;
    skip_char();
    if (type == TokenType::FlowMappingStart) {
        explicit_flow_mapping_ = true;
    } else {
        implicit_mappings_.push_back(ImplicitMappingState::Candidate);
    }
    if (!skip_ws_to_eol(true)) return false;
    push_token(type, Span{start, mark_});
    return true;
}

bool Scanner::fetch_flow_collection_end(TokenType type) {
    if (flow_level_ == 0) return fail(mark_, "misplaced bracket");
    if (!remove_simple_key()) return false;
    --flow_level_;
    simple_keys_.pop_back();
    simple_key_allowed_ = false;
    if (type == TokenType::FlowSequenceEnd && !implicit_mappings_.empty()) {
        const ImplicitMappingState state = implicit_mappings_.back();
        implicit_mappings_.pop_back();
        if (state == ImplicitMappingState::Open) {
            push_token(TokenType::FlowMappingEnd, Span::empty_at(mark_));
            explicit_flow_mapping_ = false;
        }
    }
    const SourceMark start = mark_;
    skip_char();
    if (!skip_ws_to_eol(true)) return false;
    if (flow_level_ > 0) adjacent_value_position_ = mark_.index;
    push_token(type, Span{start, mark_});
    return true;
}

bool Scanner::fetch_flow_entry() {
    if (!remove_simple_key()) return false;
    simple_key_allowed_ = true;
    if (!implicit_mappings_.empty() && implicit_mappings_.back() == ImplicitMappingState::Open) {
        implicit_mappings_.back() = ImplicitMappingState::Candidate;
        push_token(TokenType::FlowMappingEnd, Span::empty_at(mark_));
        explicit_flow_mapping_ = false;
    }
    const SourceMark start = mark_;
    skip_char();
    if (!skip_ws_to_eol(true)) return false;
    push_token(TokenType::FlowEntry, Span{start, mark_});
    return true;
}

bool Scanner::fetch_block_entry() {
    if (flow_level_ > 0) return fail(mark_, "\"-\" is only valid inside a block");
    if (!simple_key_allowed_)
        return fail(mark_, "block sequence entries are not allowed in this context");
    if (!tokens_.empty()) {
        const Token& last = tokens_.back();
        if ((last.type == TokenType::Anchor || last.type == TokenType::Tag) && mark_.col == 0 &&
            last.span.start.col == 0 && indent_ >= 0) {
            return fail(last.span.start, "invalid indentation for anchor");
        }
    }
    const SourceMark start = mark_;
    skip_char();
    roll_indent(static_cast<std::ptrdiff_t>(start.col), std::nullopt, TokenType::BlockSequenceStart,
                start);

    LineSkip skipped;
    if (!skip_ws_to_eol(true, &skipped)) return false;
    if (skipped.tab && ch() == U'-' && is_blank_or_breakz(peek_nth(1))) {
        return fail(mark_, "'-' must be followed by a valid YAML whitespace");
    }
    if (!skip_ws_to_eol(false)) return false;
    if (is_flow(ch()) || is_break(ch())) roll_one_col_indent();
    if (!remove_simple_key()) return false;
    simple_key_allowed_ = true;
    push_token(TokenType::BlockEntry, Span::empty_at(mark_));
    return true;
}

bool Scanner::fetch_key() {
    const SourceMark start = mark_;
    if (flow_level_ > 0) {
        explicit_flow_mapping_ = true;
    } else {
        if (!simple_key_allowed_)
            return fail(mark_, "mapping keys are not allowed in this context");
        roll_indent(column(), std::nullopt, TokenType::BlockMappingStart, start);
    }
    if (!remove_simple_key()) return false;
    simple_key_allowed_ = flow_level_ == 0;
    skip_char();

    // Spaces, line breaks and comments; a tab is not part of the run.
    bool consumed = false;
    for (;;) {
        const unsigned char b = input_.byte_at(0);
        if (b == ' ') {
            skip_spaces();
        } else if (b == '\n' || b == '\r') {
            skip_linebreak();
            if (flow_level_ == 0) simple_key_allowed_ = true;
        } else if (b == '#') {
            scan_comment();
        } else {
            break;
        }
        consumed = true;
    }
    if (!consumed) return fail(mark_, "expected whitespace");
    if (input_.byte_at(0) == '\t') return fail(mark_, "tabs disallowed in this context");
    push_token(TokenType::Key, Span::empty_at(start));
    return true;
}

bool Scanner::fetch_value() {
    const PendingKey key = simple_keys_.back();
    const SourceMark colon = mark_;
    const bool implicit = !implicit_mappings_.empty() && !explicit_flow_mapping_;
    if (implicit) implicit_mappings_.back() = ImplicitMappingState::Open;
    skip_char();
    if (flow_level_ == 0 && input_.byte_at(0) == '\t') {
        LineSkip skipped;
        if (!skip_ws_to_eol(true, &skipped)) return false;
        if (!skipped.space && (ch() == U'-' || is_alpha(ch()))) {
            return fail(mark_, "':' must be followed by a valid YAML whitespace");
        }
    }

    if (key.possible) {
        const std::size_t position = key.token_number - tokens_delivered_;
        insert_token(position, TokenType::Key, Span::empty_at(key.mark));
        if (implicit) {
            if (key.mark.line < colon.line)
                return fail(colon, "illegal placement of ':' indicator");
            insert_token(position, TokenType::FlowMappingStart, Span::empty_at(key.mark));
        }
        roll_indent(static_cast<std::ptrdiff_t>(key.mark.col), key.token_number,
                    TokenType::BlockMappingStart, key.mark);
        roll_one_col_indent();
        simple_keys_.back().possible = false;
        simple_key_allowed_ = false;
    } else {
        if (implicit) push_token(TokenType::FlowMappingStart, Span::empty_at(colon));
        if (flow_level_ == 0) {
            if (!simple_key_allowed_)
                return fail(colon, "mapping values are not allowed in this context");
            roll_indent(static_cast<std::ptrdiff_t>(colon.col), std::nullopt,
                        TokenType::BlockMappingStart, colon);
            roll_one_col_indent();
        }
        simple_key_allowed_ = flow_level_ == 0;
    }
    push_token(TokenType::Value, Span::empty_at(colon));
    return true;
}

bool Scanner::fetch_flow_value() {
    if (mark_.index != adjacent_value_position_) {
        const char32_t n = peek_nth(1);
        if (n == U'[' || n == U'{')
            return fail(mark_, "':' may not precede any of `[{` in flow mapping");
    }
    return fetch_value();
}

}  // namespace brackle_scanner
