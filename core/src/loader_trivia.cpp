// What makes the load lossless: blank lines and comments and the nodes or
// documents they belong to, the source text of scalars, where properties
// and block scalar headers were written, the gaps between flow items,
// directives and markers, the stream's end, and the source lines whose
// whitespace a writer could not rebuild.
#include <algorithm>
#include <limits>

#include "core/src/loader.hpp"
#include "core/src/text.hpp"
#include "scanner/src/char_traits.hpp"

namespace brackle_core {

namespace {

constexpr std::uint32_t clamp32(std::size_t v) {
    return v > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                         : static_cast<std::uint32_t>(v);
}

bool is_blank(const Trivia& t) { return std::holds_alternative<Blank>(t); }

const Comment* as_comment(const Trivia& t) { return std::get_if<Comment>(&t); }

template <class T>
void append(std::vector<T>& to, std::vector<T>&& from) {
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

// A line, without its line break, that is a document-end marker.
bool is_document_end_marker(std::string_view line) {
    return line.starts_with("...") && (line.size() == 3 || line[3] == ' ' || line[3] == '\t');
}

bool is_header_char(char c) {
    return c == '|' || c == '>' || c == '+' || c == '-' || (c >= '0' && c <= '9');
}

// Characters that end a property (`&anchor`, `!tag`) and a gap's punctuation.
bool ends_property(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == '[' || c == ']' ||
           c == '{' || c == '}';
}

// The ASCII characters among `is_separator_char`'s.
bool is_ascii_separator(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || c == ',' || c == ':' || c == '?';
}

bool is_separator_char(char32_t c) {
    return text::is_white_space(c) || c == U',' || c == U':' || c == U'?';
}

// A token may start after white space, after a comment's end, and after
// the indicators that a node's properties can follow.
bool starts_token_after(char32_t c) {
    return text::is_white_space(c) || c == U',' || c == U'-' || c == U':' || c == U'?' ||
           c == U'[' || c == U'{';
}

// The handle and prefix of a `%TAG` line as written. The handle is `!`,
// `!!` or `!word!` and may run straight into the prefix (`%TAG !e!tag:x`),
// as the scanner reads it.
TagDirective tag_directive_of(std::string_view line) {
    std::string_view rest = line.substr(4);
    rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
    std::size_t end = rest.empty() ? 0 : 1;
    while (end < rest.size() &&
           brackle_scanner::is_word_char(static_cast<unsigned char>(rest[end])))
        ++end;
    end = end < rest.size() && rest[end] == '!' ? end + 1 : std::min<std::size_t>(1, rest.size());
    const std::string_view handle = rest.substr(0, end);
    rest.remove_prefix(end);
    rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
    return TagDirective{std::string(handle),
                        std::string(rest.substr(0, rest.find_first_of(" \t\r")))};
}

bool is_block_scalar(const Node& node) {
    return node.style == NodeStyle::Literal || node.style == NodeStyle::Folded;
}

// Whether only blanks stand before the node on its line (no `-`, `?` or `:`
// that it shares the line with).
bool begins_line(const CharMap& map, const Node& node) {
    const std::string_view line = map.line_text(node.line);
    const std::size_t content = line.find_first_not_of(" \t");
    return content == std::string_view::npos || content >= node.col;
}

bool is_block_collection(const Node& node) {
    return node.style == NodeStyle::Block && (std::holds_alternative<kind::Sequence>(node.kind) ||
                                              std::holds_alternative<kind::Mapping>(node.kind));
}

}  // namespace

// ---- blank lines and comments --------------------------------------------

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
            pending_.push_back(Blank{run});
            run = 0;
        }
    }
    if (run > 0) pending_.push_back(Blank{run});
}

void Loader::comment(Event& ev) {
    const At start = at(ev.span.start);
    blanks(start);
    if (ev.span.end.index > blank_cursor_.index) blank_cursor_ = at(ev.span.end);
    comment_end_ = at(ev.span.end);

    // On its own line when only spaces and tabs stand between the line
    // break before it (LF, or a lone CR) and the `#`.
    std::size_t k = start.byte;
    while (k > 0 && (text_[k - 1] == ' ' || text_[k - 1] == '\t')) --k;
    const bool own_line = k == 0 || text_[k - 1] == '\n' || text_[k - 1] == '\r';

    Comment c{std::move(ev.value), clamp32(ev.span.start.col), own_line};
    if (own_line) {
        pending_.push_back(std::move(c));
    } else {
        attach_comment(std::move(c), clamp32(ev.span.start.line), start);
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
            pending_.push_back(std::move(c));
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
                pending_eol_ = std::move(c);
                pending_eol_line_ = line - 1;
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
    pending_.push_back(std::move(c));
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
        held = pending_within(std::int64_t{blank_cursor_.pos.line} - created.line);
    }
    if (held == 0) return split_trivia(index);
    held_scratch_.assign(std::make_move_iterator(pending_.end() - held),
                         std::make_move_iterator(pending_.end()));
    pending_.erase(pending_.end() - held, pending_.end());
    split_trivia(index);
    pending_.swap(held_scratch_);
    held_scratch_.clear();
}

void Loader::split_trivia(NodeIndex index) {
    Node& node = document_.nodes[index];
    if (pending_eol_ && is_block_scalar(node) &&
        node.extras.get().header_at->line >= pending_eol_line_) {
        // The comment after the colon stands on a line above the header: it
        // is no header comment, and stays before the scalar on its line.
        pending_.insert(pending_.begin(), std::move(*pending_eol_));
        pending_eol_.reset();
    }
    if (pending_eol_) {
        node.trivia.edit().eol = std::move(pending_eol_);
        pending_eol_.reset();
    }
    if (pending_.empty()) return;
    Frame* parent = frames_.empty() ? nullptr : &frames_.back();

    // Trivia on the lines between a block sequence's `-` and its item belong
    // after the dash: inside a block collection, or after an empty scalar.
    std::size_t after_dash = 0;
    if (parent && parent->is_sequence && !parent->flow) {
        if (const std::size_t n = after_dash = trivia_after_dash(index); n > 0) {
            Trivia4& slots = node.trivia.edit();
            std::vector<Trivia>& slot = is_block_collection(node) ? slots.inner : slots.after;
            slot.insert(slot.begin(), std::make_move_iterator(pending_.end() - n),
                        std::make_move_iterator(pending_.end()));
            pending_.erase(pending_.end() - n, pending_.end());
            if (pending_.empty()) return;
        }
    }

    // The trivia are split in place in `pending_`, each part moved once into
    // an exact-size list of the node or its parent.
    // A collection that shares its line with the dash has nothing inside it
    // yet: everything pending stood before the dash.
    if (parent && is_block_collection(node) && begins_line(map_, node)) {
        // Up to the last comment left of the node, or an end-of-line comment
        // among the trailing blank lines and own-line comments: those stay out.
        std::size_t head = 0;
        for (std::size_t i = pending_.size(); i > 0; --i) {
            const Comment* c = as_comment(pending_[i - 1]);
            if (c && c->col < node.col) {
                head = i;
                break;
            }
        }
        for (std::size_t i = pending_.size(); i > 0; --i) {
            const Comment* c = as_comment(pending_[i - 1]);
            if (c && !c->own_line) {
                head = std::max(head, i);
                break;
            }
        }
        std::size_t tail = pending_.size();
        while (tail > head && is_blank(pending_[tail - 1])) --tail;

        // Blank lines that open the inner part after an earlier sibling go
        // before the node instead: they stay at the front of `pending_`.
        std::size_t inner_from = head;
        if (parent->has_child) {
            while (inner_from < tail && is_blank(pending_[inner_from])) ++inner_from;
        }
        std::vector<Trivia>& inner = inner_scratch_;
        inner.assign(std::make_move_iterator(pending_.begin() + inner_from),
                     std::make_move_iterator(pending_.begin() + tail));
        pending_.erase(pending_.begin() + inner_from, pending_.begin() + tail);
        if (inner_from > head) {
            std::rotate(pending_.begin(), pending_.begin() + head, pending_.begin() + inner_from);
        }
        // The last trivia before the node, not counting those set aside.
        if (after_dash == 0 && pending_.size() > inner_from - head && is_blank(pending_.back()) &&
            node.line > 0 && line_is_blank(node.line - 1) && begins_line(map_, node)) {
            inner.push_back(std::move(pending_.back()));
            pending_.pop_back();
        }
        if (!inner.empty()) append(node.trivia.edit().inner, std::move(inner));
        inner.clear();
    }

    std::size_t kept = 0;
    if (parent && !parent->has_child) {
        // Not those between the node's properties and its content.
        const std::size_t limit = pending_.size() - after_properties(node);
        while (kept < limit && (is_blank(pending_[kept]) || is_own_line_comment(pending_[kept]))) {
            ++kept;
        }
        if (kept > 0) {
            std::vector<Trivia>& inner = document_.nodes[parent->node].trivia.edit().inner;
            inner.insert(inner.end(), std::make_move_iterator(pending_.begin()),
                         std::make_move_iterator(pending_.begin() + kept));
        }
    }

    Node& self = document_.nodes[index];
    if (is_block_scalar(self) && !self.trivia.get().eol && kept < pending_.size() &&
        is_comment(pending_.back()) && !is_own_line_comment(pending_.back()) &&
        header_has_comment(self)) {
        // The comment on the header line comes before the scalar's content,
        // after every other trivia.
        self.trivia.edit().eol = std::move(pending_.back());
        pending_.pop_back();
    }
    if (kept < pending_.size()) {
        std::vector<Trivia>& before = self.trivia.edit().before;
        before.insert(before.end(), std::make_move_iterator(pending_.begin() + kept),
                      std::make_move_iterator(pending_.end()));
    }
    pending_.clear();
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
    return pending_within(std::int64_t{node.line} - props->line - 1);
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
           !std::holds_alternative<kind::Mapping>(node.kind) && !is_block_scalar(node);
}

bool Loader::ends_on_line(const NodeSpan& span, std::uint32_t line) const {
    if (span.end_line != line) return false;
    std::size_t b = span.end.byte;
    while (b > span.start.byte && (text_[b - 1] == ' ' || text_[b - 1] == '\t')) --b;
    return !(b > span.start.byte && (text_[b - 1] == '\n' || text_[b - 1] == '\r'));
}

// How many of the last pending trivia fit in `lines` source lines: each
// own-line comment takes a line, a run of blank lines as many; a comment
// after content ends the count.
std::size_t Loader::pending_within(std::int64_t lines) const {
    std::size_t n = 0;
    for (std::size_t i = pending_.size(); i > 0 && lines > 0; --i) {
        const Trivia& t = pending_[i - 1];
        const std::int64_t taken = is_blank(t)              ? std::get<Blank>(t).blank_lines
                                   : is_own_line_comment(t) ? 1
                                                            : lines + 1;
        if (taken > lines) break;
        lines -= taken;
        ++n;
    }
    return n;
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
    return pending_within(lines);
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
    // A nested block collection takes the trivia up to the first comment
    // left of its own column, less the blank lines just before that comment.
    auto stop = std::find_if(pending_.begin(), pending_.end(), [&](const Trivia& t) {
        const Comment* c = as_comment(t);
        return c && c->col < frame.col;
    });
    auto end = stop;
    if (stop != pending_.end()) {
        while (end != pending_.begin() && is_blank(*(end - 1))) --end;
    }
    return static_cast<std::size_t>(end - pending_.begin());
}

bool Loader::line_is_blank(std::uint32_t line) const {
    return text::all_white_space(map_.line_text(line));
}

// ---- where things were written -------------------------------------------

// Calls `visit(here, c)` for every character between `from` and `to` that
// starts a token, comments skipped, until it returns true; returns where it
// stopped, or `to`. A comment begins after white space only (`!:#` is a tag).
template <class Visit>
Loader::At Loader::scan_token_starts(At from, At to, Visit&& visit) const {
    bool token_start = true;
    bool after_blank = true;
    for (At here = from; here.byte < to.byte;) {
        const text::Decoded d = text::decode_at(text_, here.byte);
        if (after_blank && d.c == U'#') {
            // Its end starts a token.
            step_within_line(here, std::min(text::comment_end(text_, here.byte), to.byte));
            token_start = true;
            continue;
        }
        if (token_start && visit(here, d.c)) return here;
        if (token_start && (d.c == U'&' || d.c == U'!')) {
            // A property's text is its own: `&--|-` holds no header.
            here = past_properties(here, 1);
            token_start = false;
            after_blank = false;
            continue;
        }
        token_start = starts_token_after(d.c);
        after_blank = d.c == U' ' || d.c == U'\t' || d.c == U'\n' || d.c == U'\r';
        step(here);
    }
    return to;
}

// The anchor's and the tag's positions: the first `&` and `!` that start a
// token between the end of the last content and the node's content.
void Loader::record_props(Node& node, At to) const {
    NodeExtras& extras = node.extras.edit();
    const bool want_anchor = extras.anchor.has_value();
    const bool want_tag = extras.tag.has_value();
    std::optional<Position> anchor_at;
    std::optional<Position> tag_at;
    scan_token_starts(content_end_, to, [&](const At& here, char32_t c) {
        if (c == U'&' && want_anchor && !anchor_at) anchor_at = here.pos;
        if (c == U'!' && want_tag && !tag_at) tag_at = here.pos;
        return anchor_at && tag_at;
    });
    extras.anchor_at = anchor_at;
    extras.tag_at = tag_at;
    node.tag_first = anchor_at && tag_at && *tag_at < *anchor_at;
}

// Where a block scalar's header stands: the first `|` or `>` that starts a
// token between the end of the last content and `to`, or `to` itself. Tokens
// are looked at whole, so a `|` inside a comment or a property is no header.
Loader::At Loader::block_header(At to) const {
    return scan_token_starts(content_end_, to,
                             [](const At&, char32_t c) { return c == U'|' || c == U'>'; });
}

// Sets `out` to a scalar's exact source text, built in place; leaves it
// empty for an empty plain scalar that the parser placed at another token.
void Loader::scalar_raw(const Event& ev, At header, std::optional<std::string>& out) const {
    const std::string_view span = between(at(ev.span.start), at(ev.span.end));
    const bool block = ev.style == brackle_scanner::ScalarStyle::Literal ||
                       ev.style == brackle_scanner::ScalarStyle::Folded;
    if (!block) {
        if (ev.style == brackle_scanner::ScalarStyle::Plain && ev.value.empty() &&
            !text::all_white_space(span)) {
            return;
        }
        out.emplace(span);
        return;
    }

    // A block scalar: its header as written, the line break and empty lines
    // after it, and its content lines, less one final line break.
    std::size_t header_end = header.byte + 1;
    while (header_end < text_.size() && is_header_char(text_[header_end])) ++header_end;
    std::string& raw = out.emplace(text_.substr(header.byte, header_end - header.byte));
    const std::size_t span_start = ev.span.start.byte;
    const std::size_t span_end = std::max(ev.span.end.byte, span_start);
    const std::size_t first_break = std::min(text_.find_first_of("\r\n", header_end), text_.size());

    std::string_view body;
    if (header.index < ev.span.start.index) {
        std::size_t line_start = span_start;
        while (line_start > header_end && text_[line_start - 1] != '\n' &&
               text_[line_start - 1] != '\r') {
            --line_start;
        }
        if (first_break < line_start) {
            raw += text_.substr(first_break, line_start - first_break);
        } else {
            raw += '\n';
        }
        body = text_.substr(line_start, span_end - line_start);
    } else if (first_break < span_end) {
        // No content lines: the header, then everything from its line break.
        body = text_.substr(first_break, span_end - first_break);
    }
    // Blanks after the last line break are the next line's indentation,
    // unless the text ends there: then they are the scalar's own. Without
    // content lines the body may be that indentation alone (it begins a
    // line). The rest of that line is blank lines' or the next node's.
    const std::size_t last_break = body.find_last_of("\r\n");
    const std::size_t last_line = last_break == std::string_view::npos ? 0 : last_break + 1;
    if (span_end < text_.size() && text::all_white_space(body.substr(last_line))) {
        body = body.substr(0, last_line);
    }
    raw += body;
    // A lone CR is a line break too: left in, it would be written before
    // the emitter's own break and read back as one more line.
    if (raw.ends_with("\r\n")) {
        raw.resize(raw.size() - 2);
    } else if (raw.ends_with('\n') || raw.ends_with('\r')) {
        raw.pop_back();
    }
}

// ---- flow separators -------------------------------------------------------

// The gap text from `from`: white space, `,`, `:` and `?`, each comment
// replaced by a lone `#` (its line break kept). Returns the text and where
// the scan stopped.
std::pair<std::string, Loader::At> Loader::separation(At from, std::optional<At> to, bool to_comma,
                                                      bool to_colon) const {
    std::string gap;
    At here = from;
    const std::size_t limit = to ? to->index : std::numeric_limits<std::size_t>::max();
    const auto stops = [&](char c) { return (to_comma && c == ',') || (to_colon && c == ':'); };
    while (here.byte < text_.size() && here.index < limit) {
        if (stops(text_[here.byte])) break;
        // A run of ASCII separators, the usual gap, is taken at once.
        const std::size_t run = here.byte;
        while (here.byte < text_.size() && here.index < limit &&
               is_ascii_separator(text_[here.byte]) && !stops(text_[here.byte])) {
            if (text_[here.byte] == '\n') {
                ++here.pos.line;
                here.pos.col = 0;
            } else {
                ++here.pos.col;
            }
            ++here.byte;
            ++here.index;
        }
        if (here.byte > run) {
            gap.append(text_.data() + run, here.byte - run);
            continue;
        }
        const text::Decoded d = text::decode_at(text_, here.byte);
        if (d.c == U'#') {
            gap += '#';
            step_within_line(here, text::comment_end(text_, here.byte));
            continue;
        }
        if (!is_separator_char(d.c)) break;
        gap.append(text_.substr(here.byte, d.width));
        step(here);
    }
    return {std::move(gap), here};
}

// Past up to `n` properties from `from`: for each, the white space before it
// and the property itself.
Loader::At Loader::past_properties(At from, std::size_t n) const {
    At here = from;
    for (std::size_t k = 0; k < n; ++k) {
        while (here.byte < text_.size() &&
               text::is_white_space(text::decode_at(text_, here.byte).c)) {
            step(here);
        }
        if (here.byte >= text_.size() || (text_[here.byte] != '&' && text_[here.byte] != '!'))
            break;
        const bool verbatim = text_.substr(here.byte).starts_with("!<");
        const bool anchor = text_[here.byte] == '&';
        // An anchor's name also ends at a U+FEFF.
        const auto ends = [&] {
            if (verbatim) return text_[here.byte] == '>';
            return ends_property(text_[here.byte]) ||
                   (anchor && text_.substr(here.byte).starts_with("\xEF\xBB\xBF"));
        };
        while (here.byte < text_.size() && !ends()) step(here);
        if (verbatim && here.byte < text_.size()) step(here);
    }
    return here;
}

void Loader::compute_flow_seps(const Frame& frame, Node& node) {
    // A mapping's keys and values in order, in a buffer kept across calls.
    if (!frame.is_sequence) {
        flow_items_.clear();
        for (const Entry& e : frame.entries) {
            flow_items_.push_back(e.key);
            flow_items_.push_back(e.value);
        }
    }
    const std::vector<NodeIndex>& items = frame.is_sequence ? frame.items : flow_items_;
    const auto property_count = [](const Node& n) {
        const NodeExtras& ex = n.extras.get();
        return std::size_t{ex.anchor ? 1u : 0u} + (ex.tag ? 1u : 0u);
    };
    const std::size_t properties = property_count(node);
    NodeSpan& span = spans_[frame.node];
    const std::optional<At> first =
        items.empty() ? std::nullopt : std::optional<At>(spans_[items.front()].start);

    // Find the opening bracket: two gaps cut past the properties.
    const At after_props = past_properties(span.start, properties);
    const At after_first_gap = separation(after_props, first).second;
    const std::size_t first_properties =
        items.empty() ? 0 : property_count(document_.nodes[items.front()]);
    const At stopped = separation(past_properties(after_first_gap, first_properties), first).second;
    const bool bracket = !(first && stopped.index == first->index);
    At point = after_props;
    if (bracket && stopped.byte < text_.size()) {
        point = stopped;
        step(point);
    }

    const auto is_empty_scalar = [&](NodeIndex item) {
        const Node& child = document_.nodes[item];
        return std::holds_alternative<kind::Scalar>(child.kind) &&
               (!child.raw() || child.raw()->empty());
    };
    std::vector<std::string> seps;
    seps.reserve(items.size() + 1);
    std::size_t next_full = 0;  // the next item that has text of its own
    for (std::size_t i = 0; i < items.size(); ++i) {
        const NodeIndex item = items[i];
        if (is_empty_scalar(item)) {
            // The gap runs until it stops by itself, but never into the next
            // item's text, which may begin with a `:` or `?` (`{u,:v}`).
            if (next_full <= i) {
                next_full = i + 1;
                while (next_full < items.size() && is_empty_scalar(items[next_full])) ++next_full;
            }
            const std::optional<At> limit = next_full < items.size()
                                                ? std::optional<At>(spans_[items[next_full]].start)
                                                : std::nullopt;
            // A pair without braces ends at a comma: it is the sequence's.
            // An empty key's gap ends at its `:`, which its value's holds.
            const bool empty_key = !frame.is_sequence && i % 2 == 0;
            auto [gap, stop] = separation(point, limit, !bracket, empty_key);
            seps.push_back(std::move(gap));
            point = past_properties(stop, property_count(document_.nodes[item]));
        } else {
            auto [gap, stop] = separation(point, spans_[item].start);
            seps.push_back(std::move(gap));
            point = spans_[item].end.index > stop.index ? spans_[item].end : stop;
        }
    }
    if (!bracket) {
        // A pair without braces ends where its last gap or its value ends:
        // the blanks after it belong to the sequence's next gap.
        span.end = point;
    } else {
        auto [gap, stop] = separation(point, std::nullopt);
        if (stop.byte >= text_.size() || (text_[stop.byte] != ']' && text_[stop.byte] != '}'))
            return;
        seps.push_back(std::move(gap));
        span.end = stop;
        step(span.end);
    }
    node.extras.edit().flow_seps = std::move(seps);
}

// ---- documents and the stream ----------------------------------------------

void Loader::document_start(const Event& ev, const brackle_scanner::Parser& parser) {
    const At start = at(ev.span.start);
    At doc_start = start;  // where the document's own text begins
    Document next;
    if (ev.explicit_start) {
        blanks(start);
        // Directive lines between the last content and the `---`.
        const std::string_view lines = between(content_end_, start);
        bool version_seen = false;
        for (std::size_t from = 0; from < lines.size();) {
            const std::size_t lf = std::min(lines.find('\n', from), lines.size());
            const std::string_view line = lines.substr(from, lf - from);
            from = lf + 1;
            const auto starts_word = [&](std::string_view word) {
                return line.starts_with(word) && line.size() > word.size() &&
                       (line[word.size()] == ' ' || line[word.size()] == '\t');
            };
            if (starts_word("%TAG")) {
                next.tag_directives.push_back(tag_directive_of(line));
            } else if (!version_seen && starts_word("%YAML")) {
                version_seen = true;
                next.tags_before_version = next.tag_directives.size();
            }
        }
    } else {
        // Up to the header instead when a block scalar's header stands
        // before the end of the first token's line.
        const std::size_t lf = std::min(text_.find('\n', start.byte), text_.size());
        At line_end = start;
        step_within_line(line_end, lf);
        const At header = block_header(line_end);
        if (header.index < line_end.index) doc_start = header;
        blanks(doc_start);
    }

    // The trivia the directive text holds: all pending but a comment on the
    // line the document begins, which the lookahead read past the header.
    std::size_t held = pending_.size();
    if (!ev.explicit_start && held > 0 && is_comment(pending_.back()) &&
        !is_own_line_comment(pending_.back())) {
        --held;
    }
    if (std::optional<std::string> directives = region(content_end_, doc_start)) {
        next.directives_raw.emplace(std::move(*directives), held);
    }
    next.leading = std::move(pending_);
    pending_.clear();
    if (parser.version()) next.version = *parser.version();
    next.explicit_start = ev.explicit_start;
    document_ = std::move(next);
    // Nodes grow in a buffer that keeps its capacity from one document to
    // the next; each document then gets an exact-size copy (document_end).
    document_.nodes.swap(node_buffer_);
    spans_.clear();
    last_placed_.reset();
    after_doc_end_ = false;
    after_doc_start_ = ev.explicit_start;
    doc_start_line_ = clamp32(ev.span.start.line);
    if (ev.explicit_start) {
        pending_was_empty_ = true;
        if (ev.span.end.index > content_end_.index) content_end_ = at(ev.span.end);
    }
    if (ev.span.end.index > blank_cursor_.index) blank_cursor_ = at(ev.span.end);
}

void Loader::document_end(const Event& ev) {
    blanks(at(ev.span.start));
    document_.explicit_end = between(at(ev.span.start), at(ev.span.end)) == "...";
    if (document_.explicit_end) {
        // Blank lines and comments before the `...` stay before it: they go
        // after the root, not into the document's trailing trivia. (A flow
        // collection writes its `after` inside its brackets.)
        if (document_.root && !pending_.empty() &&
            document_.nodes[*document_.root].style != NodeStyle::Flow) {
            append(document_.nodes[*document_.root].trivia.edit().after, std::move(pending_));
            pending_.clear();
        }
        after_doc_end_ = true;
        doc_end_line_ = clamp32(ev.span.start.line);
        advance(ev.span, true);
    }
    after_doc_start_ = false;
    last_placed_.reset();
    last_content_end_.reset();
    for (const NodeSpan& span : spans_) {
        if (!last_content_end_ || span.end.index > last_content_end_->index)
            last_content_end_ = span.end;
    }
    // The stream's tail after a `...` begins after the marker.
    if (document_.explicit_end) last_content_end_ = at(ev.span.end);
    std::vector<Node> nodes(std::make_move_iterator(document_.nodes.begin()),
                            std::make_move_iterator(document_.nodes.end()));
    node_buffer_.swap(document_.nodes);
    node_buffer_.clear();
    document_.nodes = std::move(nodes);
    documents_.push_back(std::move(document_));
    document_ = Document{};
    if (spans_out_) {
        std::vector<std::size_t>& out = spans_out_->emplace_back();
        out.reserve(2 * spans_.size());
        for (const NodeSpan& span : spans_) {
            out.push_back(span.start.index);
            out.push_back(span.end.index);
        }
    }
    spans_.clear();
}

void Loader::stream_end(const Event& ev) {
    blanks(at(ev.span.start));
    std::vector<Trivia> taken = std::move(pending_);
    pending_.clear();
    const At text_end{map_.chars(), text_.size(), {}};
    const std::optional<std::string> tail_region = region(content_end_, text_end);
    if (documents_.empty() || tail_region) documents_.emplace_back();
    Document& last = documents_.back();

    // The stream's tail: what stands after the last document's content.
    if (!text_.empty() && (text_.back() == '\n' || text_.back() == '\r')) {
        last.final_line_break = true;
    } else {
        // After the last content and the last comment.
        At from = tail_region || !last_content_end_ ? content_end_ : *last_content_end_;
        if (comment_end_.index > from.index) from = comment_end_;
        const std::string_view tail = between(from, text_end);
        if (tail.find_first_not_of(" \t\r\n") == std::string_view::npos) {
            const std::size_t lf = tail.rfind('\n');
            // A tail that begins a line begins with a blank line, which the
            // blank lines before the stream's end hold already.
            const bool line_start = from.byte == 0 || text_[from.byte - 1] == '\n';
            const bool one_line =
                lf == std::string_view::npos || (tail.find('\n') == lf && !line_start);
            last.stream_tail = std::string(one_line ? tail : tail.substr(lf + 1));
            // A block scalar ends in the indentation of the line after it: the
            // line break and blanks before the tail are not in its raw text,
            // so the tail holds them.
            std::size_t k = from.byte;
            while (k > 0 && (text_[k - 1] == ' ' || text_[k - 1] == '\t')) --k;
            if (one_line && !tail.empty() && tail.find('\r') == std::string_view::npos && k > 0 &&
                (text_[k - 1] == '\n' || text_[k - 1] == '\r')) {
                const bool crlf = k > 1 && text_[k - 1] == '\n' && text_[k - 2] == '\r';
                const std::size_t brk = crlf ? k - 2 : k - 1;
                last.stream_tail.insert(0, text_.substr(brk, from.byte - brk));
            }
        }
    }

    if (tail_region) {
        last.directives_raw.emplace(*tail_region, taken.size());
        last.leading = std::move(taken);
    } else {
        append(last.trailing, std::move(taken));
    }
    documents_.front().bom = bom_;
}

// The whole source lines between two points when they hold a
// directive line, or (after content with no trivia pending) a `...` line.
std::optional<std::string> Loader::region(At from, At to) const {
    std::string_view lines = between(from, to);
    if (from.byte > 0 && text_[from.byte - 1] != '\n') {
        const std::size_t lf = lines.find('\n');
        if (lf == std::string_view::npos) return std::nullopt;
        lines.remove_prefix(lf + 1);
    }
    // Whole lines only, up to the last line break before `to`; but a text's
    // last line is whole without a break of its own.
    const bool unbroken_end =
        to.byte == text_.size() && !text_.empty() && text_.back() != '\n' && text_.back() != '\r';
    if (!unbroken_end) {
        const std::size_t last_lf = lines.rfind('\n');
        if (last_lf == std::string_view::npos) return std::nullopt;
        lines = lines.substr(0, last_lf > 0 && lines[last_lf - 1] == '\r' ? last_lf - 1 : last_lf);
    }

    bool directive = false;
    bool end_marker = false;
    for (std::size_t at = 0; at <= lines.size();) {
        std::size_t lf = lines.find('\n', at);
        if (lf == std::string_view::npos) lf = lines.size();
        std::string_view line = lines.substr(at, lf - at);
        if (line.ends_with('\r')) line.remove_suffix(1);
        directive = directive || line.starts_with('%');
        end_marker = end_marker || is_document_end_marker(line);
        at = lf + 1;
    }
    if (directive || (pending_was_empty_ && end_marker)) return std::string(lines);
    return std::nullopt;
}

// Every non-empty line (without its CR) that holds a tab or ends in a blank,
// by line number: the lines that end in a blank are found from the line
// starts, the lines with tabs by one search for tabs over the whole text.
void Loader::fill_line_space(Document& first) const {
    const auto keep = [&](std::size_t line) {
        std::string_view s = map_.line_text(line);
        if (s.ends_with('\r')) s.remove_suffix(1);
        if (!s.empty()) first.line_space.try_emplace(static_cast<std::uint32_t>(line), s);
    };
    // Line numbers are 32-bit: a text of 4 GiB line feeds has one line more.
    const std::size_t lines =
        std::min<std::size_t>(map_.line_count(), std::numeric_limits<std::uint32_t>::max());
    for (std::size_t line = 0; line < lines; ++line) {
        std::string_view s = map_.line_text(line);
        if (s.ends_with('\r')) s.remove_suffix(1);
        if (!s.empty() && (s.back() == ' ' || s.back() == '\t')) keep(line);
    }
    for (std::size_t tab = text_.find('\t'); tab != std::string_view::npos;
         tab = text_.find('\t', tab + 1)) {
        const std::size_t line = map_.line_of_byte(tab);
        if (line < lines) keep(line);
        // Past this line: its other tabs add nothing.
        const std::size_t lf = text_.find('\n', tab);
        if (lf == std::string_view::npos) break;
        tab = lf;
    }
}

}  // namespace brackle_core
