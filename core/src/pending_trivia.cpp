#include "core/src/pending_trivia.hpp"

#include <algorithm>
#include <iterator>

namespace brackle_core {

namespace {

bool is_blank(const Trivia& t) { return std::holds_alternative<Blank>(t); }

const Comment* as_comment(const Trivia& t) { return std::get_if<Comment>(&t); }

bool is_eol_comment(const Trivia& t) { return is_comment(t) && !is_own_line_comment(t); }

}  // namespace

void PendingTrivia::eol_to_front() {
    if (!eol_) return;
    list_.insert(list_.begin(), std::move(*eol_));
    eol_.reset();
}

std::size_t PendingTrivia::within(std::int64_t lines) const {
    std::size_t n = 0;
    for (std::size_t i = list_.size(); i > 0 && lines > 0; --i) {
        const Trivia& t = list_[i - 1];
        const std::int64_t taken = is_blank(t)              ? std::get<Blank>(t).blank_lines
                                   : is_own_line_comment(t) ? 1
                                                            : lines + 1;
        if (taken > lines) break;
        lines -= taken;
        ++n;
    }
    return n;
}

std::size_t PendingTrivia::leading_run(std::size_t limit) const {
    limit = std::min(limit, list_.size());
    std::size_t n = 0;
    while (n < limit && (is_blank(list_[n]) || is_own_line_comment(list_[n]))) ++n;
    return n;
}

bool PendingTrivia::ends_with_eol_comment() const {
    return !list_.empty() && is_eol_comment(list_.back());
}

std::size_t PendingTrivia::ending_in_column(std::uint32_t col) const {
    const auto stop = std::find_if(list_.begin(), list_.end(), [&](const Trivia& t) {
        const Comment* c = as_comment(t);
        return c && c->col < col;
    });
    auto end = stop;
    if (stop != list_.end()) {
        while (end != list_.begin() && is_blank(*(end - 1))) --end;
    }
    return static_cast<std::size_t>(end - list_.begin());
}

std::size_t PendingTrivia::take_inner(std::uint32_t col, bool after_sibling,
                                      std::vector<Trivia>& inner) {
    std::size_t head = 0;
    for (std::size_t i = list_.size(); i > 0; --i) {
        const Comment* c = as_comment(list_[i - 1]);
        if (c && c->col < col) {
            head = i;
            break;
        }
    }
    for (std::size_t i = list_.size(); i > 0; --i) {
        if (is_eol_comment(list_[i - 1])) {
            head = std::max(head, i);
            break;
        }
    }
    std::size_t tail = list_.size();
    while (tail > head && is_blank(list_[tail - 1])) --tail;

    std::size_t inner_from = head;
    if (after_sibling) {
        while (inner_from < tail && is_blank(list_[inner_from])) ++inner_from;
    }
    inner.insert(inner.end(), std::make_move_iterator(list_.begin() + inner_from),
                 std::make_move_iterator(list_.begin() + tail));
    list_.erase(list_.begin() + inner_from, list_.begin() + tail);
    return list_.size() - inner_from;
}

std::optional<Trivia> PendingTrivia::take_first_eol_comment() {
    const auto c = std::find_if(list_.begin(), list_.end(), is_eol_comment);
    if (c == list_.end()) return std::nullopt;
    Trivia taken = std::move(*c);
    list_.erase(c);
    return taken;
}

Trivia PendingTrivia::take_back() {
    Trivia t = std::move(list_.back());
    list_.pop_back();
    return t;
}

void PendingTrivia::move_first(std::size_t n, std::vector<Trivia>& to) {
    to.insert(to.end(), std::make_move_iterator(list_.begin()),
              std::make_move_iterator(list_.begin() + n));
    list_.erase(list_.begin(), list_.begin() + n);
}

void PendingTrivia::move_last_to_front(std::size_t n, std::vector<Trivia>& to) {
    to.insert(to.begin(), std::make_move_iterator(list_.end() - n),
              std::make_move_iterator(list_.end()));
    list_.erase(list_.end() - n, list_.end());
}

void PendingTrivia::move_all(std::vector<Trivia>& to) {
    to.insert(to.end(), std::make_move_iterator(list_.begin()),
              std::make_move_iterator(list_.end()));
    list_.clear();
}

void PendingTrivia::hold_last(std::size_t n) {
    held_.assign(std::make_move_iterator(list_.end() - n), std::make_move_iterator(list_.end()));
    list_.erase(list_.end() - n, list_.end());
}

void PendingTrivia::release_held() {
    list_.clear();
    list_.swap(held_);
}

}  // namespace brackle_core
