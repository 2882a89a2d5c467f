// The edits: new text laid out as the emitter writes it in the document's
// own indentation, spliced in where the changed child stands.
#include <algorithm>

#include "brackle/edit.hpp"
#include "scanner/src/char_traits.hpp"

namespace brackle_core::edit {

namespace {

using brackle_scanner::is_blank;

NodeIndex add(Document& doc, Node node) {
    doc.nodes.push_back(std::move(node));
    return static_cast<NodeIndex>(doc.nodes.size() - 1);
}

// A mapping of one entry, `key: value` (`k: value` without a key), or a
// sequence of one item, in `style`.
Document wrapped(Document doc, bool mapping, NodeStyle style, const Document* key = nullptr) {
    const NodeIndex value = doc.root.value_or(0);
    Node top;
    top.style = style;
    if (mapping) {
        Entry entry;
        if (key) {
            entry.key = graft(doc, *key);
        } else {
            Node k;
            k.kind = kind::Scalar{"k", "k"};
            entry.key = add(doc, std::move(k));
        }
        entry.value = value;
        top.kind = kind::Mapping{{entry}};
    } else {
        top.kind = kind::Sequence{{value}};
    }
    doc.root = add(doc, std::move(top));
    return doc;
}

// Whether the root of `doc` is a string as the data path represents one:
// an untagged scalar whose style is the emitter's to choose.
bool is_string_root(const Document& doc) {
    if (!doc.root) return false;
    const Node& n = doc.nodes[*doc.root];
    return std::holds_alternative<kind::Scalar>(n.kind) && !n.extras.get().tag &&
           (n.style == NodeStyle::Block || n.style == NodeStyle::Literal);
}

// The (style hint, flow style) of each candidate of a replaced value, best
// first: the old scalar's style, the style `dump` picks, flow style; flow
// style alone where it was asked for.
std::vector<std::pair<std::optional<NodeStyle>, bool>> tries(std::optional<NodeStyle> hint,
                                                             bool flow_only) {
    if (flow_only) return {{std::nullopt, true}};
    return {{hint, false}, {std::nullopt, false}, {std::nullopt, true}};
}

std::string_view without_final_lf(std::string_view s) {
    if (s.ends_with('\n')) s.remove_suffix(1);
    return s;
}

std::vector<std::string> split_lines(std::string_view s) {
    std::vector<std::string> out;
    for (std::size_t from = 0;;) {
        const std::size_t lf = s.find('\n', from);
        out.emplace_back(s.substr(from, lf - from));
        if (lf == std::string_view::npos) return out;
        from = lf + 1;
    }
}

}  // namespace

std::string Editor::splice(std::size_t from, std::size_t to, std::string_view with) const {
    // The positions come from the loader's spans, in order for every text
    // it reads; clamped all the same, so that no splice reads past the text
    // (a candidate that makes no sense is refused when it is read back).
    to = std::min(to, text_.size());
    from = std::min(from, to);
    std::string out;
    out.reserve(text_.size() - (to - from) + with.size());
    out.append(text_, 0, from).append(with).append(text_, to);
    return out;
}

std::string Editor::lines_to_text(const std::vector<std::string>& lines, std::uint32_t col) const {
    std::string out;
    for (const std::string& line : lines) {
        if (!line.empty()) out.append(col, ' ').append(line);
        out += nl_;
    }
    return out;
}

// `text` with its line breaks the document's, and every line after the
// first moved right by `col`.
std::string Editor::shift(std::string_view text, std::uint32_t col) const {
    std::string out;
    const std::vector<std::string> lines = split_lines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) {
            out += nl_;
            if (!lines[i].empty()) out.append(col, ' ');
        }
        out += lines[i];
    }
    return out;
}

// `document` written in the document's indentation, its collections in
// flow style or as their nodes ask; without the final line break.
Rendered Editor::dump(Document document, bool flow) const {
    EmitOptions options = options_;
    if (flow) options.default_flow_style = true;
    const EmitResult written = emitter::emit(std::span<const Document>(&document, 1), options);
    if (const auto* error = std::get_if<EmitError>(&written)) {
        return EditError{"the value cannot be written: " + error->message()};
    }
    return std::string(without_final_lf(std::get<std::string>(written)));
}

// `value` written as a child: for `Map` the text after a key's `:`, for
// `Seq` after an item's `-`, for `Flow` an item between brackets, for `Root`
// a document. Lines after the first are placed as if the key or `-` stood at
// column 0. A string keeps the old scalar's style `hint` where that is a
// quoted or block style.
Rendered Editor::render(const NewValue& value, Context context, std::optional<NodeStyle> hint,
                        bool flow) const {
    if (flow && (context == Context::Map || context == Context::Seq)) {
        Rendered inner = render(value, Context::Flow, hint, false);
        if (auto* text = std::get_if<std::string>(&inner)) text->insert(0, " ");
        return inner;
    }
    if (context == Context::Flow) flow = true;
    Document doc = value.document;
    const bool styled = hint && *hint != NodeStyle::Plain && is_string_root(doc);
    if (styled) doc.nodes[*doc.root].style = *hint;
    if (context != Context::Root) {
        doc = wrapped(std::move(doc), context == Context::Map,
                      context == Context::Flow && styled ? NodeStyle::Flow : NodeStyle::Block);
    }
    Rendered written = dump(std::move(doc), flow && !styled);
    auto* text = std::get_if<std::string>(&written);
    if (text == nullptr) return written;
    switch (context) {
        case Context::Map: text->erase(0, std::min<std::size_t>(2, text->size())); break;
        case Context::Seq: text->erase(0, std::min<std::size_t>(1, text->size())); break;
        case Context::Flow:
            *text = text->size() >= 2 ? text->substr(1, text->size() - 2) : std::string();
            break;
        case Context::Root: break;
    }
    return written;
}

// The lines of a new entry (with `key`) or item at column 0: in block style,
// or on one line in flow style (between brackets when `in_flow`, else as a
// block entry or `-` item).
std::variant<std::vector<std::string>, EditError> Editor::render_child(const NewValue& value,
                                                                       const Document* key,
                                                                       bool block,
                                                                       bool in_flow) const {
    const bool item = key == nullptr;
    Rendered written = dump(wrapped(value.document, !item, NodeStyle::Block, key), !block);
    if (auto* error = std::get_if<EditError>(&written)) return *error;
    const std::string& text = std::get<std::string>(written);
    if (block) return split_lines(text);
    const std::string inner = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
    return std::vector<std::string>{in_flow || !item ? inner : "- " + inner};
}

// ---- the edits ----------------------------------------------------------------

Candidates Editor::set_child(NodeIndex c, std::size_t pos, const NewValue& value) const {
    const Node& n = node(c);
    const auto* map = std::get_if<kind::Mapping>(&n.kind);
    const NodeIndex v = child_nodes(c, pos).back();
    const Node& old = node(v);
    const std::optional<NodeStyle> hint =
        std::holds_alternative<kind::Scalar>(old.kind) ? std::optional(old.style) : std::nullopt;
    const std::string* anchor = nullptr;
    if (!std::holds_alternative<kind::Alias>(old.kind) && old.extras.get().anchor) {
        anchor = &*old.extras.get().anchor;
    }
    std::vector<std::string> out;
    const bool no_colon = map && !map->entries[pos].colon;
    if (n.style == NodeStyle::Flow) {
        const std::string prefix = anchor ? "&" + *anchor + " " : "";
        for (const std::optional<NodeStyle> h : {hint, std::optional<NodeStyle>()}) {
            Rendered r = render(value, Context::Flow, h, false);
            if (auto* error = std::get_if<EditError>(&r)) return *error;
            const std::string& text = std::get<std::string>(r);
            if (no_colon) {  // `{key}`: the key's value gets its `:` after the key
                const std::size_t at = end(child_nodes(c, pos).front());
                out.push_back(splice(at, at, ": " + text));
            } else {
                out.push_back(splice(props_start(v), end(v), prefix + text));
            }
        }
        return out;
    }
    const Context context = map ? Context::Map : Context::Seq;
    const std::uint32_t base = column(child_start(c, pos));
    if (no_colon) {
        // `? key` without a value: the value gets a `:` line of its own.
        const std::size_t at = line_start(last_line(child_nodes(c, pos).front()) + 1);
        const bool open_end = at == text_.size() && !text_.ends_with('\n');
        for (const bool flow : {value.flow, true}) {
            Rendered r = render(value, context, std::nullopt, flow);
            if (auto* error = std::get_if<EditError>(&r)) return *error;
            out.push_back(splice(at, at,
                                 (open_end ? nl_ : "") + std::string(base, ' ') + ":" +
                                     shift(std::get<std::string>(r), base) +
                                     (open_end ? "" : nl_)));
        }
        return out;
    }
    const std::size_t mark_end = *value_mark_end(c, pos);
    for (const auto& [h, flow] : tries(hint, value.flow)) {
        Rendered r = render(value, context, h, flow);
        if (auto* error = std::get_if<EditError>(&r)) return *error;
        out.push_back(
            replace_value(v, anchor, shift(std::get<std::string>(r), base), mark_end, base));
    }
    return out;
}

// The text with node `v` (written after `mark_end`, its `:` or `-`, of an
// entry at column `base`) replaced by `replacement`, which begins with a
// blank (a value on the mark's line) or a line break (a block collection
// below it).
std::string Editor::replace_value(NodeIndex v, const std::string* anchor, std::string replacement,
                                  std::size_t mark_end, std::uint32_t base) const {
    const Node& old = node(v);
    std::size_t props = props_start(v);
    std::size_t stop = end(v);
    if (stop < mark_end) props = stop = mark_end;  // an empty value, placed at its mark
    const std::uint32_t mark_line = line_of(mark_end - 1);
    const bool block_scalar =
        std::holds_alternative<kind::Scalar>(old.kind) && is_block_scalar_style(old.style);
    const bool below =
        is_collection(old) && old.style == NodeStyle::Block && line_of(start(v)) > mark_line;
    // A block scalar's text takes its last line break along, and the comment
    // after its header stays on the first line.
    if (stop > 0 && text_[stop - 1] == '\n') replacement += nl_;
    const NodeExtras& x = old.extras.get();
    if (block_scalar && x.header_at) {
        const std::size_t header = offset(*x.header_at);
        const std::string_view rest =
            std::string_view(text_).substr(header, line_end(x.header_at->line) - header);
        const std::size_t comment = rest.find('#');
        if (comment != std::string_view::npos && comment > 0 && is_blank(rest[comment - 1])) {
            std::size_t blank = comment;
            while (blank > 0 && is_blank(rest[blank - 1])) --blank;
            const std::size_t first_end = std::min(replacement.find(nl_), replacement.size());
            replacement.insert(first_end, rest.substr(blank));
        }
    }
    if (mark_end <= props && props < stop &&
        std::string_view(text_).substr(mark_end, props - mark_end).find('#') !=
            std::string_view::npos) {
        // Comments stand between the mark and the value: the value keeps its line.
        return replace_below(props, stop, anchor, replacement, base);
    }
    if (replacement.starts_with(' ')) {
        if (!below && line_of(props) == mark_line && props != stop && props >= mark_end) {
            return splice(props, stop, (anchor ? "&" + *anchor + " " : "") + replacement.substr(1));
        }
        std::string keep;
        if (below && line_of(props) > mark_line) {
            const std::string_view rest =
                std::string_view(text_).substr(mark_end, line_end(mark_line) - mark_end);
            std::size_t first = 0;
            while (first < rest.size() && (is_blank(rest[first]) || rest[first] == '\r')) ++first;
            if (first < rest.size() && rest[first] == '#') keep = std::string(rest);
        }
        return splice(mark_end, stop, (anchor ? " &" + *anchor : "") + replacement + keep);
    }
    if (below && !x.tag) return splice(line_end(mark_line), stop, replacement);
    const std::string prefix = anchor ? " &" + *anchor : "";
    if (block_scalar) return splice(mark_end, stop, prefix + replacement);
    const std::size_t last = std::max(line_end(last_line(v)), stop);
    return splice(mark_end, last, prefix + text_.substr(stop, last - stop) + replacement);
}

// The text with a value written on a line below its `:` or `-` (from `props`
// to `stop`) replaced there, so that the comments on the mark's line and on
// the lines between stay where they are.
std::string Editor::replace_below(std::size_t props, std::size_t stop, const std::string* anchor,
                                  const std::string& replacement, std::uint32_t base) const {
    const std::size_t line = line_start(line_of(props));
    const std::string prefix = anchor ? "&" + *anchor + " " : "";
    if (!replacement.starts_with(' ')) {  // a block collection, its lines for the old ones
        std::string lines = replacement.substr(std::min(nl_.size(), replacement.size()));
        if (anchor) lines = std::string(props - line, ' ') + "&" + *anchor + nl_ + lines;
        return splice(line, stop, lines);
    }
    if (column(props) > base) return splice(props, stop, prefix + replacement.substr(1));
    // A sequence at its key's column: a scalar goes one step further in.
    return splice(line, stop,
                  std::string(base + options_.map_indent, ' ') + prefix + replacement.substr(1));
}

Candidates Editor::replace_root(const NewValue& value, bool last) const {
    const Document& d = doc();
    std::vector<std::string> out;
    if (!d.root) {
        // A document without content, the stream's last: its root is
        // written at the end of the text.
        if (!last || d.explicit_end || !d.stream_tail.empty()) {
            return EditError{
                "only the last document of a stream can take a root where it has none"};
        }
        Rendered r = render(value, Context::Root, std::nullopt, value.flow);
        if (auto* error = std::get_if<EditError>(&r)) return *error;
        std::string text = text_;
        if (!text.empty() && !text.ends_with('\n')) text += nl_;
        out.push_back(text + shift(std::get<std::string>(r), 0) + nl_);
        return out;
    }
    const NodeIndex root = *d.root;
    const Node& old = node(root);
    const auto* scalar = std::get_if<kind::Scalar>(&old.kind);
    const NodeExtras& x = old.extras.get();
    if (scalar && (!scalar->raw || scalar->raw->empty()) && !x.anchor && !x.tag) {
        // An empty root (a lone `---`): the new one gets lines of its own,
        // after a comment on the marker's line.
        std::size_t at = end(root);
        if (only_comment_after(at)) at = line_end(line_of(at));
        const std::string before = at == 0 || text_[at - 1] == '\n' ? "" : nl_;
        const std::string after =
            at < text_.size() && (text_[at] == '\n' || text_[at] == '\r') ? "" : nl_;
        for (const bool flow : {value.flow, true}) {
            Rendered r = render(value, Context::Root, std::nullopt, flow);
            if (auto* error = std::get_if<EditError>(&r)) return *error;
            out.push_back(splice(at, at, before + shift(std::get<std::string>(r), 0) + after));
        }
        return out;
    }
    const bool alias = std::holds_alternative<kind::Alias>(old.kind);
    std::string prefix;
    if (!alias && x.anchor) {
        prefix =
            "&" + *x.anchor + (is_collection(old) && old.style == NodeStyle::Block ? nl_ : " ");
    }
    const std::size_t stop = end(root);
    const std::string tail = stop > 0 && text_[stop - 1] == '\n' ? nl_ : "";
    const std::optional<NodeStyle> hint = scalar ? std::optional(old.style) : std::nullopt;
    for (const auto& [h, flow] : tries(hint, value.flow)) {
        Rendered r = render(value, Context::Root, h, flow);
        if (auto* error = std::get_if<EditError>(&r)) return *error;
        out.push_back(
            splice(props_start(root), stop, prefix + shift(std::get<std::string>(r), 0) + tail));
    }
    return out;
}

Candidates Editor::delete_child(NodeIndex c, std::size_t pos) const {
    const Node& n = node(c);
    const std::size_t count = child_count(c);
    const std::size_t begin = child_start(c, pos);
    if (n.style == NodeStyle::Flow) {
        if (const auto lines = own_flow_lines(c, pos)) {
            return std::vector<std::string>{
                splice(line_start(lines->first), line_start(lines->second + 1), "")};
        }
        if (pos + 1 < count) {
            return std::vector<std::string>{splice(begin, child_start(c, pos + 1), "")};
        }
        // The comma before it stays: a flow collection may end with one.
        if (pos == 0 || first_on_line(begin)) {
            return std::vector<std::string>{splice(begin, child_end(c, pos), "")};
        }
        return std::vector<std::string>{splice(child_end(c, pos - 1), child_end(c, pos), "")};
    }
    const std::uint32_t last = child_last_line(c, pos);
    if (first_on_line(begin)) {
        const std::int64_t bound = pos ? std::int64_t{child_last_line(c, pos - 1)} : -1;
        std::size_t from = line_start(comment_top(line_of(begin), bound));
        const std::size_t to = line_start(last + 1);
        // At the end of a text without a final line break, the line break
        // before the child goes (never a byte-order mark before it).
        if (to == text_.size() && !text_.ends_with('\n') && from > 0 && text_[from - 1] == '\n') {
            from -= from >= 2 && text_.compare(from - 2, 2, "\r\n") == 0 ? 2 : 1;
        }
        return std::vector<std::string>{splice(from, to, "")};
    }
    if (pos + 1 < count) {
        const std::size_t following = child_start(c, pos + 1);
        if (line_of(following) == last + 1) {
            return std::vector<std::string>{splice(begin, following, "")};
        }
    }
    std::size_t from = begin;
    while (from > 0 && is_blank(text_[from - 1])) --from;
    return std::vector<std::string>{splice(from, std::max(line_end(last), from), "")};
}

Candidates Editor::insert_child(NodeIndex c, std::size_t pos, const NewValue& value,
                                const Document* key) const {
    const Node& n = node(c);
    const std::size_t count = child_count(c);
    std::vector<std::string> out;
    if (n.style == NodeStyle::Flow) {
        auto rendered = render_child(value, key, false, true);
        if (auto* error = std::get_if<EditError>(&rendered)) return *error;
        const std::string& one = std::get<std::vector<std::string>>(rendered).front();
        if (count == 0) {
            const std::size_t at = start(c) + 1;
            out.push_back(splice(at, at, one));
        } else if (pos < count) {
            const std::size_t at = child_start(c, pos);
            if (first_on_line(at) && line_of(at) > line_of(start(c))) {
                const std::size_t line = line_start(line_of(at));
                out.push_back(splice(line, line, text_.substr(line, at - line) + one + "," + nl_));
            } else {
                out.push_back(splice(at, at, one + ", "));
            }
        } else {
            const std::size_t at = child_end(c, count - 1);
            out.push_back(splice(at, at, ", " + one));
        }
        return out;
    }
    const std::uint32_t col = column(child_start(c, 0));
    std::vector<bool> blocks;
    if (!value.flow) blocks.push_back(true);
    blocks.push_back(false);
    for (const bool block : blocks) {
        auto rendered = render_child(value, key, block, false);
        if (auto* error = std::get_if<EditError>(&rendered)) return *error;
        const std::vector<std::string>& lines = std::get<std::vector<std::string>>(rendered);
        std::size_t at = 0;
        std::string text;
        if (pos < count) {
            const std::size_t begin = child_start(c, pos);
            if (first_on_line(begin)) {
                const std::int64_t bound = pos ? std::int64_t{child_last_line(c, pos - 1)} : -1;
                at = line_start(comment_top(line_of(begin), bound));
                text = lines_to_text(lines, col);
            } else {
                at = begin;
                text =
                    lines.front() + nl_ +
                    lines_to_text(std::vector<std::string>(lines.begin() + 1, lines.end()), col) +
                    std::string(col, ' ');
            }
        } else {
            at = line_start(child_last_line(c, count - 1) + 1);
            text = lines_to_text(lines, col);
            if (at == text_.size() && !text_.ends_with('\n')) {
                text = nl_ + text.substr(0, text.size() - nl_.size());
            }
        }
        out.push_back(splice(at, at, text));
    }
    return out;
}

}  // namespace brackle_core::edit
