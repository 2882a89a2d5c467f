// Documents and the stream: directive lines and markers, the trivia before
// and after each document, the stream's end, and the source lines whose
// whitespace a writer could not rebuild.
#include <algorithm>
#include <limits>

#include "core/src/loader.hpp"
#include "core/src/text.hpp"
#include "scanner/src/char_traits.hpp"

namespace brackle_core {

namespace {

// A line, without its line break, that is a document-end marker.
bool is_document_end_marker(std::string_view line) {
    return line.starts_with("...") && (line.size() == 3 || line[3] == ' ' || line[3] == '\t');
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

}  // namespace

// See `SourceSpans::document_starts`.
std::size_t Loader::document_text_start() const {
    if (!spans_out_ || spans_out_->document_starts.empty()) return 0;
    const std::size_t lf = text_.find('\n', content_end_.byte);
    if (content_end_.byte == 0 || text_[content_end_.byte - 1] == '\n' || lf == text_.npos) {
        return content_end_.index;
    }
    return content_end_.index + text::count_chars(between(content_end_, At{0, lf + 1, {}}));
}

void Loader::document_start(const Event& ev, const brackle_scanner::Parser& parser) {
    if (spans_out_) spans_out_->document_starts.push_back(document_text_start());
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
    // line the document begins, which the lookahead read past the header
    // (not one on a `...` line before it, which the text holds).
    std::size_t held = pending_.size();
    if (!ev.explicit_start && pending_.ends_with_eol_comment() &&
        comment_end_.index > doc_start.index) {
        --held;
    }
    if (std::optional<std::string> directives = region(content_end_, doc_start)) {
        next.directives_raw.emplace(std::move(*directives), held);
    }
    next.leading = pending_.take_all();
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
    doc_start_line_ = text::clamp32(ev.span.start.line);
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
            pending_.move_all(document_.nodes[*document_.root].trivia.edit().after);
        }
        after_doc_end_ = true;
        doc_end_line_ = text::clamp32(ev.span.start.line);
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
    if (spans_out_ && spans_out_->with_nodes) {
        std::vector<std::size_t>& out = spans_out_->nodes.emplace_back();
        out.reserve(2 * spans_.size());
        for (const NodeSpan& span : spans_) {
            out.push_back(span.start.byte);
            out.push_back(span.end.byte);
        }
    }
    spans_.clear();
}

void Loader::stream_end(const Event& ev) {
    blanks(at(ev.span.start));
    std::vector<Trivia> taken = pending_.take_all();
    const At text_end{map_.chars(), text_.size(), {}};
    const std::optional<std::string> tail_region = region(content_end_, text_end);
    if (documents_.empty() || tail_region) {
        if (spans_out_) spans_out_->document_starts.push_back(document_text_start());
        documents_.emplace_back();
    }
    Document& last = documents_.back();

    // The stream's tail: what stands after the last document's content. A
    // region taken as the last document's directive text holds the text to
    // its end, its last line included, and leaves no tail.
    if (!text_.empty() && (text_.back() == '\n' || text_.back() == '\r')) {
        last.final_line_break = true;
    } else if (!tail_region) {
        // After the last content and the last comment.
        At from = last_content_end_.value_or(content_end_);
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
