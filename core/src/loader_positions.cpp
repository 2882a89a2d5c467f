// Where things were written, found by looking at the source again around
// an event: the positions of properties and block scalar headers, a
// scalar's exact source text, and the gaps between flow items with their
// separators.
#include <algorithm>
#include <limits>

#include "core/src/loader.hpp"
#include "core/src/text.hpp"

namespace brackle_core {

namespace {

// The characters of a block scalar header (`|`, `>`, indicators, digits).
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

// White space and the punctuation a gap between flow items may hold.
bool is_separator_char(char32_t c) {
    return text::is_white_space(c) || c == U',' || c == U':' || c == U'?';
}

// A token may start after white space, after a comment's end, and after
// the indicators that a node's properties can follow.
bool starts_token_after(char32_t c) {
    return text::is_white_space(c) || c == U',' || c == U'-' || c == U':' || c == U'?' ||
           c == U'[' || c == U'{';
}

}  // namespace

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

// Sets `out` to a scalar's exact source text, a view into the source where
// the text stands there as one piece; leaves it absent for an empty plain
// scalar that the parser placed at another token.
void Loader::scalar_raw(const Event& ev, At header, ScalarText& out) const {
    const std::string_view span = between(at(ev.span.start), at(ev.span.end));
    const bool block = ev.style == brackle_scanner::ScalarStyle::Literal ||
                       ev.style == brackle_scanner::ScalarStyle::Folded;
    if (!block) {
        if (ev.style == brackle_scanner::ScalarStyle::Plain && ev.value.empty() &&
            !text::all_white_space(span)) {
            return;
        }
        out = ScalarText::view_of(span);
        return;
    }

    // A block scalar: its header as written, the line break and empty lines
    // after it, and its content lines, less one final line break.
    std::size_t header_end = header.byte + 1;
    while (header_end < text_.size() && is_header_char(text_[header_end])) ++header_end;
    std::string raw(text_.substr(header.byte, header_end - header.byte));
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
    // Without a comment after the header the text is one piece of the source.
    const std::string_view whole = text_.substr(header.byte, raw.size());
    out = whole == raw ? ScalarText::view_of(whole) : ScalarText(raw);
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

}  // namespace brackle_core
