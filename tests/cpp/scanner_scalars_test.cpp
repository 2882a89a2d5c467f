// Plain, single-quoted and double-quoted scalars: where they end, how line
// breaks fold, every escape, spans, and their errors.
#include <string>

#include "tests/cpp/scanner_test_util.hpp"

namespace brackle_test {
namespace {

TEST(PlainScalar, FoldsLineBreaksAndDropsEdgeBlanks) {
    const Case cases[] = {
        {"k: a\n  b", "Scalar(k) Scalar(a b)"},
        {"k: a\n\n  b", "Scalar(k) Scalar(a\\nb)"},
        {"k: a\n\n\n  b", "Scalar(k) Scalar(a\\n\\nb)"},
        {"k: a\n  \n  b", "Scalar(k) Scalar(a\\nb)"},
        {"k: a  \n  b", "Scalar(k) Scalar(a b)"},
        {"k: a \t b", "Scalar(k) Scalar(a \\t b)"},
        {"k: a\r\n  b\r\n\r\n  c", "Scalar(k) Scalar(a b\\nc)"},
        {"k: a\r  b", "Scalar(k) Scalar(a b)"},
        {"k: a\n  \tb", "Scalar(k) Scalar(a b)"},
        {"- a\n  b", "Scalar(a b)"},
        {"a\nb", "Scalar(a b)"},
        {"k: a\n  # b", "Scalar(k) Scalar(a)"},
        {"k: a\nb: c", "Scalar(k) Scalar(a) Scalar(b) Scalar(c)"},
        {"k: \xC3\xA9 \xC3\xBC", "Scalar(k) Scalar(\xC3\xA9 \xC3\xBC)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(scalars(c.input), c.expected);
    }
}

TEST(PlainScalar, IndicatorsInsideWordsAreContent) {
    const Case cases[] = {
        {"a:b", "StreamStart Scalar(a:b) StreamEnd"},
        {"a#b", "StreamStart Scalar(a#b) StreamEnd"},
        {"a #b", "StreamStart Scalar(a) Comment(#b) StreamEnd"},
        {"-a", "StreamStart Scalar(-a) StreamEnd"},
        {"?a", "StreamStart Scalar(?a) StreamEnd"},
        {":a", "StreamStart Scalar(:a) StreamEnd"},
        {"a,b]", "StreamStart Scalar(a,b]) StreamEnd"},
        {"x - y", "StreamStart Scalar(x - y) StreamEnd"},
        {"a b: c d",
         "StreamStart BlockMappingStart Key Scalar(a b) Value Scalar(c d) BlockEnd StreamEnd"},
        {"[a:b]", "StreamStart FlowSequenceStart Scalar(a:b) FlowSequenceEnd StreamEnd"},
        {"[-a, a-]",
         "StreamStart FlowSequenceStart Scalar(-a) FlowEntry Scalar(a-) FlowSequenceEnd StreamEnd"},
        {"[|a, >b]",
         "StreamStart FlowSequenceStart Scalar(|a) FlowEntry Scalar(>b) FlowSequenceEnd StreamEnd"},
        {"{a b: c d}",
         "StreamStart FlowMappingStart Key Scalar(a b) Value Scalar(c d) FlowMappingEnd StreamEnd"},
        {"[a\n  b]", "StreamStart FlowSequenceStart Scalar(a b) FlowSequenceEnd StreamEnd"},
        {"{:a}", "StreamStart FlowMappingStart Scalar(:a) FlowMappingEnd StreamEnd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(tokens(c.input), c.expected);
    }
}

TEST(QuotedScalar, FoldsAndUnquotes) {
    const Case cases[] = {
        {"'it''s'", "Scalar('it's')"},
        {"'a\\b'", "Scalar('a\\b')"},
        {"'\"'", "Scalar('\"')"},
        {"'#x'", "Scalar('#x')"},
        {"''", "Scalar('')"},
        {"' a  b '", "Scalar(' a  b ')"},
        {"'a\n  b'", "Scalar('a b')"},
        {"'a\n\n  b'", "Scalar('a\\nb')"},
        {"'a  \n  \n  b'", "Scalar('a\\nb')"},
        {"'a\r\n  b'", "Scalar('a b')"},
        {"\"\"", "Scalar(\"\")"},
        {"\"a  \"", "Scalar(\"a  \")"},
        {"\"'\\\"\"", "Scalar(\"'\"\")"},
        {"\"a\n  b\"", "Scalar(\"a b\")"},
        {"\"a\n\n\n  b\"", "Scalar(\"a\\n\\nb\")"},
        // An escaped line break joins the lines with nothing in between.
        {"\"a\\\n  b\"", "Scalar(\"ab\")"},
        {"\"a\\\r\n  b\"", "Scalar(\"ab\")"},
        {"\"a \\\n  b\"", "Scalar(\"a b\")"},
        {"\"a\\\n\n  b\"", "Scalar(\"a\\nb\")"},
        {"\"a\\\n  \\ b\"", "Scalar(\"a b\")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(scalars(c.input), c.expected);
    }
}

TEST(QuotedScalar, DoubleQuotedEscapes) {
    const struct {
        std::string_view escape, value;
    } cases[] = {
        {"\\0", "\0"sv},
        {"\\a", "\x07"},
        {"\\b", "\x08"},
        {"\\t", "\t"},
        {"\\\t", "\t"},
        {"\\n", "\n"},
        {"\\v", "\x0B"},
        {"\\f", "\x0C"},
        {"\\r", "\r"},
        {"\\e", "\x1B"},
        {"\\ ", " "},
        {"\\\"", "\""},
        {"\\/", "/"},
        {"\\\\", "\\"},
        {"\\N", "\xC2\x85"},
        {"\\_", "\xC2\xA0"},
        {"\\L", "\xE2\x80\xA8"},
        {"\\P", "\xE2\x80\xA9"},
        {"\\x41", "A"},
        {"\\x00", "\0"sv},
        {"\\xe9", "\xC3\xA9"},
        {"\\u00e9", "\xC3\xA9"},
        {"\\u00E9", "\xC3\xA9"},
        {"\\u20AC", "\xE2\x82\xAC"},
        {"\\U0001F600", "\xF0\x9F\x98\x80"},
        {"\\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {"a\\x41\\x42b", "aABb"},
        {"\\\\n", "\\n"},
    };
    for (const auto& c : cases) {
        const std::string input = "\"" + std::string(c.escape) + "\"";
        SCOPED_TRACE(escape(input));
        ScanResult r = scan(input);
        ASSERT_FALSE(r.error) << r.error->info;
        ASSERT_EQ(r.tokens.size(), 3u);
        EXPECT_EQ(r.tokens[1].style, ScalarStyle::DoubleQuoted);
        EXPECT_EQ(r.tokens[1].value, c.value);
        // The span covers the escapes as written.
        EXPECT_EQ(r.tokens[1].span.end.index, char_offsets(input).size() - 1);
    }
}

TEST(QuotedScalar, EndsWhereOnlyBlanksCommentsOrAnIndicatorFollow) {
    const Case cases[] = {
        {"'a'  # c", "StreamStart Scalar('a') Comment(# c) StreamEnd"},
        {"'a'\n b", "StreamStart Scalar('a') Scalar(b) StreamEnd"},
        {"\"a\":b", "StreamStart Scalar(\"a\") Scalar(:b) StreamEnd"},
        {"['a',\"b\"]",
         "StreamStart FlowSequenceStart Scalar('a') FlowEntry Scalar(\"b\") FlowSequenceEnd "
         "StreamEnd"},
        {"{\"a\":b}",
         "StreamStart FlowMappingStart Key Scalar(\"a\") Value Scalar(b) FlowMappingEnd StreamEnd"},
        {"{'a' :b}",
         "StreamStart FlowMappingStart Key Scalar('a') Value Scalar(b) FlowMappingEnd StreamEnd"},
        {"{\"a\":[b]}",
         "StreamStart FlowMappingStart Key Scalar(\"a\") Value FlowSequenceStart Scalar(b) "
         "FlowSequenceEnd FlowMappingEnd StreamEnd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(tokens(c.input), c.expected);
    }
}

TEST(ScalarSpans, CoverTheSourceTextOfTheScalar) {
    const struct {
        std::string_view input, token, span;
    } cases[] = {
        {"a: b  ", "Scalar(b)", "3:1:3-4:1:4"},
        {"k: a\n  b\n", "Scalar(a b)", "3:1:3-8:2:3"},
        {"k: a # c", "Scalar(a)", "3:1:3-4:1:4"},
        {"[a , b]", "Scalar(a)", "1:1:1-2:1:2"},
        {"\xC3\xA9\xF0\x9F\x98\x80 x: y", "Scalar(\xC3\xA9\xF0\x9F\x98\x80 x)", "0:1:0-4:1:4"},
        {"'a'", "Scalar('a')", "0:1:0-3:1:3"},
        {"'a' ", "Scalar('a')", "0:1:0-3:1:3"},
        {"'a\nb'", "Scalar('a b')", "0:1:0-5:2:2"},
        {"k: \"a\n  b\"", "Scalar(\"a b\")", "3:1:3-10:2:4"},
        {"\"\\u00e9\"", "Scalar(\"\xC3\xA9\")", "0:1:0-8:1:8"},
        {"\"\xC3\xA9\xF0\x9F\x98\x80\"", "Scalar(\"\xC3\xA9\xF0\x9F\x98\x80\")", "0:1:0-4:1:4"},
        {"'it''s'", "Scalar('it's')", "0:1:0-7:1:7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(span_of(c.input, c.token), c.span);
    }
}

// Long runs of one- to four-byte characters: positions count characters.
TEST(ScalarSpans, CountCharactersInLongMultiByteRuns) {
    std::string run;  // 80 characters, 200 bytes
    for (int i = 0; i < 20; ++i) run += "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const struct {
        std::string input, token, span;
    } cases[] = {
        {"k: " + run + " # c", "Scalar(" + run + ")", "3:1:3-83:1:83"},
        {"k: " + run + " # c", "Comment(# c)", "84:1:84-87:1:87"},
        {"'" + run + "' # c", "Scalar('" + run + "')", "0:1:0-82:1:82"},
        {"'" + run + "' # c", "Comment(# c)", "83:1:83-86:1:86"},
        {"\"" + run + "\" # c", "Comment(# c)", "83:1:83-86:1:86"},
        {"'" + run + "''" + run + "'", "Scalar('" + run + "'" + run + "')", "0:1:0-164:1:164"},
        {"\"" + run + "\\t" + run + "\"", "Scalar(\"" + run + "\\t" + run + "\")",
         "0:1:0-164:1:164"},
        {"|\n  " + run + "\nx", "Scalar(x)", "85:3:0-86:3:1"},
        {"# " + run + "\na", "Comment(# " + run + ")", "0:1:0-82:1:82"},
        {"# " + run + "\na", "Scalar(a)", "83:2:0-84:2:1"},
        {"&" + run + " x", "Anchor(" + run + ")", "0:1:0-81:1:81"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.token);
        EXPECT_EQ(span_of(c.input, c.token), c.span);
    }
}

// Flow content has to stand right of the block that holds it, not one column
// further: YAML accepts these (a flow scalar left of that column fails with
// "invalid indentation", above).
TEST(PlainScalar, FlowContentNeedsOnlyToStandRightOfItsBlock) {
    for (const char* input : {"k: [a,\n b]", "- [\n a ]", "k: {\n a\n :\n b\n }"}) {
        SCOPED_TRACE(input);
        EXPECT_FALSE(scan(input).error) << error_of(input);
    }
}

// "unexpected end of plain scalar" has no row: every character that cannot
// start a plain scalar's first word is dispatched to another token first.
TEST(ScanErrors, PlainAndQuotedScalarMessagesAndMarks) {
    expect_errors({
        {"[-]", "plain scalar cannot start with '-' followed by ,[]{}", "1:1:1"},
        {"[a -]", "plain scalar cannot start with '-' followed by ,[]{}", "3:1:3"},
        {"{a: b\n  -}", "plain scalar cannot start with '-' followed by ,[]{}", "8:2:2"},
        {"a:\n  [b,\nc]", "invalid indentation", "9:3:0"},
        {"- - [b,\n  c]", "invalid indentation", "10:2:2"},
        {"a:\n  b\n\tc", "while scanning a plain scalar, found a tab", "5:2:2"},
        {"'a\n--- b'", "while scanning a quoted scalar, found unexpected document indicator",
         "0:1:0"},
        {"- \"a\n...\n\"", "while scanning a quoted scalar, found unexpected document indicator",
         "2:1:2"},
        {"'abc", "while scanning a quoted scalar, found unexpected end of stream", "0:1:0"},
        {"a: \"b\n", "while scanning a quoted scalar, found unexpected end of stream", "3:1:3"},
        {"'a\0b'"sv, "while scanning a quoted scalar, found unexpected end of stream", "0:1:0"},
        {"\"\\q\"", "while parsing a quoted scalar, found unknown escape character", "0:1:0"},
        {"a: \"x\\'\"", "while parsing a quoted scalar, found unknown escape character", "3:1:3"},
        {"\"\\x4\"", "while parsing a quoted scalar, did not find expected hexadecimal number",
         "0:1:0"},
        {"\"\\u00G0\"", "while parsing a quoted scalar, did not find expected hexadecimal number",
         "0:1:0"},
        {"- \"\\U0001F60\"",
         "while parsing a quoted scalar, did not find expected hexadecimal number", "2:1:2"},
        {"\"\\uD800\"",
         "while parsing a quoted scalar, found invalid Unicode character escape code", "0:1:0"},
        {"\"\\U00110000\"",
         "while parsing a quoted scalar, found invalid Unicode character escape code", "0:1:0"},
        {"'a' x", "invalid trailing content after double-quoted scalar", "4:1:4"},
        {"\"a\"x", "invalid trailing content after double-quoted scalar", "3:1:3"},
        {"'a\nb': c", "invalid trailing content after double-quoted scalar", "5:2:2"},
        {"'a', b", "invalid trailing content after double-quoted scalar", "3:1:3"},
        {"a:\n  \"b\n\tc\"", "tab cannot be used as indentation", "8:3:0"},
        {"a:\n  \"b\nc\"", "invalid indentation in quoted scalar", "5:2:2"},
    });
}

}  // namespace
}  // namespace brackle_test
