// The character map: the lines of the UTF-8 source, and the translation
// between character indices (as the scanner counts positions), byte offsets
// and 0-based lines and columns.
//
// One pass at construction records where each line starts, in bytes and in
// characters; lookups find the line by bisection. Pure ASCII text needs no
// character column: there a character index is its byte offset. Callers that
// hold a scanner mark know both the character index and the byte offset and
// ask `position_of`, which needs no walk over the text.
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

    // The byte offset of character `i`; an index at or past the end maps to
    // the end of the text.
    std::size_t byte_at(std::size_t i) const;
    // The text between two character indices (empty when they are reversed).
    std::string_view slice(std::size_t from, std::size_t to) const;
    // The 0-based line and column (in characters) of character `i`. Only LF
    // ends a line; a CR counts as a character of its line.
    Position position_at(std::size_t i) const;
    // The same for a character whose index and byte offset are both known.
    Position position_of(std::size_t index, std::size_t byte) const;
    // The text of 0-based line `line`, without its LF; empty past the end.
    std::string_view line_text(std::size_t line) const;
    // The number of lines: one more than the number of LFs.
    std::size_t line_count() const { return line_starts_.size(); }
    // The 0-based line on which byte `b` stands.
    std::size_t line_of_byte(std::size_t b) const;

private:
    explicit CharMap(std::string_view text) : text_(text) {}
    std::size_t line_start_char(std::size_t line) const {
        return ascii_ ? line_starts_[line] : line_start_chars_[line];
    }

    std::string_view text_;
    std::size_t chars_ = 0;
    bool ascii_ = true;
    std::vector<std::uint32_t> line_starts_;       // byte offset where each line starts
    std::vector<std::uint32_t> line_start_chars_;  // its character index (non-ASCII text)
};

}  // namespace brackle_core
