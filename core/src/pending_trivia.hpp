// The blank lines and comments the loader has read but not yet given to a
// node or a document, and the rules for where they go that depend on the
// trivia alone. The rules that need the tree or the source (which node is
// open, where a dash stood) stay with the loader, which calls these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "brackle/trivia.hpp"

namespace brackle_core {

class PendingTrivia {
public:
    bool empty() const { return list_.empty(); }
    std::size_t size() const { return list_.size(); }
    const Trivia& back() const { return list_.back(); }
    void push(Trivia&& t) { list_.push_back(std::move(t)); }

    // The comment after a mapping's `:`, waiting for the value; `line` from 0.
    void hold_eol(Comment&& c, std::uint32_t line) {
        eol_ = std::move(c);
        eol_line_ = line;
    }
    bool has_eol() const { return eol_.has_value(); }
    std::uint32_t eol_line() const { return eol_line_; }
    std::optional<Trivia> take_eol() { return std::exchange(eol_, std::nullopt); }
    // The waiting comment stood above the node after all: it goes first
    // among the trivia before it.
    void eol_to_front();

    // How many of the last trivia fit in `lines` source lines: each own-line
    // comment takes a line, a run of blank lines as many; a comment after
    // content ends the count.
    std::size_t within(std::int64_t lines) const;
    // How many of the first `limit` trivia are a run of blank lines and
    // own-line comments.
    std::size_t leading_run(std::size_t limit) const;
    // Whether the last trivia is a comment that followed content on its line.
    bool ends_with_eol_comment() const;
    // What a nested block collection at column `col` takes as it closes: the
    // trivia up to the first comment left of its column, less the blank
    // lines just before that comment.
    std::size_t ending_in_column(std::uint32_t col) const;
    // For a block collection at column `col` that begins its line: moves
    // into `inner` the trivia that stand inside it, before its first entry.
    // Those stop at the last comment left of `col` or after content, and
    // blank lines at either end stay out; after an earlier sibling
    // (`after_sibling`), the leading blank lines stay before the node
    // instead. What stays keeps its order. Returns how many blank lines that
    // stood right before the node's text are left at the end of the list.
    std::size_t take_inner(std::uint32_t col, bool after_sibling, std::vector<Trivia>& inner);
    // The first comment that followed content on its line, taken out.
    std::optional<Trivia> take_first_eol_comment();

    Trivia take_back();
    // Appends the first `n` to `to`.
    void move_first(std::size_t n, std::vector<Trivia>& to);
    // Inserts the last `n` at the front of `to`.
    void move_last_to_front(std::size_t n, std::vector<Trivia>& to);
    // Appends all to `to`.
    void move_all(std::vector<Trivia>& to);
    std::vector<Trivia> take_all() { return std::exchange(list_, {}); }

    // Sets the last `n` aside while the rest are given out; `release_held`
    // makes them the pending list again.
    void hold_last(std::size_t n);
    void release_held();

private:
    std::vector<Trivia> list_;
    std::vector<Trivia> held_;
    std::optional<Trivia> eol_;
    std::uint32_t eol_line_ = 0;
};

}  // namespace brackle_core
