// Scalar analysis and writing. One forward pass over a value gathers every
// fact the style rules need; the writers map each character to its atom in a
// small buffer on the stack, so neither analysis nor writing allocates per
// character.
#include "core/src/emitter/scalar.hpp"

#include <algorithm>
#include <array>

#include "brackle/schema.hpp"
#include "core/src/text.hpp"

namespace brackle_core::emitter {

namespace {

constexpr std::string_view kPlainEmpty = "a plain scalar cannot be empty";
constexpr std::string_view kPlainOneLine =
    "a plain scalar carries no escapes and is kept to one line";
constexpr std::string_view kPlainIndicator = "a plain scalar cannot start with an indicator";
constexpr std::string_view kPlainSpace = "a plain scalar cannot start or end with a space";
constexpr std::string_view kPlainMarker = "a plain scalar cannot start with a document marker";
constexpr std::string_view kPlainColon = "`: ` ends a plain scalar";
constexpr std::string_view kPlainComment = "` #` starts a comment";
constexpr std::string_view kPlainFlow = "a flow indicator ends a plain scalar in flow context";
constexpr std::string_view kSingleOneLine =
    "a single-quoted scalar carries no escapes and is kept to one line";
constexpr std::string_view kBlockFlow = "a block scalar is not legal in flow context";
constexpr std::string_view kBlockKey = "a block scalar cannot be an implicit key";
constexpr std::string_view kBlockIndent = "block scalar content must be indented";
constexpr std::string_view kBlockEmpty = "a block scalar cannot be empty";
constexpr std::string_view kBlockEscapes = "a block scalar carries no escapes";
constexpr std::string_view kBlockOnlyBreaks = "a block scalar cannot hold nothing but line breaks";
constexpr std::string_view kBlockIndicator =
    "an indentation indicator would be needed, and is not derivable here";
constexpr std::string_view kFoldedLeadingBreak = "a folded scalar cannot start with a line break";
constexpr std::string_view kFoldedMoreIndented = "a folded scalar cannot fold a more-indented line";
constexpr std::string_view kFoldedTrailing =
    "a folded scalar cannot keep more than one trailing line break";

// Printable for writing purposes. U+2028, U+2029 and U+FEFF are excluded:
// every rule that rejects non-printable characters rejects them too.
constexpr bool is_printable(char32_t c) {
    if (c < 0x80) return c >= 0x20 && c <= 0x7E;
    if (c == 0x2028 || c == 0x2029 || c == 0xFEFF) return false;
    return (c >= 0xA0 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

constexpr bool is_indicator(char c) {
    switch (c) {
        case '!':
        case '"':
        case '#':
        case '%':
        case '&':
        case '\'':
        case '*':
        case ',':
        case '-':
        case ':':
        case '>':
        case '?':
        case '@':
        case '[':
        case ']':
        case '`':
        case '{':
        case '}':
        case '|': return true;
        default: return false;
    }
}

// What one pass over a text finds out for all style rules.
struct TextFacts {
    bool has_tab = false;
    bool has_lf = false;
    bool has_other_unprintable = false;  // not printable, and neither TAB nor LF
    bool only_lf = true;                 // nothing but LF characters (true when empty)
    bool colon_space = false;            // ": " somewhere
    bool space_hash = false;             // " #" somewhere
    bool flow_indicator = false;         // , [ ] { }
    bool first_line_indented = false;    // the first non-empty line starts with a blank
    bool some_line_indented = false;     // some non-empty line starts with a blank
};

TextFacts scan(std::string_view text) {
    TextFacts f;
    bool line_start = true;
    bool seen_content_line = false;
    char prev = '\0';
    for (std::size_t i = 0; i < text.size();) {
        const char byte = text[i];
        if (line_start && byte != '\n') {
            const bool blank = byte == ' ' || byte == '\t';
            if (!seen_content_line) f.first_line_indented = blank;
            f.some_line_indented |= blank;
            seen_content_line = true;
            line_start = false;
        }
        const auto u = static_cast<unsigned char>(byte);
        if (u < 0x80) {
            ++i;
            switch (byte) {
                case '\n':
                    f.has_lf = true;
                    line_start = true;
                    break;
                case '\t': f.has_tab = true; break;
                case ' ': f.colon_space |= prev == ':'; break;
                case '#': f.space_hash |= prev == ' '; break;
                case ',':
                case '[':
                case ']':
                case '{':
                case '}': f.flow_indicator = true; break;
                default:
                    if (u < 0x20 || u == 0x7F) f.has_other_unprintable = true;
                    break;
            }
            if (byte != '\n') f.only_lf = false;
            prev = byte;
            continue;
        }
        const text::Decoded d = text::decode_at(text, i);
        if (!is_printable(d.c)) f.has_other_unprintable = true;
        f.only_lf = false;
        prev = '\0';
        i += d.width;
    }
    return f;
}

std::optional<std::string_view> plain_reason(std::string_view text, bool in_flow,
                                             const TextFacts& f) {
    if (text.empty()) return kPlainEmpty;
    if (f.has_tab || f.has_lf || f.has_other_unprintable) return kPlainOneLine;
    const char first = text[0];
    if (is_indicator(first)) {
        const bool may_lead = first == '-' || first == '?' || first == ':';
        if (!may_lead || text.size() == 1 || text[1] == ' ' || text[1] == '\t') {
            return kPlainIndicator;
        }
    }
    if (first == ' ' || text.back() == ' ') return kPlainSpace;
    if (text.size() > 2 && (text.starts_with("---") || text.starts_with("..."))) {
        return kPlainMarker;
    }
    if (f.colon_space || text.back() == ':') return kPlainColon;
    if (f.space_hash) return kPlainComment;
    // A last word "-" is followed by the flow indicator that ends the
    // scalar, and a reader takes "-" before a flow indicator for an error.
    if (in_flow && (f.flow_indicator || text.ends_with(" -"))) return kPlainFlow;
    return std::nullopt;
}

std::optional<std::string_view> single_reason(const TextFacts& f) {
    if (f.has_lf || f.has_other_unprintable) return kSingleOneLine;
    return std::nullopt;
}

std::optional<std::string_view> block_reason(std::string_view text, const ScalarContext& ctx,
                                             bool folded, const TextFacts& f) {
    if (ctx.in_flow) return kBlockFlow;
    if (ctx.is_key) return kBlockKey;
    if (ctx.indent == 0) return kBlockIndent;
    if (text.empty()) return kBlockEmpty;
    if (f.has_other_unprintable) return kBlockEscapes;
    if (f.only_lf) return kBlockOnlyBreaks;
    if (f.first_line_indented) return kBlockIndicator;
    if (!folded) return std::nullopt;
    if (text[0] == '\n') return kFoldedLeadingBreak;
    if (f.some_line_indented) return kFoldedMoreIndented;
    if (trailing_breaks(text) >= 2) return kFoldedTrailing;
    return std::nullopt;
}

ScalarAnalysis analyze_facts(std::string_view text, const ScalarContext& ctx, const TextFacts& f) {
    ScalarAnalysis a;
    a.plain_ok = !plain_reason(text, ctx.in_flow, f) && schema::reads_as_string(text);
    a.single_ok = !single_reason(f);
    a.literal_ok = !block_reason(text, ctx, false, f);
    a.folded_ok = !block_reason(text, ctx, true, f);
    return a;
}

// ---- atoms -----------------------------------------------------------------

// One character's atom: a view of the value's own bytes or of `buf`.
struct Atom {
    std::string_view text;
    std::size_t chars = 1;  // its length in characters
};

// The longest atom: "\U" and eight hex digits.
using AtomBuffer = std::array<char, 10>;

std::string_view escape_hex(char32_t c, AtomBuffer& buf) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::size_t digits = 2;
    buf[0] = '\\';
    buf[1] = 'x';
    if (c > 0xFFFF) {
        buf[1] = 'U';
        digits = 8;
    } else if (c > 0xFF) {
        buf[1] = 'u';
        digits = 4;
    }
    for (std::size_t k = 0; k < digits; ++k) {
        buf[2 + digits - 1 - k] = kHex[(c >> (4 * k)) & 0xF];
    }
    return {buf.data(), 2 + digits};
}

// The double-quoted atom of `c`, whose bytes in the value are `bytes`.
Atom double_atom(char32_t c, std::string_view bytes, bool allow_unicode, AtomBuffer& buf) {
    auto escape = [](std::string_view e) { return Atom{e, e.size()}; };
    switch (c) {
        case 0x00: return escape("\\0");
        case 0x07: return escape("\\a");
        case 0x08: return escape("\\b");
        case 0x09: return escape("\\t");
        case 0x0A: return escape("\\n");
        case 0x0B: return escape("\\v");
        case 0x0C: return escape("\\f");
        case 0x0D: return escape("\\r");
        case 0x1B: return escape("\\e");
        case 0x22: return escape("\\\"");
        case 0x5C: return escape("\\\\");
        case 0x85: return escape("\\N");
        case 0xA0: return escape("\\_");
        case 0x2028: return escape("\\L");
        case 0x2029: return escape("\\P");
        default: break;
    }
    if (!is_printable(c) || (!allow_unicode && c >= 0x80)) return escape(escape_hex(c, buf));
    return Atom{bytes, 1};
}

// The atom of the character at byte `i`; `width` receives its byte length.
Atom atom_at(std::string_view text, std::size_t i, AtomMapping mapping, bool allow_unicode,
             AtomBuffer& buf, std::size_t& width) {
    const auto u = static_cast<unsigned char>(text[i]);
    if (u < 0x80) {
        width = 1;
        if (mapping == AtomMapping::SingleQuoted && u == '\'') return Atom{"''", 2};
        if (mapping == AtomMapping::DoubleQuoted &&
            (u < 0x21 || u >= 0x7F || u == '"' || u == '\\')) {
            if (u == ' ') return Atom{" ", 1};
            return double_atom(u, text.substr(i, 1), allow_unicode, buf);
        }
        return Atom{text.substr(i, 1), 1};
    }
    const text::Decoded d = text::decode_at(text, i);
    width = d.width;
    const std::string_view bytes = text.substr(i, d.width);
    if (mapping == AtomMapping::DoubleQuoted) return double_atom(d.c, bytes, allow_unicode, buf);
    return Atom{bytes, 1};
}

// Whether the atom of the character starting with `byte` begins with a
// blank or '#'. Escapes begin with a backslash and a doubled apostrophe with
// an apostrophe, so the first byte of the character decides.
bool atom_begins_blank_or_hash(char byte, AtomMapping mapping) {
    return byte == ' ' || byte == '#' || (byte == '\t' && mapping != AtomMapping::DoubleQuoted);
}

// The atoms appended without folding.
void append_unfolded(std::string_view text, AtomMapping mapping, bool allow_unicode,
                     std::string& out) {
    if (mapping == AtomMapping::Verbatim) {
        out.append(text);
        return;
    }
    // Runs of characters that are their own atom go out in one append.
    std::size_t run = 0;
    AtomBuffer buf;
    for (std::size_t i = 0; i < text.size();) {
        const auto u = static_cast<unsigned char>(text[i]);
        const bool self = mapping == AtomMapping::SingleQuoted
                              ? u != '\''
                              : (u >= 0x20 && u < 0x7F && u != '"' && u != '\\');
        if (self) {
            ++i;
            continue;
        }
        std::size_t width = 1;
        const Atom atom = atom_at(text, i, mapping, allow_unicode, buf, width);
        if (atom.text.data() == text.data() + i) {
            i += width;  // a printable non-ASCII character: part of the run
            continue;
        }
        out.append(text.substr(run, i - run));
        out.append(atom.text);
        i += width;
        run = i;
    }
    out.append(text.substr(run));
}

// The block scalar text: header, then for each line a break, the
// indentation and the line (empty lines carry no indentation).
std::string block_text(std::string_view value, const ScalarContext& ctx, bool folded) {
    const std::size_t trailing = trailing_breaks(value);
    std::string out;
    out.reserve(value.size() + value.size() / 8 + 16);
    out += folded ? '>' : '|';
    if (trailing == 0) out += '-';
    if (trailing >= 2) out += '+';

    std::string_view body = value;
    if (trailing > 0) body.remove_suffix(1);
    const std::string indentation(ctx.indent, ' ');
    std::size_t breaks_since_content = 0;  // LFs since the last non-empty line
    bool first = true;
    for (std::size_t start = 0;;) {
        std::size_t end = body.find('\n', start);
        if (end == std::string_view::npos) end = body.size();
        const std::string_view line = body.substr(start, end - start);
        if (!folded) {
            out += ctx.line_break;
            if (!line.empty()) {
                out += indentation;
                out += line;
            }
        } else if (!line.empty()) {
            // k breaks between two lines are written as k empty lines, so
            // that folding reads them back as k line breaks.
            if (!first) {
                for (std::size_t k = 0; k < breaks_since_content; ++k) out += ctx.line_break;
            }
            out += ctx.line_break;
            out += indentation;
            write_atoms(line, AtomMapping::Verbatim, ctx, out);
            first = false;
            breaks_since_content = 0;
        }
        if (end == body.size()) break;
        ++breaks_since_content;
        start = end + 1;
    }
    return out;
}

// Whether the line may fold at the space at byte `i` of `text`: a single
// space between two atoms that are not blank, the next one not starting a
// comment either. A TAB beside the break would be lost to the line folding,
// or in a folded block scalar turn the next line into a more-indented one.
bool foldable_space(std::string_view text, std::size_t i, AtomMapping mapping) {
    const bool prev_blank =
        text[i - 1] == ' ' || (text[i - 1] == '\t' && mapping != AtomMapping::DoubleQuoted);
    return text[i] == ' ' && !prev_blank && i + 1 < text.size() &&
           !atom_begins_blank_or_hash(text[i + 1], mapping);
}

// The width, as written, of the text from byte `i` of `text` to the next
// space the line may fold at, or its end (with a closing quote and what
// follows the scalar on its line): what a fold before that space would
// carry to the next line.
std::uint64_t word_chars(std::string_view text, std::size_t i, AtomMapping mapping,
                         const ScalarContext& ctx) {
    std::uint64_t chars = 0;
    AtomBuffer buf;
    while (i < text.size() && !(i > 0 && foldable_space(text, i, mapping))) {
        std::size_t width = 1;
        chars += atom_at(text, i, mapping, ctx.allow_unicode, buf, width).chars;
        i += width;
    }
    if (i < text.size()) return chars;
    return chars + (mapping != AtomMapping::Verbatim ? 1 : 0) + ctx.tail;
}

}  // namespace

std::optional<std::string_view> plain_syntax_reason(std::string_view text, bool in_flow) {
    return plain_reason(text, in_flow, scan(text));
}

std::optional<std::string_view> single_syntax_reason(std::string_view text) {
    return single_reason(scan(text));
}

std::optional<std::string_view> block_syntax_reason(std::string_view text, const ScalarContext& ctx,
                                                    bool folded) {
    return block_reason(text, ctx, folded, scan(text));
}

ScalarAnalysis analyze(std::string_view text, const ScalarContext& ctx) {
    return analyze_facts(text, ctx, scan(text));
}

std::size_t trailing_breaks(std::string_view text) {
    std::size_t n = 0;
    while (n < text.size() && text[text.size() - 1 - n] == '\n') ++n;
    return n;
}

NodeStyle choose_style(NodeStyle stored, std::string_view value, const ScalarContext& ctx,
                       bool preserve_quotes) {
    // A scalar that was plain stays plain while that is legal, even if it
    // would now read back as something other than a string.
    const TextFacts f = scan(value);
    if (stored == NodeStyle::Plain && !plain_reason(value, ctx.in_flow, f)) {
        return NodeStyle::Plain;
    }
    const ScalarAnalysis a = analyze_facts(value, ctx, f);
    if (preserve_quotes && stored == NodeStyle::SingleQuoted && a.single_ok) {
        return NodeStyle::SingleQuoted;
    }
    if (preserve_quotes && stored == NodeStyle::DoubleQuoted) return NodeStyle::DoubleQuoted;
    if (stored == NodeStyle::Literal && a.literal_ok) return NodeStyle::Literal;
    if (stored == NodeStyle::Folded && a.folded_ok) return NodeStyle::Folded;
    if (a.plain_ok) return NodeStyle::Plain;
    if (a.single_ok) return NodeStyle::SingleQuoted;
    return NodeStyle::DoubleQuoted;
}

std::uint64_t first_word_chars(std::string_view value, NodeStyle style, const ScalarContext& ctx) {
    if (style == NodeStyle::Plain) return word_chars(value, 0, AtomMapping::Verbatim, ctx);
    const AtomMapping mapping =
        style == NodeStyle::SingleQuoted ? AtomMapping::SingleQuoted : AtomMapping::DoubleQuoted;
    return 1 + word_chars(value, 0, mapping, ctx);
}

void write_atoms(std::string_view text, AtomMapping mapping, const ScalarContext& ctx,
                 std::string& out) {
    if (ctx.width == 0 || ctx.is_key) {
        append_unfolded(text, mapping, ctx.allow_unicode, out);
        return;
    }
    const std::uint64_t fold_indent = std::max<std::uint64_t>(ctx.indent, 1);
    std::uint64_t column = std::max(ctx.column, ctx.indent);
    AtomBuffer buf;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t width = 1;
        const Atom atom = atom_at(text, i, mapping, ctx.allow_unicode, buf, width);
        const std::size_t next = i + width;
        // A break replaces a space where the stretch after it would pass the
        // width.
        const bool fold = i > 0 && column > fold_indent && foldable_space(text, i, mapping) &&
                          column + 1 + word_chars(text, next, mapping, ctx) > ctx.width;
        if (fold) {
            out += ctx.line_break;
            out.append(fold_indent, ' ');
            column = fold_indent;
        } else {
            out += atom.text;
            column += atom.chars;
        }
        i = next;
    }
}

std::string write_chosen(std::string_view value, NodeStyle style, const ScalarContext& ctx) {
    std::string out;
    if (style == NodeStyle::Plain) {
        out.reserve(value.size());
        write_atoms(value, AtomMapping::Verbatim, ctx, out);
        return out;
    }
    if (is_block_scalar_style(style)) return block_text(value, ctx, style == NodeStyle::Folded);
    // Single quotes where they hold the text; double quotes for anything
    // else. The text folds from the column after the opening quote.
    const bool single = style == NodeStyle::SingleQuoted;
    const char quote = single ? '\'' : '"';
    ScalarContext inside = ctx;
    inside.column = std::max(ctx.column, ctx.indent) + 1;
    out.reserve(value.size() + 2);
    out += quote;
    write_atoms(value, single ? AtomMapping::SingleQuoted : AtomMapping::DoubleQuoted, inside, out);
    out += quote;
    return out;
}

std::variant<std::string, ScalarError> write(std::string_view value, NodeStyle style,
                                             const ScalarContext& ctx) {
    std::optional<std::string_view> reason;
    switch (style) {
        case NodeStyle::Plain: reason = plain_syntax_reason(value, ctx.in_flow); break;
        case NodeStyle::SingleQuoted: reason = single_syntax_reason(value); break;
        case NodeStyle::Literal:
        case NodeStyle::Folded:
            reason = block_syntax_reason(value, ctx, style == NodeStyle::Folded);
            break;
        case NodeStyle::DoubleQuoted:
        case NodeStyle::Block:
        case NodeStyle::Flow: break;
    }
    if (reason) return ScalarError{style, *reason};
    return write_chosen(value, style, ctx);
}

}  // namespace brackle_core::emitter
