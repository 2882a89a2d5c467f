#include "core/src/emitter/emitter.hpp"

#include <algorithm>
#include <utility>

#include "core/src/emitter/scalar.hpp"
#include "core/src/text.hpp"

namespace brackle_core {

namespace {

std::string_view style_name(NodeStyle style) {
    switch (style) {
        case NodeStyle::Plain: return "Plain";
        case NodeStyle::SingleQuoted: return "SingleQuoted";
        case NodeStyle::DoubleQuoted: return "DoubleQuoted";
        case NodeStyle::Literal: return "Literal";
        case NodeStyle::Folded: return "Folded";
        case NodeStyle::Block: return "Block";
        case NodeStyle::Flow: return "Flow";
    }
    return "Plain";
}

std::uint32_t clamp_option(std::uint64_t value, std::uint32_t fallback) {
    return value > 0xFFFFFFFFu ? fallback : static_cast<std::uint32_t>(value);
}

bool has_cr(const ScalarText& raw) {
    return raw && text::find_break(*raw) < raw->size() && raw->find('\r') != std::string_view::npos;
}

// The reader takes an implicit key only when its `:` follows within this
// many characters of the key's start.
constexpr std::size_t max_implicit_key_chars = 1024;

bool has_position(const Node& n) { return n.line != 0 || n.col != 0; }

// The source line of the first text a node writes: its properties or a block
// scalar's header may stand on a line above its content.
Position first_position(const Node& n) {
    const NodeExtras& extras = n.extras.get();
    Position first{n.line, n.col};
    for (const auto* p : {&extras.anchor_at, &extras.tag_at, &extras.header_at}) {
        if (*p) first = std::min(first, **p);
    }
    return first;
}

// Where a node's properties end in the source: after the one written last.
std::optional<Position> properties_end(const Node& n) {
    const NodeExtras& extras = n.extras.get();
    std::optional<Position> end;
    if (extras.anchor && extras.anchor_at) {
        end = Position{extras.anchor_at->line,
                       extras.anchor_at->col + 1 +
                           static_cast<std::uint32_t>(text::count_chars(*extras.anchor))};
    }
    if (extras.tag && extras.tag_at && (!end || *extras.tag_at > *extras.anchor_at)) {
        end = Position{extras.tag_at->line,
                       extras.tag_at->col + static_cast<std::uint32_t>(text::count_chars(
                                                emitter::render_tag(*extras.tag)))};
    }
    return end;
}

// An empty plain scalar: nothing of it is written (see Emitter::scalar).
bool writes_nothing(const Node& n) {
    const auto* s = std::get_if<kind::Scalar>(&n.kind);
    if (s == nullptr || n.style != NodeStyle::Plain) return false;
    return s->raw ? s->raw->empty() : !s->value || s->value->empty();
}

bool is_empty_collection(const Node& n) {
    if (const auto* s = std::get_if<kind::Sequence>(&n.kind)) return s->items.empty();
    if (const auto* m = std::get_if<kind::Mapping>(&n.kind)) return m->entries.empty();
    return false;
}

// Whether every line after the first of `text` that holds more than blanks
// begins with at least `indent` spaces.
bool lines_indented(std::string_view text, std::uint32_t indent) {
    std::size_t brk = text.find_first_of("\r\n");
    while (brk != std::string_view::npos) {
        const std::size_t start = brk + 1;
        brk = text.find_first_of("\r\n", start);
        const std::string_view line = text.substr(
            start, brk == std::string_view::npos ? std::string_view::npos : brk - start);
        const std::size_t content = line.find_first_not_of(" \t");
        if (content != std::string_view::npos && line.find_first_not_of(' ') < indent) return false;
    }
    return true;
}

// A raw text that holds a directive line.
bool has_directive_line(std::string_view text) {
    for (std::size_t start = 0; start < text.size();) {
        if (text[start] == '%') return true;
        const std::size_t brk = text.find_first_of("\r\n", start);
        if (brk == std::string_view::npos) break;
        start = brk + 1;
    }
    return false;
}

// A document that holds `%YAML` or `%TAG` directives.
bool has_directives(const Document& doc) {
    return doc.version || !doc.tag_directives.empty() ||
           (doc.directives_raw && has_directive_line(doc.directives_raw->first));
}

}  // namespace

std::string EmitError::message() const {
    if (!style) return reason;
    std::string text = "a ";
    text += style_name(*style);
    text += " scalar cannot represent this value here: ";
    text += reason;
    return text;
}

namespace emitter {

namespace {

// The line break `options` ask for, as its code (0: the documents' own, 1:
// LF, 2: CR LF, 3: CR), with code 0 turned into the break of the source
// the first document was loaded from, when it knows one.
std::uint8_t line_break_code(const EmitOptions& options, const Document* first) {
    if (options.line_break != 0 || first == nullptr) return options.line_break;
    switch (first->line_break) {
        case LineBreak::Lf: return 1;
        case LineBreak::CrLf: return 2;
        case LineBreak::Cr: return 3;
        case LineBreak::Unknown: break;
    }
    return 0;
}

// The break to write for `code`. Code 0, for documents that know none,
// writes LF unless some scalar's raw text holds a CR: rather than read
// every node once more beforehand, the walk looks out for such a text
// (`watch_cr`) and, on the first one, the stream is written again with
// CR LF (`watch_cr` false).
std::string_view line_break_text(std::uint8_t code, bool watch_cr) {
    if (code == 0) return watch_cr ? "\n" : "\r\n";
    return code == 2 ? "\r\n" : code == 3 ? "\r" : "\n";
}

constexpr std::string_view bom_bytes = "\xEF\xBB\xBF";

}  // namespace

EmitResult emit(std::span<const Document> documents, const EmitOptions& options) {
    const Document* first = documents.empty() ? nullptr : &documents.front();
    const std::uint8_t code = line_break_code(options, first);
    const LineSpace* line_space = first ? &first->line_space : nullptr;
    // The lines that end in another break come back so only where the
    // options leave the choice to the source.
    const OtherLineBreaks* others =
        first && options.line_break == 0 ? &first->other_line_breaks : nullptr;
    for (bool watch_cr = code == 0;; watch_cr = false) {
        Emitter e(options, line_break_text(code, watch_cr), line_space, others, watch_cr);
        if (first && first->bom) e.writer().out = bom_bytes;
        if (e.stream(documents)) return std::move(e.writer().out);
        if (!e.met_cr()) return e.error();
    }
}

RoundTripResult round_trip(std::string_view source, const EmitOptions& options) {
    for (bool again = false;; again = true) {
        loader::Reader reader(source, true);
        std::optional<Document> first = reader.next();
        // The whole stream's facts, kept apart from the first document so
        // that it can go once it is written.
        LineSpace line_space;
        OtherLineBreaks others;
        if (first) {
            line_space = std::move(first->line_space);
            others = std::move(first->other_line_breaks);
        }
        const std::uint8_t code = line_break_code(options, first ? &*first : nullptr);
        const bool watch_cr = !again && code == 0;
        Emitter e(options, line_break_text(code, watch_cr), first ? &line_space : nullptr,
                  first && options.line_break == 0 ? &others : nullptr, watch_cr);
        // Most texts come back at their own size: one buffer holds them.
        e.writer().out.reserve(source.size() + source.size() / 16 + 16);
        if (first && first->bom) e.writer().out = bom_bytes;
        const bool written = e.stream(reader, std::move(first));
        // A text that does not load is reported as such, whatever was
        // written before its error.
        if (!written && !e.met_cr()) {
            while (reader.next()) {
            }
        }
        if (const auto& error = reader.error()) return *error;
        if (written) return std::move(e.writer().out);
        if (!e.met_cr()) return e.error();
    }
}

Emitter::Emitter(const EmitOptions& options, std::string_view line_break,
                 const LineSpace* line_space, const OtherLineBreaks* others, bool watch_cr)
    : writer_(line_break, line_space, others),
      options_(options),
      watch_cr_(watch_cr),
      // A nested block mapping needs at least one column to stand right of
      // its key: at the key's own column it would read as the next entry.
      map_indent_(std::max<std::uint32_t>(clamp_option(options.map_indent, 2), 1)),
      seq_indent_(clamp_option(options.seq_indent, 2)),
      seq_offset_(clamp_option(options.seq_offset, 0)) {}

bool Emitter::fail(std::optional<NodeStyle> style, std::string reason) {
    if (!failed_) error_ = EmitError{style, std::move(reason)};
    failed_ = true;
    return false;
}

bool Emitter::stream(std::span<const Document> documents) {
    for (std::size_t i = 0; i < documents.size(); ++i) {
        document(documents[i], i == 0);
        if (failed_) return false;
    }
    if (!documents.empty()) stream_end(documents.back());
    return true;
}

bool Emitter::stream(loader::Reader& reader, std::optional<Document> doc) {
    // The last document is kept for the stream's end; each earlier one goes
    // as soon as it is written.
    std::optional<Document> last;
    for (bool first = true; doc; first = false) {
        document(*doc, first);
        if (failed_) return false;
        last.swap(doc);
        doc = reader.next();
    }
    doc_ = nullptr;
    if (last) stream_end(*last);
    return true;
}

bool Emitter::start_marker_due(const Document& doc, bool first_doc) const {
    if (has_directives(doc)) return true;
    // A document without a root holds only trivia (a stream of comments): a
    // marker would turn it into a document with a null in it.
    if (!doc.root) return false;
    // A root that writes nothing stands for its document only by the marker.
    const Node& root = doc.nodes[*doc.root];
    if (writes_nothing(root) && !root.extras.get().anchor && !root.extras.get().tag) return true;
    return options_.explicit_start.value_or(doc.explicit_start) || (!first_doc && !previous_ended_);
}

void Emitter::document(const Document& doc, bool first_doc) {
    doc_ = &doc;
    flat_width_.clear();
    last_comment_.clear();
    Writer& w = writer_;
    // Directives after a document that did not end with `...` would read
    // as its content: the marker is written first.
    if (!first_doc && !previous_ended_ && has_directives(doc)) {
        w.end_line();
        w.push("...");
        previous_ended_ = true;
    }
    // Nothing may follow `...` on its line.
    if (!first_doc && previous_ended_) w.end_line();

    // Leading trivia: those the directive text holds are skipped; a comment
    // on the `---` line is held back until the marker is out.
    std::span<const Trivia> leading(doc.leading);
    if (doc.directives_raw) {
        leading = leading.subspan(std::min(doc.directives_raw->second, leading.size()));
    }
    const Trivia* marker_comment = nullptr;
    if (!leading.empty() && is_comment(leading.back()) && !is_own_line_comment(leading.back())) {
        marker_comment = &leading.back();
        leading = leading.first(leading.size() - 1);
    }
    run_trivia(leading);

    if (doc.directives_raw) {
        // Whole lines: what follows begins a line of its own.
        w.end_line();
        w.push(doc.directives_raw->first);
        w.break_due = true;
    } else {
        const std::size_t tags_before =
            std::min(doc.tags_before_version, doc.tag_directives.size());
        auto tag_line = [&](const TagDirective& t) {
            w.end_line();
            w.push("%TAG " + t.handle + " " + t.prefix);
        };
        for (std::size_t i = 0; i < tags_before; ++i) tag_line(doc.tag_directives[i]);
        if (doc.version) {
            w.end_line();
            w.push("%YAML " + std::to_string(doc.version->first) + "." +
                   std::to_string(doc.version->second));
        }
        for (std::size_t i = tags_before; i < doc.tag_directives.size(); ++i) {
            tag_line(doc.tag_directives[i]);
        }
    }

    if (start_marker_due(doc, first_doc)) {
        w.end_line();
        w.push("---");
        if (!doc.explicit_start) w.in_step = false;
    }

    if (doc.root) {
        const Node& root = at(*doc.root);
        const NodeExtras& extras = root.extras.get();
        // The line the root's first text goes on: the next one when a
        // comment ended the current one.
        const std::uint32_t line = w.break_due ? w.line + 1 : w.line;
        auto on_this_line = [&](const std::optional<Position>& p) { return p && p->line == line; };
        NodeContext ctx;
        ctx.first = true;
        ctx.aligned = true;
        if (marker_comment && (on_this_line(extras.anchor_at) || on_this_line(extras.tag_at))) {
            head(root, 0, true, true, false, 0);
            ctx.written.head = true;
        }
        // A block scalar's header on the marker line comes before the comment.
        if (marker_comment && root.raw() && is_block_scalar_style(root.style) &&
            on_this_line(extras.header_at) && !root.trivia.get().eol) {
            ctx.header_comment = marker_comment;
        } else if (marker_comment) {
            write_comment(*marker_comment);
        }
        const Eol written =
            walked(*doc.root) ? collection(*doc.root, ctx).run() : leaf(*doc.root, ctx);
        if (written == Eol::Failed) return;
    } else if (marker_comment) {
        write_comment(*marker_comment);
    }

    previous_ended_ = options_.explicit_end.value_or(doc.explicit_end);
    if (previous_ended_) {
        w.end_line();
        w.push("...");
    }
    run_trivia(doc.trailing);
}

void Emitter::stream_end(const Document& last) {
    Writer& w = writer_;
    if (last.final_line_break) {
        w.end_line();
        return;
    }
    std::string_view tail = last.stream_tail;
    if (tail.empty()) {
        // Blanks after an empty last value, which the parser places at the
        // end of the text, are in no node and in no tail: the source line
        // that holds them gives them back.
        w.line_tail();
        // A `?` needs white space after it, which the end of the text is not.
        if (w.out.size() == w.after_question) w.end_line();
        return;
    }
    const std::size_t brk = tail.starts_with("\r\n") ? 2 : tail.starts_with('\n') ? 1 : 0;
    if (brk > 0) {
        w.end_line();
        tail.remove_prefix(brk);
    }
    w.push(tail);
}

std::optional<NodeStart> Emitter::node_start(NodeIndex index, const NodeContext& ctx) {
    if (doc_ == nullptr || index >= doc_->nodes.size()) {
        fail(std::nullopt, "brackle-core: node index outside the document");
        return std::nullopt;
    }
    if (depth_ > max_depth) {
        fail(std::nullopt, "brackle-core: document nested more than " + std::to_string(max_depth) +
                               " levels deep to emit");
        return std::nullopt;
    }
    Writer& w = writer_;
    const Node& n = at(index);
    if (watch_cr_ && has_cr(n.raw())) {
        met_cr_ = true;
        fail(std::nullopt, "a raw text holds a CR: the stream is written again with CR LF");
        return std::nullopt;
    }
    bool head_done = ctx.written.head;
    bool before_done = ctx.written.before;
    const bool head_by_caller = head_done;
    const Trivia4& trivia = n.trivia.get();

    // Flow or block: a collection whose style changes loses its alignment.
    bool aligned = ctx.aligned;
    bool in_flow_style = false;
    const bool collection = is_collection(n);
    if (collection) {
        const bool stored_flow = n.style == NodeStyle::Flow;
        in_flow_style = ctx.in_flow ? true : options_.default_flow_style.value_or(stored_flow);
        // Nothing after it stands where it stood: the writer's lines no
        // longer follow the source's, whose blanks it would copy.
        if (in_flow_style != stored_flow) aligned = w.in_step = false;
    }
    const bool block_collection = written_as_block(n, ctx.in_flow);
    const bool from_raw = raw_usable(n, ctx, aligned);
    const bool raw_block_scalar = from_raw && is_block_scalar_style(n.style);

    if (aligned && !collection && !from_raw && !has_position(n)) w.in_step = false;

    const bool indicator = ctx.lead != Lead::None && ctx.lead != Lead::NewLine;
    const std::uint32_t own_indent = indicator ? ctx.indent + 2 : ctx.indent;
    const bool space = ctx.lead != Lead::None || ctx.first;
    bool eol_written = ctx.written.eol;
    bool props_written = head_done;
    bool below_key = false;

    auto write_eol = [&] {
        if (trivia.eol && !eol_written) write_comment(*trivia.eol);
        eol_written = true;
    };

    // In step, a scalar's properties on a line above its content (after a
    // colon, or beginning the document): of its `before` trivia, those that
    // fit on the lines above the properties stood there, the rest between
    // properties and content, after the comment that follows a colon.
    const bool props_above_content =
        ctx.lead == Lead::None && aligned && w.in_step && !collection && !head_done &&
        (n.extras.get().anchor || n.extras.get().tag) && first_position(n).line < n.line &&
        first_position(n).line >= w.line;
    if (props_above_content) {
        std::span<const Trivia> all =
            before_done ? std::span<const Trivia>() : std::span<const Trivia>(trivia.before);
        // A block scalar's comment on its header line is its `eol`: one in
        // `before` that did not stand on a line of its own followed the
        // colon, and ends the colon's line, above the properties.
        if (raw_block_scalar && ctx.after_colon && !all.empty() && is_comment(all.front()) &&
            !is_own_line_comment(all.front()) && first_position(n).line > w.line) {
            run_trivia(all.first(1));
            all = all.subspan(1);
        }
        const std::size_t above = trivia_above(all, first_position(n).line);
        run_trivia(all.first(above));
        props_written = head(n, own_indent, space, aligned, true, ctx.min_col);
        if (ctx.after_colon && !raw_block_scalar) write_eol();
        run_trivia(all.subspan(above));
        before_done = true;
        head_done = true;
    }

    if (ctx.lead == Lead::None && !props_above_content) {
        if (block_collection) {
            // Properties that begin a line stand right of the key, even
            // when the sequence's dashes may stand at the key's column.
            const std::uint32_t props_indent =
                ctx.after_colon ? std::max(ctx.indent, ctx.min_col + 1) : ctx.indent;
            if (!head_done) {
                value_below_key(n, ctx, props_indent, true);
                props_written = head(n, props_indent, ctx.first, ctx.aligned, true, ctx.min_col);
            }
            write_eol();
        } else if (aligned && ctx.after_colon && w.in_step && !raw_block_scalar &&
                   (first_position(n).line > w.line || (!before_done && !trivia.before.empty()))) {
            // The comment after the colon, above the lines the value or its
            // `before` trivia stand on.
            write_eol();
        }
    }

    // `before` trivia: after an indicator only the leading run of blank lines
    // and own-line comments goes before the indicator.
    std::span<const Trivia> before;
    std::span<const Trivia> before_rest;
    if (!before_done) {
        before = trivia.before;
        // Without an indicator everything goes before the node: a comment
        // that did not stand on a line of its own ends the line before.
        if (ctx.lead != Lead::None && ctx.lead != Lead::NewLine) {
            std::size_t lead_run = 0;
            while (lead_run < before.size() &&
                   (!is_comment(before[lead_run]) || is_own_line_comment(before[lead_run]))) {
                ++lead_run;
            }
            // In step, with the properties on the indicator's line and the
            // content below: only what fits on the lines above the indicator
            // stood there; the rest stood between properties and content.
            const std::uint32_t lead_line = ctx.lead_line.value_or(first_position(n).line);
            if (aligned && w.in_step && !head_done && !collection &&
                first_position(n).line == lead_line && n.line > lead_line && lead_line >= w.line) {
                lead_run = trivia_above(before.first(lead_run), lead_line);
            }
            before_rest = before.subspan(lead_run);
            before = before.first(lead_run);
        }
    }
    run_trivia(before);

    if (ctx.lead != Lead::None) {
        const std::uint32_t line = ctx.lead_line.value_or(first_position(n).line);
        const bool below = aligned && w.in_step && line > w.line;
        if (!ctx.first || w.break_due || below) w.end_line();
        if (indicator) {
            // An indicator is always set off from text before it.
            if (w.has_content && w.column >= ctx.indent) {
                w.space();
            } else {
                w.pad_to(ctx.indent);
            }
            w.push(ctx.lead == Lead::Dash ? "-" : ctx.lead == Lead::Question ? "?" : ":");
            if (ctx.lead == Lead::Question) w.after_question = w.out.size();
        }
    }
    if (ctx.text_start) *ctx.text_start = w.out.size();

    if (block_collection && indicator) {
        if (!head_done) props_written = head(n, own_indent, true, aligned, true, ctx.min_col);
        run_trivia(before_rest);
        write_eol();
    } else {
        below_key = value_below_key(n, ctx, own_indent, !head_done);
        if (!head_done && !(block_collection && ctx.lead == Lead::None)) {
            const bool keep_line = raw_block_scalar || (from_raw && n.raw()->empty());
            props_written =
                head(n, own_indent, space, aligned, keep_line, ctx.min_col) || props_written;
        }
        run_trivia(before_rest);
    }

    if (failed_) return std::nullopt;  // a tag with no form to write it in

    // Content after properties written by this node always needs a space.
    // In step, content that the source set right after a property (`&a{`,
    // `&a` and a U+FEFF) stays there, without a space.
    const bool adjacent = props_written && aligned && w.in_step && n.line == w.line &&
                          n.col == w.column && n.col >= ctx.min_col &&
                          properties_end(n) == Position{n.line, n.col};
    const bool content_space = (space || (props_written && !head_by_caller)) && !adjacent;
    return NodeStart{&n,         aligned,     collection,    block_collection, from_raw,
                     own_indent, eol_written, props_written, content_space,    below_key};
}

Eol Emitter::node_end(const NodeStart& start, const NodeContext& ctx, Eol content) {
    if (content == Eol::Failed) return Eol::Failed;
    const Trivia4& trivia = start.n->trivia.get();
    bool eol_written = start.eol_written || content == Eol::Written;
    // A flow collection's last item's comment, handed up as its own.
    const std::optional<Trivia>* carried = std::exchange(carried_eol_, nullptr);
    if (!eol_written && !ctx.defer_eol) {
        const std::optional<Trivia>& eol = carried ? *carried : trivia.eol;
        if (eol) write_comment(*eol);
        eol_written = true;
    } else if (ctx.defer_eol) {
        carried_eol_ = carried;  // the caller writes it
    }
    if (!start.collection) run_trivia(trivia.after);
    return eol_written ? Eol::Written : Eol::Open;
}

Eol Emitter::leaf(NodeIndex index, const NodeContext& ctx) {
    const std::optional<NodeStart> start = node_start(index, ctx);
    if (!start) return Eol::Failed;
    const Node& n = *start->n;
    Eol content = Eol::Open;
    if (const auto* alias = std::get_if<kind::Alias>(&n.kind)) {
        place_content(*start, ctx);
        writer_.push("*");
        writer_.push(alias->name);
    } else {
        content = scalar(*start, ctx);
    }
    return node_end(*start, ctx, content);
}

Task<Eol> Emitter::collection(NodeIndex index, const NodeContext& ctx) {
    const std::optional<NodeStart> start = node_start(index, ctx);
    if (!start) co_return Eol::Failed;
    struct Depth {
        std::uint32_t& d;
        explicit Depth(std::uint32_t& depth) : d(++depth) {}
        ~Depth() { --d; }
    } depth_guard(depth_);
    const Node& n = *start->n;
    Eol content;
    if (start->block_collection) {
        if (std::holds_alternative<kind::Sequence>(n.kind)) {
            content = co_await block_sequence(n, ctx, start->aligned, start->props_written);
        } else {
            content = co_await block_mapping(n, ctx, start->aligned, start->props_written);
        }
    } else {
        place_content(*start, ctx);
        content = co_await flow(n, ctx.child_indent, ctx.min_col, start->aligned, ctx.tail);
    }
    co_return node_end(*start, ctx, content);
}

bool Emitter::walked(NodeIndex index) const {
    return doc_ != nullptr && index < doc_->nodes.size() && is_collection(at(index));
}

void Emitter::place_content(const NodeStart& start, const NodeContext& ctx) {
    const Node& n = *start.n;
    writer_.place(n.line, std::max(n.col, ctx.min_col), start.own_indent, start.content_space,
                  start.aligned);
}

Eol Emitter::scalar(const NodeStart& start, const NodeContext& ctx) {
    Writer& w = writer_;
    const Node& n = *start.n;
    if (start.from_raw) {
        const std::string_view raw = *n.raw();
        if (is_block_scalar_style(n.style)) {
            block_scalar(start, raw, start.aligned, ctx);
            return Eol::Written;
        }
        if (!raw.empty()) {
            place_content(start, ctx);
            w.push(raw);
        }
        return Eol::Open;
    }
    // An empty plain scalar that the source did not spell out is a null
    // that stands by position alone: written as nothing wherever nothing is
    // legal, which is everywhere but as an item of a flow sequence that has
    // no properties to stand for it.
    const NodeExtras& extras = n.extras.get();
    const bool has_props = extras.anchor || extras.tag;
    if (writes_nothing(n) && !(ctx.in_flow && !ctx.is_key && !ctx.after_colon && !has_props)) {
        return Eol::Open;
    }
    ScalarContext sc = scalar_context(n, ctx);
    const std::string_view value = n.value() ? std::string_view(*n.value()) : std::string_view();
    const NodeStyle style = styled_.first == &n
                                ? styled_.second
                                : choose_style(n.style, value, sc, options_.preserve_quotes);
    styled_.first = nullptr;
    if (is_block_scalar_style(style)) {
        block_scalar(start, write_chosen(value, style, sc), false, ctx);
        return Eol::Written;
    }
    place_content(start, ctx);
    sc.column = w.column;  // the first line folds at the width from here
    // A value moved below its key folds back to where it begins.
    if (start.below_key) sc.indent = std::max<std::uint64_t>(sc.indent, w.column);
    w.push(write_chosen(value, style, sc));
    return Eol::Open;
}

ScalarContext Emitter::scalar_context(const Node& n, const NodeContext& ctx) const {
    ScalarContext sc;
    sc.line_break = writer_.line_break;
    sc.indent = ctx.child_indent;
    sc.width = has_position(n) ? 0 : options_.width;
    sc.in_flow = ctx.in_flow;
    sc.tail = ctx.tail;
    sc.is_key = ctx.is_key;
    sc.allow_unicode = options_.allow_unicode;
    return sc;
}

// A mapping value laid out anew whose properties and first word (or
// opening bracket) would pass the width after its key begins the line below
// instead, at `indent` (in a flow mapping, further in than its key), where
// they fit; so do a block collection's properties. A value too long for
// any line stays after its key.
bool Emitter::value_below_key(const Node& n, const NodeContext& ctx, std::uint32_t indent,
                              bool props_pending) {
    styled_.first = nullptr;
    Writer& w = writer_;
    const std::uint64_t width = options_.width;
    if (width == 0 || !ctx.after_colon || ctx.is_key || ctx.lead != Lead::None || has_position(n) ||
        !w.has_content || w.break_due) {
        return false;
    }
    // What stands before the first word: the properties, each with a space.
    std::uint64_t first = 0;
    if (props_pending) {
        const NodeExtras& extras = n.extras.get();
        if (extras.anchor) first += 2 + text::count_chars(*extras.anchor);
        if (extras.tag) {
            const std::optional<std::string> tag = tag_text(*extras.tag);
            if (tag) first += 1 + text::count_chars(*tag);
        }
    }
    if (written_as_block(n, ctx.in_flow)) {
        if (first == 0) return false;  // its entries begin the next line anyway
    } else if (is_collection(n)) {
        first += 1;  // the opening bracket
    } else if (const auto* alias = std::get_if<kind::Alias>(&n.kind)) {
        first += 1 + text::count_chars(alias->name);
    } else {
        if (writes_nothing(n)) return false;
        const std::string_view value =
            n.value() ? std::string_view(*n.value()) : std::string_view();
        // No atom is written wider than four characters a byte: a value
        // this short fits whatever its style, with its quotes and its tail.
        if (w.column + 1 + first + 4 * value.size() + 2 + ctx.tail <= width) return false;
        const ScalarContext sc = scalar_context(n, ctx);
        const NodeStyle style = choose_style(n.style, value, sc, options_.preserve_quotes);
        styled_ = {&n, style};  // the scalar is written in it: not chosen twice
        if (is_block_scalar_style(style)) return false;
        first += first_word_chars(value, style, sc);
    }
    const std::uint32_t target = ctx.in_flow ? indent + map_indent_ : indent;
    if (w.column + 1 + first <= width || target + first > width || target > w.column) {
        return false;
    }
    w.end_line();
    w.pad_to(target);
    return true;
}

// How many of the leading blank-line runs and own-line comments of `list`
// fit on the lines between the writer's line and `line`.
std::size_t Emitter::trivia_above(std::span<const Trivia> list, std::uint32_t line) const {
    const Writer& w = writer_;
    std::int64_t room = std::int64_t{line} - w.line - (w.has_content ? 1 : 0);
    std::size_t fits = 0;
    for (; fits < list.size(); ++fits) {
        const Trivia& t = list[fits];
        if (is_comment(t) && !is_own_line_comment(t)) break;
        const auto* blank = std::get_if<Blank>(&t);
        room -= blank ? blank->blank_lines : 1;
        if (room < 0) break;
    }
    return fits;
}

bool Emitter::raw_usable(const Node& n, const NodeContext& ctx, bool aligned) const {
    const auto& raw = n.raw();
    if (!raw) return false;
    // In step, the raw text stands where it stood in the source, its
    // continuation lines too, unless the node has to move right of its column.
    if (aligned && writer_.in_step &&
        (ctx.min_col <= n.col || raw->find_first_of("\r\n") == std::string::npos)) {
        return true;
    }
    // Out of step, plain text may begin a line, where `---` or `...` would
    // be a document marker.
    if (n.style == NodeStyle::Plain && (raw->starts_with("---") || raw->starts_with("..."))) {
        return false;
    }
    // Elsewhere it must still read back the same: no block scalar inside a
    // flow collection, no plain text that a flow collection would cut, and
    // continuation lines indented at least as far as the node's children.
    if (ctx.in_flow && is_block_scalar_style(n.style)) return false;
    if (ctx.in_flow && n.style == NodeStyle::Plain && n.value() &&
        plain_syntax_reason(*n.value(), true)) {
        return false;
    }
    return lines_indented(*raw, ctx.child_indent);
}

// Whether a block collection's first entry goes on the line already begun:
// after its `-`, `?` or `:` indicator, or, in step, after a key's colon on
// the line where the source set it (`: :`).
bool Emitter::continues_line(const Node& n, const NodeContext& ctx, bool aligned) const {
    if (ctx.lead != Lead::None && ctx.lead != Lead::NewLine) return true;
    return ctx.after_colon && aligned && writer_.in_step && has_position(n) &&
           n.line == writer_.line;
}

// After an indicator, a block collection's first entry stands one space on,
// and the later entries at column `col` must line up with it: where `col`
// lies further in, the first entry is moved right to it; where it lies short
// of that, the whole collection moves right to the first entry's column.
std::uint32_t Emitter::entry_column(const NodeContext& ctx, bool follows_indicator,
                                    std::uint32_t col, bool aligned, NodeIndex first,
                                    std::optional<std::uint32_t> first_line) {
    Writer& w = writer_;
    if (!follows_indicator || ctx.lead == Lead::None || ctx.lead == Lead::NewLine) return col;
    // The entry begins a line anyway: after a comment, or in step where the
    // source has it on a later line. (An index outside the document is
    // reported when the entry is written.)
    if (!w.has_content || w.break_due) return col;
    if (aligned && w.in_step && first < doc_->nodes.size() &&
        first_line.value_or(first_position(at(first)).line) > w.line) {
        return col;
    }
    if (col < w.column + 1) return w.column + 1;
    w.pad_to(col - 1);
    return col;
}

bool Emitter::written_as_block(const Node& n, bool in_flow) const {
    if (!is_collection(n) || in_flow || is_empty_collection(n)) return false;
    return !options_.default_flow_style.value_or(n.style == NodeStyle::Flow);
}

Task<Eol> Emitter::block_sequence(const Node& n, const NodeContext& ctx, bool aligned,
                                  bool props_written) {
    const auto& items = std::get<kind::Sequence>(n.kind).items;
    std::uint32_t dash_col = ctx.child_indent;
    std::optional<std::uint32_t> first_dash_line;
    if (aligned && has_position(n)) {
        const bool shared = first_position(at(items.front())) == Position{n.line, n.col};
        if (!shared) {
            dash_col = std::max(n.col, ctx.min_col);
            first_dash_line = n.line;
        }
    }
    const bool follows_indicator = continues_line(n, ctx, aligned) && !props_written;

    run_trivia(n.trivia.get().inner);
    dash_col =
        entry_column(ctx, follows_indicator, dash_col, aligned, items.front(), first_dash_line);
    const std::uint32_t step = seq_indent_ > seq_offset_ ? seq_indent_ - seq_offset_ : 0;
    const std::uint32_t item_indent = dash_col + std::max<std::uint32_t>(step, 1);
    for (std::size_t i = 0; i < items.size(); ++i) {
        NodeContext item;
        item.lead = Lead::Dash;
        item.indent = dash_col;
        item.first = i == 0 && follows_indicator;
        item.child_indent = item_indent;
        item.min_col = dash_col + 1;
        if (i == 0) item.lead_line = first_dash_line;
        item.aligned = aligned;
        if (co_await node(items[i], item) == Eol::Failed) co_return Eol::Failed;
    }
    run_trivia(n.trivia.get().after);
    co_return Eol::Open;
}

// Whether the key just written (from `key_start` on) may stand as an
// implicit key: on one line, its `:` within the reader's 1024 characters of
// its start, no comment after it.
bool Emitter::implicit_key_fits(std::size_t key_start) const {
    const Writer& w = writer_;
    if (w.break_due) return false;
    std::string_view written = std::string_view(w.out).substr(std::min(key_start, w.out.size()));
    if (written.find_first_of("\r\n") != std::string_view::npos) return false;
    written.remove_prefix(std::min(written.find_first_not_of(" \t"), written.size()));
    // The colon, and the space an alias needs before it, count as well.
    return text::count_chars(written) + 2 <= max_implicit_key_chars;
}

Task<Eol> Emitter::block_mapping(const Node& n, const NodeContext& ctx, bool aligned,
                                 bool props_written) {
    Writer& w = writer_;
    const auto& entries = std::get<kind::Mapping>(n.kind).entries;
    const bool follows_indicator = continues_line(n, ctx, aligned) && !props_written;

    run_trivia(n.trivia.get().inner);
    const std::uint32_t key_col =
        entry_column(ctx, follows_indicator,
                     aligned && has_position(n) ? std::max(n.col, ctx.min_col) : ctx.child_indent,
                     aligned, entries.front().key, std::nullopt);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        if (e.key >= doc_->nodes.size() || e.value >= doc_->nodes.size()) {
            fail(std::nullopt, "brackle-core: node index outside the document");
            co_return Eol::Failed;
        }
        const Node& key = at(e.key);
        const Node& value = at(e.value);
        // A block sequence may stand at its key's column; anything else
        // further in.
        const bool block_seq =
            std::holds_alternative<kind::Sequence>(value.kind) && written_as_block(value, false);
        const std::uint32_t value_indent = key_col + (block_seq ? seq_offset_ : map_indent_);

        NodeContext k;
        k.indent = key_col;
        k.child_indent = key_col;
        k.first = i == 0 && follows_indicator;
        k.aligned = aligned;
        k.is_key = true;
        k.min_col = key_col;
        NodeContext v;
        v.indent = value_indent;
        v.child_indent = value_indent;
        v.after_colon = true;
        v.aligned = aligned;
        v.min_col = key_col + (block_seq ? 0 : 1);

        // A key that cannot stand as an implicit key takes the `?` form:
        // a block collection, or one that the attempt below writes over
        // several lines, too long, or with a comment after it.
        bool explicit_key = e.explicit_key || written_as_block(key, false);
        if (!explicit_key) {
            const Writer::State saved = w.save();
            const bool saved_in_step = w.in_step;
            k.lead = Lead::NewLine;
            std::size_t key_start = w.out.size();
            k.text_start = &key_start;
            if (co_await node(e.key, k) == Eol::Failed) co_return Eol::Failed;
            k.text_start = nullptr;
            if (implicit_key_fits(key_start)) {
                colon(key, e, aligned, key_col, key_col);
                const bool adjacent = aligned && e.colon && e.colon->line == value.line &&
                                      value.col == e.colon->col + 1;
                v.first = !adjacent;
            } else {
                w.restore(saved);
                w.in_step = saved_in_step;
                explicit_key = true;
            }
        }
        if (explicit_key) {
            // The key's content stands right of its `?`; a block sequence
            // may stand at its column, as a value's may at its key's.
            k.lead = Lead::Question;
            k.child_indent = key_col + 2;
            k.min_col = key_col + (std::holds_alternative<kind::Sequence>(key.kind) &&
                                           written_as_block(key, false)
                                       ? 0
                                       : 1);
            if (co_await node(e.key, k) == Eol::Failed) co_return Eol::Failed;
            const bool nothing = value.raw() && value.raw()->empty() &&
                                 !value.extras.get().anchor && !value.extras.get().tag && !e.colon;
            if (!nothing) {
                v.lead = Lead::Colon;
                v.indent = key_col;
            }
        }
        if (co_await node(e.value, v) == Eol::Failed) co_return Eol::Failed;
    }
    run_trivia(n.trivia.get().after);
    co_return Eol::Open;
}

bool Emitter::head(const Node& n, std::uint32_t indent, bool space, bool aligned, bool keep_line,
                   std::uint32_t min_col) {
    const NodeExtras& extras = n.extras.get();
    if (!extras.anchor && !extras.tag) return false;
    Writer& w = writer_;
    struct Property {
        std::string text;
        const std::optional<Position>* at;
    };
    Property props[2];
    std::size_t count = 0;
    auto add_anchor = [&] {
        if (extras.anchor) props[count++] = {"&" + *extras.anchor, &extras.anchor_at};
    };
    std::optional<std::string> tag;
    if (extras.tag && !(tag = tag_text(*extras.tag))) {
        fail(std::nullopt, "a tag with neither a suffix nor a full name cannot be written");
        return false;
    }
    auto add_tag = [&] {
        if (tag) props[count++] = {std::move(*tag), &extras.tag_at};
    };
    if (n.tag_first) {
        add_tag();
        add_anchor();
    } else {
        add_anchor();
        add_tag();
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::optional<Position>& pos = *props[i].at;
        const bool tracked = aligned && w.in_step;
        const bool due = w.break_due || (pos && tracked && pos->line > w.line) ||
                         (!pos && tracked && !keep_line && n.line > w.line);
        if (due) {
            w.end_line();
            if (!pos && indent != 0) {
                w.column = indent;
                w.pending = indent;
            }
        }
        if (w.has_content && (i > 0 || space)) w.space();
        if (pos && tracked && pos->line == w.line) {
            w.pad_to(std::max(pos->col, min_col));
        } else if (!w.has_content) {
            w.pad_to(indent);  // a property that begins a line is indented like its node
        }
        w.push(props[i].text);
    }
    return true;
}

// Whether the reader knows `handle` in the current document: `!` and `!!`
// always, others only from a %TAG directive.
bool Emitter::handle_declared(std::string_view handle) const {
    if (handle == "!" || handle == "!!") return true;
    for (const TagDirective& t : doc_->tag_directives) {
        if (t.handle == handle) return true;
    }
    if (!doc_->directives_raw) return false;
    // Directive text kept verbatim: its `%TAG` lines.
    std::string_view text = doc_->directives_raw->first;
    while (!text.empty()) {
        const std::size_t brk = std::min(text.find_first_of("\r\n"), text.size());
        std::string_view line = text.substr(0, brk);
        text.remove_prefix(std::min(brk + 1, text.size()));
        if (!line.starts_with("%TAG")) continue;
        line.remove_prefix(4);
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == 0 || start == std::string_view::npos) continue;
        line.remove_prefix(start);
        if (line.substr(0, line.find_first_of(" \t")) == handle) return true;
    }
    return false;
}

// A tag is written with its handle where the reader resolves that handle
// back to the same tag; without a suffix, or with a handle the document does
// not declare, the shorthand would not read back, so the tag is written in
// verbatim form from its full name. Nothing when there is no sound form.
std::optional<std::string> Emitter::tag_text(const NodeTag& tag) const {
    if (tag.handle.empty() ? !tag.suffix.empty()
                           : !tag.suffix.empty() && handle_declared(tag.handle)) {
        return render_tag(tag);
    }
    // The empty verbatim tag, `!<>`, which the reader takes too.
    if (tag.handle.empty() && tag.full.empty()) return "!<>";
    if (tag.full.empty()) return std::nullopt;
    return render_tag(NodeTag{"", tag.full, tag.full});
}

void Emitter::colon(const Node& key, const Entry& entry, bool aligned, std::uint32_t indent,
                    std::uint32_t floor) {
    Writer& w = writer_;
    const bool tracked = aligned && entry.colon && w.in_step;
    // A colon directly after an alias, a property or an indicator would be
    // read as part of it.
    const bool needs_space =
        std::holds_alternative<kind::Alias>(key.kind) || (!tracked && writes_nothing(key));
    if (w.break_due || (tracked && entry.colon->line > w.line)) {
        w.end_line();
    } else if (needs_space && w.has_content) {
        w.space();
    }
    // A colon that begins its line stands at its column, never left of
    // `floor`; laid out anew, at `indent`.
    const bool at_column = tracked && entry.colon->line == w.line;
    if (at_column) w.pad_to(std::max(entry.colon->col, w.has_content ? 0u : floor));
    // Right after a `?`, which the layout may have moved, `?:` would be text.
    if (w.after_question > 0 && w.out.size() == w.after_question && w.pending == 0) w.space();
    if (!w.has_content && !at_column) w.pad_to(indent);
    w.push(":");
}

void Emitter::block_scalar(const NodeStart& start, std::string_view text, bool aligned,
                           const NodeContext& ctx) {
    const Node& n = *start.n;
    Writer& w = writer_;
    const std::uint32_t min_col = ctx.min_col;
    const std::size_t brk = std::min(text.find_first_of("\r\n"), text.size());
    const std::string_view header = text.substr(0, brk);
    const std::string_view body = text.substr(brk);
    const std::optional<Position>& at = n.extras.get().header_at;
    const bool tracked = aligned && w.in_step && at;
    if (w.break_due || (tracked && at->line > w.line)) {
        w.end_line();
    } else if (w.has_content) {
        w.space();
    }
    if (tracked && at->line == w.line) {
        w.pad_to(std::max(at->col, min_col));
    } else if (!w.has_content) {
        // A header on a line of its own is indented like the node's content,
        // never left of its collection.
        w.pad_to(std::max(start.own_indent, min_col));
    }
    w.push(header);
    if (n.trivia.get().eol && !start.eol_written) write_comment(*n.trivia.get().eol);
    if (ctx.header_comment) write_comment(*ctx.header_comment);
    // The body begins with the header line's break: blanks that the source
    // had at the end of that line come first.
    if (!body.empty()) w.line_tail();
    w.push(body);
    if (header.find('+') != std::string_view::npos) w.kept_scalar_end = w.out.size();
}

}  // namespace emitter
}  // namespace brackle_core
