// Reading one document's text for editing, and where each of its nodes, its
// children's lines and their comments stand.
#include <algorithm>
#include <limits>

#include "brackle/edit.hpp"
#include "core/src/text.hpp"
#include "scanner/src/char_traits.hpp"

namespace brackle_core::edit {

namespace {

using brackle_scanner::is_blank;

// New scalars stay on one line however long they are.
constexpr std::uint64_t one_line = std::numeric_limits<std::int32_t>::max();

std::string_view strip_blanks(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

// A comment's text without its `#` and the blank after it.
std::string comment_text(std::string_view written) {
    written.remove_prefix(1);
    if (written.starts_with(' ')) written.remove_prefix(1);
    return std::string(written);
}

// Options for new text that follow the indentation the document already
// uses: the step of its first nested block mapping, and where its first
// block sequence under a key puts the `-`.
EmitOptions detect_options(const Document& doc) {
    std::optional<std::uint32_t> map_indent;
    std::optional<std::uint32_t> seq_offset;
    for (const Node& n : doc.nodes) {
        const auto* map = std::get_if<kind::Mapping>(&n.kind);
        if (map == nullptr || n.style != NodeStyle::Block) continue;
        for (const Entry& e : map->entries) {
            const Node& key = doc.nodes[e.key];
            const Node& value = doc.nodes[e.value];
            if (value.style != NodeStyle::Block || value.line <= key.line) continue;
            const std::int64_t step = std::int64_t{value.col} - key.col;
            if (std::holds_alternative<kind::Mapping>(value.kind) && !map_indent && step > 0 &&
                step <= 8) {
                map_indent = static_cast<std::uint32_t>(step);
            } else if (std::holds_alternative<kind::Sequence>(value.kind) && !seq_offset &&
                       step >= 0 && step <= 8) {
                seq_offset = static_cast<std::uint32_t>(step);
            }
        }
        if (map_indent && seq_offset) break;
    }
    EmitOptions options;
    options.map_indent = map_indent.value_or(2);
    options.seq_offset = seq_offset.value_or(0);
    options.seq_indent = options.seq_offset ? options.seq_offset + 2 : 2;
    options.width = one_line;
    options.preserve_quotes = true;
    return options;
}

}  // namespace

std::variant<Editor, ParseError> Editor::read(std::string text) {
    SourceSpans spans;
    LoadResult loaded = loader::parse(text, &spans);
    if (auto* error = std::get_if<ParseError>(&loaded)) return std::move(*error);
    Editor e;
    e.documents_ = std::move(std::get<std::vector<Document>>(loaded));
    const std::size_t base = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    if (!spans.nodes.empty()) e.spans_ = std::move(spans.nodes.front());
    for (std::size_t& at : e.spans_) at += base;
    // Lines as the loader counts them: a lone CR ends one too.
    e.line_starts_.push_back(base);
    for (std::size_t at = text.find_first_of("\r\n", base); at != std::string::npos;
         at = text.find_first_of("\r\n", at + 1)) {
        if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') ++at;
        e.line_starts_.push_back(at + 1);
    }
    const std::size_t lf = text.find('\n');
    e.nl_ = lf != std::string::npos && lf > 0 && text[lf - 1] == '\r' ? "\r\n" : "\n";
    if (!e.documents_.empty()) {
        const Document& doc = e.documents_.front();
        e.options_ = detect_options(doc);
        for (std::size_t i = 0; i < doc.nodes.size(); ++i) {
            const Node& n = doc.nodes[i];
            if (!std::holds_alternative<kind::Alias>(n.kind) && n.extras.get().anchor) {
                e.anchors_[*n.extras.get().anchor].push_back(static_cast<NodeIndex>(i));
            }
        }
    }
    e.text_ = std::move(text);
    return e;
}

// ---- anchors and aliases ------------------------------------------------------

std::optional<NodeIndex> Editor::deref(NodeIndex i) const {
    const auto* alias = std::get_if<kind::Alias>(&node(i).kind);
    if (alias == nullptr) return i;
    const auto found = anchors_.find(alias->name);
    if (found == anchors_.end()) return std::nullopt;
    const std::vector<NodeIndex>& nodes = found->second;
    const auto before = std::lower_bound(nodes.begin(), nodes.end(), i);
    if (before == nodes.begin()) return std::nullopt;
    return *std::prev(before);
}

std::vector<NodeIndex> Editor::aliased() const {
    std::vector<NodeIndex> out;
    for (std::size_t i = 0; i < doc().nodes.size(); ++i) {
        if (const auto target = deref(static_cast<NodeIndex>(i)); target && *target != i) {
            out.push_back(*target);
        }
    }
    return out;
}

std::vector<std::string> Editor::anchors_used_outside(NodeIndex top) const {
    std::vector<bool> inside(doc().nodes.size());
    std::vector<NodeIndex> stack{top};
    bool declares = false;
    while (!stack.empty()) {
        const NodeIndex i = stack.back();
        stack.pop_back();
        if (inside[i]) continue;
        inside[i] = true;
        const Node& n = node(i);
        declares |= !std::holds_alternative<kind::Alias>(n.kind) && n.extras.get().anchor;
        for_each_child(n, [&](NodeIndex child) { stack.push_back(child); });
    }
    std::vector<std::string> used;
    if (!declares) return used;
    for (std::size_t i = 0; i < doc().nodes.size(); ++i) {
        if (inside[i] || !std::holds_alternative<kind::Alias>(doc().nodes[i].kind)) continue;
        const auto target = deref(static_cast<NodeIndex>(i));
        if (target && inside[*target]) used.push_back(*node(*target).extras.get().anchor);
    }
    return used;
}

// ---- where things are ------------------------------------------------------

std::size_t Editor::offset(Position p) const {
    std::size_t at = line_start(p.line);
    for (std::uint32_t col = 0; col < p.col && at < text_.size(); ++col) {
        at += text::decode_at(text_, at).width;
    }
    return std::min(at, text_.size());
}

std::size_t Editor::end(NodeIndex i) const {
    while (true) {
        const Node& n = node(i);
        if (n.style == NodeStyle::Block && is_collection(n)) {
            if (const std::optional<NodeIndex> last = last_child(n)) {
                i = *last;
                continue;
            }
        }
        const auto* scalar = std::get_if<kind::Scalar>(&n.kind);
        const NodeExtras& x = n.extras.get();
        if (scalar && is_block_scalar_style(n.style) && x.header_at) {
            // The raw text is the header (without its comment) and the lines
            // after the header's line as they stand.
            const std::string raw = scalar->raw.value_or("");
            const std::size_t cut = raw.find('\n');
            if (cut == std::string::npos) {
                return std::min(offset(*x.header_at) + raw.size(), text_.size());
            }
            return std::min(line_start(x.header_at->line + 1) + raw.size() - cut - 1, text_.size());
        }
        if (scalar && (!scalar->raw || scalar->raw->empty()) && (x.anchor_at || x.tag_at)) {
            return props_end(i);
        }
        return std::max(start(i), spans_[2 * i + 1]);
    }
}

std::size_t Editor::props_start(NodeIndex i) const {
    std::size_t at = start(i);
    const NodeExtras& x = node(i).extras.get();
    for (const auto& p : {x.anchor_at, x.tag_at, x.header_at}) {
        if (p) at = std::min(at, offset(*p));
    }
    return at;
}

std::size_t Editor::props_end(NodeIndex i) const {
    std::size_t at = props_start(i);
    const std::string_view ends = " \t\r\n,[]{}";
    while (at < text_.size() && (text_[at] == '&' || text_[at] == '!')) {
        while (at < text_.size() && ends.find(text_[at]) == std::string_view::npos) ++at;
        while (at < text_.size() && is_blank(text_[at])) ++at;
    }
    while (at > 0 && is_blank(text_[at - 1])) --at;
    return at;
}

std::uint32_t Editor::line_of(std::size_t at) const {
    const auto next = std::upper_bound(line_starts_.begin(), line_starts_.end(), at);
    return next == line_starts_.begin()
               ? 0
               : static_cast<std::uint32_t>(next - line_starts_.begin() - 1);
}

std::size_t Editor::line_start(std::uint32_t line) const {
    return line < line_starts_.size() ? line_starts_[line] : text_.size();
}

std::size_t Editor::line_end(std::uint32_t line) const {
    const std::size_t begin = line_start(line);
    std::size_t end = line_start(line + 1);
    if (end > begin && text_[end - 1] == '\n') --end;
    if (end > begin && text_[end - 1] == '\r') --end;
    return end;
}

std::uint32_t Editor::column(std::size_t at) const {
    const std::size_t begin = line_start(line_of(at));
    return text::clamp32(text::count_chars(std::string_view(text_).substr(begin, at - begin)));
}

std::uint32_t Editor::last_line(NodeIndex i) const {
    const std::size_t e = end(i);
    return line_of(std::max(props_start(i), e > 0 ? e - 1 : 0));
}

bool Editor::first_on_line(std::size_t at) const {
    const std::size_t begin = line_start(line_of(at));
    return strip_blanks(std::string_view(text_).substr(begin, at - begin)).empty();
}

bool Editor::only_comment_after(std::size_t at) const {
    const std::size_t stop = std::max(line_end(line_of(at)), at);
    const std::string_view rest = strip_blanks(std::string_view(text_).substr(at, stop - at));
    return rest.empty() || rest.starts_with('#');
}

bool Editor::is_comment_line(std::uint32_t line) const {
    const std::size_t begin = line_start(line);
    return strip_blanks(std::string_view(text_).substr(begin, line_end(line) - begin))
        .starts_with('#');
}

std::uint32_t Editor::comment_top(std::uint32_t line, std::int64_t bound) const {
    while (std::int64_t{line} - 1 > bound && is_comment_line(line - 1)) --line;
    return line;
}

// ---- a collection's children as runs of text --------------------------------

std::size_t Editor::child_count(NodeIndex c) const {
    if (const auto* map = std::get_if<kind::Mapping>(&node(c).kind)) return map->entries.size();
    if (const auto* seq = std::get_if<kind::Sequence>(&node(c).kind)) return seq->items.size();
    return 0;
}

std::vector<NodeIndex> Editor::child_nodes(NodeIndex c, std::size_t pos) const {
    if (const auto* map = std::get_if<kind::Mapping>(&node(c).kind)) {
        return {map->entries[pos].key, map->entries[pos].value};
    }
    return {std::get<kind::Sequence>(node(c).kind).items[pos]};
}

// Where child `pos` of collection `c` begins: its `-`, its `?`, or its key's
// properties.
std::size_t Editor::child_start(NodeIndex c, std::size_t pos) const {
    const Node& n = node(c);
    const std::size_t at = props_start(child_nodes(c, pos).front());
    const auto* map = std::get_if<kind::Mapping>(&n.kind);
    if ((map && !map->entries[pos].explicit_key) || (!map && n.style == NodeStyle::Flow)) {
        return at;
    }
    if (n.style == NodeStyle::Flow) {
        std::size_t j = at;
        while (j > 0 && is_blank(text_[j - 1])) --j;
        return j > 0 && text_[j - 1] == '?' ? j - 1 : at;
    }
    // A block collection's `-` or `?` stands at the collection's column, on
    // the child's line or the nearest line above it that has one there.
    const char mark = map ? '?' : '-';
    const std::int64_t bound =
        pos ? std::int64_t{child_last_line(c, pos - 1)} : std::int64_t{line_of(start(c))} - 1;
    for (std::int64_t line = line_of(at); line > bound; --line) {
        const std::size_t begin = line_start(static_cast<std::uint32_t>(line));
        const std::size_t found = begin + n.col;
        if (found < line_end(static_cast<std::uint32_t>(line)) && text_[found] == mark &&
            strip_blanks(std::string_view(text_).substr(begin, n.col)).empty()) {
            return found;
        }
    }
    return pos == 0 ? start(c) : at;
}

std::size_t Editor::child_end(NodeIndex c, std::size_t pos) const {
    std::size_t out = 0;
    for (const NodeIndex n : child_nodes(c, pos)) out = std::max(out, end(n));
    return out;
}

std::uint32_t Editor::child_last_line(NodeIndex c, std::size_t pos) const {
    std::uint32_t last = 0;
    for (const NodeIndex n : child_nodes(c, pos)) last = std::max(last, last_line(n));
    if (const auto* map = std::get_if<kind::Mapping>(&node(c).kind)) {
        if (const auto& colon = map->entries[pos].colon) last = std::max(last, colon->line);
    }
    return last;
}

// The lines of a flow collection's child when it has them to itself: it
// begins its line, and after it come only its comma and a comment.
std::optional<std::pair<std::uint32_t, std::uint32_t>> Editor::own_flow_lines(
    NodeIndex c, std::size_t pos) const {
    const std::size_t begin = child_start(c, pos);
    if (!first_on_line(begin) || line_of(begin) <= line_of(start(c))) return std::nullopt;
    const std::size_t stop = child_end(c, pos);
    const std::uint32_t last = line_of(std::max(begin, stop > 0 ? stop - 1 : 0));
    // After the child on its last line: its comma, blanks, a comment.
    std::size_t after = stop;
    while (after < line_end(last) && is_blank(text_[after])) ++after;
    if (after < line_end(last) && text_[after] == ',') ++after;
    if (!only_comment_after(after)) return std::nullopt;
    return std::pair{line_of(begin), last};
}

// Just past what introduces child `pos`'s value: its `:` in a mapping (none
// for an entry written without one), its `-` in a block sequence.
std::optional<std::size_t> Editor::value_mark_end(NodeIndex c, std::size_t pos) const {
    if (const auto* map = std::get_if<kind::Mapping>(&node(c).kind)) {
        const auto& colon = map->entries[pos].colon;
        if (!colon) return std::nullopt;
        return offset(*colon) + 1;
    }
    return child_start(c, pos) + 1;
}

std::uint32_t Editor::value_mark_line(NodeIndex c, std::size_t pos) const {
    const std::optional<std::size_t> mark = value_mark_end(c, pos);
    return line_of((mark ? *mark : child_start(c, pos) + 1) - 1);
}

// ---- comments ----------------------------------------------------------------

std::pair<std::uint32_t, std::uint32_t> Editor::comment_lines(NodeIndex c, std::size_t pos) const {
    const std::size_t begin = child_start(c, pos);
    const std::uint32_t first = line_of(begin);
    if (!first_on_line(begin)) return {first, first};
    const std::int64_t bound = pos ? std::int64_t{child_last_line(c, pos - 1)} : -1;
    return {comment_top(first, bound), first};
}

ChildLines Editor::child_lines(NodeIndex c, std::size_t pos) const {
    const auto [top, first] = comment_lines(c, pos);
    return ChildLines{top, first, child_last_line(c, pos), !first_on_line(child_start(c, pos))};
}

// Where the comment at the end of child `pos`'s first line begins: a comment
// the loader read there, found by its column and text.
std::optional<std::size_t> Editor::eol_comment_at(NodeIndex c, std::size_t pos) const {
    const std::size_t begin = child_start(c, pos);
    const std::uint32_t line = line_of(begin);
    const std::size_t stop = line_end(line);
    std::optional<std::size_t> found;
    const auto look = [&](const Trivia& t) {
        const Comment* comment = std::get_if<Comment>(&t);
        if (found || comment == nullptr || comment->own_line || comment->text.empty()) return;
        const std::size_t at = offset(Position{line, comment->col});
        if (begin <= at && at < stop &&
            text_.compare(at, comment->text.size(), comment->text) == 0) {
            found = at;
        }
    };
    const auto look_all = [&](const std::vector<Trivia>& group) {
        for (const Trivia& t : group) look(t);
    };
    look_all(doc().leading);
    look_all(doc().trailing);
    for (const Node& n : doc().nodes) {
        const Trivia4& t = n.trivia.get();
        look_all(t.before);
        look_all(t.inner);
        look_all(t.after);
        if (t.eol) look(*t.eol);
    }
    return found;
}

std::optional<std::string> Editor::eol_comment(NodeIndex c, std::size_t pos) const {
    const std::optional<std::size_t> at = eol_comment_at(c, pos);
    if (!at) return std::nullopt;
    return comment_text(std::string_view(text_).substr(*at, line_end(line_of(*at)) - *at));
}

std::vector<std::string> Editor::comments_before(NodeIndex c, std::size_t pos) const {
    const auto [top, first] = comment_lines(c, pos);
    std::vector<std::string> out;
    for (std::uint32_t line = top; line < first; ++line) {
        const std::size_t begin = line_start(line);
        out.push_back(comment_text(
            strip_blanks(std::string_view(text_).substr(begin, line_end(line) - begin))));
    }
    return out;
}

Candidates Editor::set_eol_comment(NodeIndex c, std::size_t pos,
                                   const std::optional<std::string>& comment) const {
    const std::size_t begin = child_start(c, pos);
    const std::size_t stop = line_end(line_of(begin));
    const std::optional<std::size_t> at = eol_comment_at(c, pos);
    if (!at && !comment) return std::vector<std::string>{text_};
    const std::string written = comment ? "#" + (comment->empty() ? "" : " " + *comment) : "";
    if (at && comment) return std::vector<std::string>{splice(*at, stop, written)};
    std::size_t cut = at ? *at : stop;
    while (cut > begin && is_blank(text_[cut - 1])) --cut;
    return std::vector<std::string>{splice(cut, stop, written.empty() ? "" : "  " + written)};
}

Candidates Editor::set_comments_before(NodeIndex c, std::size_t pos,
                                       const std::vector<std::string>& texts) const {
    const auto [top, first] = comment_lines(c, pos);
    const std::size_t begin = child_start(c, pos);
    if (!first_on_line(begin)) {
        if (!texts.empty())
            return EditError{"comments cannot go above an entry that shares its line"};
        return std::vector<std::string>{text_};
    }
    const std::string indent(begin - line_start(first), ' ');
    std::string lines;
    for (const std::string& t : texts) lines += indent + (t.empty() ? "#" : "# " + t) + nl_;
    return std::vector<std::string>{splice(line_start(top), line_start(first), lines)};
}

}  // namespace brackle_core::edit
