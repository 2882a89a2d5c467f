#include "core/src/charmap.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace brackle_core {

namespace {

// The UTF-8 length announced by a lead byte.
std::size_t lead_width(unsigned char b) { return b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4; }

}  // namespace

std::optional<CharMap> CharMap::build(std::string_view text) {
    if (text.size() > max_source_bytes) return std::nullopt;
    CharMap map(text);
    const char* const begin = text.data();
    const char* const end = begin + text.size();

    // One pass, a word at a time: the line feeds, and for each line start
    // the characters before it (bytes less UTF-8 continuation bytes). A
    // flag's bit index gives its byte only in little-endian words.
    static_assert(std::endian::native == std::endian::little);
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t high = 0x8080808080808080ull;
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    // The number of bytes flagged (bit 7) in a word.
    const auto flagged = [](std::uint64_t flags) { return ((flags >> 7) * ones) >> 56; };
    map.line_starts_.push_back(0);
    map.line_start_chars_.push_back(0);
    std::uint64_t any_high = 0;
    std::size_t chars = 0;  // characters before `p`
    const char* p = begin;
    for (; end - p >= 8; p += 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        any_high |= w;
        // Bit 7 set and bit 6 clear marks a continuation byte.
        const std::uint64_t continuation = w & ~(w << 1) & high;
        // Bit 7 of each byte that is a line feed (exact: no borrows).
        const std::uint64_t x = w ^ (ones * '\n');
        std::uint64_t lf = ~(((x & low7) + low7) | x) & high;
        while (lf != 0) {
            const int last = std::countr_zero(lf);  // bit 7 of the line feed's byte
            const std::uint64_t through = last == 63 ? ~0ull : (std::uint64_t{1} << (last + 1)) - 1;
            const std::size_t start = static_cast<std::size_t>(p - begin) + (last >> 3) + 1;
            map.line_starts_.push_back(static_cast<std::uint32_t>(start));
            map.line_start_chars_.push_back(static_cast<std::uint32_t>(
                chars + (last >> 3) + 1 - flagged(continuation & through)));
            lf &= lf - 1;
        }
        chars += 8 - flagged(continuation);
    }
    for (; p < end; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        any_high |= b;
        if ((b & 0xC0) != 0x80) ++chars;
        if (b == '\n') {
            map.line_starts_.push_back(static_cast<std::uint32_t>(p + 1 - begin));
            map.line_start_chars_.push_back(static_cast<std::uint32_t>(chars));
        }
    }
    map.chars_ = chars;
    // Pure ASCII text needs no character columns: there they are byte offsets.
    map.ascii_ = (any_high & high) == 0;
    // The lists live through the whole load: no room to spare.
    map.line_starts_.shrink_to_fit();
    if (map.ascii_) {
        std::vector<std::uint32_t>().swap(map.line_start_chars_);
    } else {
        map.line_start_chars_.shrink_to_fit();
    }
    return map;
}

std::size_t CharMap::byte_at(std::size_t i) const {
    if (i >= chars_) return text_.size();
    if (ascii_) return i;
    // The line holding character `i`, then a walk along that line.
    const auto after = std::upper_bound(line_start_chars_.begin(), line_start_chars_.end(), i);
    const std::size_t line = static_cast<std::size_t>(after - line_start_chars_.begin()) - 1;
    std::size_t b = line_starts_[line];
    for (std::size_t k = i - line_start_chars_[line]; k > 0; --k) {
        b = std::min(b + lead_width(static_cast<unsigned char>(text_[b])), text_.size());
    }
    return b;
}

std::string_view CharMap::slice(std::size_t from, std::size_t to) const {
    const std::size_t a = byte_at(from);
    const std::size_t b = byte_at(to);
    return a < b ? text_.substr(a, b - a) : std::string_view();
}

std::size_t CharMap::line_of_byte(std::size_t b) const {
    // The last line start at or before `b`: lines start after each LF, so
    // this counts the LFs before `b`.
    const auto after = std::upper_bound(line_starts_.begin(), line_starts_.end(), b);
    return static_cast<std::size_t>(after - line_starts_.begin()) - 1;
}

Position CharMap::position_of(std::size_t index, std::size_t byte) const {
    const std::size_t line = line_of_byte(byte);
    const std::size_t start = line_start_char(line);
    return Position{static_cast<std::uint32_t>(line),
                    static_cast<std::uint32_t>(index > start ? index - start : 0)};
}

Position CharMap::position_at(std::size_t i) const {
    i = std::min(i, chars_);
    return position_of(i, byte_at(i));
}

std::string_view CharMap::line_text(std::size_t line) const {
    if (line >= line_starts_.size()) return {};
    const std::size_t start = line_starts_[line];
    const std::size_t end =
        line + 1 < line_starts_.size() ? line_starts_[line + 1] - 1 : text_.size();
    return text_.substr(start, end - start);
}

}  // namespace brackle_core
