// Where the blank lines and comments of the source go: to the node they
// stand before, after or beside, to a collection's inside, or to the
// document. The loader reads them as pending trivia (see PendingTrivia) and
// gives them out as each node is created and each collection closes.
#include <algorithm>

#include "core/src/loader.hpp"
#include "core/src/text.hpp"

namespace brackle_core {

namespace {

// Whether only blanks stand before the node on its line (no `-`, `?` or `:`
// that it shares the line with).
bool begins_line(const CharMap& map, const Node& node) {
    const std::string_view line = map.line_text(node.line);
    const std::size_t content = line.find_first_not_of(" \t");
    return content == std::string_view::npos || content >= node.col;
}

// A block sequence or mapping.
bool is_block_collection(const Node& node) {
    return node.style == NodeStyle::Block && (std::holds_alternative<kind::Sequence>(node.kind) ||
                                              std::holds_alternative<kind::Mapping>(node.kind));
}

}  // namespace

void Loader::blanks(At to) {
    if (blank_cursor_.index >= to.index) return;
    const std::string_view gap = between(blank_cursor_, to);
    // Only blanks before the cursor on its line: a block scalar ends in the
    // indentation of the line after it, which may be a blank line.
    std::size_t k = blank_cursor_.byte;
    while (k > 0 && (text_[k - 1] == ' ' || text_[k - 1] == '\t')) --k;
    const bool from_line_start = k == 0 || text_[k - 1] == '\n';
    blank_cursor_ = to;

    // Whole lines only: the first piece is the rest of a line already begun
    // (unless the gap starts a line), the last the line `to` stands on.
    std::size_t line_start = 0;
    if (!from_line_start) {
        const std::size_t lf = text::find_byte(gap, '\n');
        if (lf == gap.size()) return;
        line_start = lf + 1;
    }
    std::uint32_t run = 0;
    for (std::size_t lf; (lf = text::find_byte(gap, '\n', line_start)) < gap.size();
         line_start = lf + 1) {
        if (text::all_white_space(gap.substr(line_start, lf - line_start))) {
            ++run;
        } else if (run > 0) {
            pending_.push(Blank{run});
            run = 0;
        }
    }
    if (run > 0) pending_.push(Blank{run});
}

void Loader::comment(Event& ev) {
    const At start = at(ev.span.start);
    // A comment line that a plain scalar's continuation stepped over (a line
    // indented by a tab that holds only a comment) stands inside that
    // scalar's raw text, which gives it back: it is no trivia of its own.
    if (last_placed_) {
        const Node& last = document_.nodes[*last_placed_];
        const NodeSpan& span = spans_[*last_placed_];
        if (last.style == NodeStyle::Plain && last.raw() && span.start.byte < start.byte &&
            start.byte < span.end.byte) {
            return;
        }
    }
    blanks(start);
    if (ev.span.end.index > blank_cursor_.index) blank_cursor_ = at(ev.span.end);
    comment_end_ = at(ev.span.end);

    // On its own line when only spaces and tabs stand between the line
    // break before it (LF, or a lone CR) and the `#`.
    std::size_t k = start.byte;
    while (k > 0 && (text_[k - 1] == ' ' || text_[k - 1] == '\t')) --k;
    const bool own_line = k == 0 || text_[k - 1] == '\n' || text_[k - 1] == '\r';

    Comment c{std::move(ev.value), text::clamp32(ev.span.start.col), own_line};
    if (own_line) {
        pending_.push(std::move(c));
    } else {
        attach_comment(std::move(c), text::clamp32(ev.span.start.line), start);
    }
}

// A comment that follows content on its line `line` (from 1) at character
// `at`: the first rule that applies decides where it goes.
void Loader::attach_comment(Comment&& c, std::uint32_t line, At where) {
    if (!frames_.empty()) {
        const Frame& top = frames_.back();
        Node& collection = document_.nodes[top.node];
        // A block sequence before its first entry, or a block mapping after
        // the `?` of its first key: the comment stays loose, and goes after
        // that indicator with the entry.
        if (!top.flow && !top.has_child &&
            (top.is_sequence || text_[spans_[top.node].start.byte] == '?')) {
            pending_.push(std::move(c));
            return;
        }
        // On the line where the collection starts, before any child.
        if (!top.has_child && collection.line + std::uint64_t{1} == line &&
            !collection.trivia.get().eol) {
            collection.trivia.edit().eol = std::move(c);
            return;
        }
        // After a key on the key's last line: the value's when the `:` came
        // before the comment, the key's own otherwise.
        if (!top.is_sequence && top.pending_key && spans_[*top.pending_key].end_line == line) {
            if (between(spans_[*top.pending_key].end, where).find(':') != std::string_view::npos) {
                pending_.hold_eol(std::move(c), line - 1);
            } else {
                document_.nodes[*top.pending_key].trivia.edit().eol = std::move(c);
            }
            return;
        }
    }
    // A block scalar's span, and that of a collection ending in one, runs on
    // to the next line's indentation: its last line is the one before.
    if (last_placed_ && ends_on_line(spans_[*last_placed_], line)) {
        Trivia4& slots = document_.nodes[*last_placed_].trivia.edit();
        // A value's `eol` below its colon is the comment after that colon:
        // the one after the value itself follows it in `after`.
        if (value_below_its_colon(*last_placed_)) {
            slots.after.push_back(std::move(c));
            return;
        }
        if (!slots.eol) {
            slots.eol = std::move(c);
            return;
        }
    }
    if (after_doc_end_ && doc_end_line_ == line && !documents_.empty()) {
        documents_.back().trailing.push_back(std::move(c));
        return;
    }
    if (after_doc_start_ && doc_start_line_ == line && !last_placed_) {
        document_.leading.push_back(std::move(c));
        return;
    }
    pending_.push(std::move(c));
}

// The trivia part of creating a node: the pending end-of-line comment, and
// the pending trivia split between the node's `inner` (a block collection
// takes the comments that belong inside it), its parent's `inner` (before
// the parent's first child) and the node's `before`.
void Loader::node_trivia(NodeIndex index) {
    // A sequence opened by a `-` at a key's indentation is read after the
    // trivia that follow that first `-`: they wait for its first item.
    const Node& created = document_.nodes[index];
    std::size_t held = 0;
    if (std::holds_alternative<kind::Sequence>(created.kind) && is_block_collection(created)) {
        held = pending_.within(std::int64_t{blank_cursor_.pos.line} - created.line);
    }
    if (held == 0) return split_trivia(index);
    pending_.hold_last(held);
    split_trivia(index);
    pending_.release_held();
}

void Loader::split_trivia(NodeIndex index) {
    Node& node = document_.nodes[index];
    if (pending_.has_eol() && is_block_scalar_style(node.style) &&
        node.extras.get().header_at->line >= pending_.eol_line()) {
        // The comment after the colon stands on a line above the header: it
        // is no header comment, and stays before the scalar on its line.
        pending_.eol_to_front();
    }
    if (pending_.has_eol()) node.trivia.edit().eol = pending_.take_eol();
    if (pending_.empty()) return;
    Frame* parent = frames_.empty() ? nullptr : &frames_.back();

    // Trivia on the lines between a block sequence's `-` and its item belong
    // after the dash: inside a block collection, or after an empty scalar.
    std::size_t after_dash = 0;
    if (parent && parent->is_sequence && !parent->flow) {
        if (const std::size_t n = after_dash = trivia_after_dash(index); n > 0) {
            Trivia4& slots = node.trivia.edit();
            pending_.move_last_to_front(n, is_block_collection(node) ? slots.inner : slots.after);
            if (pending_.empty()) return;
        }
    }

    // Each part is moved once into an exact-size list of the node or its
    // parent. A collection that shares its line with the dash has nothing
    // inside it yet: everything pending stood before the dash.
    if (parent && is_block_collection(node) && begins_line(map_, node)) {
        std::vector<Trivia>& inner = inner_scratch_;
        const std::size_t blanks_before = pending_.take_inner(node.col, parent->has_child, inner);
        // The blank lines right before the node's text.
        if (after_dash == 0 && blanks_before > 0 && node.line > 0 && line_is_blank(node.line - 1)) {
            inner.push_back(pending_.take_back());
        }
        if (!inner.empty()) append(node.trivia.edit().inner, std::move(inner));
        inner.clear();
    }

    if (parent && !parent->has_child) {
        // Not those between the node's properties and its content.
        const std::size_t kept = pending_.leading_run(pending_.size() - after_properties(node));
        if (kept > 0) pending_.move_first(kept, document_.nodes[parent->node].trivia.edit().inner);
    }

    Node& self = document_.nodes[index];
    if (is_block_scalar_style(self.style) && !self.trivia.get().eol &&
        pending_.ends_with_eol_comment() && header_has_comment(self)) {
        // The comment on the header line comes before the scalar's content,
        // after every other trivia.
        self.trivia.edit().eol = pending_.take_back();
    }
    if (!pending_.empty()) pending_.move_all(self.trivia.edit().before);
}

// How many of the last pending trivia stand between the properties of a
// scalar and its content on a later line.
std::size_t Loader::after_properties(const Node& node) const {
    if (!std::holds_alternative<kind::Scalar>(node.kind)) return 0;
    const NodeExtras& extras = node.extras.get();
    std::optional<Position> props;
    for (const auto* p : {&extras.anchor_at, &extras.tag_at}) {
        if (*p && (!props || **p < *props)) props = **p;
    }
    if (!props || props->line >= node.line) return 0;
    return pending_.within(std::int64_t{node.line} - props->line - 1);
}

// Whether a comment follows the header of the block scalar on its line.
bool Loader::header_has_comment(const Node& node) const {
    // After the header's indicators only blanks and a comment can follow.
    const Position header = *node.extras.get().header_at;
    const std::string_view line = map_.line_text(header.line);
    return line.find('#', text::byte_of_char(line, header.col)) != std::string_view::npos;
}

// Whether the node is a scalar or an alias, just placed as the value of the
// innermost block mapping, on a line below the entry's colon.
bool Loader::value_below_its_colon(NodeIndex index) const {
    if (frames_.empty()) return false;
    const Frame& top = frames_.back();
    if (top.flow || top.is_sequence || top.entries.empty()) return false;
    const Entry& entry = top.entries.back();
    const Node& node = document_.nodes[index];
    return entry.value == index && entry.colon && entry.colon->line < node.line &&
           !std::holds_alternative<kind::Sequence>(node.kind) &&
           !std::holds_alternative<kind::Mapping>(node.kind) && !is_block_scalar_style(node.style);
}

bool Loader::ends_on_line(const NodeSpan& span, std::uint32_t line) const {
    if (span.end_line != line) return false;
    std::size_t b = span.end.byte;
    while (b > span.start.byte && (text_[b - 1] == ' ' || text_[b - 1] == '\t')) --b;
    return !(b > span.start.byte && (text_[b - 1] == '\n' || text_[b - 1] == '\r'));
}

// The line of the `-` a block collection stands under: the nearest line
// above it, past blank lines, comment lines and the lines of its own
// properties, when that line begins with `-`.
std::optional<std::uint32_t> Loader::dash_line_above(const Node& node) const {
    if (!begins_line(map_, node)) return node.line;  // the dash shares its line
    const NodeExtras& extras = node.extras.get();
    for (std::uint32_t line = node.line; line-- > 0;) {
        const std::string_view text = map_.line_text(line);
        const std::size_t first = text.find_first_not_of(" \t\r");
        if (first == std::string_view::npos || text[first] == '#') continue;
        if (text[first] == '-') return line;
        const bool properties = (extras.anchor_at && extras.anchor_at->line == line) ||
                                (extras.tag_at && extras.tag_at->line == line);
        if (!properties) return std::nullopt;
    }
    return std::nullopt;
}

// How many of the last pending trivia stand on the lines between the `-`
// of the block sequence item `index` and the item: for a block collection,
// the lines between the dash and its first key or entry that its properties
// leave; for an empty scalar (which stands at its dash), the lines after the
// dash read so far.
std::size_t Loader::trivia_after_dash(NodeIndex index) const {
    const Node& node = document_.nodes[index];
    std::int64_t lines = 0;
    if (is_block_collection(node)) {
        const std::optional<std::uint32_t> dash_line = dash_line_above(node);
        if (!dash_line || node.line <= *dash_line + 1) return 0;
        lines = node.line - *dash_line - 1;
        const NodeExtras& extras = node.extras.get();
        const auto& a = extras.anchor_at;
        const auto& t = extras.tag_at;
        if (a && a->line > *dash_line) --lines;
        if (t && t->line > *dash_line && !(a && a->line == t->line)) --lines;
    } else if (const auto* s = std::get_if<kind::Scalar>(&node.kind);
               s && (!s->raw || s->raw->empty()) && s->value && s->value->empty()) {
        lines = std::int64_t{blank_cursor_.pos.line} - node.line;
    }
    return pending_.within(lines);
}

// What a closing collection takes as its `after` trivia: the end of the
// pending trivia to move into it.
std::size_t Loader::collection_after(const Frame& frame) const {
    // A pair without braces in a flow sequence ends at the sequence's next
    // `,` or `]`: what stands before that is the sequence's.
    if (frame.flow) {
        const bool braces = frame.is_sequence || text_[spans_[frame.node].start.byte] == '{';
        return braces ? pending_.size() : 0;
    }
    if (frames_.empty()) return 0;  // the document's outermost collection
    return pending_.ending_in_column(frame.col);
}

bool Loader::line_is_blank(std::uint32_t line) const {
    return text::all_white_space(map_.line_text(line));
}

}  // namespace brackle_core
