// Character classes the scanner tests against. Every test takes a decoded
// character; NUL also stands for the end of input.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// The offset of the first byte of `s` that does not start a well-formed
// UTF-8 character (a stray continuation byte, a lead byte that no character
// starts with, an overlong form, a surrogate, a code point above U+10FFFF, or
// a sequence cut short by another byte or by the end), or `s.size()` when
// all of `s` is well-formed. The scanner runs this once over its whole text,
// so ASCII, which most YAML is, goes eight bytes at a time.
inline std::size_t first_invalid_utf8(std::string_view s) {
    const auto* const begin = reinterpret_cast<const unsigned char*>(s.data());
    const auto* const end = begin + s.size();
    const auto* p = begin;
    const auto at = [&] { return static_cast<std::size_t>(p - begin); };
    constexpr std::uint64_t high_bits = 0x8080808080808080ull;
    while (p != end) {
        // ASCII: eight bytes at a time up to the first byte with its high
        // bit set, byte by byte in the last few.
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            const std::uint64_t high = word & high_bits;
            if (high != 0) {
                if constexpr (std::endian::native == std::endian::little) {
                    p += std::countr_zero(high) >> 3;
                } else {
                    p += std::countl_zero(high) >> 3;
                }
                break;
            }
            p += 8;
        }
        while (p != end && *p < 0x80) ++p;
        // The characters beyond ASCII up to the next ASCII byte.
        while (p != end && *p >= 0x80) {
            const unsigned char lead = *p;
            if (lead >= 0xC2 && lead <= 0xDF) {
                if (end - p < 2 || (p[1] & 0xC0) != 0x80) return at();
                p += 2;
                continue;
            }
            // The range the first continuation byte must fall in: the narrower
            // ones rule out overlong forms (after E0 and F0), surrogates
            // (after ED) and code points above U+10FFFF (after F4).
            std::ptrdiff_t width;
            unsigned char low = 0x80;
            unsigned char high = 0xBF;
            if (lead >= 0xE0 && lead <= 0xEF) {
                width = 3;
                if (lead == 0xE0) low = 0xA0;
                if (lead == 0xED) high = 0x9F;
            } else if (lead >= 0xF0 && lead <= 0xF4) {
                width = 4;
                if (lead == 0xF0) low = 0x90;
                if (lead == 0xF4) high = 0x8F;
            } else {
                return at();
            }
            if (end - p < width || p[1] < low || p[1] > high) return at();
            for (std::ptrdiff_t i = 2; i < width; ++i) {
                if ((p[i] & 0xC0) != 0x80) return at();
            }
            p += width;
        }
    }
    return s.size();
}

// Whether `s` is well-formed UTF-8 (see `first_invalid_utf8`).
inline bool is_valid_utf8(std::string_view s) { return first_invalid_utf8(s) == s.size(); }

}  // namespace brackle_scanner
