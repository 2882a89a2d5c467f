// Laying documents out anew: every node is written from its value and the
// options; nothing of the source layout is kept but the comments, in their
// order, and the blank lines between entries. The trivia the loader gave
// the nodes is first moved to where the emitter, writing anew, puts each
// comment in the order it stood.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "brackle/emit.hpp"
#include "brackle/load.hpp"
#include "core/src/text.hpp"

namespace brackle_core::emitter {
namespace {

// The lines of `text`, each without its LF (a CR stays).
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (;;) {
        const std::size_t brk = text.find('\n');
        lines.push_back(text.substr(0, brk));
        if (brk == std::string_view::npos) return lines;
        text.remove_prefix(brk + 1);
    }
}

// The source's lines by 0-based number; a leading byte-order mark is left
// out, as node columns leave it out.
std::vector<std::string_view> lines_of(std::string_view source) {
    if (source.starts_with("\xEF\xBB\xBF")) source.remove_prefix(3);
    return split_lines(source);
}

bool is_blank_line(std::string_view line) {
    return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

// Whether `comment` stands on line `line` of `lines` at its column.
bool stands_at(const std::vector<std::string_view>& lines, std::uint32_t line,
               const Comment& comment) {
    if (line >= lines.size()) return false;
    const std::string_view text = lines[line];
    const std::size_t at = text::byte_of_char(text, comment.col);
    return at <= text.size() && text.substr(at).starts_with(comment.text);
}

std::size_t comment_count(const std::vector<Trivia>& items) {
    return static_cast<std::size_t>(std::count_if(items.begin(), items.end(), is_comment));
}

// Facts about each node's subtree, gathered in one pass from the last node
// back (a loaded document numbers every child after its parent).
struct Subtrees {
    std::vector<char> holds_comments;     // a comment stands inside the collection
    std::vector<std::uint32_t> end_line;  // the line on which its text ends

    explicit Subtrees(const Document& doc)
        : holds_comments(doc.nodes.size(), 0), end_line(doc.nodes.size(), 0) {
        std::vector<char> any(doc.nodes.size(), 0);  // in its own trivia or inside
        for (std::size_t i = doc.nodes.size(); i-- > 0;) {
            const Node& n = doc.nodes[i];
            const Trivia4& t = n.trivia.get();
            bool inside = comment_count(t.inner) > 0;
            for_each_child(
                n, [&](NodeIndex c) { inside = inside || (c > i && c < any.size() && any[c]); });
            holds_comments[i] = inside;
            any[i] = inside || t.eol || comment_count(t.before) + comment_count(t.after) > 0;
            const std::optional<NodeIndex> last = last_child(n);
            if (last && *last > i && *last < doc.nodes.size()) {
                end_line[i] = end_line[*last];
            } else {
                const ScalarText& raw = n.raw();
                const auto breaks = raw ? std::count(raw->begin(), raw->end(), '\n') : 0;
                end_line[i] = n.line + static_cast<std::uint32_t>(breaks);
            }
        }
    }
};

// Blank lines below a clipped or stripped block scalar belong to its source
// text (some to its raw text, some only to the lines between it and what
// follows), which is written anew from its value: they are counted in the
// source lines and become blank lines right after it, so that the gap stays.
void blank_lines_after_block_scalars(Document& doc, const std::vector<std::string_view>& lines) {
    const std::size_t end =
        !lines.empty() && lines.back().empty() ? lines.size() - 1 : lines.size();
    for (Node& n : doc.nodes) {
        const ScalarText& raw = n.raw();
        const std::optional<Position>& header = n.extras.get().header_at;
        if (!is_block_scalar_style(n.style) || !raw || !header) continue;
        const std::vector<std::string_view> raw_lines = split_lines(*raw);
        if (raw_lines.front().ends_with('+')) continue;  // kept final breaks are content
        // A line of only spaces is content where it has more of them than
        // the block's indentation.
        std::size_t indent = std::string_view::npos;
        for (std::size_t k = 1; k < raw_lines.size(); ++k) {
            if (is_blank_line(raw_lines[k])) continue;
            indent = std::min(indent, raw_lines[k].find_first_not_of(' '));
        }
        if (indent == std::string_view::npos) indent = 0;
        std::size_t last = 0;
        for (std::size_t k = 1; k < raw_lines.size(); ++k) {
            std::string_view line = raw_lines[k];
            if (line.ends_with('\r')) line.remove_suffix(1);
            if (!is_blank_line(line) || line.size() > indent) last = k;
        }
        const std::size_t at = std::size_t{header->line} + last + 1;
        std::uint32_t gap = 0;
        // Only lines of spaces: a line with a tab is not the scalar's, and
        // the loader kept it as a blank line of its own.
        while (at + gap < end &&
               lines[at + gap].find_first_not_of(" \r") == std::string_view::npos) {
            ++gap;
        }
        if (gap > 0) {
            auto& after = n.trivia.edit().after;
            after.insert(after.begin(), Blank{gap});
        }
    }
}

// Cuts each run of blank lines to `max_blank_lines`.
void cap_blank_lines(std::vector<Trivia>& items) {
    std::uint32_t run = 0;
    std::erase_if(items, [&](Trivia& t) {
        Blank* blank = std::get_if<Blank>(&t);
        if (!blank) {
            run = 0;
            return false;
        }
        if (run >= max_blank_lines) return true;
        blank->blank_lines = std::min(blank->blank_lines, max_blank_lines - run);
        run += blank->blank_lines;
        return false;
    });
}

// Puts the comments of a mapping value where the emitter, laying the value
// out anew, writes them in the order they stood. A value's comments on lines
// of their own are written before it and its end-of-line comment after it;
// but an empty or inline value's end-of-line comment can stand before
// comments the loader gave the value (they follow the entry: they go after
// it), and the end-of-line comment of a value on a later line can stand at
// the end of the key's line (it goes above the value, first; after the
// colon when the value is a collection, whose own comment would follow its
// closing bracket). A comment after the colon of a flow collection value
// holding none on the value's line goes after it, as a later reading takes
// it.
void comments_of_values_in_text_order(Document& doc, const std::vector<std::string_view>& lines,
                                      const Subtrees& subtrees, bool flow) {
    for (std::size_t m = 0; m < doc.nodes.size(); ++m) {
        const auto* map = std::get_if<kind::Mapping>(&doc.nodes[m].kind);
        if (!map) continue;
        for (const Entry& e : map->entries) {
            if (e.key >= doc.nodes.size() || e.value >= doc.nodes.size()) continue;
            const std::uint32_t key_line = doc.nodes[e.key].line;
            Node& value = doc.nodes[e.value];
            if (!value.trivia.present()) continue;
            Trivia4& t = value.trivia.edit();
            const std::size_t before_comments = comment_count(t.before);
            if (!t.eol) {
                const bool in_flow = flow || value.style == NodeStyle::Flow;
                const auto first = std::find_if(t.before.begin(), t.before.end(), is_comment);
                if (in_flow && is_collection(value) && before_comments == 1 &&
                    !is_own_line_comment(*first) && !subtrees.holds_comments[e.value]) {
                    t.eol = std::move(*first);
                    t.before.erase(first);
                }
                continue;
            }
            const Comment* eol = std::get_if<Comment>(&*t.eol);
            if (!eol) continue;
            const bool on_key_line = value.line > key_line && stands_at(lines, key_line, *eol);
            if (before_comments > 0 && value.line == key_line) {
                t.after.insert(t.after.begin(), t.before.begin(), t.before.end());
                t.before.clear();
            } else if (before_comments > 0 && on_key_line) {
                // in line with the comments below it
                const auto first = std::find_if(t.before.begin(), t.before.end(), is_comment);
                const std::uint32_t col = std::get<Comment>(*first).col;
                t.before.insert(t.before.begin(), Comment{eol->text, col, true});
                t.eol.reset();
            } else if (on_key_line && is_collection(value)) {
                t.before.insert(t.before.begin(), Comment{eol->text, 0, false});
                t.eol.reset();
            }
        }
    }
}

// A flow collection's end-of-line comment that stood on the line where it
// begins, after its opening bracket (the collection went on below), stays
// there: it goes first among what the collection holds inside.
void comments_after_opening_brackets(Document& doc, const std::vector<std::string_view>& lines) {
    for (Node& n : doc.nodes) {
        if (n.style != NodeStyle::Flow || !n.trivia.present() || !n.trivia.get().eol) continue;
        const Comment* eol = std::get_if<Comment>(&*n.trivia.get().eol);
        if (!eol || !stands_at(lines, n.line, *eol)) continue;
        bool goes_on = false;
        for_each_child(n, [&](NodeIndex c) {
            goes_on = goes_on || (c < doc.nodes.size() && doc.nodes[c].line > n.line);
        });
        if (!goes_on) continue;
        Trivia4& t = n.trivia.edit();
        t.inner.insert(t.inner.begin(), std::move(*t.eol));
        t.eol.reset();
    }
}

// A flow collection's end-of-line comment that stood on the line where its
// last item ends, after its closing bracket, goes to that item (when the
// item has none), and on down to the innermost last item: the emitter hands
// such a comment back up past the brackets, so that it stands where it
// stood whichever node the loader gave it to.
void comments_on_last_items(Document& doc, const std::vector<std::string_view>& lines,
                            const Subtrees& subtrees) {
    // Parents come before their children: a comment moved down is seen
    // again at the child.
    for (Node& n : doc.nodes) {
        if (n.style != NodeStyle::Flow || !n.trivia.present()) continue;
        const Trivia4& t = n.trivia.get();
        const Comment* eol = t.eol ? std::get_if<Comment>(&*t.eol) : nullptr;
        const std::optional<NodeIndex> at = last_child(n);
        if (!eol || !t.after.empty() || !at || *at >= doc.nodes.size()) continue;
        Node& last = doc.nodes[*at];
        if (last.trivia.get().eol || !stands_at(lines, subtrees.end_line[*at], *eol)) continue;
        last.trivia.edit().eol = std::move(n.trivia.edit().eol);
        n.trivia.edit().eol.reset();
    }
}

// No blank line stands inside a flow collection: none around the nodes in
// one (every node, when all collections are written in flow style), nor
// inside or at the end of one.
void blank_lines_out_of_flow_collections(Document& doc, bool all_flow) {
    std::vector<char> in_flow(doc.nodes.size(), all_flow ? 1 : 0);
    for (std::size_t i = 0; i < doc.nodes.size(); ++i) {
        Node& n = doc.nodes[i];
        const bool flow_collection = n.style == NodeStyle::Flow && is_collection(n);
        if (flow_collection || in_flow[i]) {
            // Children come after their parent in a loaded document.
            for_each_child(n, [&](NodeIndex c) {
                if (c > i && c < in_flow.size()) in_flow[c] = 1;
            });
        }
        if (!n.trivia.present() || !(flow_collection || in_flow[i])) continue;
        Trivia4& t = n.trivia.edit();
        const auto blank = [](const Trivia& x) { return !is_comment(x); };
        if (in_flow[i]) std::erase_if(t.before, blank);
        std::erase_if(t.inner, blank);
        std::erase_if(t.after, blank);
    }
}

// Takes away what ties `doc` to its source lines, so that the emitter lays
// every node out from the options. Own-line comments keep their column for
// now; `relayout` places them.
void strip_layout(Document& doc, const std::vector<std::string_view>& lines, bool flow) {
    if (!flow) blank_lines_after_block_scalars(doc, lines);
    blank_lines_out_of_flow_collections(doc, flow);
    const Subtrees subtrees(doc);
    comments_of_values_in_text_order(doc, lines, subtrees, flow);
    comments_after_opening_brackets(doc, lines);
    comments_on_last_items(doc, lines, subtrees);
    cap_blank_lines(doc.leading);
    cap_blank_lines(doc.trailing);
    doc.line_space.clear();
    doc.other_line_breaks.clear();
    for (Node& n : doc.nodes) {
        n.line = n.col = 0;  // (0, 0): no source position
        if (n.extras.present()) {
            NodeExtras& x = n.extras.edit();
            x.anchor_at.reset();
            x.tag_at.reset();
            x.header_at.reset();
            x.flow_seps.clear();
        }
        if (auto* map = std::get_if<kind::Mapping>(&n.kind)) {
            for (Entry& e : map->entries) e.colon.reset();
        }
        if (auto* scalar = std::get_if<kind::Scalar>(&n.kind)) {
            // A null written as nothing stays nothing (an explicit key's
            // value gains no `:`), except in flow style, where an empty
            // plain scalar would be written '': the word keeps it a null.
            const bool nothing = scalar->raw && scalar->raw->empty();
            if (!(nothing && !flow)) scalar->raw.reset();
            if (flow && n.style == NodeStyle::Plain && scalar->value && scalar->value->empty() &&
                !n.extras.get().tag) {
                scalar->value = "null";
            }
        }
        if (!n.trivia.present()) continue;
        Trivia4& t = n.trivia.edit();
        if (t.eol) {
            if (auto* c = std::get_if<Comment>(&*t.eol)) c->col = 0;
        }
        for (auto* items : {&t.before, &t.inner, &t.after}) {
            cap_blank_lines(*items);
            for (Trivia& x : *items) {
                if (auto* c = std::get_if<Comment>(&x); c && !c->own_line) c->col = 0;
            }
        }
    }
}

}  // namespace

EmitResult relayout(std::vector<Document> documents, std::string_view source,
                    const EmitOptions& options) {
    const std::vector<std::string_view> lines = lines_of(source);
    const bool flow = options.default_flow_style.value_or(false);
    // Every line is laid out anew: all end in the options' break.
    const LineBreak line_break = options.line_break == 2   ? LineBreak::CrLf
                                 : options.line_break == 3 ? LineBreak::Cr
                                                           : LineBreak::Lf;
    std::vector<std::vector<std::uint32_t>> source_cols;
    source_cols.reserve(documents.size());
    for (Document& doc : documents) {
        auto& cols = source_cols.emplace_back();
        cols.reserve(doc.nodes.size());
        for (const Node& n : doc.nodes) cols.push_back(n.col);
        strip_layout(doc, lines, flow);
        doc.line_break = line_break;
        // Blanks at the end of the stream are layout too: a line break
        // among them becomes the final one.
        if (doc.stream_tail.find_first_not_of(" \t\r\n") == std::string::npos) {
            if (doc.stream_tail.find_first_of("\r\n") != std::string::npos) {
                doc.final_line_break = true;
            }
            doc.stream_tail.clear();
        }
    }
    EmitResult first = emit(documents, options);
    const std::string* text = std::get_if<std::string>(&first);
    if (!text) return first;
    // An own-line comment keeps its place relative to the node it belongs
    // to: as far right of the node's new column as it stood right of the
    // old one (a comment at column 0 stays there). The new columns are read
    // back from the first layout.
    // Without such a comment (or when none moves) the first layout is the
    // last.
    const auto placed_comment = [](const Trivia& x) {
        const Comment* c = std::get_if<Comment>(&x);
        return c && c->own_line && c->col != 0;
    };
    const bool any_placed =
        std::any_of(documents.begin(), documents.end(), [&](const Document& doc) {
            return std::any_of(doc.nodes.begin(), doc.nodes.end(), [&](const Node& n) {
                const Trivia4& t = n.trivia.get();
                return std::any_of(t.before.begin(), t.before.end(), placed_comment) ||
                       std::any_of(t.inner.begin(), t.inner.end(), placed_comment) ||
                       std::any_of(t.after.begin(), t.after.end(), placed_comment);
            });
        });
    if (!any_placed) return first;
    LoadResult placed = loader::parse(*text);
    auto* placed_docs = std::get_if<std::vector<Document>>(&placed);
    if (!placed_docs || placed_docs->size() != documents.size()) return first;
    bool moved = false;
    for (std::size_t d = 0; d < documents.size(); ++d) {
        Document& doc = documents[d];
        const Document& now = (*placed_docs)[d];
        if (now.nodes.size() != doc.nodes.size()) return first;
        for (std::size_t i = 0; i < doc.nodes.size(); ++i) {
            Node& n = doc.nodes[i];
            if (!n.trivia.present()) continue;
            Trivia4& t = n.trivia.edit();
            const std::int64_t shift = std::int64_t{now.nodes[i].col} - source_cols[d][i];
            for (auto* items : {&t.before, &t.inner, &t.after}) {
                for (Trivia& x : *items) {
                    auto* c = std::get_if<Comment>(&x);
                    if (!c || !c->own_line || c->col == 0) continue;
                    const auto col =
                        static_cast<std::uint32_t>(std::max<std::int64_t>(0, c->col + shift));
                    moved = moved || col != c->col;
                    c->col = col;
                }
            }
        }
    }
    return moved ? emit(documents, options) : first;
}

}  // namespace brackle_core::emitter
