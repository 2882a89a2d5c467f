// Character classes the scanner tests against. Every test takes a decoded
// character; NUL also stands for the end of input.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace brackle_scanner {

constexpr bool is_blank(char32_t c) { return c == U' ' || c == U'\t'; }
constexpr bool is_break(char32_t c) { return c == U'\n' || c == U'\r'; }
constexpr bool is_breakz(char32_t c) { return is_break(c) || c == 0; }
constexpr bool is_blank_or_breakz(char32_t c) { return is_blank(c) || is_breakz(c); }

constexpr bool is_flow(char32_t c) {
    return c == U',' || c == U'[' || c == U']' || c == U'{' || c == U'}';
}

constexpr bool is_digit(char32_t c) { return c >= U'0' && c <= U'9'; }

constexpr bool is_hex(char32_t c) {
    return is_digit(c) || (c >= U'a' && c <= U'f') || (c >= U'A' && c <= U'F');
}

constexpr unsigned hex_value(char32_t c) {
    if (is_digit(c)) return c - U'0';
    if (c >= U'a' && c <= U'f') return c - U'a' + 10;
    return c - U'A' + 10;
}

constexpr bool is_ascii_letter(char32_t c) {
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
}

constexpr bool is_word_char(char32_t c) { return is_ascii_letter(c) || is_digit(c) || c == U'-'; }

// The test applied to what follows a `:` or `-` and a tab.
constexpr bool is_alpha(char32_t c) { return is_word_char(c) || c == U'_'; }

constexpr bool is_uri_char(char32_t c) {
    if (is_word_char(c)) return true;
    switch (c) {
        case U'#':
        case U';':
        case U'/':
        case U'?':
        case U':':
        case U'@':
        case U'&':
        case U'=':
        case U'+':
        case U'$':
        case U',':
        case U'_':
        case U'.':
        case U'!':
        case U'~':
        case U'*':
        case U'\'':
        case U'(':
        case U')':
        case U'[':
        case U']':
        case U'%': return true;
        default: return false;
    }
}

constexpr bool is_tag_char(char32_t c) { return is_uri_char(c) && c != U'!' && !is_flow(c); }

constexpr bool is_anchor_char(char32_t c) {
    return !is_blank_or_breakz(c) && !is_flow(c) && c != 0xFEFF;
}

constexpr bool is_yaml_non_space(char32_t c) { return !is_blank(c) && !is_break(c) && c != 0xFEFF; }

// Byte classes for the loops that copy runs of characters: every character
// that ends a run is ASCII, so a run can be found byte by byte with one table
// look-up, whatever multi-byte characters it holds.
namespace byte_class {
inline constexpr std::uint8_t break_or_nul = 1;  // LF, CR, NUL
inline constexpr std::uint8_t blank = 2;         // space, tab
inline constexpr std::uint8_t colon = 4;
inline constexpr std::uint8_t flow = 8;  // , [ ] { }
inline constexpr std::uint8_t single_quote = 16;
inline constexpr std::uint8_t double_quote_or_backslash = 32;
}  // namespace byte_class

inline constexpr std::array<std::uint8_t, 256> byte_classes = [] {
    std::array<std::uint8_t, 256> table{};
    table['\n'] = table['\r'] = table[0] = byte_class::break_or_nul;
    table[' '] = table['\t'] = byte_class::blank;
    table[':'] = byte_class::colon;
    for (unsigned char c : {',', '[', ']', '{', '}'}) table[c] = byte_class::flow;
    table['\''] = byte_class::single_quote;
    table['"'] = table['\\'] = byte_class::double_quote_or_backslash;
    return table;
}();

// A UTF-8 byte that starts a character (anything but a continuation byte).
constexpr bool starts_char(unsigned char b) { return (b & 0xC0) != 0x80; }

constexpr bool is_unicode_scalar(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// Appends the UTF-8 encoding of a Unicode scalar value.
inline void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Whether `s` is well-formed UTF-8: no stray or missing continuation bytes,
// no overlong forms, no surrogates, nothing above U+10FFFF. The scanner
// reads UTF-8 text (a Python str always is); callers that start from raw
// bytes check them with this first.
inline bool is_valid_utf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        std::size_t width;
        char32_t min;
        char32_t c;
        if (lead >= 0xC2 && lead <= 0xDF) {
            width = 2, min = 0x80, c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            width = 3, min = 0x800, c = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            width = 4, min = 0x10000, c = lead & 0x07;
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) < width) return false;
        for (std::size_t i = 1; i < width; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            c = (c << 6) | (p[i] & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        p += width;
    }
    return true;
}

}  // namespace brackle_scanner
