// The emitter: documents and options to one YAML stream. Whatever the model
// still holds verbatim (a scalar's raw text, a directive block, positions,
// flow separators) is written back as it was, so an unchanged document comes
// back byte for byte; whatever has no verbatim form is laid out from the
// options.
//
// emitter.cpp holds the stream, the documents and the block nodes; flow.cpp
// the flow collections, tags and trivia; layout.* the Writer; scalar.* the
// choice and writing of scalar styles.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "brackle/document.hpp"
#include "brackle/emit.hpp"
#include "core/src/emitter/layout.hpp"
#include "core/src/emitter/scalar.hpp"
#include "core/src/emitter/walk.hpp"

namespace brackle_core {

namespace emitter {

// How a node begins: the indicator before it, or none.
enum class Lead : std::uint8_t {
    None,      // continues the line: a document's root, a value after its colon
    NewLine,   // starts a new line unless `first`: block mapping keys, broken flow items
    Dash,      // a block sequence item
    Question,  // an explicit key
    Colon,     // the value of an explicit key
};

// What a parent tells a child about where it stands.
struct NodeContext {
    Lead lead = Lead::None;
    std::uint32_t indent = 0;  // column of the indicator, or of the node's first line
    bool first = false;        // may continue the current line
    bool after_colon = false;  // the value of a mapping entry
    std::uint32_t child_indent = 0;
    bool aligned = false;  // may be placed at its source position
    bool in_flow = false;
    bool is_key = false;
    bool defer_eol = false;  // the caller writes the node's end-of-line comment
    // In a flow collection, what follows the node on its last line: its
    // comma, or the closing brackets of the collections it ends.
    std::uint32_t tail = 0;
    // The leftmost column at which the node may stand when it begins a line:
    // left of it, block content would leave the collection it belongs to.
    std::uint32_t min_col = 0;
    // The source line of the indicator, when known (a sequence's first dash
    // stands at the sequence's own position).
    std::optional<std::uint32_t> lead_line;
    // What the caller has already written for the node.
    struct Written {
        bool head = false;    // its properties (a root's, on the `---` line)
        bool before = false;  // its `before` trivia (echoed in a flow gap)
        bool eol = false;     // its end-of-line comment (echoed in a flow gap)
    } written;
    // Set when the caller measures the node's text (an implicit key): the
    // node records there the output size at which its text begins.
    std::size_t* text_start = nullptr;
    // The `---` line's comment, which a root block scalar writes after its
    // header.
    const Trivia* header_comment = nullptr;
};

// Whether a node's end-of-line comment is written, or the emission failed.
enum class Eol : std::uint8_t { Open, Written, Failed };

// What the start of a node decided, for its content and its end.
struct NodeStart {
    const Node* n = nullptr;
    bool aligned = false;  // may stand at its source position
    bool collection = false;
    bool block_collection = false;
    bool from_raw = false;  // a scalar written from its raw text
    std::uint32_t own_indent = 0;
    bool eol_written = false;    // its end-of-line comment is out
    bool props_written = false;  // its properties are out
    bool content_space = false;  // its content is set off from what precedes it
    bool below_key = false;      // a value moved to the line below its key
};

// What an echo of stored flow separators did.
enum class Echo : std::uint8_t { NotEchoed, Echoed, EchoedWithTrailing };

class Emitter {
public:
    // With `watch_cr`, the first raw text holding a CR stops the walk (see
    // `met_cr`): the stream is then written again with CR LF.
    Emitter(const EmitOptions& options, std::string_view line_break, const LineSpace* line_space,
            const OtherLineBreaks* others, bool watch_cr);

    // Writes every document; the stream's text is then in `writer().out`.
    bool stream(std::span<const Document> documents);
    // The same for `first` and the documents `reader` hands out after it,
    // each written as it comes. A read error ends the stream: the reader
    // holds it.
    bool stream(loader::Reader& reader, std::optional<Document> first);
    Writer& writer() { return writer_; }
    // The stack the walk of a document's tree runs on.
    Walk& walk() { return walk_; }
    const EmitError& error() const { return error_; }
    bool met_cr() const { return met_cr_; }

private:
    void document(const Document& doc, bool first_doc);
    bool start_marker_due(const Document& doc, bool first_doc) const;
    void stream_end(const Document& last);

    // A child node, awaited by its parent: a scalar or an alias is written at
    // once (`leaf`); a collection's call (`collection`) runs as a frame of the
    // walk, since only collections have children to wait for.
    class Child {
    public:
        Child(Emitter& emitter, NodeIndex index, const NodeContext& ctx)
            : emitter_(emitter), index_(index), ctx_(ctx) {}
        bool await_ready() {
            if (emitter_.walked(index_)) return false;
            result_ = emitter_.leaf(index_, ctx_);
            return true;
        }
        void await_suspend(std::coroutine_handle<> parent) {
            call_.emplace(emitter_.collection(index_, ctx_));
            call_->await_suspend(parent);
        }
        Eol await_resume() { return call_ ? call_->await_resume() : result_; }

    private:
        Emitter& emitter_;
        NodeIndex index_;
        const NodeContext& ctx_;
        std::optional<Task<Eol>> call_;
        Eol result_ = Eol::Open;
    };
    Child node(NodeIndex index, const NodeContext& ctx) { return Child(*this, index, ctx); }
    // What comes before a node's content: trivia, properties, an indicator;
    // nothing when the emission failed.
    std::optional<NodeStart> node_start(NodeIndex index, const NodeContext& ctx);
    // After the content: the node's end-of-line comment unless written or
    // deferred, and a scalar's `after` trivia.
    Eol node_end(const NodeStart& start, const NodeContext& ctx, Eol content);
    Eol leaf(NodeIndex index, const NodeContext& ctx);
    Task<Eol> collection(NodeIndex index, const NodeContext& ctx);
    // Whether a node is written as a frame of the walk (a collection).
    bool walked(NodeIndex index) const;
    Eol scalar(const NodeStart& start, const NodeContext& ctx);
    // Moves the writer to where the node's content goes.
    void place_content(const NodeStart& start, const NodeContext& ctx);
    const Comment* last_comment(const Node& n);
    bool value_below_key(const Node& n, const NodeContext& ctx, std::uint32_t indent,
                         bool props_pending);
    ScalarContext scalar_context(const Node& n, const NodeContext& ctx) const;
    std::size_t trivia_above(std::span<const Trivia> list, std::uint32_t line) const;
    // Whether a scalar is written from its raw text rather than its value.
    bool raw_usable(const Node& n, const NodeContext& ctx, bool aligned) const;
    bool continues_line(const Node& n, const NodeContext& ctx, bool aligned) const;
    std::uint32_t entry_column(const NodeContext& ctx, bool follows_indicator, std::uint32_t col,
                               bool aligned, NodeIndex first,
                               std::optional<std::uint32_t> first_line);
    // Whether a collection is written in block style (non-empty, not forced to flow).
    bool written_as_block(const Node& n, bool in_flow) const;
    // Whether the key written from output size `key_start` on may stand as
    // an implicit key.
    bool implicit_key_fits(std::size_t key_start) const;
    Task<Eol> block_sequence(const Node& n, const NodeContext& ctx, bool aligned,
                             bool props_written);
    Task<Eol> block_mapping(const Node& n, const NodeContext& ctx, bool aligned,
                            bool props_written);
    bool head(const Node& n, std::uint32_t indent, bool space, bool aligned, bool keep_line,
              std::uint32_t min_col);
    bool handle_declared(std::string_view handle) const;
    std::optional<std::string> tag_text(const NodeTag& tag) const;
    // An entry's `:`: at its source column where it stands there (never left
    // of `floor` when it begins a line), else after the key or at `indent`.
    void colon(const Node& key, const Entry& entry, bool aligned, std::uint32_t indent,
               std::uint32_t floor);
    // `aligned`: the header may stand at its source position.
    void block_scalar(const NodeStart& start, std::string_view text, bool aligned,
                      const NodeContext& ctx);

    // flow.cpp
    // `min_col`: no line of the collection may begin left of it; `tail`:
    // the characters that follow it on its last line.
    Task<Eol> flow(const Node& n, std::uint32_t indent, std::uint32_t min_col, bool aligned,
                   std::uint32_t tail);
    Task<Eol> flow_items(const Node& n, std::uint32_t indent, std::uint32_t min_col, bool aligned,
                         bool broken, std::uint32_t tail);
    Echo echo_gap(const std::string* gap, bool broken, const std::optional<Trivia>* trailing);
    // Where the items of a flow collection broken over lines stand: a step
    // in from the line it opens on, never left of `indent` or `min_col`.
    std::uint32_t flow_item_indent(std::uint32_t indent, std::uint32_t min_col) const {
        return std::max({indent, writer_.line_indent + map_indent_, min_col});
    }
    void run_trivia(std::span<const Trivia> list);
    void write_comment(const Trivia& entry) { run_trivia(std::span<const Trivia>(&entry, 1)); }

    const Node& at(NodeIndex index) const { return doc_->nodes[index]; }
    bool fail(std::optional<NodeStyle> style, std::string reason);

    Writer writer_;
    const EmitOptions& options_;
    bool watch_cr_;
    bool met_cr_ = false;
    std::uint32_t map_indent_;
    std::uint32_t seq_indent_;
    std::uint32_t seq_offset_;
    const Document* doc_ = nullptr;
    bool previous_ended_ = true;  // the previous document ended with `...`
    std::uint32_t depth_ = 0;
    Walk walk_;
    // The comments an echo of flow separators may place, gathered per gap.
    std::vector<const Comment*> echo_comments_;
    // Per node of the document, the width of its flow collection written on
    // one line, once a trial has measured it (`unmeasured`, or `too_wide`
    // when that line would break): a collection laid out anew is tried on
    // one line at most once, however often the collections around it are.
    static constexpr std::uint32_t unmeasured = 0;
    static constexpr std::uint32_t too_wide = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> flat_width_;
    // Per node, the node whose end-of-line comment it writes or hands up
    // last (see `last_comment`), and the chain being walked.
    std::vector<std::uint32_t> last_comment_;
    std::vector<NodeIndex> chain_;
    // The style `value_below_key` chose for the scalar it measured.
    std::pair<const Node*, NodeStyle> styled_{nullptr, NodeStyle::Plain};
    bool in_trial_ = false;  // a collection laid out anew is being tried on one line
    // The comment of a flow collection's last item that the collection just
    // closed hands up, to be written after it as its own.
    const std::optional<Trivia>* carried_eol_ = nullptr;
    EmitError error_;
    bool failed_ = false;
};

}  // namespace emitter
}  // namespace brackle_core
