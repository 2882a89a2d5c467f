// The rules for pending blank lines and comments that depend on the trivia
// alone: how many fit in some lines, what a block collection takes inside
// it or as it closes, and the comment that waits after a colon.
#include "core/src/pending_trivia.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using brackle_core::Blank;
using brackle_core::Comment;
using brackle_core::PendingTrivia;
using brackle_core::Trivia;

// `b2` a run of two blank lines, `o5` an own-line comment at column 5,
// `t5` a comment after content at column 5.
Trivia make(const std::string& code) {
    const auto n = static_cast<std::uint32_t>(std::stoul(code.substr(1)));
    if (code[0] == 'b') return Blank{n};
    return Comment{"#" + code, n, code[0] == 'o'};
}

PendingTrivia pending_of(const std::vector<std::string>& codes) {
    PendingTrivia p;
    for (const std::string& c : codes) p.push(make(c));
    return p;
}

std::string codes_of(const std::vector<Trivia>& list) {
    std::string out;
    for (const Trivia& t : list) {
        if (!out.empty()) out += ' ';
        if (const auto* b = std::get_if<Blank>(&t)) {
            out += "b" + std::to_string(b->blank_lines);
        } else {
            out += std::get<Comment>(t).text.substr(1);
        }
    }
    return out;
}

TEST(PendingTrivia, WithinCountsTheLastTriviaThatFitInTheLines) {
    struct Row {
        std::vector<std::string> pending;
        std::int64_t lines;
        std::size_t expected;
    };
    const std::vector<Row> rows = {
        {{"o0", "b2", "o0"}, 3, 2},  // a comment line, then two blank lines
        {{"o0", "b2", "o0"}, 4, 3},
        {{"o0", "b2", "o0"}, 2, 1},  // the blank run does not fit in one line
        {{"t4", "o0"}, 9, 1},        // a comment after content ends the count
        {{"o0"}, 0, 0},
        {{}, 5, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(pending_of(row.pending).within(row.lines), row.expected)
            << codes_of(pending_of(row.pending).take_all()) << " in " << row.lines;
    }
}

TEST(PendingTrivia, BlockCollectionTakesTheTriviaRightOfItsColumn) {
    struct Row {
        std::vector<std::string> pending;
        std::uint32_t col;
        bool after_sibling;
        std::string inner;
        std::string left;
    };
    const std::vector<Row> rows = {
        // A comment left of the column ends what stands before the node;
        // blank lines at the end stay out too.
        {{"o0", "b1", "o4", "b1"}, 2, false, "b1 o4", "o0 b1"},
        // After a sibling, the blank lines that open the inner part stay
        // before the node instead, after what stood before them.
        {{"o0", "b1", "o4"}, 2, true, "o4", "o0 b1"},
        {{"b1", "o4", "b2"}, 2, true, "o4", "b1 b2"},
        // A comment after content stays out, with what precedes it.
        {{"o4", "t9", "o4"}, 2, false, "o4", "o4 t9"},
        {{"b3"}, 2, false, "", "b3"},
    };
    for (const Row& row : rows) {
        PendingTrivia p = pending_of(row.pending);
        std::vector<Trivia> inner;
        p.take_inner(row.col, row.after_sibling, inner);
        EXPECT_EQ(codes_of(inner), row.inner);
        EXPECT_EQ(codes_of(p.take_all()), row.left);
    }
}

TEST(PendingTrivia, ClosingCollectionStopsBeforeTheBlanksOfACommentLeftOfIt) {
    EXPECT_EQ(pending_of({"o4", "b1", "o0", "o4"}).ending_in_column(2), 1u);
    EXPECT_EQ(pending_of({"o4", "b1", "o4"}).ending_in_column(2), 3u);
    EXPECT_EQ(pending_of({"b1", "o0"}).ending_in_column(2), 0u);
}

TEST(PendingTrivia, HeldTriviaComeBackAfterTheRestIsGivenOut) {
    PendingTrivia p = pending_of({"o0", "b1", "o2"});
    p.hold_last(2);
    std::vector<Trivia> given;
    p.move_all(given);
    p.release_held();
    EXPECT_EQ(codes_of(given), "o0");
    EXPECT_EQ(codes_of(p.take_all()), "b1 o2");
}

TEST(PendingTrivia, CommentAfterAColonWaitsOrGoesFirst) {
    PendingTrivia p = pending_of({"o0"});
    p.hold_eol(Comment{"#t3", 3, false}, 7);
    ASSERT_TRUE(p.has_eol());
    EXPECT_EQ(p.eol_line(), 7u);
    p.eol_to_front();
    EXPECT_FALSE(p.has_eol());
    EXPECT_EQ(codes_of(p.take_all()), "t3 o0");

    PendingTrivia q = pending_of({"o0", "t4", "t5"});
    EXPECT_TRUE(q.ends_with_eol_comment());
    EXPECT_EQ(codes_of({*q.take_first_eol_comment()}), "t4");
    EXPECT_EQ(codes_of(q.take_all()), "o0 t5");
}

}  // namespace
