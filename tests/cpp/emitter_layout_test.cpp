// The Writer: where spaces and line breaks go, and how it repeats the
// source's whitespace while the output is in step with the source.
#include <gtest/gtest.h>

#include <string>

#include "core/src/emitter/layout.hpp"

namespace brackle_core::emitter {
namespace {

TEST(Writer, EmptyPushKeepsPendingSpacesAndWritesNothing) {
    Writer w("\n", nullptr);
    w.push("a");
    w.pad_to(4);
    w.push("");
    EXPECT_EQ(w.out, "a");
    EXPECT_EQ(w.pending, 3u);
    w.push("b");
    EXPECT_EQ(w.out, "a   b");
}

TEST(Writer, PendingSpacesRepeatTheSourceRunOnlyWhenItIsAllBlank) {
    struct Case {
        const char* source_line;
        const char* expected;
    };
    const Case cases[] = {
        {"abcd\t  x", "abcd\t  x"},  // tab and two spaces at characters 4 to 6
        {"abcd x", "abcd   x"},      // the source is shorter: plain spaces
        {"abcd\tyz", "abcd   x"},    // not all blank: plain spaces
        {"é€cd\t  x", "abcd\t  x"},  // characters, not bytes
    };
    for (const Case& c : cases) {
        const LineSpace space{{0, c.source_line}};
        Writer w("\n", &space);
        w.push("abcd");
        w.pad_to(7);
        w.push("x");
        EXPECT_EQ(w.out, c.expected) << c.source_line;
    }
}

TEST(Writer, EndLineNeverEndsAnEmptyLine) {
    Writer w("\r\n", nullptr);
    w.push("a");
    w.end_line();
    w.end_line();
    EXPECT_EQ(w.out, "a\r\n");
    EXPECT_EQ(w.line, 1u);
}

TEST(Writer, PushCountsEveryKindOfLineBreakOnce) {
    Writer w("\n", nullptr);
    w.push("ab\r\ncdé");
    EXPECT_EQ(w.line, 1u);
    EXPECT_EQ(w.column, 3u);
    w.push("\rx\ny");
    EXPECT_EQ(w.line, 3u);
    EXPECT_EQ(w.column, 1u);
}

TEST(Writer, PlaceBelowTheCurrentLineBreaksOnceAndLeavesStep) {
    Writer w("\n", nullptr);
    w.push("a");
    w.place(2, 4, 2, true, true);
    EXPECT_EQ(w.line, 1u);
    EXPECT_FALSE(w.in_step);
    w.push("b");
    EXPECT_EQ(w.out, "a\n  b");
}

TEST(Writer, PlaceOnTheCurrentLinePadsToTheSourceColumnEvenOutOfStep) {
    Writer w("\n", nullptr);
    w.in_step = false;
    w.push("key:");
    w.place(0, 8, 2, true, true);
    w.push("v");
    EXPECT_EQ(w.out, "key:    v");
}

TEST(Writer, PlaceAfterACommentStartsANewLineAtTheIndentation) {
    Writer w("\n", nullptr);
    w.push("a # c");
    w.break_due = true;
    w.place(0, 0, 4, true, false);
    w.push("b");
    EXPECT_EQ(w.out, "a # c\n    b");
}

TEST(Writer, LineTailRestoresTrailingBlanksOnly) {
    const LineSpace space{{0, "ab  \t"}, {1, "ab  c"}};
    Writer w("\n", &space);
    w.push("ab");
    w.end_line();
    w.push("ab");
    w.end_line();
    EXPECT_EQ(w.out, "ab  \t\nab\n");
}

TEST(Writer, PushSeparationKeepsTheSourceLineBreaks) {
    Writer w("\n", nullptr);
    w.push("[");
    w.push_separation(" \r\n\n  ");
    w.push("a");
    EXPECT_EQ(w.out, "[ \r\n\n  a");
    EXPECT_EQ(w.line, 2u);
    EXPECT_EQ(w.column, 3u);
}

TEST(Writer, RestoreReturnsToASavedState) {
    Writer w("\n", nullptr);
    w.push("a: ");
    const Writer::State saved = w.save();
    w.push("[x,\n  y]");
    w.break_due = true;
    w.restore(saved);
    EXPECT_EQ(w.out, "a: ");
    EXPECT_EQ(w.line, 0u);
    EXPECT_EQ(w.column, 3u);
    EXPECT_FALSE(w.break_due);
}

}  // namespace
}  // namespace brackle_core::emitter
