#include "core/src/charmap.hpp"

#include <algorithm>
#include <cstring>

#include "core/src/text.hpp"

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

    map.line_starts_.push_back(0);
    for (const char* p = begin; (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));) {
        ++p;
        map.line_starts_.push_back(static_cast<std::uint32_t>(p - begin));
    }
    for (const char* p = begin; (p = static_cast<const char*>(std::memchr(p, '\r', end - p)));
         ++p) {
        if (p + 1 == end || p[1] != '\n') {
            map.lone_cr_ = true;
            break;
        }
    }
    map.ascii_ =
        std::none_of(begin, end, [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (map.ascii_) {
        map.chars_ = text.size();
        return map;
    }
    map.line_start_chars_.reserve(map.line_starts_.size());
    std::size_t chars = 0;
    std::size_t from = 0;
    for (const std::uint32_t start : map.line_starts_) {
        chars += text::count_chars(text.substr(from, start - from));
        map.line_start_chars_.push_back(static_cast<std::uint32_t>(chars));
        from = start;
    }
    map.chars_ = chars + text::count_chars(text.substr(from));
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
