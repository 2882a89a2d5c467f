// The character input the scanner reads from: the `Input` interface and its
// one implementation, `StrInput`, a cursor over UTF-8 text already in memory.
#pragma once

#include <algorithm>
#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "scanner/src/char_traits.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
        : begin_(reinterpret_cast<const unsigned char*>(text.data())),
          cur_(begin_),
          end_(cur_ + text.size()) {}

    // Bytes consumed so far.
    std::size_t offset() const { return static_cast<std::size_t>(cur_ - begin_); }

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
    unsigned char byte_at(std::size_t n) const { return n < remaining_bytes() ? cur_[n] : 0; }

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

    // The bytes and characters from the cursor up to the first byte whose
    // class (see `byte_classes`) meets `stop`, or to the end.
    struct Run {
        std::size_t bytes;
        std::size_t chars;
    };
    Run run_until(std::uint8_t stop, std::size_t from = 0) const {
        const unsigned char* p = cur_ + from;
        std::size_t chars = 0;
#if defined(__SSE2__)
        // Sixteen bytes at a time: compare against each stop byte, count the
        // bytes that start characters up to the first hit.
        while (end_ - p >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const auto eq = [&v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
            __m128i hit = _mm_setzero_si128();
            if (stop & byte_class::break_or_nul)
                hit = _mm_or_si128(hit, _mm_or_si128(eq('\n'), _mm_or_si128(eq('\r'), eq(0))));
            if (stop & byte_class::blank) hit = _mm_or_si128(hit, _mm_or_si128(eq(' '), eq('\t')));
            if (stop & byte_class::colon) hit = _mm_or_si128(hit, eq(':'));
            if (stop & byte_class::flow) {
                hit = _mm_or_si128(hit, _mm_or_si128(_mm_or_si128(eq(','), eq('[')),
                                                     _mm_or_si128(eq(']'), eq('{'))));
                hit = _mm_or_si128(hit, eq('}'));
            }
            if (stop & byte_class::single_quote) hit = _mm_or_si128(hit, eq('\''));
            if (stop & byte_class::double_quote_or_backslash)
                hit = _mm_or_si128(hit, _mm_or_si128(eq('"'), eq('\\')));
            const unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(hit));
            // Continuation bytes 0x80 to 0xBF are the signed bytes below -64.
            const unsigned continuation =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(v, _mm_set1_epi8(-64))));
            if (hits != 0) {
                const unsigned n = static_cast<unsigned>(std::countr_zero(hits));
                chars += n;
                if (continuation != 0)
                    chars -= static_cast<unsigned>(std::popcount(continuation & ((1u << n) - 1)));
                return Run{static_cast<std::size_t>(p + n - cur_), chars};
            }
            chars += 16;
            if (continuation != 0) chars -= static_cast<unsigned>(std::popcount(continuation));
            p += 16;
        }
#endif
        while (p < end_ && !(byte_classes[*p] & stop)) {
            chars += starts_char(*p);
            ++p;
        }
        return Run{static_cast<std::size_t>(p - cur_), chars};
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
        char32_t c = w == 1   ? lead
                     : w == 2 ? (lead & 0x1F)
                     : w == 3 ? (lead & 0x0F)
                              : (lead & 0x07);
        if (lead < 0xC0) return lead;
        for (std::size_t i = 1; i < w; ++i) c = (c << 6) | (p[i] & 0x3F);
        return c;
    }

    const unsigned char* begin_;
    const unsigned char* cur_;
    const unsigned char* end_;
};

static_assert(Input<StrInput>);

}  // namespace brackle_scanner
