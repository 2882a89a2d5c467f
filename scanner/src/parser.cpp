// The parser's state machine: one state per position in the YAML grammar,
// one token of lookahead, no backtracking. Each state function produces the
// step's event in `ev` or fails; `pop_state` returns to whatever pushed the
// node being finished.
#include "scanner/src/parser.hpp"

#include <array>

namespace brackle_scanner {

namespace {

bool is_directive(TokenType t) {
    return t == TokenType::VersionDirective || t == TokenType::TagDirective ||
           t == TokenType::ReservedDirective;
}

// An empty plain scalar carrying no properties, over `span`.
void empty_scalar(Event& ev, Span span) {
    ev.type = EventType::Scalar;
    ev.style = ScalarStyle::Plain;
    ev.value.clear();
    ev.span = span;
}

// Clears what a step may leave unset; the value keeps its capacity.
void reset(Event& ev) {
    ev.style = ScalarStyle::Plain;
    ev.explicit_start = false;
    ev.flow = false;
    ev.anchor.reset();
    ev.anchor_id = 0;
    ev.tag.reset();
    ev.value.clear();
}

void simple_event(Event& ev, EventType type, Span span) {
    ev.type = type;
    ev.span = span;
}

}  // namespace

const char* event_type_name(EventType type) {
    static constexpr std::array<const char*, 11> names = {
        "StreamStart",   "StreamEnd",   "DocumentStart", "DocumentEnd", "Alias",   "Scalar",
        "SequenceStart", "SequenceEnd", "MappingStart",  "MappingEnd",  "Comment",
    };
    return names[static_cast<std::size_t>(type)];
}

Parser::Parser(std::string_view text) : scanner_(text) {}

bool Parser::fail(SourceMark mark, std::string_view message) {
    if (!error_) error_ = ScanError::new_str(mark, message);
    return false;
}

bool Parser::fail_internal(std::string_view message) {
    if (!error_) internal_error_ = true;
    return fail(SourceMark{}, message);
}

bool Parser::next_event(Event& out) {
    if (error_) return false;
    if (pending_head_ < pending_events_.size()) {
        out = std::move(pending_events_[pending_head_++]);
        if (pending_head_ == pending_events_.size()) {
            pending_events_.clear();
            pending_head_ = 0;
        }
        return true;
    }
    reset(out);
    if (state_ == ParserState::End) {
        simple_event(out, EventType::StreamEnd, Span::empty_at(scanner_.mark()));
        return true;
    }
    if (!state_machine_step(out)) return false;
    if (!pending_events_.empty()) {
        // Comments read during the step come out first, in source order.
        pending_events_.push_back(std::move(out));
        out = std::move(pending_events_[pending_head_++]);
    }
    return true;
}

// The token in the slot, fetching one if the slot is empty; comment tokens
// become pending Comment events on the way.
const Token* Parser::peek_token() {
    while (!token_) {
        Token* token = nullptr;
        switch (scanner_.peek_token(token)) {
            case Delivery::Token:
                if (token->type != TokenType::Comment) {
                    token_ = token;
                    break;
                }
                queue_comment(*token);
                scanner_.skip_token();
                break;
            case Delivery::End: fail(scanner_.mark(), "unexpected eof"); return nullptr;
            case Delivery::Error:
                if (!error_) error_ = scanner_.error();
                return nullptr;
        }
    }
    return token_;
}

bool Parser::fetch_token(Token& out) {
    if (!token_) return fail_internal("fetch_token needs to be preceded by peek_token");
    out = std::move(*token_);
    skip_token();
    return true;
}

void Parser::queue_comment(Token& comment) {
    Event& ev = pending_events_.emplace_back();
    ev.type = EventType::Comment;
    ev.value = std::move(comment.value);
    ev.span = comment.span;
}

bool Parser::pop_state() {
    if (states_.empty()) return fail_internal("the parser's state stack is empty");
    state_ = states_.back().state;
    state_mark_ = states_.back().mark;
    states_.pop_back();
    return true;
}

bool Parser::state_machine_step(Event& ev) {
    switch (state_) {
        case ParserState::StreamStart: return stream_start(ev);
        case ParserState::ImplicitDocumentStart: return document_start(ev, true);
        case ParserState::DocumentStart: return document_start(ev, false);
        case ParserState::DocumentContent: return document_content(ev);
        case ParserState::DocumentEnd: return document_end(ev);
        case ParserState::BlockNode: return parse_node(ev, true, false);
        case ParserState::BlockSequenceFirstEntry:
            if (!peek_token()) return false;
            skip_token();
            return block_sequence_entry(ev);
        case ParserState::BlockSequenceEntry: return block_sequence_entry(ev);
        case ParserState::IndentlessSequenceEntry: return indentless_sequence_entry(ev);
        case ParserState::BlockMappingFirstKey:
            if (!peek_token()) return false;
            skip_token();
            return block_mapping_key(ev);
        case ParserState::BlockMappingKey: return block_mapping_key(ev);
        case ParserState::BlockMappingValue: return block_mapping_value(ev);
        case ParserState::FlowSequenceFirstEntry:
            if (!peek_token()) return false;
            skip_token();
            return flow_sequence_entry(ev, true);
        case ParserState::FlowSequenceEntry: return flow_sequence_entry(ev, false);
        case ParserState::FlowSequenceEntryMappingKey: return flow_sequence_entry_mapping_key(ev);
        case ParserState::FlowSequenceEntryMappingValue:
            return flow_sequence_entry_mapping_value(ev);
        case ParserState::FlowSequenceEntryMappingEnd:
            state_ = ParserState::FlowSequenceEntry;
            simple_event(ev, EventType::MappingEnd, Span::empty_at(state_mark_));
            return true;
        case ParserState::FlowMappingFirstKey:
            if (!peek_token()) return false;
            skip_token();
            return flow_mapping_key(ev, true);
        case ParserState::FlowMappingKey: return flow_mapping_key(ev, false);
        case ParserState::FlowMappingValue: return flow_mapping_value(ev);
        case ParserState::FlowMappingEmptyValue: return flow_mapping_empty_value(ev);
        case ParserState::End: break;
    }
    return fail_internal("the parser stepped past the end of the stream");
}

bool Parser::stream_start(Event& ev) {
    const Token* t = peek_token();
    if (!t) return false;
    if (t->type != TokenType::StreamStart) {
        return fail(t->span.start, "did not find expected <stream-start>");
    }
    simple_event(ev, EventType::StreamStart, t->span);
    skip_token();
    state_ = ParserState::ImplicitDocumentStart;
    return true;
}

bool Parser::document_start(Event& ev, bool implicit) {
    const Token* t = peek_token();
    if (!t) return false;
    while (t->type == TokenType::DocumentEnd) {
        skip_token();
        if (!(t = peek_token())) return false;
    }
    if (t->type == TokenType::StreamEnd) {
        simple_event(ev, EventType::StreamEnd, t->span);
        skip_token();
        state_ = ParserState::End;
        return true;
    }
    if (implicit && !is_directive(t->type) && t->type != TokenType::DocumentStart) {
        const Span span = t->span;
        if (!parser_process_directives()) return false;
        push_state(ParserState::DocumentEnd);
        state_ = ParserState::BlockNode;
        simple_event(ev, EventType::DocumentStart, span);
        return true;
    }
    if (!parser_process_directives()) return false;
    if (!(t = peek_token())) return false;
    if (t->type != TokenType::DocumentStart) {
        return fail(t->span.start, "did not find expected <document start>");
    }
    push_state(ParserState::DocumentEnd);
    state_ = ParserState::DocumentContent;
    simple_event(ev, EventType::DocumentStart, t->span);
    ev.explicit_start = true;
    skip_token();
    return true;
}

bool Parser::document_content(Event& ev) {
    const Token* t = peek_token();
    if (!t) return false;
    switch (t->type) {
        case TokenType::StreamEnd:
        case TokenType::VersionDirective:
        case TokenType::TagDirective:
        case TokenType::ReservedDirective:
        case TokenType::DocumentStart:
        case TokenType::DocumentEnd: empty_scalar(ev, t->span); return pop_state();
        default: return parse_node(ev, true, false);
    }
}

bool Parser::document_end(Event& ev) {
    const Token* t = peek_token();
    if (!t) return false;
    simple_event(ev, EventType::DocumentEnd, t->span);
    tag_directives_.clear();
    if (t->type == TokenType::DocumentEnd) {
        skip_token();
        state_ = ParserState::ImplicitDocumentStart;
        return true;
    }
    if (is_directive(t->type)) {
        return fail(t->span.start, "missing explicit document end marker before directive");
    }
    state_ = ParserState::DocumentStart;
    return true;
}

bool Parser::parse_node(Event& ev, bool block, bool indentless_sequence) {
    const Token* t = peek_token();
    if (!t) return false;
    if (t->type == TokenType::Alias) {
        if (!fetch_token(token_scratch_)) return false;
        if (!pop_state()) return false;
        const std::size_t* found = anchors_.find(token_scratch_.value);
        if (!found)
            return fail(token_scratch_.span.start, "while parsing node, found unknown anchor");
        simple_event(ev, EventType::Alias, token_scratch_.span);
        ev.anchor_id = *found;
        ev.anchor = std::move(token_scratch_.value);
        return true;
    }

    // Properties, in either order, at most one of each.
    if (t->type == TokenType::Anchor) {
        if (!take_anchor(ev) || !(t = peek_token())) return false;
        if (t->type == TokenType::Tag && (!take_tag(ev) || !(t = peek_token()))) return false;
    } else if (t->type == TokenType::Tag) {
        if (!take_tag(ev) || !(t = peek_token())) return false;
        if (t->type == TokenType::Anchor && (!take_anchor(ev) || !(t = peek_token()))) return false;
    }

    ev.span = t->span;
    switch (t->type) {
        case TokenType::BlockSequenceStart:
            if (!block) break;
            state_ = ParserState::BlockSequenceFirstEntry;
            ev.type = EventType::SequenceStart;
            return true;
        case TokenType::BlockMappingStart:
            if (!block) break;
            state_ = ParserState::BlockMappingFirstKey;
            ev.type = EventType::MappingStart;
            return true;
        case TokenType::FlowSequenceStart:
            state_ = ParserState::FlowSequenceFirstEntry;
            ev.type = EventType::SequenceStart;
            ev.flow = true;
            return true;
        case TokenType::FlowMappingStart:
            state_ = ParserState::FlowMappingFirstKey;
            ev.type = EventType::MappingStart;
            ev.flow = true;
            return true;
        case TokenType::BlockEntry:
            if (!indentless_sequence) break;
            state_ = ParserState::IndentlessSequenceEntry;
            ev.type = EventType::SequenceStart;
            return true;
        case TokenType::Scalar:
            ev.type = EventType::Scalar;
            ev.style = t->style;
            ev.value = std::move(token_->value);
            skip_token();
            return pop_state();
        default: break;
    }
    if (ev.anchor || ev.tag) {
        ev.type = EventType::Scalar;
        ev.style = ScalarStyle::Plain;
        return pop_state();
    }
    return fail(t->span.start, "while parsing a node, did not find expected node content");
}

bool Parser::take_anchor(Event& ev) {
    if (!fetch_token(token_scratch_)) return false;
    ev.anchor_id = register_anchor(token_scratch_.value);
    ev.anchor = std::move(token_scratch_.value);
    return true;
}

bool Parser::take_tag(Event& ev) {
    if (!fetch_token(token_scratch_)) return false;
    return resolve_tag(token_scratch_.span.start, token_scratch_.handle(), token_scratch_.suffix(),
                       ev.tag);
}

bool Parser::block_sequence_entry(Event& ev) {
    const Token* t = peek_token();
    if (!t) return false;
    if (t->type == TokenType::BlockEnd) {
        simple_event(ev, EventType::SequenceEnd, t->span);
        skip_token();
        return pop_state();
    }
    if (t->type != TokenType::BlockEntry) {
        return fail(t->span.start,
                    "while parsing a block collection, did not find expected '-' indicator");
    }
    const Span entry = t->span;
    skip_token();
    if (!(t = peek_token())) return false;
    if (t->type == TokenType::BlockEntry || t->type == TokenType::BlockEnd) {
        state_ = ParserState::BlockSequenceEntry;
        empty_scalar(ev, entry);
        return true;
    }
    push_state(ParserState::BlockSequenceEntry);
    return parse_node(ev, true, false);
}

bool Parser::indentless_sequence_entry(Event& ev) {
    const Token* t = peek_token();
    if (!t) return false;
    if (t->type != TokenType::BlockEntry) {
        simple_event(ev, EventType::SequenceEnd, t->span);
        return pop_state();
    }
    const Span entry = t->span;
    skip_token();
    if (!(t = peek_token())) return false;
    switch (t->type) {
        case TokenType::BlockEntry:
        case TokenType::Key:
        case TokenType::Value:
        case TokenType::BlockEnd:
            state_ = ParserState::IndentlessSequenceEntry;
            empty_scalar(ev, entry);
            return true;
        default:
            push_state(ParserState::IndentlessSequenceEntry);
            return parse_node(ev, true, false);
    }
}

bool Parser::block_mapping_key(Event& ev) {
    const Token* t = peek_token();
    if (!t) return false;
    switch (t->type) {
        case TokenType::Key:
            skip_token();
            if (!(t = peek_token())) return false;
            if (t->type == TokenType::Key || t->type == TokenType::Value ||
                t->type == TokenType::BlockEnd) {
                state_ = ParserState::BlockMappingValue;
                empty_scalar(ev, t->span);
                return true;
            }
            push_state(ParserState::BlockMappingValue);
            return parse_node(ev, true, true);
        case TokenType::Value:
            state_ = ParserState::BlockMappingValue;
            empty_scalar(ev, t->span);
            return true;
        case TokenType::BlockEnd:
            simple_event(ev, EventType::MappingEnd, t->span);
            skip_token();
            return pop_state();
        default:
            return fail(t->span.start, "while parsing a block mapping, did not find expected key");
    }
}

bool Parser::block_mapping_value(Event& ev) {
    const Token* t = peek_token();
    if (!t) return false;
    if (t->type != TokenType::Value) {
        state_ = ParserState::BlockMappingKey;
        empty_scalar(ev, t->span);
        return true;
    }
    const Span value = t->span;
    skip_token();
    if (!(t = peek_token())) return false;
    if (t->type == TokenType::Key || t->type == TokenType::Value ||
        t->type == TokenType::BlockEnd) {
        state_ = ParserState::BlockMappingKey;
        empty_scalar(ev, value);
        return true;
    }
    push_state(ParserState::BlockMappingKey);
    return parse_node(ev, true, true);
}

bool Parser::flow_sequence_entry(Event& ev, bool first) {
    const Token* t = peek_token();
    if (!t) return false;
    if (t->type != TokenType::FlowSequenceEnd && !first) {
        if (t->type != TokenType::FlowEntry) {
            return fail(t->span.start, "while parsing a flow sequence, expected ',' or ']'");
        }
        skip_token();
        if (!(t = peek_token())) return false;
    }
    if (t->type == TokenType::FlowSequenceEnd) {
        simple_event(ev, EventType::SequenceEnd, t->span);
        skip_token();
        return pop_state();
    }
    if (t->type == TokenType::Key) {
        // The single-pair mapping of `[ a: b ]` and `[ ? a : b ]`.
        state_ = ParserState::FlowSequenceEntryMappingKey;
        simple_event(ev, EventType::MappingStart, t->span);
        ev.flow = true;
        skip_token();
        return true;
    }
    push_state(ParserState::FlowSequenceEntry);
    return parse_node(ev, false, false);
}

bool Parser::flow_sequence_entry_mapping_key(Event& ev) {
    const Token* t = peek_token();
    if (!t) return false;
    if (t->type == TokenType::Value || t->type == TokenType::FlowEntry ||
        t->type == TokenType::FlowSequenceEnd) {
        state_ = ParserState::FlowSequenceEntryMappingValue;
        empty_scalar(ev, t->span);
        return true;
    }
    push_state(ParserState::FlowSequenceEntryMappingValue);
    return parse_node(ev, false, false);
}

bool Parser::flow_sequence_entry_mapping_value(Event& ev) {
    const Token* t = peek_token();
    if (!t) return false;
    if (t->type == TokenType::Value) {
        skip_token();
        if (!(t = peek_token())) return false;
        if (t->type != TokenType::FlowEntry && t->type != TokenType::FlowSequenceEnd) {
            push_state(ParserState::FlowSequenceEntryMappingEnd, t->span.end);
            return parse_node(ev, false, false);
        }
    }
    state_ = ParserState::FlowSequenceEntryMappingEnd;
    state_mark_ = t->span.end;
    empty_scalar(ev, t->span);
    return true;
}

bool Parser::flow_mapping_key(Event& ev, bool first) {
    const Token* t = peek_token();
    if (!t) return false;
    if (t->type != TokenType::FlowMappingEnd && !first) {
        if (t->type != TokenType::FlowEntry) {
            return fail(t->span.start,
                        "while parsing a flow mapping, did not find expected ',' or '}'");
        }
        skip_token();
        if (!(t = peek_token())) return false;
    }
    switch (t->type) {
        case TokenType::FlowMappingEnd:
            simple_event(ev, EventType::MappingEnd, t->span);
            skip_token();
            return pop_state();
        case TokenType::Key:
            skip_token();
            if (!(t = peek_token())) return false;
            if (t->type == TokenType::FlowMappingEnd || t->type == TokenType::FlowEntry ||
                t->type == TokenType::Value) {
                state_ = ParserState::FlowMappingValue;
                empty_scalar(ev, t->span);
                return true;
            }
            push_state(ParserState::FlowMappingValue);
            return parse_node(ev, false, false);
        case TokenType::Value:
            state_ = ParserState::FlowMappingValue;
            empty_scalar(ev, t->span);
            return true;
        default:
            // A key written without `?` or `:`, such as the `b` of `{ a: 1, b }`.
            push_state(ParserState::FlowMappingEmptyValue);
            return parse_node(ev, false, false);
    }
}

bool Parser::flow_mapping_value(Event& ev) {
    const Token* t = peek_token();
    if (!t) return false;
    if (t->type != TokenType::Value) {
        state_ = ParserState::FlowMappingKey;
        empty_scalar(ev, t->span);
        return true;
    }
    const Span value = t->span;
    skip_token();
    if (!(t = peek_token())) return false;
    if (t->type == TokenType::FlowMappingEnd || t->type == TokenType::FlowEntry) {
        state_ = ParserState::FlowMappingKey;
        empty_scalar(ev, value);
        return true;
    }
    push_state(ParserState::FlowMappingKey);
    return parse_node(ev, false, false);
}

bool Parser::flow_mapping_empty_value(Event& ev) {
    const Token* t = peek_token();
    if (!t) return false;
    state_ = ParserState::FlowMappingKey;
    empty_scalar(ev, t->span);
    return true;
}

}  // namespace brackle_scanner
