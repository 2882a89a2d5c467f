// The loader's tree: the entry point, the event dispatch, nodes and where
// they are placed, mapping keys and duplicate keys, and tags.
#include "core/src/loader.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>

#include "core/src/text.hpp"

namespace brackle_core {

namespace {

using brackle_scanner::EventType;

using text::clamp32;
using text::zero_based_line;

ParseError error_from(const brackle_scanner::ScanError& e, bool internal) {
    return ParseError{e.info, e.mark.index, zero_based_line(e.mark.line), clamp32(e.mark.col),
                      internal};
}

// Whether a `%TAG` prefix as written (`tag:e%2C:`) is the resolved prefix
// `decoded` (`tag:e,:`), its %XX escapes read as bytes.
bool names_prefix(std::string_view written, std::string_view decoded) {
    std::size_t j = 0;
    for (std::size_t i = 0; i < written.size(); ++i, ++j) {
        char c = written[i];
        if (c == '%' && i + 2 < written.size() && brackle_scanner::is_hex(written[i + 1]) &&
            brackle_scanner::is_hex(written[i + 2])) {
            c = static_cast<char>(brackle_scanner::hex_value(written[i + 1]) * 16 +
                                  brackle_scanner::hex_value(written[i + 2]));
            i += 2;
        }
        if (j == decoded.size() || decoded[j] != c) return false;
    }
    return j == decoded.size();
}

// The line breaks of a source: its first, and the lines that end in another.
struct SourceBreaks {
    LineBreak first = LineBreak::Unknown;
    OtherLineBreaks others;
    bool lone_cr = false;
};

LineBreak break_at(std::string_view text, std::size_t at) {
    if (text[at] == '\n') return LineBreak::Lf;
    return at + 1 < text.size() && text[at + 1] == '\n' ? LineBreak::CrLf : LineBreak::Cr;
}

SourceBreaks line_breaks_of(std::string_view text) {
    SourceBreaks breaks;
    std::size_t at = text::find_break(text);
    if (at == text.size()) return breaks;
    breaks.first = break_at(text, at);
    // Without a CR, every line ends as the first does: no walk over the lines.
    if (breaks.first == LineBreak::Lf && text.find('\r', at) == std::string_view::npos) {
        return breaks;
    }
    std::uint32_t line = 0;
    while (at < text.size()) {
        const LineBreak here = break_at(text, at);
        if (here != breaks.first) breaks.others.emplace_back(line, here);
        breaks.lone_cr = breaks.lone_cr || here == LineBreak::Cr;
        ++line;
        at = text::find_break(text, at + (here == LineBreak::CrLf ? 2 : 1));
    }
    return breaks;
}

// `text` with an LF in place of every lone CR. Both are one line break to
// the scanner; every other count of lines (blank lines, comments, the lines
// kept whole) counts LFs. With one kind of break they all agree, and the
// emitter writes each line's own break back.
std::string lone_crs_as_lfs(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\r' && (i + 1 == out.size() || out[i + 1] != '\n')) out[i] = '\n';
    }
    return out;
}

// A scalar's value: where it is its source text, or that text inside its
// quotes, as it mostly is, it views that text; otherwise its own copy.
ScalarText scalar_value(std::string_view value, const ScalarText& raw) {
    if (raw.is_view()) {
        const std::string_view written = *raw;
        if (written == value) return ScalarText::view_of(written);
        if (written.size() == value.size() + 2 &&
            (written.front() == '\'' || written.front() == '"') &&
            written.substr(1, value.size()) == value) {
            return ScalarText::view_of(written.substr(1, value.size()));
        }
    }
    return ScalarText(value);
}

}  // namespace

namespace loader {

// One read of a source: the text as the scanner reads it, its parser and
// its loader. `parse` runs it to the end; a `Reader` hands its documents
// out as they are finished.
struct Reader::Run {
    // The text the scanner reads, when the documents hold it: a copy of the
    // source for `parse`, or the rare source with a lone CR translated.
    std::shared_ptr<const std::string> kept;
    bool bom = false;
    SourceBreaks breaks;
    std::optional<ParseError> error;
    std::optional<CharMap> map;
    std::optional<brackle_scanner::Parser> parser;
    std::optional<Loader> loader;
    bool ended = false;

    // With `keep`, the documents hold their own copy of the source;
    // otherwise they view the caller's.
    Run(std::string_view source, SourceSpans* spans, bool keep) {
        bom = source.starts_with("\xEF\xBB\xBF");
        if (bom) source.remove_prefix(3);
        if (source.size() > max_source_bytes) {
            error = ParseError{std::string(source_too_large), 0, 0, 0, false};
            return;
        }
        // A NUL ends the stream wherever it stands: the scanner reads no
        // further, so the loader's view of the text (the stream's tail, its
        // last line break, the lines kept whole) ends there too.
        source = source.substr(0, source.find('\0'));
        breaks = line_breaks_of(source);
        if (breaks.lone_cr) {
            kept = std::make_shared<const std::string>(lone_crs_as_lfs(source));
        } else if (keep) {
            kept = std::make_shared<const std::string>(source);
        }
        if (kept) source = *kept;
        map = CharMap::build(source);  // the size fits: checked above
        parser.emplace(source);
        loader.emplace(*map, bom, spans);
    }

    // Hands one event to the loader; false, with `error` set, when the load
    // has to stop.
    bool step() {
        brackle_scanner::Event ev;
        if (!parser->next_event(ev)) {
            error = error_from(parser->error(), parser->internal_error());
            return false;
        }
        ended = ev.type == EventType::StreamEnd;
        if (!loader->handle(ev, *parser)) {
            error = loader->error();
            return false;
        }
        return true;
    }
};

LoadResult parse(std::string_view source, SourceSpans* spans) {
    Reader::Run run(source, spans, true);
    while (!run.error && !run.ended) run.step();
    if (run.error) return *run.error;
    std::vector<Document> documents = run.loader->finish();
    for (Document& doc : documents) {
        doc.line_break = run.breaks.first;
        doc.source.text = run.kept;
    }
    if (!documents.empty()) documents.front().other_line_breaks = std::move(run.breaks.others);
    return documents;
}

Reader::Reader(std::string_view source, bool stream_facts)
    : run_(std::make_unique<Run>(source, nullptr, false)), stream_facts_(stream_facts) {}

Reader::~Reader() = default;

// A finished document is handed out once the next one has begun (or the
// stream has ended): until then the loader may still give it the trivia
// that follow it.
bool Reader::read_ahead() {
    Run& run = *run_;
    while (!run.error && !run.ended && run.loader->finished() < 2) run.step();
    return !run.error;
}

std::optional<Document> Reader::next() {
    read_ahead();
    Run& run = *run_;
    if (!run.loader) return std::nullopt;
    // The documents finished before an error are handed out first.
    std::optional<Document> doc = run.loader->take_finished();
    if (doc) {
        doc->line_break = run.breaks.first;
        doc->source.text = run.kept;
        if (first_) doc->other_line_breaks = std::move(run.breaks.others);
        if (stream_facts_) {
            // The stream's end marks whichever document is then the first.
            doc->bom = first_ && run.bom;
            if (first_) run.loader->fill_line_space(*doc);
        }
        first_ = false;
    }
    // Once the last document is out, the parser and the loader go: their
    // stacks, as deep as the deepest document, would otherwise be held
    // while the caller works on it.
    if (run.ended && run.loader->finished() == 0) {
        run.loader.reset();
        run.parser.reset();
    }
    return doc;
}

bool Reader::at_end() { return read_ahead() && (!run_->loader || run_->loader->finished() == 0); }

const std::optional<ParseError>& Reader::error() const { return run_->error; }

}  // namespace loader

void Loader::step(At& a) const {
    const text::Decoded d = text::decode_at(text_, a.byte);
    a.byte += d.width;
    ++a.index;
    if (d.c == U'\n') {
        ++a.pos.line;
        a.pos.col = 0;
    } else {
        ++a.pos.col;
    }
}

void Loader::step_within_line(At& a, std::size_t stop) const {
    const std::size_t chars = text::count_chars(text_.substr(a.byte, stop - a.byte));
    a.byte = stop;
    a.index += chars;
    a.pos.col = clamp32(a.pos.col + chars);
}

bool Loader::fail_internal(std::string_view message) {
    error_ = ParseError{std::string(message), 0, 0, 0, true};
    return false;
}

bool Loader::handle(Event& ev, const brackle_scanner::Parser& parser) {
    switch (ev.type) {
        case EventType::StreamStart: return true;
        case EventType::DocumentStart: document_start(ev, parser); return true;
        case EventType::DocumentEnd: document_end(ev); return true;
        case EventType::StreamEnd: stream_end(ev); return true;
        case EventType::Alias: return alias(ev);
        case EventType::Scalar: return scalar(ev);
        case EventType::SequenceStart: return collection_start(ev, true);
        case EventType::MappingStart: return collection_start(ev, false);
        case EventType::SequenceEnd:
        case EventType::MappingEnd: return collection_end(ev);
        case EventType::Comment: comment(ev); return true;
    }
    return true;
}

std::vector<Document> Loader::finish() {
    if (!documents_.empty()) fill_line_space(documents_.front());
    // The stream's end may add a document without nodes.
    if (spans_out_ && spans_out_->with_nodes) spans_out_->nodes.resize(documents_.size());
    return std::move(documents_);
}

std::optional<Document> Loader::take_finished() {
    if (documents_.empty()) return std::nullopt;
    std::optional<Document> first(std::move(documents_.front()));
    documents_.erase(documents_.begin());
    return first;
}

bool Loader::alias(Event& ev) {
    blanks(at(ev.span.start));
    NodeIndex index = 0;
    const bool added = new_node(ev.span, index, true, [&](Node& node) {
        node.kind = kind::Alias{std::move(*ev.anchor)};
        node.style = NodeStyle::Block;
    });
    if (!added) return false;
    place(index);
    advance(ev.span, true);
    return true;
}

bool Loader::scalar(Event& ev) {
    const auto style = static_cast<NodeStyle>(ev.style);
    const At start = at(ev.span.start);
    const At header = is_block_scalar_style(style) ? block_header(start) : start;
    const bool later = placed_at_later_token(ev);
    if (!later) blanks(header);

    // A block scalar without content lines stands at its header.
    Span node_span = ev.span;
    if (is_block_scalar_style(style) && ev.span.start.index == ev.span.end.index &&
        header.index < start.index) {
        node_span.start =
            SourceMark{header.index, std::size_t{header.pos.line} + 1, header.pos.col, header.byte};
    }
    bool has_raw = false;
    const bool has_props = ev.anchor || ev.tag;
    NodeIndex index = 0;
    const bool added = new_node(node_span, index, !later, [&](Node& node) {
        node.style = style;
        kind::Scalar& scalar = node.kind.emplace<kind::Scalar>();
        scalar_raw(ev, header, scalar.raw);
        has_raw = scalar.raw.has_value();
        scalar.value = scalar_value(ev.value, scalar.raw);
        if (ev.anchor || ev.tag) {
            NodeExtras& extras = node.extras.edit();
            extras.anchor = std::move(ev.anchor);
            if (ev.tag) extras.tag = node_tag(std::move(*ev.tag));
            record_props(node, header);
        }
        if (is_block_scalar_style(style)) node.extras.edit().header_at = header.pos;
    });
    if (!added) return false;
    if (later) {
        // Nothing after it on its line can be its end-of-line comment: that
        // would follow the later token.
        const std::optional<NodeIndex> placed = last_placed_;
        place(index);
        if (placed) last_placed_ = placed;
        // Its content, and so its span and its position, end with its `?`
        // or properties.
        content_end_ = last_token_end(content_end_, start);
        NodeSpan& span = spans_[index];
        span.start = span.end = content_end_;
        span.end_line = content_end_.pos.line + 1;
        Node& node = document_.nodes[index];
        node.line = content_end_.pos.line;
        node.col = content_end_.pos.col;
        return true;
    }
    place(index);
    // Properties are content too, even of a scalar written as nothing.
    advance(ev.span, has_raw || has_props);
    return true;
}

// The end of the last indicator or property between `from` and `to`
// (comments skipped), or `from` when there is none.
Loader::At Loader::last_token_end(At from, At to) const {
    At end = from;
    for (At here = from; here.byte < to.byte;) {
        const char c = text_[here.byte];
        const char before = here.byte > 0 ? text_[here.byte - 1] : '\n';
        if (c == '#' && (before == ' ' || before == '\t' || before == '\n' || before == '\r')) {
            step_within_line(here, text::comment_end(text_, here.byte));
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            step(here);
        } else {
            step(here);
            end = here;
        }
    }
    return end;
}

// The trivia of an empty scalar placed at a later token: the pending
// end-of-line comment, or else the comment that follows its `?` or its
// properties on their line.
void Loader::later_node_trivia(Node& node) {
    std::optional<Trivia> eol =
        pending_.has_eol() ? pending_.take_eol() : pending_.take_first_eol_comment();
    if (eol) node.trivia.edit().eol = std::move(eol);
}

// Whether the scalar is an empty one that the parser placed at the token
// after it: a block mapping's empty key at the next `?`, `:` or the block's
// end, the empty value of a key without `:` at the next key, or an empty
// document root (perhaps with properties) at the end of the document. It
// stands right after its `?` or properties, so the blank lines and comments
// up to that token are not its own: they stay pending for what comes next,
// and the cursors stay where they were.
bool Loader::placed_at_later_token(const Event& ev) const {
    if (ev.style != brackle_scanner::ScalarStyle::Plain || !ev.value.empty()) return false;
    if (frames_.empty()) return true;
    const Frame& frame = frames_.back();
    if (frame.flow) return false;
    // An item with properties and nothing after them: at the next `-` or
    // the end of the block.
    if (frame.is_sequence) return ev.anchor || ev.tag;
    // A value placed at its own `:` stands there, and so does the empty key
    // of an entry that begins with its `:`.
    const std::size_t b = ev.span.start.byte;
    const bool at_colon = b < text_.size() && text_[b] == ':';
    return !at_colon || (!frame.pending_key && explicit_key_before(at(ev.span.start)));
}

// Adds a node whose text starts at `span` to the arena, lets `fill` set
// its kind and properties in place, and gives it the pending trivia.
template <class Fill>
bool Loader::new_node(const Span& span, NodeIndex& index, bool takes_pending, Fill&& fill) {
    if (document_.nodes.size() >= std::numeric_limits<NodeIndex>::max()) {
        return fail_internal("too many nodes");
    }
    index = static_cast<NodeIndex>(document_.nodes.size());
    const At start = at(span.start);
    Node& node = document_.nodes.emplace_back();
    node.line = zero_based_line(span.start.line);
    node.col = clamp32(span.start.col);
    fill(node);
    spans_.push_back(NodeSpan{
        start, at(span.end), clamp32(span.end.line), explicit_key_before(start), false, {}});
    if (takes_pending) {
        node_trivia(index);
    } else {
        later_node_trivia(document_.nodes[index]);
    }
    return true;
}

// Whether a `?` stands between the end of the last content and `start`,
// with only white space, flow punctuation, `-`, `:` and comments around it
// (the `:` of an empty value that ends right after it, as in `a:` before
// `? b`).
bool Loader::explicit_key_before(At start) const {
    for (std::size_t b = content_end_.byte; b < start.byte;) {
        const auto c = static_cast<unsigned char>(text_[b]);
        if (c == '?') return true;
        if (c == '#') {
            b = text::comment_end(text_, b);
        } else if (c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == ',' || c == '-' ||
                   c == ':' || c == '[' || c == ']' || c == '{' || c == '}') {
            ++b;
        } else {
            // Other white space, which is rare, needs decoding.
            const text::Decoded d = text::decode_at(text_, b);
            if (!text::is_white_space(d.c)) return false;
            b += d.width;
        }
    }
    return false;
}

void Loader::place(NodeIndex index) {
    last_placed_ = index;
    if (frames_.empty()) {
        document_.root = index;
        return;
    }
    Frame& frame = frames_.back();
    if (frame.is_sequence) {
        frame.items.push_back(index);
    } else if (!frame.pending_key) {
        see_key(frame, index);
        frame.pending_key = index;
    } else {
        const NodeIndex key_index = *frame.pending_key;
        const Node& key = document_.nodes[key_index];
        Entry entry;
        entry.key = key_index;
        entry.value = index;
        const auto* scalar = std::get_if<kind::Scalar>(&key.kind);
        entry.merge = scalar && key.style == NodeStyle::Plain && !key.extras.get().tag &&
                      scalar->value && *scalar->value == "<<";
        entry.explicit_key = spans_[key_index].explicit_key;
        entry.colon = colon_after(spans_[key_index].end, !frame.flow);
        // A block mapping's own `:` never stands left of the mapping: one that
        // does belongs to a mapping holding it (`? ? a`, then `: b`).
        if (entry.colon && !frame.flow && entry.colon->col < frame.col) entry.colon.reset();
        frame.entries.push_back(std::move(entry));
        frame.pending_key.reset();
    }
    frame.has_child = true;
}

// Where a `:` follows `from` with only white space and comments before it.
// In a block collection the value's `:` is followed by white space: a `:`
// with more text right after it begins the next key (`?` then `::`).
std::optional<Position> Loader::colon_after(At from, bool block) const {
    for (At here = from; here.byte < text_.size();) {
        const text::Decoded d = text::decode_at(text_, here.byte);
        if (d.c == U':') {
            const std::size_t next = here.byte + d.width;
            if (block && next < text_.size() &&
                !brackle_scanner::is_blank_or_breakz(static_cast<unsigned char>(text_[next]))) {
                return std::nullopt;
            }
            return here.pos;
        }
        if (d.c == U'#') {
            step_within_line(here, text::comment_end(text_, here.byte));
            continue;
        }
        if (!text::is_white_space(d.c)) return std::nullopt;
        step(here);
    }
    return std::nullopt;
}

// Records a mapping key in its frame, and a duplicate when the same key was
// seen before in the mapping.
void Loader::see_key(Frame& frame, NodeIndex index) {
    const Node& key = document_.nodes[index];
    const Position here{key.line, key.col};
    const TextHash& hash = key_hash(index);

    if (!frame.seen) frame.seen = std::make_unique<Frame::KeyIndex>();
    std::optional<Position> previous;
    if (SeenKey* seen = frame.seen->by_hash.find(hash)) {
        if (same_key(seen->node, index)) {
            previous = seen->where;
            *seen = SeenKey{index, here};
        } else {
            previous = frame.seen->by_text.insert_or_assign(key_repr(index), here);
        }
    } else {
        frame.seen->by_hash.add(hash, SeenKey{index, here});
    }
    if (previous)
        document_.duplicate_keys.push_back(
            DuplicateKey{std::string(key_repr(index)), *previous, here});
}

// Whether two keys have the same text.
bool Loader::same_key(NodeIndex a, NodeIndex b) {
    const std::string first(key_repr(a));
    return first == key_repr(b);
}

// The hash of a node's key text, computed on first use and kept. Only keys
// and the nodes inside them are hashed; a collection's hash comes from its
// children's, found with an explicit stack.
const Loader::TextHash& Loader::key_hash(NodeIndex index) {
    if (spans_[index].hashed) return spans_[index].key;
    const NodeKind& kind = document_.nodes[index].kind;
    if (std::holds_alternative<kind::Scalar>(kind) || std::holds_alternative<kind::Alias>(kind)) {
        hash_node(index);
        return spans_[index].key;
    }
    // The unhashed nodes of the subtree in pre-order: taken in reverse, every
    // child comes before its parent.
    hash_order_.clear();
    hash_stack_.assign(1, index);
    while (!hash_stack_.empty()) {
        const NodeIndex n = hash_stack_.back();
        hash_stack_.pop_back();
        hash_order_.push_back(n);
        const Node& node = document_.nodes[n];
        for_each_child(node, [&](NodeIndex child) {
            if (!spans_[child].hashed) hash_stack_.push_back(child);
        });
    }
    for (auto n = hash_order_.rbegin(); n != hash_order_.rend(); ++n) hash_node(*n);
    return spans_[index].key;
}

// The hash of a scalar's or an alias's key text, or of a collection's from
// its children's, which are hashed already.
void Loader::hash_node(NodeIndex index) {
    const Node& node = document_.nodes[index];
    TextHash hash;
    if (const auto* seq = std::get_if<kind::Sequence>(&node.kind)) {
        hash.add('[');
        for (std::size_t i = 0; i < seq->items.size(); ++i) {
            if (i > 0) hash.add(',');
            hash.add(spans_[seq->items[i]].key);
        }
        hash.add(']');
    } else if (const auto* map = std::get_if<kind::Mapping>(&node.kind)) {
        hash.add('{');
        for (std::size_t i = 0; i < map->entries.size(); ++i) {
            if (i > 0) hash.add(',');
            hash.add(spans_[map->entries[i].key].key);
            hash.add(':');
            hash.add(spans_[map->entries[i].value].key);
        }
        hash.add('}');
    } else if (const auto* alias = std::get_if<kind::Alias>(&node.kind)) {
        hash.add('*');
        hash.add(alias->name);
    } else if (const auto* scalar = std::get_if<kind::Scalar>(&node.kind);
               scalar && scalar->value) {
        hash.add(*scalar->value);
    }
    spans_[index].key = hash;
    spans_[index].hashed = true;
}

// The text by which mapping keys are compared: a scalar's value, `[a,b]`
// for sequences, `{k:v,...}` for mappings, `*name` for aliases. Built with
// an explicit stack: keys can nest as deep as the input does.
std::string_view Loader::key_repr(NodeIndex index) {
    const Node& key = document_.nodes[index];
    if (std::holds_alternative<kind::Scalar>(key.kind)) {
        return key.value() ? std::string_view(*key.value()) : std::string_view();
    }
    struct Step {
        NodeIndex node;
        std::size_t next = 0;  // children written so far
    };
    std::string& out = key_text_;
    out.clear();
    std::vector<Step> stack{{index}};
    while (!stack.empty()) {
        Step& step = stack.back();
        const Node& node = document_.nodes[step.node];
        if (const auto* seq = std::get_if<kind::Sequence>(&node.kind)) {
            if (step.next == 0) out += '[';
            if (step.next < seq->items.size()) {
                if (step.next > 0) out += ',';
                const NodeIndex child = seq->items[step.next++];
                stack.push_back({child});
            } else {
                out += ']';
                stack.pop_back();
            }
        } else if (const auto* map = std::get_if<kind::Mapping>(&node.kind)) {
            if (step.next == 0) out += '{';
            if (step.next < 2 * map->entries.size()) {
                const Entry& e = map->entries[step.next / 2];
                if (step.next % 2 == 1) {
                    out += ':';
                } else if (step.next > 0) {
                    out += ',';
                }
                const NodeIndex child = step.next % 2 == 0 ? e.key : e.value;
                ++step.next;
                stack.push_back({child});
            } else {
                out += '}';
                stack.pop_back();
            }
        } else if (const auto* alias = std::get_if<kind::Alias>(&node.kind)) {
            out += '*';
            out += alias->name;
            stack.pop_back();
        } else {
            if (node.value()) out += *node.value();
            stack.pop_back();
        }
    }
    return out;
}

bool Loader::collection_start(Event& ev, bool is_sequence) {
    if (frames_.depth() >= max_depth) {
        const auto& m = ev.span.start;
        error_ =
            ParseError{"document nested more than " + std::to_string(max_depth) + " levels deep",
                       m.index, zero_based_line(m.line), clamp32(m.col), false};
        return false;
    }
    blanks(at(ev.span.start));
    // A sequence opened by a `-` at a key's indentation starts after the `-`
    // and its blanks; the node stands at the `-`, as other block sequences do.
    Span node_span = ev.span;
    if (is_sequence && !ev.flow) node_span.start = dash_before(node_span.start);
    NodeIndex index = 0;
    const bool added = new_node(node_span, index, true, [&](Node& node) {
        if (is_sequence) {
            node.kind = kind::Sequence{};
        } else {
            node.kind = kind::Mapping{};
        }
        node.style = ev.flow ? NodeStyle::Flow : NodeStyle::Block;
        if (ev.anchor || ev.tag) {
            NodeExtras& extras = node.extras.edit();
            extras.anchor = std::move(ev.anchor);
            if (ev.tag) extras.tag = node_tag(std::move(*ev.tag));
            record_props(node, at(ev.span.start));
        }
    });
    if (!added) return false;
    Frame& frame = frames_.push();
    frame.node = index;
    frame.is_sequence = is_sequence;
    frame.flow = ev.flow;
    frame.col = clamp32(ev.span.start.col);
    advance(ev.span, true);
    return true;
}

Loader::SourceMark Loader::dash_before(SourceMark m) const {
    // A block sequence elsewhere than a block mapping's value begins at its
    // own `-`; so does a value's sequence indented past its key. Only the
    // sequence at its key's indentation begins after a `-` on its line: then
    // only the indentation stands before that `-`, and blanks (or blanks and
    // a comment, when the item begins on a later line) up to `m`, where an
    // item that is itself a sequence, or text that begins with a `-`, may
    // begin.
    if (frames_.empty() || frames_.back().is_sequence || frames_.back().flow) return m;
    std::size_t line_start = m.byte;
    while (line_start > 0 && text_[line_start - 1] != '\n' && text_[line_start - 1] != '\r') {
        --line_start;
    }
    std::size_t dash = line_start;
    while (dash < m.byte && (text_[dash] == ' ' || text_[dash] == '\t')) ++dash;
    if (dash >= m.byte || text_[dash] != '-') return m;
    std::size_t after = dash + 1;
    while (after < m.byte && (text_[after] == ' ' || text_[after] == '\t')) ++after;
    if (after < m.byte && text_[after] != '#') return m;
    const std::size_t back_chars = text::count_chars(text_.substr(dash, m.byte - dash));
    if (back_chars > m.col) return m;
    m.index -= back_chars;
    m.byte = dash;
    m.col -= back_chars;
    return m;
}

bool Loader::collection_end(const Event& ev) {
    blanks(at(ev.span.start));
    if (frames_.empty()) return fail_internal("unbalanced collection events");
    Frame& frame = frames_.pop();
    const std::size_t after = collection_after(frame);

    NodeSpan& span = spans_[frame.node];
    if (frame.flow) {
        span.end_line = clamp32(ev.span.start.line);
        span.end = at(ev.span.end);
    } else if (!frame.items.empty() || !frame.entries.empty()) {
        const NodeIndex last = frame.is_sequence ? frame.items.back() : frame.entries.back().value;
        span.end_line = spans_[last].end_line;
        span.end = spans_[last].end;
        // An empty last value stands at its entry's `:`: the mapping ends after
        // that colon, which a mapping holding this one must not take for its own.
        const NodeSpan& last_span = spans_[last];
        if (!frame.is_sequence && frame.entries.back().colon == span.end.pos &&
            last_span.start.byte == last_span.end.byte)
            step(span.end);
    } else {
        span.end_line = clamp32(ev.span.start.line);
        span.end = at(ev.span.start);
    }

    Node& node = document_.nodes[frame.node];
    if (frame.flow) compute_flow_seps(frame, node);
    // Exact-size copies: the frame keeps its buffers for the next collection.
    if (frame.is_sequence) {
        node.kind = kind::Sequence{std::vector<NodeIndex>(frame.items.begin(), frame.items.end())};
    } else {
        node.kind = kind::Mapping{std::vector<Entry>(frame.entries.begin(), frame.entries.end())};
    }
    if (after > 0) {
        pending_.move_first(after, node.trivia.edit().after);
    }
    place(frame.node);
    // A block collection ends where its last entry ends; its end token stands
    // at the next token, and what lies before that is not its content.
    advance(ev.span, frame.flow);
    if (!frame.flow) advance_content(span.end);
    return true;
}

NodeTag Loader::node_tag(brackle_scanner::Tag&& tag) const {
    NodeTag out;
    out.full = tag.handle + tag.suffix;
    if (tag.handle == "!") {
        out.handle = "!";
    } else if (const auto d =
                   std::find_if(document_.tag_directives.begin(), document_.tag_directives.end(),
                                [&](const TagDirective& t) {
                                    return !t.prefix.empty() && names_prefix(t.prefix, tag.handle);
                                });
               d != document_.tag_directives.end()) {
        out.handle = d->handle;
    } else if (tag.handle == brackle_scanner::standard_tag_prefix) {
        out.handle = "!!";
    } else {
        // No handle names the prefix: the tag is written in verbatim form,
        // which must hold all of it.
        out.suffix = out.full;
        return out;
    }
    out.suffix = std::move(tag.suffix);
    return out;
}

// Moves the cursors past an event's span: the blank-line cursor always, the
// end of content when the event has source text of its own.
void Loader::advance(const Span& span, bool content) {
    if (span.end.index > blank_cursor_.index) blank_cursor_ = at(span.end);
    if (content) advance_content(at(span.end));
}

void Loader::advance_content(At end) {
    if (end.index > content_end_.index) content_end_ = end;
    pending_was_empty_ = pending_.empty();
}

}  // namespace brackle_core
