// Flow collections, tags and trivia: the parts of the emitter that put
// comments and blank lines back, write tags, and lay out flow collections,
// echoing their stored separators while the output is in step with the
// source.
#include <algorithm>
#include <utility>

#include "core/src/emitter/emitter.hpp"
#include "core/src/text.hpp"
#include "scanner/src/char_traits.hpp"

namespace brackle_core::emitter {

namespace {

// Bytes of a tag's text that are written as %XX: a `%` (it begins an
// escape), and any byte that the scanner would not read as part of the tag
// (white space, `>`, non-ASCII bytes); after a handle also `!` and the flow
// indicators `,` `[` `]` `{` `}`.
bool escaped_in_tag(char c, bool verbatim) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80 || c == '%') return true;
    return verbatim ? !brackle_scanner::is_uri_char(b) : !brackle_scanner::is_tag_char(b);
}

bool has_break(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool is_empty_plain_value(const Node& n) {
    const auto* s = std::get_if<kind::Scalar>(&n.kind);
    const NodeExtras& extras = n.extras.get();
    return s && (!s->value || s->value->empty()) && !extras.anchor && !extras.tag;
}

}  // namespace

std::string render_tag(const NodeTag& tag) {
    const bool verbatim = tag.handle.empty();
    if (verbatim && tag.suffix == "!") return "!";
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string text = verbatim ? "!<" : tag.handle;
    for (const char c : tag.suffix) {
        if (escaped_in_tag(c, verbatim)) {
            text += '%';
            text += hex[static_cast<unsigned char>(c) >> 4];
            text += hex[static_cast<unsigned char>(c) & 0xF];
        } else {
            text += c;
        }
    }
    if (verbatim) text += '>';
    return text;
}

void Emitter::run_trivia(std::span<const Trivia> list) {
    Writer& w = writer_;
    for (const Trivia& entry : list) {
        if (const auto* blank = std::get_if<Blank>(&entry)) {
            // Right after a scalar that keeps its final line breaks, blank
            // lines would become its content: they are left out, unless in
            // step, where they come back as the source wrote them (with the
            // tab that made them no content).
            if (w.out.size() == w.kept_scalar_end && !w.in_step) continue;
            w.end_line();
            for (std::uint32_t i = 0; i < blank->blank_lines; ++i) w.blank_line();
            continue;
        }
        const Comment& c = std::get<Comment>(entry);
        // A comment already on the line would swallow this one.
        if (c.own_line || w.break_due) {
            w.end_line();
        } else if (w.has_content) {
            w.space();
        }
        w.pad_to(c.col);
        w.push(c.text);
        w.break_due = true;
    }
}

// The end-of-line comment written after a flow collection: its own, or
// else the one its last item hands up, from however deep. What each node of
// a chain of last items hands up is kept, so that the chain is walked once.
const Comment* Emitter::last_comment(const Node& n) {
    constexpr std::uint32_t unknown = 0xFFFFFFFF;
    constexpr std::uint32_t none = 0xFFFFFFFE;
    if (last_comment_.empty()) last_comment_.assign(doc_->nodes.size(), unknown);
    chain_.clear();
    auto i = static_cast<NodeIndex>(&n - doc_->nodes.data());
    std::uint32_t found = none;
    while (i < doc_->nodes.size()) {
        if (last_comment_[i] != unknown) {
            found = last_comment_[i];
            break;
        }
        chain_.push_back(i);
        last_comment_[i] = none;  // seen: a cycle in a hostile tree ends here
        const Node& at_end = at(i);
        const Trivia4& t = at_end.trivia.get();
        if (t.eol) {
            if (is_comment(*t.eol)) found = i;
            break;
        }
        const std::optional<NodeIndex> last = last_child(at_end);
        if (!t.after.empty() || !last) break;
        i = *last;
    }
    for (const NodeIndex v : chain_) last_comment_[v] = found;
    return found == none ? nullptr : std::get_if<Comment>(&*at(found).trivia.get().eol);
}

Task<Eol> Emitter::flow(const Node& n, std::uint32_t indent, std::uint32_t min_col, bool aligned,
                        std::uint32_t tail) {
    Writer& w = writer_;
    // Without the separators it was read with, a collection is laid out anew.
    const bool anew = n.extras.get().flow_seps.empty();
    if (anew && flat_width_.empty()) flat_width_.assign(doc_->nodes.size(), unmeasured);
    std::uint32_t* known =
        anew ? &flat_width_[static_cast<std::size_t>(&n - doc_->nodes.data())] : nullptr;
    // Laid out anew, a collection goes on one line when that line fits, and
    // otherwise one item a line; its one-line width, once measured, decides
    // without another trial. Items that would stand at the width or right of
    // it gain nothing from lines of their own: deep nesting stays on one
    // line, so that the text grows with the data, not with its depth.
    // Inside the one-line trial of a collection around it, a collection
    // goes on that line too: the outer one measures the whole.
    const std::uint32_t item_indent = flow_item_indent(indent, min_col);
    if (anew && (in_trial_ || item_indent >= options_.width)) {
        co_return co_await flow_items(n, indent, min_col, aligned, false, tail);
    }
    // The comment that will follow it on its last line (its own, or its last
    // item's, handed up), after its tail and a space: a collection on one
    // line leaves room for it where breaking would not.
    std::uint64_t comment_room = 0;
    if (anew) {
        const Comment* c = last_comment(n);
        if (c) comment_room = 1 + text::count_chars(c->text);
    }
    if (known && *known != unmeasured) {
        const bool fits =
            *known != too_wide && w.column + *known + tail + comment_room <= options_.width;
        co_return co_await flow_items(n, indent, min_col, aligned, !fits, tail);
    }
    const Writer::State saved = w.save();
    in_trial_ = anew;
    const Eol first = co_await flow_items(n, indent, min_col, aligned, false, tail);
    in_trial_ = false;
    if (first == Eol::Failed) co_return first;
    if (aligned && w.in_step) co_return first;
    const std::string_view written = std::string_view(w.out).substr(saved.out_size);
    const bool broke = has_break(written);
    const std::size_t width = text::count_chars(written);
    if (known) *known = broke || width >= too_wide ? too_wide : static_cast<std::uint32_t>(width);
    // A collection that echoes its source keeps the breaks it holds.
    if (broke && !anew) co_return first;
    if (!broke && saved.column + width + tail + comment_room <= options_.width) co_return first;
    w.restore(saved);
    carried_eol_ = nullptr;
    co_return co_await flow_items(n, indent, min_col, aligned, true, tail);
}

Task<Eol> Emitter::flow_items(const Node& n, std::uint32_t indent, std::uint32_t min_col,
                              bool aligned, bool broken, std::uint32_t tail) {
    Writer& w = writer_;
    const auto* seq = std::get_if<kind::Sequence>(&n.kind);
    const auto* map = std::get_if<kind::Mapping>(&n.kind);
    const std::size_t count = seq ? seq->items.size() : map->entries.size() * 2;
    // Child i: a sequence's items, or a mapping's keys and values in turn.
    auto child_at = [&](std::size_t i) -> NodeIndex {
        if (seq) return seq->items[i];
        const Entry& e = map->entries[i / 2];
        return i % 2 == 0 ? e.key : e.value;
    };
    const Trivia4& trivia = n.trivia.get();
    const std::vector<std::string>& seps = n.extras.get().flow_seps;
    const bool single_pair = map && count > 0 && seps.size() == count;
    const bool stored = seps.size() == count + 1 || single_pair;
    // A stored separator, when it may be used now.
    auto sep = [&](std::size_t i) -> const std::string* {
        return stored && w.in_step && i < seps.size() ? &seps[i] : nullptr;
    };
    const bool braces = !(single_pair && aligned);

    if (braces) w.push(map ? "{" : "[");
    const std::uint32_t item_indent = flow_item_indent(indent, min_col);
    const std::uint32_t open_line = w.line;
    // A closing bracket on a line of its own lines up with the opening line,
    // one column further in when the bracket did not begin that line (after a
    // key or a dash it would otherwise leave the block it stands in), and
    // never left of the block it stands in (`- - [` holds two).
    const std::uint32_t close_indent =
        std::max(w.line_indent + (w.column == w.line_indent + (braces ? 1 : 0) ? 0 : 1), min_col);

    // A comma after a comment or blank lines starts a line of its own,
    // indented like the items.
    auto write_comma = [&] {
        if (w.break_due) w.end_line();
        if (!w.has_content) w.pad_to(item_indent);
        w.push(",");
    };
    bool own_eol_used = false;
    const std::optional<Trivia>* deferred = nullptr;  // the previous child's unwritten eol
    const std::optional<Trivia> no_trailing;
    bool comma = false;
    bool key_alone = false;         // the current key is written without a colon
    bool value_gap_echoed = false;  // the gap before the last value was echoed
    bool value_eol_echoed = false;  // with the value's own comment in it
    auto gather = [&](std::initializer_list<std::span<const Trivia>> lists) {
        echo_comments_.clear();
        if (deferred && *deferred) {
            if (const auto* c = std::get_if<Comment>(&**deferred)) echo_comments_.push_back(c);
        }
        for (std::span<const Trivia> list : lists) {
            for (const Trivia& t : list) {
                if (const auto* c = std::get_if<Comment>(&t)) echo_comments_.push_back(c);
            }
        }
    };
    // Whether the gap before value `i` held a comma and was not echoed.
    auto comma_in_unwritten_gap = [&](std::size_t i) {
        if (value_gap_echoed) return false;
        if (key_alone) return true;
        const std::string* gap = sep(i);
        return map && i % 2 == 1 && gap && gap->find(',') != std::string::npos;
    };
    auto write_deferred = [&] {
        if (deferred && *deferred) write_comment(**deferred);
        deferred = nullptr;
    };

    for (std::size_t i = 0; i < count; ++i) {
        const NodeIndex index = child_at(i);
        const Node& child = at(index);
        const bool is_value = map && i % 2 == 1;
        NodeContext ctx;
        ctx.lead = broken ? Lead::NewLine : Lead::None;
        ctx.indent = item_indent;
        ctx.child_indent = item_indent;
        ctx.aligned = aligned;
        ctx.in_flow = true;
        ctx.defer_eol = true;
        ctx.min_col = min_col;
        // The last item is followed by the closing brackets, every other by
        // its comma.
        ctx.tail = i + 1 == count ? tail + (braces ? 1 : 0) : 1;

        if (!is_value) {
            comma = false;
            const std::span<const Trivia> inner =
                i == 0 ? std::span<const Trivia>(trivia.inner) : std::span<const Trivia>();
            gather({inner, child.trivia.get().before});
            // After a key written alone, or an empty value, the comma may
            // stand in the gap before the value, which is written only when
            // echoed: when it was not, this gap alone would lose it.
            const bool owed = i > 0 && comma_in_unwritten_gap(i - 1);
            const Echo echo = owed ? Echo::NotEchoed
                                   : echo_gap(sep(i), broken, i == 0 ? &trivia.eol : &no_trailing);
            if (echo != Echo::NotEchoed) {
                ctx.written.before = true;
                deferred = nullptr;
                if (echo == Echo::EchoedWithTrailing) own_eol_used = true;
            } else if (i == 0) {
                run_trivia(trivia.inner);
            } else {
                const std::string* stored_sep = sep(i);
                if (!stored_sep || owed || stored_sep->find(',') != std::string::npos) {
                    write_comma();
                    comma = true;
                }
                write_deferred();
            }
            ctx.first = !broken && comma;
            if (echo == Echo::NotEchoed && map && map->entries[i / 2].explicit_key) {
                // The key may need the explicit form (it may span lines).
                if (broken || w.break_due) {
                    w.end_line();
                    w.pad_to(item_indent);
                } else if (comma) {
                    w.space();
                } else if (!w.has_content) {
                    // After blank lines or a comment of its own.
                    w.pad_to(item_indent);
                }
                w.push("?");
                ctx.lead = Lead::None;
                ctx.first = true;
            }
            if (map) {
                ctx.is_key = true;
                const std::string* between = sep(i + 1);
                key_alone = is_empty_plain_value(at(child_at(i + 1))) && between &&
                            between->find(':') == std::string::npos;
                ctx.defer_eol = key_alone;
            }
        } else {
            const Entry& entry = map->entries[i / 2];
            const Node& key = at(entry.key);
            gather({child.trivia.get().before});
            // An empty value's own comment may stand in the gap before it
            // (`{a: # c` then `, b}`).
            const Echo echo = echo_gap(sep(i), broken, &child.trivia.get().eol);
            value_gap_echoed = echo != Echo::NotEchoed;
            value_eol_echoed = echo == Echo::EchoedWithTrailing;
            ctx.lead = Lead::None;
            ctx.after_colon = true;
            if (echo != Echo::NotEchoed) {
                ctx.written.before = true;
                deferred = nullptr;
            } else {
                write_deferred();
                if (!key_alone) {
                    colon(key, entry, aligned, item_indent, min_col);
                    const bool adjacent = aligned && entry.colon &&
                                          entry.colon->line == child.line &&
                                          child.col == entry.colon->col + 1;
                    ctx.first = !adjacent;
                }
            }
        }

        const std::optional<Trivia>* own_eol =
            is_value && value_eol_echoed ? &no_trailing : &child.trivia.get().eol;
        if (is_value && key_alone) {
            // The value is not written; its comment still is, after the comma.
            deferred = own_eol;
            continue;
        }
        ctx.written.eol = is_value && value_eol_echoed;
        const Eol r = co_await node(index, ctx);
        if (r == Eol::Failed) co_return Eol::Failed;
        // A collection item may hand up its own last item's comment.
        const std::optional<Trivia>* carried = std::exchange(carried_eol_, nullptr);
        deferred = ctx.defer_eol && r != Eol::Written ? (carried ? carried : own_eol) : nullptr;
    }

    gather({trivia.after});
    const std::string* closing = single_pair ? nullptr : sep(count);
    // An echoed closing text already stands as it did before the bracket.
    const bool owed = map && count > 0 && comma_in_unwritten_gap(count - 1);
    // An empty collection's only gap follows its opening bracket: its own
    // comment (`{ # c` then `}`) may stand there.
    const Echo closing_echo =
        owed ? Echo::NotEchoed : echo_gap(closing, broken, count == 0 ? &trivia.eol : &no_trailing);
    const bool closing_echoed = closing_echo != Echo::NotEchoed;
    if (closing_echo == Echo::EchoedWithTrailing) own_eol_used = true;
    // Laid out anew, the closing bracket follows the last item, on its line
    // unless a comment ended that line.
    const bool anew = seps.empty();
    // There the last item's comment goes after the bracket (and after the
    // comma that may follow it) when nothing else stands between them: the
    // collection hands it up as its own, which it has none of.
    const std::optional<Trivia>* carry = nullptr;
    if (anew && braces && !closing_echoed && !own_eol_used && !trivia.eol && trivia.after.empty() &&
        deferred && *deferred && is_comment(**deferred)) {
        carry = std::exchange(deferred, nullptr);
    }
    if (!closing_echoed) {
        const bool trailing_comma =
            owed || (closing ? closing->find(',') != std::string::npos
                             : !anew && braces && count > 0 && w.line > open_line);
        if (trailing_comma) write_comma();
        write_deferred();
        run_trivia(trivia.after);
    }

    // After blank lines the bracket begins a line too.
    if (braces && !closing_echoed &&
        ((w.line > open_line && !anew) || w.break_due || !w.has_content ||
         (!broken && closing && has_break(*closing)))) {
        w.end_line();
        if (closing && has_break(*closing)) {
            const std::size_t last = closing->find_last_of("\r\n");
            w.pad_to(static_cast<std::uint32_t>(
                text::count_chars(std::string_view(*closing).substr(last + 1))));
        } else {
            w.pad_to(close_indent);
        }
    }
    if (braces) w.push(map ? "}" : "]");
    carried_eol_ = carry;
    co_return own_eol_used ? Eol::Written : Eol::Open;
}

Echo Emitter::echo_gap(const std::string* gap, bool broken, const std::optional<Trivia>* trailing) {
    Writer& w = writer_;
    if (gap == nullptr || broken || w.break_due || !w.in_step) return Echo::NotEchoed;
    const std::string_view text = *gap;
    std::size_t marks = 0;
    for (std::size_t at = text.find('#'); at != std::string_view::npos;
         at = text.find('#', at + 1)) {
        ++marks;
        if (at + 1 == text.size() || (text[at + 1] != '\r' && text[at + 1] != '\n')) {
            return Echo::NotEchoed;
        }
    }
    const std::size_t comments = echo_comments_.size();
    const Comment* trailing_comment =
        trailing && *trailing ? std::get_if<Comment>(&**trailing) : nullptr;
    bool use_trailing = false;
    if (marks == comments + 1 && trailing_comment) {
        use_trailing = true;
    } else if (marks != comments) {
        return Echo::NotEchoed;
    }

    std::size_t next_comment = 0;
    std::size_t from = 0;
    for (std::size_t at = text.find('#'); at != std::string_view::npos;
         at = text.find('#', at + 1)) {
        w.push_separation(text.substr(from, at - from));
        const Comment* c = use_trailing ? trailing_comment : echo_comments_[next_comment++];
        use_trailing = false;
        w.push(c->text);
        w.break_due = true;
        from = at + 1;
    }
    w.push_separation(text.substr(from));
    return marks == comments + 1 ? Echo::EchoedWithTrailing : Echo::Echoed;
}

}  // namespace brackle_core::emitter
