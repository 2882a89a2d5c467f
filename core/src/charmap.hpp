// The character map: the lines of the UTF-8 source and its number of
// characters. One pass at construction records where each line starts;
// lookups find the line by bisection. (The loader takes positions from the
// scanner's marks, which carry character index, byte offset and position.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "brackle/document.hpp"

namespace brackle_core {

inline constexpr std::size_t max_source_bytes = 0xFFFFFFFFu;
inline constexpr std::string_view source_too_large = "brackle-core: source larger than 4 GiB";

class CharMap {
public:
    // The map of `text`, or nothing when the text is larger than
    // `max_source_bytes` (checked before anything is allocated).
    static std::optional<CharMap> build(std::string_view text);

    std::string_view text() const { return text_; }
    std::size_t chars() const { return chars_; }

    // The text of 0-based line `line`, without its LF; empty past the end.
    // Only an LF ends a line: a CR stays in its line's text.
    std::string_view line_text(std::size_t line) const;
    // The number of lines: one more than the number of LFs.
    std::size_t line_count() const { return line_starts_.size(); }
    // The 0-based line on which byte `b` stands.
    std::size_t line_of_byte(std::size_t b) const;

private:
    explicit CharMap(std::string_view text) : text_(text) {}

    std::string_view text_;
    std::size_t chars_ = 0;
    std::vector<std::uint32_t> line_starts_;  // byte offset where each line starts
};

}  // namespace brackle_core
