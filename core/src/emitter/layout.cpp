#include "core/src/emitter/layout.hpp"

#include <algorithm>

#include "core/src/text.hpp"

namespace brackle_core::emitter {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Up to `count` characters of `s` from character `from` (fewer where `s`
// ends first); `count` npos takes the rest.
std::string_view char_slice(std::string_view s, std::size_t from, std::size_t count) {
    std::size_t b = 0;
    auto skip = [&](std::size_t chars) {
        while (b < s.size() && chars > 0) {
            ++b;
            while (b < s.size() && (static_cast<unsigned char>(s[b]) & 0xC0) == 0x80) ++b;
            --chars;
        }
    };
    skip(from);
    const std::size_t start = b;
    if (count == std::string_view::npos) return s.substr(start);
    skip(count);
    return s.substr(start, b - start);
}

bool all_blank(std::string_view s) {
    for (char c : s) {
        if (!is_blank(c)) return false;
    }
    return true;
}

// The entry for `line` in `sorted` (pairs by line number, rising), or
// null. Lines are asked for in rising order but after a restore, so
// `cursor` walks on from the entry found last, and jumps back by bisection.
template <class Pair>
const Pair* seek(const std::vector<Pair>& sorted, std::size_t& cursor, std::uint32_t line) {
    if (cursor > 0 && sorted[cursor - 1].first >= line) {
        const auto first =
            std::lower_bound(sorted.begin(), sorted.end(), line,
                             [](const Pair& p, std::uint32_t l) { return p.first < l; });
        cursor = static_cast<std::size_t>(first - sorted.begin());
    }
    while (cursor < sorted.size() && sorted[cursor].first < line) ++cursor;
    return cursor < sorted.size() && sorted[cursor].first == line ? &sorted[cursor] : nullptr;
}

}  // namespace

Writer::Writer(std::string_view line_break, const LineSpace* line_space,
               const OtherLineBreaks* others)
    : line_break(line_break), others_(others && !others->empty() ? others : nullptr) {
    lf_may_be_cr_ = line_break == "\r" ||
                    (others_ && std::any_of(others_->begin(), others_->end(), [](const auto& o) {
                         return o.second == LineBreak::Cr;
                     }));
    if (line_space == nullptr) return;
    source_lines_.reserve(line_space->size());
    for (const auto& [number, text] : *line_space) source_lines_.emplace_back(number, &text);
    std::sort(source_lines_.begin(), source_lines_.end());
}

const std::string* Writer::source_line() const {
    if (!in_step || source_lines_.empty()) return nullptr;
    const auto* found = seek(source_lines_, cursor_, line);
    return found ? found->second : nullptr;
}

void Writer::push(std::string_view text) {
    if (text.empty()) return;
    if (pending > 0) {
        // Pending spaces come back as the source's own run where it was all
        // spaces and tabs, on a source line that holds text: a line of
        // blanks alone held no text, and its tabs before the text written
        // now would read as indentation.
        const std::string* source = source_line();
        const std::string_view run = source && !all_blank(*source)
                                         ? char_slice(*source, column - pending, pending)
                                         : std::string_view();
        if (!run.empty() && text::count_chars(run) == pending && all_blank(run)) {
            out.append(run);
        } else {
            out.append(pending, ' ');
        }
        pending = 0;
    }
    if (!has_content) line_indent = column;
    has_content = true;
    append(text);
}

std::string_view Writer::line_end() const {
    if (others_ == nullptr || !in_step) return line_break;
    const auto* found = seek(*others_, others_cursor_, line);
    if (!found) return line_break;
    switch (found->second) {
        case LineBreak::CrLf: return "\r\n";
        case LineBreak::Cr: return "\r";
        default: return "\n";
    }
}

void Writer::append(std::string_view text) {
    if (!lf_may_be_cr_) {
        out.append(text);
        advance(text);
        return;
    }
    for (;;) {
        const std::size_t brk = text::find_break(text);
        if (brk == text.size()) {
            out.append(text);
            advance(text);
            return;
        }
        const std::size_t width =
            text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n' ? 2 : 1;
        out.append(text.substr(0, brk));
        out.append(source_break(text.substr(brk, width)));
        advance(text.substr(0, brk + width));
        text.remove_prefix(brk + width);
    }
}

std::string_view Writer::source_break(std::string_view written) const {
    return written == "\n" && lf_may_be_cr_ && line_end() == "\r" ? "\r" : written;
}

void Writer::advance(std::string_view text) {
    std::size_t brk = text::find_break(text);
    if (brk == text.size()) {
        column += static_cast<std::uint32_t>(text::count_chars(text));
        return;
    }
    // Each CR, LF or CR LF ends a line; the column counts from the last one.
    std::size_t after = 0;
    while (brk < text.size()) {
        after = brk + (text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n' ? 2 : 1);
        ++line;
        brk = text::find_break(text, after);
    }
    column = static_cast<std::uint32_t>(text::count_chars(text.substr(after)));
}

void Writer::pad_to(std::uint32_t col) {
    if (column < col) {
        pending += col - column;
        column = col;
    }
}

void Writer::next_line() {
    ++line;
    column = 0;
    pending = 0;
    line_indent = 0;
    has_content = false;
    break_due = false;
}

void Writer::end_line() {
    if (has_content) {
        line_tail();
        out.append(line_end());
        next_line();
    }
    column = 0;
    pending = 0;
    line_indent = 0;
}

void Writer::blank_line() {
    line_tail();
    out.append(line_end());
    next_line();
}

void Writer::line_tail() {
    const std::string* source = source_line();
    if (source == nullptr) return;
    const std::uint32_t start = column - pending;
    const std::string_view rest = char_slice(*source, start, std::string_view::npos);
    if (rest.empty() || !all_blank(rest)) return;
    out.append(rest);
    column = start + static_cast<std::uint32_t>(rest.size());
    pending = 0;
}

void Writer::place(std::uint32_t at_line, std::uint32_t col, std::uint32_t indent,
                   bool space_wanted, bool aligned) {
    if (break_due || (aligned && in_step && at_line > line)) {
        end_line();
    } else {
        if (space_wanted && has_content) space();
        if (aligned && in_step && at_line == line) pad_to(col);
    }
    if (aligned) {
        if (at_line == line) {
            pad_to(col);
            return;
        }
        in_step = false;
    }
    if (!has_content && column < indent) pad_to(indent);
}

void Writer::push_separation(std::string_view text) {
    for (;;) {
        const std::size_t brk = text.find_first_of("\r\n");
        if (brk == std::string_view::npos) {
            push(text);
            return;
        }
        push(text.substr(0, brk));
        line_tail();
        const std::size_t width =
            text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n' ? 2 : 1;
        out.append(source_break(text.substr(brk, width)));
        next_line();
        text.remove_prefix(brk + width);
    }
}

void Writer::restore(const State& s) {
    out.resize(s.out_size);
    line = s.line;
    column = s.column;
    pending = s.pending;
    line_indent = s.line_indent;
    has_content = s.has_content;
    break_due = s.break_due;
    after_question = s.after_question;
}

}  // namespace brackle_core::emitter
