// The layouts that come back changed with the same data, listed in the
// README's Limits with their reasons: the fuzz target recognises them here,
// to compare the data of such texts instead of their bytes, as
// tests/python/layouts.py does for the Python tests. Both read the cases of
// tests/listed_layouts.txt, which keeps them in step.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace brackle_test {
namespace layouts {

inline bool is_blank(char c) { return c == ' ' || c == '\t'; }
inline bool is_break(char c) { return c == '\n' || c == '\r'; }
// White space as a regular expression's `\s` reads it in ASCII.
inline bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' ||
           (c >= '\x1c' && c <= '\x1f');
}
// A character a property (`&a`, `!t`) may hold after its indicator.
inline bool is_property_char(char c) {
    return !is_space(c) && c != ',' && c != '[' && c != ']' && c != '{' && c != '}';
}

// The lines of `text`, split at each LF, CR LF or lone CR; a text ending in
// a break ends in an empty line.
inline std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!is_break(text[i])) continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    lines.push_back(text.substr(start));
    return lines;
}

// A blank line or a comment line.
inline bool quiet(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && is_blank(line[i])) ++i;
    return i == line.size() || line[i] == '#';
}

inline bool has_comment(std::string_view line) { return line.find('#') != std::string_view::npos; }

// Whether `part`, the line before a comment (or the whole `line`), is bare
// indicators (`-`, `? -`), each followed by blanks or the line's end.
inline bool bare_indicators(std::string_view part, bool whole_line) {
    std::size_t i = 0;
    bool any = false;
    for (;;) {
        while (i < part.size() && is_blank(part[i])) ++i;
        if (i == part.size()) return any;
        if (part[i] != '-' && part[i] != '?' && part[i] != ':') return false;
        ++i;
        any = true;
        if (i == part.size()) return whole_line;
        if (!is_blank(part[i])) return false;
    }
}

// Whether `part` ends in a property, after the line's start, white space or
// one of `:-?,[{`, and blanks perhaps.
inline bool ends_in_property(std::string_view part) {
    std::size_t end = part.size();
    while (end > 0 && is_blank(part[end - 1])) --end;
    std::size_t run = end;
    while (run > 0 && is_property_char(part[run - 1])) --run;
    // The property is the end of that run of property characters, from its
    // `&` (with a name after it) or its `!`.
    for (std::size_t at = run; at < end; ++at) {
        const char c = part[at];
        if ((c != '&' && c != '!') || (c == '&' && at + 1 == end)) continue;
        if (at == 0 || is_space(part[at - 1]) ||
            std::string_view(":-?,[{").find(part[at - 1]) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

// A line that ends in bare indicators or in a property, a comment perhaps
// after it.
inline bool open_ended(std::string_view line) {
    if (bare_indicators(line, true) || ends_in_property(line)) return true;
    for (std::size_t at = line.find('#'); at != std::string_view::npos;
         at = line.find('#', at + 1)) {
        const std::string_view part = line.substr(0, at);
        if (bare_indicators(part, false) || ends_in_property(part)) return true;
    }
    return false;
}

inline bool open_ended_line_beside_a_quiet_one(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    const std::vector<std::string_view> lines = lines_of(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (quiet(line) || !open_ended(line)) continue;
        if (has_comment(line)) return true;
        if (i > 0 && (quiet(lines[i - 1]) || has_comment(lines[i - 1]))) return true;
        if (i + 2 < lines.size() && quiet(lines[i + 1])) return true;
    }
    return false;
}

// A property with no content before a `,`, `:`, `]` or `}`.
inline bool property_without_content_in_flow(std::string_view text) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '&' && text[at] != '!') continue;
        const std::size_t min_end = at + (text[at] == '&' ? 2 : 1);
        std::size_t end = at + 1;
        while (end < text.size() && is_property_char(text[end])) {
            if (text[end] == ':' && end >= min_end) return true;
            ++end;
        }
        if (end < min_end) continue;
        while (end < text.size() && is_blank(text[end])) ++end;
        if (end < text.size() && std::string_view(",:]}").find(text[end]) != std::string_view::npos)
            return true;
    }
    return false;
}

// `- ?` with nothing after the `?`, and its `:` beginning the next line.
inline bool dash_question_colon_on_next_line(std::string_view text) {
    const std::vector<std::string_view> lines = lines_of(text);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string_view line = lines[i];
        for (std::size_t at = line.find('-'); at != std::string_view::npos;
             at = line.find('-', at + 1)) {
            std::size_t j = at + 1;
            if (j == line.size() || line[j] != ' ') continue;
            while (j < line.size() && line[j] == ' ') ++j;
            if (j == line.size() || line[j] != '?') continue;
            ++j;
            while (j < line.size() && is_blank(line[j])) ++j;
            if (j != line.size()) continue;
            const std::string_view next = lines[i + 1];
            const std::size_t k = next.find_first_not_of(" \t");
            if (k != std::string_view::npos && next[k] == ':') return true;
        }
    }
    return false;
}

inline bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A tag with a `%` escape.
inline bool tag_with_escape(std::string_view text) {
    for (std::size_t at = text.find('!'); at != std::string_view::npos;
         at = text.find('!', at + 1)) {
        for (std::size_t i = at + 1; i < text.size() && !is_space(text[i]); ++i) {
            if (text[i] == '%' && i + 2 < text.size() && is_hex(text[i + 1]) && is_hex(text[i + 2]))
                return true;
        }
    }
    return false;
}

// Blank or comment lines between a `]` or `}` and a `...`.
inline bool quiet_lines_between_flow_and_end(std::string_view text) {
    const std::vector<std::string_view> lines = lines_of(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        for (std::size_t at = line.find_first_of("]}"); at != std::string_view::npos;
             at = line.find_first_of("]}", at + 1)) {
            if (!quiet(line.substr(at + 1))) continue;
            std::size_t j = i + 1;
            while (j < lines.size() && quiet(lines[j])) ++j;
            if (j > i + 1 && j < lines.size() && lines[j].starts_with("...")) return true;
            break;
        }
    }
    return false;
}

// A comment, then blank lines, then a line that begins with `,`, `:`, `]`
// or `}`.
inline bool blank_lines_between_comment_and_flow_indicator(std::string_view text) {
    const std::vector<std::string_view> lines = lines_of(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!has_comment(lines[i])) continue;
        std::size_t j = i + 1;
        while (j < lines.size() && lines[j].find_first_not_of(" \t") == std::string_view::npos) ++j;
        if (j == i + 1 || j == lines.size()) continue;
        const std::size_t k = lines[j].find_first_not_of(" \t");
        if (std::string_view(",:]}").find(lines[j][k]) != std::string_view::npos) return true;
    }
    return false;
}

// A bare `?`, and a `-` at its column on the next line.
inline bool sequence_at_column_of_bare_question(std::string_view text) {
    const std::vector<std::string_view> lines = lines_of(text);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const std::size_t indent = line.find_first_not_of(" \t");
        if (indent == std::string_view::npos || line[indent] != '?') continue;
        if (line.find_first_not_of(" \t", indent + 1) != std::string_view::npos) continue;
        const std::string_view next = lines[i + 1];
        if (next.size() > indent && next.substr(0, indent) == line.substr(0, indent) &&
            next[indent] == '-')
            return true;
    }
    return false;
}

struct Layout {
    std::string_view name;
    bool (*found)(std::string_view);
};

inline constexpr Layout listed[] = {
    {"a line ending in a bare indicator or a property, beside blank or comment lines",
     open_ended_line_beside_a_quiet_one},
    {"a property without content in a flow collection", property_without_content_in_flow},
    {"a - ? with its : on the next line", dash_question_colon_on_next_line},
    {"a tag with a % escape", tag_with_escape},
    {"blank or comment lines between a flow collection and ...", quiet_lines_between_flow_and_end},
    {"blank lines between a comment in a flow collection and , : ] or }",
     blank_lines_between_comment_and_flow_indicator},
    {"a sequence at the column of a bare ? above it", sequence_at_column_of_bare_question},
};

}  // namespace layouts

// The name of the first listed layout `text` is in, if any.
inline std::optional<std::string_view> listed_layout(std::string_view text) {
    for (const layouts::Layout& layout : layouts::listed) {
        if (layout.found(text)) return layout.name;
    }
    return std::nullopt;
}

}  // namespace brackle_test
