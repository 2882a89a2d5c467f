#include "core/src/charmap.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace brackle_core {

std::optional<CharMap> CharMap::build(std::string_view text) {
    if (text.size() > max_source_bytes) return std::nullopt;
    CharMap map(text);
    const char* const begin = text.data();
    const char* const end = begin + text.size();

    // One pass, a word at a time: the line feeds, and the characters (bytes
    // less UTF-8 continuation bytes). A flag's bit index gives its byte only
    // in little-endian words.
    static_assert(std::endian::native == std::endian::little);
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t high = 0x8080808080808080ull;
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    map.line_starts_.push_back(0);
    std::size_t continuations = 0;
    const char* p = begin;
    for (; end - p >= 8; p += 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        // Bit 7 set and bit 6 clear marks a continuation byte.
        continuations += static_cast<std::size_t>(std::popcount(w & ~(w << 1) & high));
        // Bit 7 of each byte that is a line feed (exact: no borrows).
        const std::uint64_t x = w ^ (ones * '\n');
        for (std::uint64_t lf = ~(((x & low7) + low7) | x) & high; lf != 0; lf &= lf - 1) {
            const std::size_t start = static_cast<std::size_t>(p - begin) +
                                      static_cast<std::size_t>(std::countr_zero(lf) >> 3) + 1;
            map.line_starts_.push_back(static_cast<std::uint32_t>(start));
        }
    }
    for (; p < end; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        if ((b & 0xC0) == 0x80) ++continuations;
        if (b == '\n') map.line_starts_.push_back(static_cast<std::uint32_t>(p + 1 - begin));
    }
    map.chars_ = text.size() - continuations;
    // The list lives through the whole load: no room to spare.
    map.line_starts_.shrink_to_fit();
    return map;
}

std::size_t CharMap::line_of_byte(std::size_t b) const {
    // The last line start at or before `b`: lines start after each LF, so
    // this counts the LFs before `b`.
    const auto after = std::upper_bound(line_starts_.begin(), line_starts_.end(), b);
    return static_cast<std::size_t>(after - line_starts_.begin()) - 1;
}

std::string_view CharMap::line_text(std::size_t line) const {
    if (line >= line_starts_.size()) return {};
    const std::size_t start = line_starts_[line];
    const std::size_t end =
        line + 1 < line_starts_.size() ? line_starts_[line + 1] - 1 : text_.size();
    return text_.substr(start, end - start);
}

}  // namespace brackle_core
