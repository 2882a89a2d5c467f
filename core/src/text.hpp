// Small helpers over UTF-8 source text shared by the loader's passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace brackle_core::text {

// A size or position as 32 bits, the largest value standing for any larger.
constexpr std::uint32_t clamp32(std::size_t v) {
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
}

// A scanner line (from 1) as a 0-based line; one too large for 32 bits
// gives the largest line that is not the clamp value itself.
constexpr std::uint32_t zero_based_line(std::size_t line) {
    if (line == 0) return 0;
    return line - 1 > 0xFFFFFFFEu ? 0xFFFFFFFEu : static_cast<std::uint32_t>(line - 1);
}

// The character at byte `b` and its length in bytes (clamped to the text).
struct Decoded {
    char32_t c;
    std::size_t width;
};

inline Decoded decode_at(std::string_view s, std::size_t b) {
    const auto lead = static_cast<unsigned char>(s[b]);
    if (lead < 0x80) return {lead, 1};
    std::size_t width = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (width > s.size() - b) width = s.size() - b;
    char32_t c = width == 2 ? (lead & 0x1F) : width == 3 ? (lead & 0x0F) : (lead & 0x07);
    for (std::size_t i = 1; i < width; ++i)
        c = (c << 6) | (static_cast<unsigned char>(s[b + i]) & 0x3F);
    return {c, width};
}

// Characters with the Unicode White_Space property.
constexpr bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Whether every character of `s` is white space (true for the empty text).
inline bool all_white_space(std::string_view s) {
    for (std::size_t b = 0; b < s.size();) {
        const Decoded d = decode_at(s, b);
        if (!is_white_space(d.c)) return false;
        b += d.width;
    }
    return true;
}

// The first `c` in `s` at or after `from`, or `s.size()`. The gaps between
// tokens are mostly a few bytes long: short ones are searched in a plain
// loop rather than through a library call.
inline std::size_t find_byte(std::string_view s, char c, std::size_t from = 0) {
    const std::size_t quick_end = from + 16 < s.size() ? from + 16 : s.size();
    for (std::size_t i = from; i < quick_end; ++i) {
        if (s[i] == c) return i;
    }
    if (quick_end == s.size()) return s.size();
    const std::size_t found = s.find(c, quick_end);
    return found == std::string_view::npos ? s.size() : found;
}

// Where the comment that starts at `from` ends: at its line break (LF or
// CR; a comment never holds either), or at the end of the text.
inline std::size_t comment_end(std::string_view s, std::size_t from) {
    std::size_t i = from;
    while (i < s.size() && s[i] != '\n' && s[i] != '\r') ++i;
    return i;
}

// Whether any of the eight bytes of `w` equals the byte `b` (an exact test:
// no false positives).
inline bool word_has_byte(std::uint64_t w, unsigned char b) {
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t x = w ^ (ones * b);
    return (~(((x & low7) + low7) | x | low7)) != 0;
}

// The first LF or CR in `s` at or after `from`, or `s.size()`; eight bytes
// at a time, since most texts searched hold neither.
inline std::size_t find_break(std::string_view s, std::size_t from = 0) {
    std::size_t i = from;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        if (word_has_byte(w, '\n') || word_has_byte(w, '\r')) break;
    }
    for (; i < s.size(); ++i) {
        if (s[i] == '\n' || s[i] == '\r') return i;
    }
    return s.size();
}

// The number of characters in `s`: the bytes that are not UTF-8
// continuation bytes (10xxxxxx), counted eight bytes at a time.
inline std::size_t count_chars(std::string_view s) {
    constexpr std::uint64_t high = 0x8080808080808080ull;
    std::size_t continuation = 0;
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        // Bit 7 set and bit 6 clear marks a continuation byte.
        const std::uint64_t marks = (w & ~(w << 1) & high) >> 7;
        continuation += (marks * 0x0101010101010101ull) >> 56;
    }
    for (; i < s.size(); ++i) continuation += (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;
    return s.size() - continuation;
}

// The byte offset of character `n` of `s` (its size when `s` is shorter).
inline std::size_t byte_of_char(std::string_view s, std::size_t n) {
    std::size_t b = 0;
    for (; b < s.size(); ++b) {
        if ((static_cast<unsigned char>(s[b]) & 0xC0) != 0x80 && n-- == 0) return b;
    }
    return b;
}

}  // namespace brackle_core::text
