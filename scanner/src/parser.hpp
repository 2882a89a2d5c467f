// The parser: turns the scanner's tokens into YAML events, comments included.
//
// A pull parser: each `next_event` call runs the state machine one step and
// asks the scanner for tokens only as far as that step needs, looking at most
// one token ahead. Comments met while a step fetched its tokens come out as
// `Comment` events before the step's own event, in source order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "brackle/event.hpp"
#include "brackle/token.hpp"
#include "scanner/src/scanner.hpp"
#include "scanner/src/string_map.hpp"

namespace brackle_scanner {

// The parser's states, in their fixed order.
enum class ParserState : std::uint8_t {
    StreamStart,
    ImplicitDocumentStart,
    DocumentStart,
    DocumentContent,
    DocumentEnd,
    BlockNode,
    BlockSequenceFirstEntry,
    BlockSequenceEntry,
    IndentlessSequenceEntry,
    BlockMappingFirstKey,
    BlockMappingKey,
    BlockMappingValue,
    FlowSequenceFirstEntry,
    FlowSequenceEntry,
    FlowSequenceEntryMappingKey,
    FlowSequenceEntryMappingValue,
    FlowSequenceEntryMappingEnd,  // carries the mark where the single-pair mapping ends
    FlowMappingFirstKey,
    FlowMappingKey,
    FlowMappingValue,
    FlowMappingEmptyValue,
    End,
};

class Parser {
public:
    explicit Parser(std::string_view text);

    // Fills `out` with the next event and returns true, or returns false with
    // `error()` set. After `StreamEnd` every call gives `StreamEnd` again.
    bool next_event(Event& out);
    const ScanError& error() const { return *error_; }
    // Whether the error is a broken invariant of the parser rather than a
    // fault of the input.
    bool internal_error() const { return internal_error_; }

    // The `%YAML` version of the document whose `DocumentStart` was the last
    // event, if it had one.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> version() const { return version_; }

private:
    struct StackEntry {
        ParserState state;
        SourceMark mark;  // FlowSequenceEntryMappingEnd only
    };

    // parser.cpp: tokens, the stack, the states.
    const Token* peek_token();
    bool fetch_token(Token& out);
    void skip_token() {
        scanner_.skip_token();
        token_ = nullptr;
    }
    bool fail(SourceMark mark, std::string_view message);
    bool fail_internal(std::string_view message);
    void push_state(ParserState state, SourceMark mark = {}) { states_.push_back({state, mark}); }
    bool pop_state();
    bool state_machine_step(Event& ev);
    bool stream_start(Event& ev);
    bool document_start(Event& ev, bool implicit);
    bool document_content(Event& ev);
    bool document_end(Event& ev);
    bool parse_node(Event& ev, bool block, bool indentless_sequence);
    bool take_anchor(Event& ev);
    bool take_tag(Event& ev);
    bool block_sequence_entry(Event& ev);
    bool indentless_sequence_entry(Event& ev);
    bool block_mapping_key(Event& ev);
    bool block_mapping_value(Event& ev);
    bool flow_sequence_entry(Event& ev, bool first);
    bool flow_sequence_entry_mapping_key(Event& ev);
    bool flow_sequence_entry_mapping_value(Event& ev);
    bool flow_mapping_key(Event& ev, bool first);
    bool flow_mapping_value(Event& ev);
    bool flow_mapping_empty_value(Event& ev);
    void queue_comment(Token& comment);

    // parser_directives.cpp: directives, tag resolution, anchors.
    bool parser_process_directives();
    bool resolve_tag(SourceMark mark, std::string_view handle, std::string_view suffix,
                     std::optional<Tag>& out);
    std::size_t register_anchor(const std::string& name);

    Scanner scanner_;
    ParserState state_ = ParserState::StreamStart;
    SourceMark state_mark_;  // the mark of FlowSequenceEntryMappingEnd
    std::vector<StackEntry> states_;
    // The token being looked at. It stays at the front of the scanner's queue
    // until it is consumed, so looking costs no copy and taking moves only
    // what the event keeps.
    Token* token_ = nullptr;
    Token token_scratch_;  // where alias, anchor and tag tokens are taken to
    // Comment events met while tokens were fetched. The queue always drains
    // before a step runs again, so a vector read from a head index serves.
    std::vector<Event> pending_events_;
    std::size_t pending_head_ = 0;

    StringMap<std::size_t> anchors_;  // anchor name to the id of its latest occurrence
    std::size_t next_anchor_id_ = 1;
    std::map<std::string, std::string, std::less<>> tag_directives_;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> version_;

    std::optional<ScanError> error_;
    bool internal_error_ = false;
};

}  // namespace brackle_scanner
