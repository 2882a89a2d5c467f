// A scalar's text in 16 bytes: absent, a view into a source the document
// keeps alive, or characters of its own (up to 15 held inline, longer ones
// on the heap). A loaded scalar's raw text, and its value where that is the
// raw text, cost no copy and no allocation.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace brackle_core {

class ScalarText {
public:
    ScalarText() = default;
    ScalarText(std::nullopt_t) {}
    // Its own copy of `text`.
    ScalarText(std::string_view text) { own(text); }
    ScalarText(const std::string& text) : ScalarText(std::string_view(text)) {}
    ScalarText(const char* text) : ScalarText(std::string_view(text)) {}
    // Refers to `text`, which must outlive this and every copy of it.
    static ScalarText view_of(std::string_view text) {
        ScalarText t;
        t.set_far(text.data(), text.size(), viewed);
        return t;
    }

    ScalarText(const ScalarText& other) { copy_from(other); }
    ScalarText(ScalarText&& other) noexcept {
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
        other.bytes_[state_byte] = absent;
    }
    ScalarText& operator=(const ScalarText& other) {
        if (this != &other) {
            release();
            copy_from(other);
        }
        return *this;
    }
    ScalarText& operator=(ScalarText&& other) noexcept {
        if (this != &other) {
            release();
            std::memcpy(bytes_, other.bytes_, sizeof bytes_);
            other.bytes_[state_byte] = absent;
        }
        return *this;
    }
    ScalarText& operator=(std::string_view text) { return *this = ScalarText(text); }
    ScalarText& operator=(const std::string& text) { return *this = ScalarText(text); }
    ScalarText& operator=(const char* text) { return *this = ScalarText(text); }
    ScalarText& operator=(std::nullopt_t) {
        reset();
        return *this;
    }
    ~ScalarText() { release(); }

    bool has_value() const { return state() != absent; }
    explicit operator bool() const { return has_value(); }
    void reset() {
        release();
        bytes_[state_byte] = absent;
    }
    // The text; empty when absent.
    std::string_view operator*() const {
        const std::uint8_t s = state();
        if (s >= inline_base)
            return {reinterpret_cast<const char*>(bytes_),
                    static_cast<std::size_t>(s - inline_base)};
        if (s == absent) return {};
        return {far_data(), far_size()};
    }
    struct Arrow {
        std::string_view text;
        const std::string_view* operator->() const { return &text; }
    };
    Arrow operator->() const { return {**this}; }
    std::string value_or(std::string_view fallback) const {
        return std::string(has_value() ? **this : fallback);
    }
    // Whether it refers to text it does not own.
    bool is_view() const { return state() == viewed; }
    // Takes its own copy of a viewed text, so that it no longer depends on
    // the source.
    void own_view() {
        if (is_view()) *this = ScalarText(**this);
    }

    friend bool operator==(const ScalarText& a, const ScalarText& b) {
        return a.has_value() == b.has_value() && *a == *b;
    }
    friend bool operator==(const ScalarText& a, std::string_view b) {
        return a.has_value() && *a == b;
    }
    friend bool operator==(const ScalarText& a, const std::string& b) {
        return a == std::string_view(b);
    }
    friend bool operator==(const ScalarText& a, const char* b) { return a == std::string_view(b); }
    friend bool operator==(const ScalarText& a, const std::optional<std::string>& b) {
        return b ? a == *b : !a.has_value();
    }

private:
    static constexpr std::size_t state_byte = 15;
    static constexpr std::uint8_t absent = 0;
    static constexpr std::uint8_t viewed = 1;
    static constexpr std::uint8_t owned = 2;
    static constexpr std::uint8_t inline_base = 0x80;  // + length, up to 15
    static constexpr std::size_t inline_capacity = 15;
    static constexpr std::uint64_t size_mask = (std::uint64_t{1} << 56) - 1;
    static_assert(std::endian::native == std::endian::little,
                  "the state byte is the top byte of the size word");

    std::uint8_t state() const { return bytes_[state_byte]; }
    const char* far_data() const {
        const char* p = nullptr;
        std::memcpy(&p, bytes_, sizeof p);
        return p;
    }
    // Bytes 8 to 15 read as one little-endian word: the size below the
    // state byte.
    std::size_t far_size() const {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes_ + 8, sizeof word);
        return static_cast<std::size_t>(word & size_mask);
    }
    void set_far(const char* data, std::size_t size, std::uint8_t state) {
        std::memcpy(bytes_, &data, sizeof data);
        const std::uint64_t word =
            (static_cast<std::uint64_t>(size) & size_mask) | (std::uint64_t{state} << 56);
        std::memcpy(bytes_ + 8, &word, sizeof word);
    }
    void own(std::string_view text) {
        if (text.size() <= inline_capacity) {
            if (!text.empty()) std::memcpy(bytes_, text.data(), text.size());
            bytes_[state_byte] = static_cast<std::uint8_t>(inline_base + text.size());
            return;
        }
        char* data = new char[text.size()];
        std::memcpy(data, text.data(), text.size());
        set_far(data, text.size(), owned);
    }
    void copy_from(const ScalarText& other) {
        if (other.state() == owned) {
            own(*other);
        } else {
            std::memcpy(bytes_, other.bytes_, sizeof bytes_);
        }
    }
    void release() {
        if (state() == owned) delete[] far_data();
    }

    alignas(8) unsigned char bytes_[16] = {};
};

}  // namespace brackle_core
