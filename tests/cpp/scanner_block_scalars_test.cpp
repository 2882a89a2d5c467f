// Literal and folded block scalars: headers, chomping, indentation
// indicators and detection, folding, spans, and their errors.
#include <string>

#include "tests/cpp/scanner_test_util.hpp"

namespace brackle_test {
namespace {

TEST(BlockScalar, ChompingStripClipKeep) {
    const Case cases[] = {
        {"a: |\n  a\n  b\n", "Scalar(a) Literal(a\\nb\\n)"},
        {"a: |-\n  a\n  b\n", "Scalar(a) Literal(a\\nb)"},
        {"a: |+\n  a\n  b\n\n\n", "Scalar(a) Literal(a\\nb\\n\\n\\n)"},
        {"a: |\n  a\n  b\n\n\n", "Scalar(a) Literal(a\\nb\\n)"},
        {"a: |-\n  a\n  b\n\n\n", "Scalar(a) Literal(a\\nb)"},
        // A last line that ends the text without a break still ends with LF.
        {"|\n  a", "Literal(a\\n)"},
        {"|+\n  a", "Literal(a\\n)"},
        {"|-\n  a", "Literal(a)"},
        {"|\r\n  a\r\n  b\r\n", "Literal(a\\nb\\n)"},
        // No content lines at all.
        {"a: |\n", "Scalar(a) Literal(\\n)"},
        {"a: |-\n", "Scalar(a) Literal()"},
        {"a: |", "Scalar(a) Literal()"},
        {"a: |+\n\n\n", "Scalar(a) Literal(\\n\\n)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(scalars(c.input), c.expected);
    }
}

TEST(BlockScalar, LiteralKeepsLinesAndIndentationBeyondTheContentColumn) {
    const Case cases[] = {
        {"|\n  a\n\n  b\n", "Literal(a\\n\\nb\\n)"},
        {"|\n\n  a\n", "Literal(\\na\\n)"},
        {"|\n  a\n    b\n", "Literal(a\\n  b\\n)"},
        {"|\n  a\n    \n  b\n", "Literal(a\\n  \\nb\\n)"},
        {"|\n  a\tb\n", "Literal(a\\tb\\n)"},
        {"|\n  \ta\n", "Literal(\\ta\\n)"},
        {"|\n  a #b\n", "Literal(a #b\\n)"},
        {"a: |2\n   a\n", "Scalar(a) Literal( a\\n)"},
        {"|1\n  a\n", "Literal( a\\n)"},
        {"|2-\n  a\n", "Literal(a)"},
        {"|-2\n  a\n", "Literal(a)"},
        {"|+1\n a\n\n", "Literal(a\\n\\n)"},
        // At the top level the content may start in column 0, where only `...` ends it.
        {"|\na\n---\nb\n", "Literal(a\\n---\\nb\\n)"},
        {"|\na\n...\nb\n", "Literal(a\\n) Scalar(b)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(scalars(c.input), c.expected);
    }
}

TEST(BlockScalar, FoldedJoinsLinesExceptAroundMoreIndentedOnes) {
    const Case cases[] = {
        {">\n  a\n  b\n", "Folded(a b\\n)"},
        {">\n  a\n\n  b\n", "Folded(a\\nb\\n)"},
        {">\n  a\n\n\n  b\n", "Folded(a\\n\\nb\\n)"},
        {">\n  a\n    b\n  c\n", "Folded(a\\n  b\\nc\\n)"},
        {">\n  a\n\n    b\n\n  c\n", "Folded(a\\n\\n  b\\n\\nc\\n)"},
        {">\n  a\n  \tb\n  c\n", "Folded(a\\n\\tb\\nc\\n)"},
        {">-\n  a\n  b\n\n", "Folded(a b)"},
        {">+\n  a\n  b\n\n", "Folded(a b\\n\\n)"},
        {">\n\n  a\n  b", "Folded(\\na b\\n)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(scalars(c.input), c.expected);
    }
}

TEST(BlockScalar, EndsAtTheFirstLessIndentedLine) {
    const Case cases[] = {
        {"a: |\n  x\nb: y",
         "StreamStart BlockMappingStart Key Scalar(a) Value Literal(x\\n) Key Scalar(b) Value "
         "Scalar(y) BlockEnd StreamEnd"},
        {"- |\n  a\n- >\n  b\n",
         "StreamStart BlockSequenceStart BlockEntry Literal(a\\n) BlockEntry Folded(b\\n) "
         "BlockEnd StreamEnd"},
        // A header comment comes before the scalar.
        {"a: | # c\n  x\n",
         "StreamStart BlockMappingStart Key Scalar(a) Value Comment(# c) Literal(x\\n) BlockEnd "
         "StreamEnd"},
        {"a: >-\t# c\n  x\n",
         "StreamStart BlockMappingStart Key Scalar(a) Value Comment(# c) Folded(x) BlockEnd "
         "StreamEnd"},
        {"a: |\n  x\n# c\n",
         "StreamStart BlockMappingStart Key Scalar(a) Value Literal(x\\n) Comment(# c) BlockEnd "
         "StreamEnd"},
        // Content must stand right of the parent: here there is none.
        {"a:\n  b: |\n  c: d",
         "StreamStart BlockMappingStart Key Scalar(a) Value BlockMappingStart Key Scalar(b) Value "
         "Literal() Key Scalar(c) Value Scalar(d) BlockEnd BlockEnd StreamEnd"},
        {"a: !!str |\n  x\n",
         "StreamStart BlockMappingStart Key Scalar(a) Value Tag(!!,str) Literal(x\\n) BlockEnd "
         "StreamEnd"},
        {"--- |\n  x\n...\n", "StreamStart DocumentStart Literal(x\\n) DocumentEnd StreamEnd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(tokens(c.input), c.expected);
    }
}

// From the first content character to where scanning stopped: after the
// trailing empty lines and the indentation of the line that follows.
TEST(BlockScalar, SpanRunsFromContentToWhereScanningStopped) {
    const struct {
        std::string_view input, token, span;
    } cases[] = {
        {"a: |\n  x\n  y\nb: z", "Literal(x\\ny\\n)", "7:2:2-13:4:0"},
        {"- |\n  x\n\n- y", "Literal(x\\n)", "6:2:2-9:4:0"},
        {"a:\n  b: |\n    x\n  c: d", "Literal(x\\n)", "14:3:4-18:4:2"},
        {"|\n  a", "Literal(a\\n)", "4:2:2-5:2:3"},
        {"a: |\n", "Literal(\\n)", "3:1:3-5:2:0"},
        {"a: >", "Folded()", "3:1:3-4:1:4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(span_of(c.input, c.token), c.span);
    }
}

TEST(ScanErrors, BlockScalarMessagesAndMarks) {
    expect_errors({
        {"|0\n  a", "while scanning a block scalar, found an indentation indicator equal to 0",
         "0:1:0"},
        {"a: >-0\n  a", "while scanning a block scalar, found an indentation indicator equal to 0",
         "3:1:3"},
        {"| x", "while scanning a block scalar, did not find expected comment or line break",
         "0:1:0"},
        {"a: >1 x", "while scanning a block scalar, did not find expected comment or line break",
         "3:1:3"},
        {"|2-x", "while scanning a block scalar, did not find expected comment or line break",
         "0:1:0"},
        {"|+-\n a", "while scanning a block scalar, did not find expected comment or line break",
         "0:1:0"},
        {"|\n\tx", "a block scalar content cannot start with a tab", "0:1:0"},
        {"a: >\n\tb", "a block scalar content cannot start with a tab", "3:1:3"},
        {"a: |\n    \n  b", "wrongly indented line in block scalar", "12:3:2"},
        {"|\n  \n b", "wrongly indented line in block scalar", "6:3:1"},
        {"|#c\n  a", "comments must be separated from other tokens by whitespace", "1:1:1"},
    });
}

}  // namespace
}  // namespace brackle_test
