// The character input the scanner reads from: the `Input` interface and its
// one implementation, `StrInput`, a cursor over UTF-8 text already in memory.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>

#include "scanner/src/char_traits.hpp"

namespace brackle_scanner {

// What the scanner needs of an input. A concept rather than a virtual base:
// the scanner calls these per character, so they must inline. The whole text
// is always readable, so no lookahead has to be requested before peeking.
template <class I>
concept Input = requires(I in, const I cin, std::size_t n, char32_t c, std::string& out) {
    { cin.peek() } -> std::same_as<char32_t>;
    { cin.peek_nth(n) } -> std::same_as<char32_t>;
    { cin.next_char_is(c) } -> std::same_as<bool>;
    { cin.at_end() } -> std::same_as<bool>;
    in.skip();
    { in.skip_while_blank() } -> std::same_as<std::size_t>;
    { in.fetch_while_is_yaml_non_space(out) } -> std::same_as<std::size_t>;
    { cin.next_is_document_indicator() } -> std::same_as<bool>;
};

class StrInput {
public:
    explicit StrInput(std::string_view text)
        : cur_(reinterpret_cast<const unsigned char*>(text.data())), end_(cur_ + text.size()) {}

    bool at_end() const { return cur_ == end_; }
    std::size_t remaining_bytes() const { return static_cast<std::size_t>(end_ - cur_); }
    const char* data() const { return reinterpret_cast<const char*>(cur_); }

    // The current character, NUL at the end.
    char32_t peek() const {
        if (cur_ == end_) return 0;
        if (*cur_ < 0x80) return *cur_;
        return decode(cur_);
    }

    // The character n positions after the current one, NUL past the end.
    char32_t peek_nth(std::size_t n) const {
        const unsigned char* p = cur_;
        for (; n > 0 && p < end_; --n) p += width(p);
        if (p >= end_) return 0;
        if (*p < 0x80) return *p;
        return decode(p);
    }

    bool next_char_is(char32_t c) const { return cur_ != end_ && peek() == c; }

    // Raw byte access for ASCII fast paths; NUL past the end.
    unsigned char byte_at(std::size_t n) const {
        return n < remaining_bytes() ? cur_[n] : 0;
    }

    // Bytes of the current character, 0 at the end.
    std::size_t width_at_cursor() const { return cur_ == end_ ? 0 : width(cur_); }

    void skip() {
        if (cur_ != end_) cur_ += width(cur_);
    }

    // Drops `bytes` bytes known to hold whole characters.
    void skip_bytes(std::size_t bytes) { cur_ += std::min(bytes, remaining_bytes()); }

    std::size_t skip_while_blank() {
        const unsigned char* p = cur_;
        while (p != end_ && (*p == ' ' || *p == '\t')) ++p;
        std::size_t n = static_cast<std::size_t>(p - cur_);
        cur_ = p;
        return n;
    }

    // Appends and consumes the longest run of characters that are not space,
    // tab, LF, CR or U+FEFF; returns the number of characters.
    std::size_t fetch_while_is_yaml_non_space(std::string& out) {
        const unsigned char* start = cur_;
        std::size_t chars = 0;
        while (cur_ != end_) {
            unsigned char b = *cur_;
            if (b == ' ' || b == '\t' || b == '\n' || b == '\r') break;
            if (b == 0xEF && remaining_bytes() >= 3 && cur_[1] == 0xBB && cur_[2] == 0xBF) break;
            cur_ += width(cur_);
            ++chars;
        }
        out.append(reinterpret_cast<const char*>(start), static_cast<std::size_t>(cur_ - start));
        return chars;
    }

    // `---` or `...` followed by a blank, a break, NUL or the end.
    bool next_is_document_indicator() const {
        if (remaining_bytes() < 3) return false;
        unsigned char c = cur_[0];
        if ((c != '-' && c != '.') || cur_[1] != c || cur_[2] != c) return false;
        return is_blank_or_breakz(remaining_bytes() == 3 ? 0 : peek_nth(3));
    }

    // UTF-8 length announced by a lead byte, clamped to the bytes left so
    // that malformed text can never move the cursor past the end.
    std::size_t width(const unsigned char* p) const {
        std::size_t w = *p < 0xC0 ? 1 : *p < 0xE0 ? 2 : *p < 0xF0 ? 3 : 4;
        return std::min(w, static_cast<std::size_t>(end_ - p));
    }

private:
    char32_t decode(const unsigned char* p) const {
        std::size_t w = width(p);
        unsigned char lead = *p;
        char32_t c = w == 1 ? lead : w == 2 ? (lead & 0x1F) : w == 3 ? (lead & 0x0F) : (lead & 0x07);
        if (lead < 0xC0) return lead;
        for (std::size_t i = 1; i < w; ++i) c = (c << 6) | (p[i] & 0x3F);
        return c;
    }

    const unsigned char* cur_;
    const unsigned char* end_;
};

static_assert(Input<StrInput>);

}  // namespace brackle_scanner
