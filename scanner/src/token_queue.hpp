// The scanner's queue of fetched tokens: a ring of reusable slots. Tokens are
// appended at the back, sometimes inserted a few places from the front (a
// simple key's `Key`, the `BlockMappingStart` before it), and moved out from
// the front. Slots are never destroyed while the scan runs: a moved-out slot
// is refilled in place, so the queue costs no allocation or destruction per
// token once it has grown to the longest run of tokens it has to hold.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "brackle/token.hpp"

namespace brackle_scanner {

class TokenQueue {
public:
    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    const Token& back() const { return slot(size_ - 1); }

    // Appends a token of the given kind and span with an empty payload.
    Token& emplace_back(TokenType type, Span span) {
        if (size_ == slots_.size()) grow();
        return reset(slot(size_++), type, span);
    }

    // Inserts a token of the given kind and span with an empty payload at
    // `position` counted from the front (clamped to the size).
    Token& emplace(std::size_t position, TokenType type, Span span) {
        if (position > size_) position = size_;
        if (size_ == slots_.size()) grow();
        // A key's tokens usually start the queue: then the ring grows at the front.
        if (position == 0) {
            head_ = (head_ + slots_.size() - 1) & (slots_.size() - 1);
        } else {
            for (std::size_t i = size_; i > position; --i) slot(i) = std::move(slot(i - 1));
        }
        ++size_;
        return reset(slot(position), type, span);
    }

    void push_back(Token&& token) {
        if (size_ == slots_.size()) grow();
        slot(size_++) = std::move(token);
    }

    Token& front() { return slot(0); }

    // Drops the front token; its slot is refilled in place later.
    void pop_front() {
        head_ = (head_ + 1) & (slots_.size() - 1);
        --size_;
    }

private:
    static constexpr std::size_t initial_capacity = 8;  // a power of two

    Token& slot(std::size_t i) { return slots_[(head_ + i) & (slots_.size() - 1)]; }
    const Token& slot(std::size_t i) const { return slots_[(head_ + i) & (slots_.size() - 1)]; }

    static Token& reset(Token& token, TokenType type, Span span) {
        token.type = type;
        token.style = ScalarStyle::Plain;
        token.major = token.minor = 0;
        token.split = 0;
        token.span = span;
        token.value.clear();
        token.params.clear();
        return token;
    }

    // Doubles the ring (or makes its first slots), keeping the queued tokens
    // in order from slot 0.
    void grow() {
        std::vector<Token> bigger(slots_.empty() ? initial_capacity : slots_.size() * 2);
        for (std::size_t i = 0; i < size_; ++i) bigger[i] = std::move(slot(i));
        slots_ = std::move(bigger);
        head_ = 0;
    }

    std::vector<Token> slots_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace brackle_scanner
