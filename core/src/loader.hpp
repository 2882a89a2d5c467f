// The loader: builds documents from the parser's events, and records from
// the source text around each event everything the events do not carry, so
// that a document loaded and emitted unchanged comes back byte for byte.
//
// loader.cpp holds the tree (event dispatch, nodes, placing, keys, tags);
// what makes the load lossless is in loader_trivia.cpp (where blank lines
// and comments go, with pending_trivia.*), loader_positions.cpp (what the
// source shows around an event: property and header positions, raw scalar
// text, flow separators) and loader_stream.cpp (directives, markers,
// documents and the stream's end).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "brackle/document.hpp"
#include "brackle/load.hpp"
#include "core/src/charmap.hpp"
#include "core/src/pending_trivia.hpp"
#include "core/src/text.hpp"
#include "scanner/src/parser.hpp"
#include "scanner/src/string_map.hpp"

namespace brackle_core {

template <class T>
void append(std::vector<T>& to, std::vector<T>&& from) {
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

class Loader {
public:
    Loader(const CharMap& map, bool bom, SourceSpans* spans_out = nullptr)
        : map_(map), text_(map.text()), bom_(bom), spans_out_(spans_out) {}

    // Handles one event; false when the load has to stop (see `error`).
    bool handle(brackle_scanner::Event& ev, const brackle_scanner::Parser& parser);
    // Finishes the load after StreamEnd: the documents, in stream order.
    std::vector<Document> finish();
    // The number of documents finished and not yet taken.
    std::size_t finished() const { return documents_.size(); }
    // The first document finished and not yet taken, if any; a reader takes
    // each one before `finish`.
    std::optional<Document> take_finished();
    const ParseError& error() const { return error_; }
    // Gives `first` the source lines whose tabs or trailing blanks a writer
    // could not rebuild, for the whole source.
    void fill_line_space(Document& first) const;

private:
    using Event = brackle_scanner::Event;
    using Span = brackle_scanner::Span;
    using SourceMark = brackle_scanner::SourceMark;

    // A point of the source: its character index, its byte offset and its
    // position. The scanner's marks carry all three, so the loader cuts text
    // without mapping characters to bytes.
    struct At {
        std::size_t index = 0;
        std::size_t byte = 0;
        Position pos;
    };
    // Called several times per event, so kept inline (GCC would not).
    [[gnu::always_inline]] At at(const SourceMark& m) const {
        return At{m.index, m.byte, Position{text::zero_based_line(m.line), text::clamp32(m.col)}};
    }
    // Steps over the character at `a`.
    void step(At& a) const;
    // Steps to byte `stop`, which the current line reaches (its LF at most).
    void step_within_line(At& a, std::size_t stop) const;

    // A rolling hash of a key's text (see `key_repr`), built for every node
    // from its children's, so that comparing keys never builds their texts
    // unless two of them may be equal: keys nested in keys cost no more than
    // their own size.
    struct TextHash {
        static constexpr std::uint64_t base = 0x100000001b3ull;
        std::uint64_t hash = 0;
        std::uint64_t power = 1;  // base to the length
        std::uint64_t length = 0;

        void add(char c) {
            hash = hash * base + static_cast<unsigned char>(c);
            power *= base;
            ++length;
        }
        void add(std::string_view s) {
            for (const char c : s) add(c);
        }
        void add(const TextHash& t) {
            hash = hash * t.power + t.hash;
            power *= t.power;
            length += t.length;
        }
    };
    struct SeenKey {
        NodeIndex node;  // the key last seen with this hash
        Position where;
    };
    // Where each key of a mapping was last seen, found by the hash and
    // length of its text: searched in order while small, then through an
    // open-addressing table. Clearing keeps the buffers.
    class SeenKeys {
    public:
        SeenKey* find(const TextHash& key) {
            if (table_.empty()) {
                for (Slot& s : entries_) {
                    if (s.hash == key.hash && s.length == key.length) return &s.seen;
                }
                return nullptr;
            }
            const std::size_t mask = table_.size() - 1;
            for (std::size_t at = start_of(key.hash, mask);; at = (at + 1) & mask) {
                if (table_[at] == empty_slot) return nullptr;
                Slot& s = entries_[table_[at]];
                if (s.hash == key.hash && s.length == key.length) return &s.seen;
            }
        }
        // Adds a key that `find` did not find.
        void add(const TextHash& key, SeenKey seen) {
            entries_.push_back(Slot{key.hash, key.length, seen});
            if (entries_.size() <= linear_limit) return;
            if (table_.size() < 2 * entries_.size()) {
                std::size_t size = 32;
                while (size < 4 * entries_.size()) size *= 2;
                table_.assign(size, empty_slot);
                for (std::size_t i = 0; i < entries_.size(); ++i) place(i);
            } else {
                place(entries_.size() - 1);
            }
        }
        void clear() {
            entries_.clear();
            table_.clear();
        }

    private:
        static constexpr std::size_t linear_limit = 8;
        static constexpr std::uint32_t empty_slot = 0xFFFFFFFFu;
        struct Slot {
            std::uint64_t hash;
            std::uint64_t length;
            SeenKey seen;
        };
        // The text hash's low bits depend only on the text's last bytes.
        static std::size_t start_of(std::uint64_t hash, std::size_t mask) {
            return static_cast<std::size_t>((hash ^ (hash >> 32)) * 0x9E3779B97F4A7C15ull >> 32) &
                   mask;
        }
        void place(std::size_t entry) {
            const std::size_t mask = table_.size() - 1;
            std::size_t at = start_of(entries_[entry].hash, mask);
            while (table_[at] != empty_slot) at = (at + 1) & mask;
            table_[at] = static_cast<std::uint32_t>(entry);
        }
        std::vector<Slot> entries_;
        std::vector<std::uint32_t> table_;  // indices into entries_; empty while searched in order
    };

    struct Frame {
        NodeIndex node = 0;
        bool is_sequence = false;
        bool flow = false;
        bool has_child = false;
        std::uint32_t col = 0;
        std::vector<NodeIndex> items;
        std::vector<Entry> entries;
        std::optional<NodeIndex> pending_key;
        // Where each key of the mapping was last seen: found by the hash and
        // length of its text, or by the text itself for the rare key whose
        // hash matches another key's without its text doing so. Made for the
        // first mapping at this depth and kept for the next ones, so that a
        // deep nest of sequences does not carry one per level.
        struct KeyIndex {
            SeenKeys by_hash;
            brackle_scanner::StringMap<Position> by_text;
        };
        std::unique_ptr<KeyIndex> seen;
    };
    // The open collections, innermost last. A closed frame keeps the capacity
    // of its lists for the next collection opened at its depth.
    class FrameStack {
    public:
        bool empty() const { return depth_ == 0; }
        std::size_t depth() const { return depth_; }
        Frame& back() { return frames_[depth_ - 1]; }
        const Frame& back() const { return frames_[depth_ - 1]; }
        Frame& push() {
            if (depth_ == frames_.size()) frames_.emplace_back();
            Frame& frame = frames_[depth_++];
            frame.has_child = false;
            frame.items.clear();
            frame.entries.clear();
            frame.pending_key.reset();
            if (frame.seen) {
                frame.seen->by_hash.clear();
                frame.seen->by_text.clear();
            }
            return frame;
        }
        // The innermost frame, closed; it stays readable until the next push.
        Frame& pop() { return frames_[--depth_]; }

    private:
        std::vector<Frame> frames_;
        std::size_t depth_ = 0;
    };
    // Per node, beside the arena: where its source text starts and ends.
    struct NodeSpan {
        At start;
        At end;
        std::uint32_t end_line = 0;  // the end mark's line as the scanner counts (from 1)
        bool explicit_key = false;   // a `?` stood before the node
        bool hashed = false;         // `key` is computed (only for keys and what they hold)
        TextHash key;                // the hash of its text as a mapping key
    };

    // loader.cpp
    bool fail_internal(std::string_view message);
    bool scalar(Event& ev);
    bool placed_at_later_token(const Event& ev) const;
    void later_node_trivia(Node& node);
    At last_token_end(At from, At to) const;
    bool alias(Event& ev);
    template <class Fill>
    bool new_node(const Span& span, NodeIndex& index, bool takes_pending, Fill&& fill);
    void place(NodeIndex index);
    std::string_view key_repr(NodeIndex index);
    const TextHash& key_hash(NodeIndex index);
    void hash_node(NodeIndex index);
    bool same_key(NodeIndex a, NodeIndex b);
    void see_key(Frame& frame, NodeIndex index);
    bool collection_start(Event& ev, bool is_sequence);
    bool collection_end(const Event& ev);
    NodeTag node_tag(brackle_scanner::Tag&& tag) const;
    std::optional<Position> colon_after(At from, bool block) const;
    bool explicit_key_before(At start) const;
    // Where the block sequence whose event begins at `m` stands: at the `-`
    // before `m` for a sequence at its key's indentation, else at `m`.
    SourceMark dash_before(SourceMark m) const;
    void advance(const Span& span, bool content);
    // Moves the end of content to `end` when that is further.
    void advance_content(At end);
    std::string_view between(At from, At to) const {
        const std::size_t end = std::min(to.byte, text_.size());
        return from.byte < end ? std::string_view(text_.data() + from.byte, end - from.byte)
                               : std::string_view();
    }

    // loader_trivia.cpp
    void blanks(At to);
    void comment(Event& ev);
    void attach_comment(Comment&& comment, std::uint32_t line, At where);
    void node_trivia(NodeIndex index);
    void split_trivia(NodeIndex index);
    std::optional<std::uint32_t> dash_line_above(const Node& node) const;
    std::size_t trivia_after_dash(NodeIndex index) const;
    // Whether the node's text ends on `line` (from 1).
    bool value_below_its_colon(NodeIndex index) const;
    bool header_has_comment(const Node& node) const;
    std::size_t after_properties(const Node& node) const;
    bool ends_on_line(const NodeSpan& span, std::uint32_t line) const;
    std::size_t collection_after(const Frame& frame) const;
    bool line_is_blank(std::uint32_t line) const;

    // loader_positions.cpp
    template <class Visit>
    At scan_token_starts(At from, At to, Visit&& visit) const;
    void record_props(Node& node, At to) const;
    At block_header(At to) const;
    void scalar_raw(const Event& ev, At header, ScalarText& out) const;
    // The separation text from `from` up to `to` (or where it stops by
    // itself), stopping early at a `,` or a `:` when asked.
    std::pair<std::string, At> separation(At from, std::optional<At> to, bool to_comma = false,
                                          bool to_colon = false) const;
    At past_properties(At from, std::size_t n) const;
    void compute_flow_seps(const Frame& frame, Node& node);

    // loader_stream.cpp
    void document_start(const Event& ev, const brackle_scanner::Parser& parser);
    std::size_t document_text_start() const;
    void document_end(const Event& ev);
    void stream_end(const Event& ev);
    std::optional<std::string> region(At from, At to) const;

    const CharMap& map_;
    std::string_view text_;
    bool bom_;
    SourceSpans* spans_out_;  // null unless the caller asked for spans
    ParseError error_;

    std::vector<Document> documents_;
    Document document_;
    FrameStack frames_;
    std::vector<NodeSpan> spans_;
    std::optional<NodeIndex> last_placed_;
    At content_end_;
    // The end of the last finished document's content, if it had nodes.
    std::optional<At> last_content_end_;
    At comment_end_;                     // the end of the last comment read
    std::string key_text_;               // the buffer `key_repr` builds collection keys in
    std::vector<NodeIndex> hash_order_;  // `key_hash`'s buffers: nodes to hash, nodes to visit
    std::vector<NodeIndex> hash_stack_;
    std::vector<Node> node_buffer_;  // the current document's nodes grow here

    PendingTrivia pending_;
    std::vector<Trivia> inner_scratch_;  // `split_trivia`'s buffer for a collection's inner part
    std::vector<NodeIndex> flow_items_;  // `compute_flow_seps`' buffer for a mapping's children
    At blank_cursor_;
    bool pending_was_empty_ = true;
    bool after_doc_start_ = false;
    std::uint32_t doc_start_line_ = 0;
    bool after_doc_end_ = false;
    std::uint32_t doc_end_line_ = 0;
};

}  // namespace brackle_core
