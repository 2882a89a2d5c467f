// The scanner's queue of fetched tokens: a vector read from a moving head.
// Tokens are appended at the back, sometimes inserted a few places from the
// front (a simple key's `Key`), and taken from the front. The queue drains
// completely between fetch rounds, so reading from a head index and
// resetting when empty reuses one buffer for the whole scan instead of
// allocating per block as a deque does.
#pragma once

#include <cstddef>
#include <vector>

#include "scanner/src/token.hpp"

namespace brackle_scanner {

class TokenQueue {
public:
    bool empty() const { return head_ == tokens_.size(); }
    std::size_t size() const { return tokens_.size() - head_; }
    Token& front() { return tokens_[head_]; }
    const Token& back() const { return tokens_.back(); }

    Token& emplace_back(TokenType type, Span span) { return tokens_.emplace_back(type, span); }
    void push_back(Token&& token) { tokens_.push_back(std::move(token)); }

    // Inserts at `position` counted from the front, clamped to the size.
    void insert(std::size_t position, Token&& token) {
        if (position > size()) position = size();
        tokens_.insert(tokens_.begin() + static_cast<std::ptrdiff_t>(head_ + position), std::move(token));
    }

    void take_front(Token& out) {
        out = std::move(tokens_[head_]);
        if (++head_ == tokens_.size()) {
            tokens_.clear();
            head_ = 0;
        } else if (head_ >= compact_threshold && head_ * 2 >= tokens_.size()) {
            tokens_.erase(tokens_.begin(), tokens_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
    }

private:
    // A head this far in, past half the buffer, is compacted away so that a
    // queue that never drains still stays small.
    static constexpr std::size_t compact_threshold = 64;

    std::vector<Token> tokens_;
    std::size_t head_ = 0;
};

}  // namespace brackle_scanner
