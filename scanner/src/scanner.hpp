// The scanner: turns YAML text into tokens, comments included.
//
// Delivery is pull-driven: each `next_token` call fetches only as many
// tokens as needed to hand out the next one. A possible simple key holds
// delivery back until its `:` is found (or ruled out), because its `Key`
// token is inserted in front of the key's own tokens after the fact.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "brackle/token.hpp"
#include "scanner/src/input/str.hpp"
#include "scanner/src/token_queue.hpp"

namespace brackle_scanner {

// The error of a text that is not valid UTF-8.
inline constexpr std::string_view not_utf8_message = "found bytes that are not valid UTF-8";

// Most flow collections that may be open at once.
inline constexpr unsigned max_flow_level = 255;
// A simple key whose `:` is not found within this many characters is no key.
inline constexpr std::size_t max_simple_key_length = 1024;

class Scanner {
public:
    // How many BlockEnds one fetch queues at most: a deep document's end
    // would otherwise queue one per level at once.
    static constexpr std::size_t block_ends_per_fetch = 256;
    // Any bytes may be given: text that is not valid UTF-8 gives no tokens,
    // only the error `not_utf8_message` at its first bad byte, from the
    // first request on.
    explicit Scanner(std::string_view text);

    // The next token, moved into `out`.
    Delivery next_token(Token& out);
    // The next token, left at the front of the queue until `skip_token`, so
    // that the caller can look at it and move out only what it keeps. The
    // pointer stays valid until `skip_token`.
    Delivery peek_token(Token*& out);
    // Hands over the peeked token; call only after `peek_token` gave one.
    void skip_token();
    const ScanError& error() const { return *error_; }
    SourceMark mark() const { return mark_; }

private:
    struct Indent {
        std::ptrdiff_t column;
        bool emits_block_end;  // false for a one-column indent
    };
    struct PendingKey {
        std::size_t token_number = 0;
        SourceMark mark;
        bool possible = false;
        bool required = false;
    };
    enum class ImplicitMappingState : std::uint8_t { Candidate, Open };
    // What a run of blanks and line breaks inside a scalar folds to.
    struct Folding {
        const char* blanks = nullptr;  // the blanks since the last non-blank on this line,
        std::size_t blank_count = 0;   // as a slice of the source
        bool crossed = false;          // a line break (escaped or not) was crossed
        bool leading = false;          // the first, unescaped, break was recorded
        std::size_t trailing = 0;      // further breaks, each folding to one LF

        void add_blank(const char* at) {
            if (blank_count == 0) blanks = at;
            ++blank_count;
        }
        void add_break() {
            if (crossed) {
                ++trailing;
            } else {
                crossed = leading = true;
                blank_count = 0;
            }
        }
        void add_escaped_break() { crossed = true; }
        void fold_into(std::string& value);
    };
    struct LineSkip {
        bool tab = false;    // a tab was consumed
        bool space = false;  // a space was consumed
    };

    // scanner.cpp: delivery, skipping, indentation, simple keys.
    bool fetch_more_tokens();
    // Keys go stale only at flow level 0 and only as the position moves; a
    // key saved since the last check stands at the current position.
    bool stale_key_check() {
        if (flow_level_ > 0 ||
            (mark_.index == stale_checked_index_ && mark_.line == stale_checked_line_)) {
            return true;
        }
        return check_stale_keys();
    }
    bool check_stale_keys();
    // A possible simple key whose `Key` would go in front of the queue.
    bool key_waits_at_front() const {
        for (const PendingKey& key : simple_keys_) {
            if (key.possible && key.token_number == tokens_delivered_) return true;
        }
        return false;
    }
    bool fetch_next_token();
    bool dispatch();
    bool fetch_stream_end();
    bool fetch_document_indicator(TokenType type);
    bool skip_to_next_token();
    bool skip_ws_to_eol(bool tabs_allowed, LineSkip* skipped = nullptr);
    void save_simple_key() {
        if (!simple_key_allowed_) return;
        const bool required = flow_level_ == 0 && indent_ == column() && !indents_.empty() &&
                              indents_.back().emits_block_end;
        simple_keys_.back() = PendingKey{tokens_delivered_ + tokens_.size(), mark_, true, required};
    }
    bool remove_simple_key();
    void roll_indent(std::ptrdiff_t column, std::optional<std::size_t> token_number, TokenType type,
                     SourceMark mark);
    // Closes the blocks indented deeper than `column`, each with a BlockEnd;
    // false when `max_block_ends` of them were queued and more remain.
    bool unroll_indent(std::ptrdiff_t column,
                       std::size_t max_block_ends = std::numeric_limits<std::size_t>::max());
    void roll_one_col_indent();
    void unroll_one_col_indents();

    void insert_token(std::size_t position, TokenType type, Span span) {
        tokens_.emplace(position, type, span);
    }
    Token& push_token(TokenType type, Span span) { return tokens_.emplace_back(type, span); }
    void flush_pending_comments() {
        if (!pending_comments_.empty()) move_pending_comments();
    }
    void move_pending_comments();
    bool fail(SourceMark mark, std::string_view message);

    // Consuming characters while keeping the mark in step.
    // A token's characters clear the line-start flag; blanks and comments
    // between tokens leave it as it is.
    // Skips `bytes` bytes holding `chars` characters of one line (0 bytes:
    // the input has already moved).
    void advance(std::size_t bytes, std::size_t chars) {
        input_.skip_bytes(bytes);
        mark_.index += chars;
        mark_.col += chars;
        mark_.byte = input_.offset();
    }
    void skip_char() {  // one non-break character of a token
        advance(input_.width_at_cursor(), 1);
        line_start_ = false;
    }
    void skip_chars(std::size_t n);       // n of them
    void skip_blank() { advance(1, 1); }  // one space or tab between tokens
    void skip_spaces();                   // a run of spaces between tokens
    void skip_blanks();                   // a run of spaces and tabs between tokens
    void skip_linebreak();                // one LF, CR or CR LF; nothing otherwise
    void append_char(std::string& out);   // appends the current character and skips it
    // Appends a run of a token's characters and skips it.
    void take_run(StrInput::Run run, std::string& out) {
        out.append(input_.data(), run.bytes);
        advance(run.bytes, run.chars);
        if (run.chars > 0) line_start_ = false;
    }
    std::ptrdiff_t column() const { return static_cast<std::ptrdiff_t>(mark_.col); }
    char32_t ch() const { return input_.peek(); }
    char32_t peek_nth(std::size_t n) const { return input_.peek_nth(n); }
    bool at_end() const { return input_.at_end(); }
    bool at_endz() const { return input_.at_end() || input_.peek() == 0; }

    // scan_scalars.cpp
    bool fetch_plain_scalar();
    bool fetch_flow_scalar(bool single);
    void scan_plain_word(std::string& value);
    bool starts_plain_word(std::size_t offset) const;
    bool scan_plain_gap(Folding& fold, SourceMark start);
    void scan_quoted_run(bool single, std::string& value);
    bool scan_escape(std::string& value, SourceMark start);

    // scan_block_scalars.cpp
    bool fetch_block_scalar(bool literal);
    void skip_block_scalar_indent(std::ptrdiff_t width, std::size_t& trailing_breaks);

    // scan_directives.cpp: directives, tags, anchors, comments.
    bool fetch_directive();
    bool scan_version_directive_number(SourceMark start, std::uint32_t& number);
    bool scan_tag_handle(bool directive, SourceMark start, std::string& handle);
    bool scan_tag_uri_chars(bool uri, SourceMark start, std::string& out);
    bool scan_uri_escapes(SourceMark start, std::string& out);
    bool fetch_tag();
    bool fetch_anchor(bool alias);
    void scan_comment();

    // scan_indicators.cpp: collection indicators, entries, keys and values.
    bool fetch_flow_collection_start(TokenType type);
    bool fetch_flow_collection_end(TokenType type);
    bool fetch_flow_entry();
    bool fetch_block_entry();
    bool fetch_key();
    bool fetch_value();
    bool fetch_flow_value();

    StrInput input_;
    SourceMark mark_;
    TokenQueue tokens_;
    std::vector<Token> pending_comments_;
    std::size_t tokens_delivered_ = 0;
    bool token_ready_ = false;  // the front token was found deliverable and not yet skipped
    bool stream_started_ = false;
    bool stream_ended_ = false;
    bool simple_key_allowed_ = true;
    bool line_start_ = true;
    bool explicit_flow_mapping_ = false;
    std::uint8_t flow_level_ = 0;
    std::ptrdiff_t indent_ = -1;
    std::vector<Indent> indents_;
    std::vector<PendingKey> simple_keys_;
    std::vector<ImplicitMappingState> implicit_mappings_;
    std::size_t adjacent_value_position_ = 0;
    std::optional<ScanError> error_;
    std::optional<SourceMark> comment_intercept_;
    // Where the last stale-key check ran (an index no scan reaches at first).
    std::size_t stale_checked_index_ = static_cast<std::size_t>(-1);
    std::size_t stale_checked_line_ = 0;
};

}  // namespace brackle_scanner
