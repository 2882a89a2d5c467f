// The scanner's shared machinery: the input cursor and character classes,
// positions, the delivery contract, stream start and end, simple keys,
// indentation, document markers, tabs between tokens, and error stickiness.
#include <string>

#include "scanner/src/char_traits.hpp"
#include "scanner/src/input/str.hpp"
#include "tests/cpp/scanner_test_util.hpp"

namespace brackle_test {
namespace {

using brackle_scanner::StrInput;

TEST(StrInput, ReadsNulPastTheEndAndNeverFails) {
    StrInput in("a");
    EXPECT_EQ(in.peek_nth(1), U'\0');
    EXPECT_TRUE(in.next_char_is(U'a'));
    in.skip();
    EXPECT_TRUE(in.at_end());
    EXPECT_EQ(in.peek(), U'\0');
    EXPECT_FALSE(in.next_char_is(U'\0'));
    in.skip();
    EXPECT_TRUE(in.at_end());
}

TEST(StrInput, DecodesEachMultiByteCharacterAsOne) {
    StrInput in("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80x");  // é € 😀 x
    EXPECT_EQ(in.peek(), U'\u00E9');
    EXPECT_EQ(in.peek_nth(1), U'\u20AC');
    EXPECT_EQ(in.peek_nth(2), U'\U0001F600');
    EXPECT_EQ(in.peek_nth(3), U'x');
    EXPECT_EQ(in.peek_nth(4), U'\0');
    in.skip();
    in.skip();
    in.skip();
    EXPECT_EQ(in.peek(), U'x');
}

TEST(StrInput, CountsRunsInCharactersNotBytes) {
    StrInput in(
        " \t\xC3\xA9\xF0\x9F\x98\x80"
        "a b");
    EXPECT_EQ(in.skip_while_blank(), 2u);
    std::string word;
    EXPECT_EQ(in.fetch_while_is_yaml_non_space(word), 3u);
    EXPECT_EQ(word,
              "\xC3\xA9\xF0\x9F\x98\x80"
              "a");
    EXPECT_EQ(in.peek(), U' ');

    StrInput bom(
        "ab\xEF\xBB\xBF"
        "c");  // a byte-order mark ends a non-space run
    std::string run;
    EXPECT_EQ(bom.fetch_while_is_yaml_non_space(run), 2u);
    EXPECT_EQ(run, "ab");
}

TEST(StrInput, RecognisesDocumentIndicatorsOnlyBeforeWhitespaceOrEnd) {
    const struct {
        std::string_view text;
        bool expected;
    } cases[] = {
        {"---", true},   {"--- a", true}, {"---\n", true}, {"...\t", true}, {"---\0x"sv, true},
        {"---a", false}, {"....", false}, {"--", false},   {"-.-", false},  {" ---", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.text));
        EXPECT_EQ(StrInput(c.text).next_is_document_indicator(), c.expected);
    }
}

TEST(CharClasses, TagCharactersAreAsciiUriCharactersExceptBangAndFlowIndicators) {
    using brackle_scanner::is_tag_char;
    for (char32_t c : std::u32string(U"%#:~aZ09-;/?@&=+$_.*'()"))
        EXPECT_TRUE(is_tag_char(c)) << static_cast<unsigned>(c);
    for (char32_t c : std::u32string(U"!,[]{} <>\"^`\\|\u00E9\u00A0\U0001F600"))
        EXPECT_FALSE(is_tag_char(c)) << static_cast<unsigned>(c);
    EXPECT_FALSE(is_tag_char(U'\0'));
}

TEST(CharClasses, AnchorAndAlphaClasses) {
    using namespace brackle_scanner;
    for (char32_t c : std::u32string(U":#!*&\u00E9\U0001F600\"'"))
        EXPECT_TRUE(is_anchor_char(c)) << static_cast<unsigned>(c);
    for (char32_t c : std::u32string(U" \t\n\r,[]{}\uFEFF"))
        EXPECT_FALSE(is_anchor_char(c)) << static_cast<unsigned>(c);
    EXPECT_FALSE(is_anchor_char(U'\0'));
    EXPECT_TRUE(is_alpha(U'_'));
    EXPECT_FALSE(is_word_char(U'_'));
    EXPECT_TRUE(is_word_char(U'-'));
    EXPECT_FALSE(is_hex(U'g'));
    EXPECT_TRUE(is_hex(U'F'));
}

// Lines advance on LF, CR and CR LF alike; index and col count characters.
TEST(Positions, CountCharactersAndEveryKindOfLineBreak) {
    const struct {
        std::string_view input, token, span;
    } cases[] = {
        {"#\r\nb", "Scalar(b)", "3:2:0-4:2:1"},
        {"#\rb", "Scalar(b)", "2:2:0-3:2:1"},
        {"#\nb", "Scalar(b)", "2:2:0-3:2:1"},
        {"\xF0\x9F\x98\x80: x", "Scalar(\xF0\x9F\x98\x80)", "0:1:0-1:1:1"},
        {"\xF0\x9F\x98\x80: x", "Scalar(x)", "3:1:3-4:1:4"},
        {"# \xC3\xA9\xE2\x82\xAC\n\xC3\xA9: x", "Scalar(x)", "8:2:3-9:2:4"},
        {"%\xC3\x89"
         "COLE \xC3\xA7"
         "a\n---",
         "ReservedDirective(\xC3\x89"
         "COLE \xC3\xA7"
         "a)",
         "0:1:0-9:1:9"},
        {"%\xC3\x89"
         "COLE \xC3\xA7"
         "a\n---",
         "DocumentStart", "10:2:0-13:2:3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(span_of(c.input, c.token), c.span);
    }
}

TEST(Delivery, StreamStartFirstStreamEndLastThenNothing) {
    Scanner s("a");
    Token t;
    ASSERT_EQ(s.next_token(t), Delivery::Token);
    EXPECT_EQ(t.type, TokenType::StreamStart);
    EXPECT_EQ(span_str(t.span), "0:1:0-0:1:0");
    ASSERT_EQ(s.next_token(t), Delivery::Token);
    EXPECT_EQ(render(t), "Scalar(a)");
    EXPECT_EQ(span_str(t.span), "0:1:0-1:1:1");
    ASSERT_EQ(s.next_token(t), Delivery::Token);
    EXPECT_EQ(t.type, TokenType::StreamEnd);
    EXPECT_EQ(span_str(t.span), "1:2:0-1:2:0");
    EXPECT_EQ(s.next_token(t), Delivery::End);
    EXPECT_EQ(s.next_token(t), Delivery::End);
}

TEST(Delivery, ErrorIsRepeatedUnchangedOnEveryLaterRequest) {
    Scanner s("a: @");
    Token t;
    std::string delivered;
    Delivery d;
    while ((d = s.next_token(t)) == Delivery::Token) delivered += render(t) + " ";
    ASSERT_EQ(d, Delivery::Error);
    EXPECT_EQ(delivered, "StreamStart BlockMappingStart Key Scalar(a) Value ");
    const ScanError first = s.error();
    EXPECT_EQ(first.info, "unexpected character: `@'");
    EXPECT_EQ(mark_str(first.mark), "3:1:3");
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(s.next_token(t), Delivery::Error);
        EXPECT_EQ(s.error(), first);
    }
}

// The end is reported on a fresh line unless the text already ends on one.
TEST(StreamEnd, IsAnEmptySpanAtTheEndMovedToAFreshLine) {
    const Case cases[] = {
        {"", "0:1:0-0:1:0"},      {"a", "1:2:0-1:2:0"},       {"a\n", "2:2:0-2:2:0"},
        {"a\r\n", "3:2:0-3:2:0"}, {"a\n\n", "3:3:0-3:3:0"},   {"a  ", "3:2:0-3:2:0"},
        {"# c", "3:2:0-3:2:0"},   {"\0abc"sv, "0:1:0-0:1:0"}, {"a\0b"sv, "1:2:0-1:2:0"},
        {"[a]", "3:2:0-3:2:0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(span_of(c.input, "StreamEnd"), c.expected);
    }
}

TEST(Indentation, BlockCollectionsOpenAndCloseWithTheirColumns) {
    const Case cases[] = {
        {"a", "StreamStart Scalar(a) StreamEnd"},
        {"", "StreamStart StreamEnd"},
        {"a: b", "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(b) BlockEnd StreamEnd"},
        {"- a\n- b",
         "StreamStart BlockSequenceStart BlockEntry Scalar(a) BlockEntry Scalar(b) BlockEnd "
         "StreamEnd"},
        {"a:\n  b: c\nd: e",
         "StreamStart BlockMappingStart Key Scalar(a) Value BlockMappingStart Key Scalar(b) Value "
         "Scalar(c) BlockEnd Key Scalar(d) Value Scalar(e) BlockEnd StreamEnd"},
        {"a:\n  - b\n  - c",
         "StreamStart BlockMappingStart Key Scalar(a) Value BlockSequenceStart BlockEntry "
         "Scalar(b) BlockEntry Scalar(c) BlockEnd BlockEnd StreamEnd"},
        // A sequence at the mapping's own column opens no collection of its own.
        {"a:\n- b\nc: d",
         "StreamStart BlockMappingStart Key Scalar(a) Value BlockEntry Scalar(b) Key Scalar(c) "
         "Value Scalar(d) BlockEnd StreamEnd"},
        {"- a: b\n  c: d\n- e",
         "StreamStart BlockSequenceStart BlockEntry BlockMappingStart Key Scalar(a) Value "
         "Scalar(b) Key Scalar(c) Value Scalar(d) BlockEnd BlockEntry Scalar(e) BlockEnd "
         "StreamEnd"},
        {"- - a\n  - b",
         "StreamStart BlockSequenceStart BlockEntry BlockSequenceStart BlockEntry Scalar(a) "
         "BlockEntry Scalar(b) BlockEnd BlockEnd StreamEnd"},
        {"a:\n b\nc: d",
         "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(b) Key Scalar(c) Value "
         "Scalar(d) BlockEnd StreamEnd"},
        {"a:\n  b:\n    c: d\ne: f",
         "StreamStart BlockMappingStart Key Scalar(a) Value BlockMappingStart Key Scalar(b) Value "
         "BlockMappingStart Key Scalar(c) Value Scalar(d) BlockEnd BlockEnd Key Scalar(e) Value "
         "Scalar(f) BlockEnd StreamEnd"},
        // Keys that are not plain scalars: the Key goes in front of all their tokens.
        {"&a k: v",
         "StreamStart BlockMappingStart Key Anchor(a) Scalar(k) Value Scalar(v) BlockEnd "
         "StreamEnd"},
        {"[a]: b",
         "StreamStart BlockMappingStart Key FlowSequenceStart Scalar(a) FlowSequenceEnd Value "
         "Scalar(b) BlockEnd StreamEnd"},
        {"'a': b",
         "StreamStart BlockMappingStart Key Scalar('a') Value Scalar(b) BlockEnd StreamEnd"},
        {"? a\n: b",
         "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(b) BlockEnd StreamEnd"},
        {": b", "StreamStart BlockMappingStart Value Scalar(b) BlockEnd StreamEnd"},
        // Comments go where they were found, relative to BlockEnd as well.
        {"a: b\n# c\nd: e",
         "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(b) Comment(# c) Key Scalar(d) "
         "Value Scalar(e) BlockEnd StreamEnd"},
        {"a:\n  b: c\n# x\nd: e",
         "StreamStart BlockMappingStart Key Scalar(a) Value BlockMappingStart Key Scalar(b) Value "
         "Scalar(c) Comment(# x) BlockEnd Key Scalar(d) Value Scalar(e) BlockEnd StreamEnd"},
        {"a: b\n# c\n",
         "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(b) Comment(# c) BlockEnd "
         "StreamEnd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(tokens(c.input), c.expected);
    }
}

// A dedent that closes more blocks than one fetch queues: the BlockEnds
// come a batch at a time, yet in the same order and number, before the
// comment-free key that follows them.
TEST(Indentation, ClosingManyBlocksAtOnceGivesEveryBlockEndBeforeTheNextToken) {
    for (const std::size_t levels : {std::size_t{1}, Scanner::block_ends_per_fetch,
                                     Scanner::block_ends_per_fetch + 1, std::size_t{1000}}) {
        std::string text = "a:\n ";
        std::string expected = "StreamStart BlockMappingStart Key Scalar(a) Value";
        for (std::size_t i = 0; i < levels; ++i) {
            text += "- ";
            expected += " BlockSequenceStart BlockEntry";
        }
        text += "x\n# c\nb: 1\n";
        expected += " Scalar(x) Comment(# c)";
        for (std::size_t i = 0; i < levels; ++i) expected += " BlockEnd";
        expected += " Key Scalar(b) Value Scalar(1) BlockEnd StreamEnd";
        SCOPED_TRACE(levels);
        EXPECT_EQ(tokens(text), expected);
    }
}

TEST(Indentation, StructureTokensHaveEmptySpansWhereTheDocumentsPlaceThem) {
    const struct {
        std::string_view input, token;
        int nth;
        std::string_view span;
    } cases[] = {
        {"a: b", "BlockMappingStart", 0, "0:1:0-0:1:0"},
        {"a: b", "Key", 0, "0:1:0-0:1:0"},
        {"a: b", "Value", 0, "1:1:1-1:1:1"},
        {"  a: b", "BlockMappingStart", 0, "2:1:2-2:1:2"},
        {"- a\n- b", "BlockSequenceStart", 0, "0:1:0-0:1:0"},
        {"- a\n- b", "BlockEntry", 1, "6:2:2-6:2:2"},
        // Closed where the less indented token starts, or at the fresh end line.
        {"a:\n  b: c\nd: e", "BlockEnd", 0, "10:3:0-10:3:0"},
        {"a:\n  b: c\nd: e", "BlockEnd", 1, "14:4:0-14:4:0"},
        {"? a\n: b", "Key", 0, "0:1:0-0:1:0"},
        {"? a\n: b", "Value", 0, "4:2:0-4:2:0"},
        {"x:\n  &a k: v", "Key", 1, "5:2:2-5:2:2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.token) + " in " + escape(c.input));
        EXPECT_EQ(span_of(c.input, c.token, c.nth), c.span);
    }
}

// A key's `:` must come within 1024 characters of its start (counted in
// characters) and on the same line; inside flow collections no limit applies.
TEST(SimpleKey, LengthLimitIs1024Characters) {
    const std::string k1024(1024, 'k'), k1025(1025, 'k');
    EXPECT_EQ(tokens(k1024 + ": v"), "StreamStart BlockMappingStart Key Scalar(" + k1024 +
                                         ") Value Scalar(v) BlockEnd StreamEnd");
    EXPECT_EQ(error_of(k1025 + ": v"),
              "mapping values are not allowed in this context @ 1025:1:1025");

    std::string e1024, e1025;
    for (int i = 0; i < 1024; ++i) e1024 += "\xC3\xA9";
    e1025 = e1024 + "\xC3\xA9";
    EXPECT_EQ(tokens(e1024 + ": v"), "StreamStart BlockMappingStart Key Scalar(" + e1024 +
                                         ") Value Scalar(v) BlockEnd StreamEnd");
    EXPECT_EQ(error_of(e1025 + ": v"),
              "mapping values are not allowed in this context @ 1025:1:1025");

    // A required key (at the mapping's column) that goes stale is an error.
    EXPECT_EQ(tokens("a: 1\n" + std::string(1024, 'b') + ": 2"),
              "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(1) Key Scalar(" +
                  std::string(1024, 'b') + ") Value Scalar(2) BlockEnd StreamEnd");
    EXPECT_EQ(error_of("a: 1\n" + std::string(1025, 'b') + ": 2"),
              "simple key expect ':' @ 1030:2:1025");

    const std::string k2000(2000, 'k');
    EXPECT_EQ(tokens("[" + k2000 + ": v]"),
              "StreamStart FlowSequenceStart FlowMappingStart Key Scalar(" + k2000 +
                  ") Value Scalar(v) FlowMappingEnd FlowSequenceEnd StreamEnd");
}

TEST(SimpleKey, AKeySpanningLinesIsNoKey) {
    EXPECT_EQ(error_of("a\nb: c"), "mapping values are not allowed in this context @ 3:2:1");
    EXPECT_EQ(error_of("a: 1\nb\nc: 2"), "simple key expect ':' @ 7:3:0");
}

TEST(DocumentMarkers, AreRecognisedOnlyInColumnZeroBeforeWhitespace) {
    const Case cases[] = {
        {"---\na\n...\n", "StreamStart DocumentStart Scalar(a) DocumentEnd StreamEnd"},
        {"--- a\n--- b", "StreamStart DocumentStart Scalar(a) DocumentStart Scalar(b) StreamEnd"},
        {"---\ta", "StreamStart DocumentStart Scalar(a) StreamEnd"},
        {"---a", "StreamStart Scalar(---a) StreamEnd"},
        {" ---", "StreamStart Scalar(---) StreamEnd"},
        {"a\n...x", "StreamStart Scalar(a ...x) StreamEnd"},
        {"a\n---", "StreamStart Scalar(a) DocumentStart StreamEnd"},
        {"... # c", "StreamStart DocumentEnd Comment(# c) StreamEnd"},
        {"...\t# c\n", "StreamStart DocumentEnd Comment(# c) StreamEnd"},
        {"- a\n--- b",
         "StreamStart BlockSequenceStart BlockEntry Scalar(a) BlockEnd DocumentStart Scalar(b) "
         "StreamEnd"},
        {"a: b\n...\nc",
         "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(b) BlockEnd DocumentEnd "
         "Scalar(c) StreamEnd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(tokens(c.input), c.expected);
    }
    EXPECT_EQ(span_of("---\na\n...\n", "DocumentStart"), "0:1:0-3:1:3");
    EXPECT_EQ(span_of("---\na\n...\n", "DocumentEnd"), "6:3:0-9:3:3");
}

TEST(Tabs, AreBlanksBetweenTokensButNotBlockIndentation) {
    const Case cases[] = {
        {"\ta", "StreamStart Scalar(a) StreamEnd"},
        {"a: \tb",
         "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(b) BlockEnd StreamEnd"},
        {"a:\t\"b\"",
         "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(\"b\") BlockEnd StreamEnd"},
        {"a:\t \tb",
         "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(b) BlockEnd StreamEnd"},
        {"-\ta", "StreamStart BlockSequenceStart BlockEntry Scalar(a) BlockEnd StreamEnd"},
        {"a: b\t# c",
         "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(b) Comment(# c) BlockEnd "
         "StreamEnd"},
        // A tab in the indentation is fine on a line holding only a comment.
        {"a:\n\t# c\nb: d",
         "StreamStart BlockMappingStart Key Scalar(a) Value Comment(# c) Key Scalar(b) Value "
         "Scalar(d) BlockEnd StreamEnd"},
        {"a:\n  b\n\t\n  c",
         "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(b\\nc) BlockEnd StreamEnd"},
        {"[\ta\t,\tb\t]",
         "StreamStart FlowSequenceStart Scalar(a) FlowEntry Scalar(b) FlowSequenceEnd StreamEnd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(tokens(c.input), c.expected);
    }
}

TEST(ScanErrors, CoreMessagesAndMarks) {
    expect_errors({
        {"a: 1\nb\nc: 2", "simple key expect ':'", "7:3:0"},
        {"a: 1\nb", "simple key expected", "6:3:0"},
        {"a: 1\n&x", "simple key expected", "7:3:0"},
        {"a:\n  b: 1\n  c", "simple key expected", "13:4:0"},
        {"@", "unexpected character: `@'", "0:1:0"},
        {"a: `x", "unexpected character: ``'", "3:1:3"},
        {" %x", "unexpected character: `%'", "1:1:1"},
        {"a:\n  [b,\nc]", "invalid indentation", "9:3:0"},
        {"a:\n\tb: c", "tabs disallowed within this context (block indentation)", "4:2:1"},
        {"a:\n  b:\n \tc: d", "tabs disallowed within this context (block indentation)", "10:3:2"},
        {"key: word # note\n  more", "comment intercepting the multiline text", "10:1:10"},
        {"... x", "invalid content after document end marker", "4:1:4"},
        {"a\n...\tx", "invalid content after document end marker", "6:2:4"},
    });
}

TEST(ScanErrors, CommentInterceptAllowsWhatCannotContinueTheScalar) {
    const Case cases[] = {
        {"key: word # note\nmore: x",
         "StreamStart BlockMappingStart Key Scalar(key) Value Scalar(word) Comment(# note) Key "
         "Scalar(more) Value Scalar(x) BlockEnd StreamEnd"},
        {"- a # note  \n- b",
         "StreamStart BlockSequenceStart BlockEntry Scalar(a) Comment(# note  ) BlockEntry "
         "Scalar(b) BlockEnd StreamEnd"},
        {"key: word # note\n\n  more",
         "StreamStart BlockMappingStart Key Scalar(key) Value Scalar(word) Comment(# note) "
         "Scalar(more) BlockEnd StreamEnd"},
        {"a # c\n---", "StreamStart Scalar(a) Comment(# c) DocumentStart StreamEnd"},
        {"[a # c\n b]",
         "StreamStart FlowSequenceStart Scalar(a) Comment(# c) Scalar(b) FlowSequenceEnd "
         "StreamEnd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(tokens(c.input), c.expected);
    }
}

// Text that is not UTF-8 gives no token at all, only one error at the first
// byte that does not start a well-formed character, counted as the scanner
// counts positions, and the same error on every later request.
TEST(Utf8, TextThatIsNotUtf8GivesOnlyAnErrorAtItsFirstBadByte) {
    const struct {
        std::string_view name;
        std::string input;
        std::string_view mark;  // index:line:col
        std::size_t byte;
    } cases[] = {
        {"stray continuation byte", "a: \x80", "3:1:3", 3},
        {"continuation byte after a whole character", "\xC3\xA9\xBF", "1:1:1", 2},
        {"overlong two bytes", "k: \xC0\x80", "3:1:3", 3},
        {"overlong three bytes", "- \xE0\x80\x80", "2:1:2", 2},
        {"overlong four bytes", "- \xF0\x8F\xBF\xBF", "2:1:2", 2},
        {"surrogate", "x\n\xED\xA0\x80", "2:2:0", 2},
        {"above U+10FFFF", "[\xF4\x90\x80\x80]", "1:1:1", 1},
        {"byte no character starts with", "a\xF5", "1:1:1", 1},
        {"truncated at the end", "a: \xE2\x82", "3:1:3", 3},
        {"truncated by an ASCII byte", "\xE2\x82: b", "0:1:0", 0},
        {"truncated byte-order mark", "\xEF\xBB", "0:1:0", 0},
        {"lead bytes only", "\xF0\xF0 \xC3\xC3", "0:1:0", 0},
        {"in a block scalar's indentation", ">\n \xC0\n", "3:2:1", 3},
        {"in a block scalar's content", "|\n  ok\n  \xF0\x9F\n", "9:3:2", 9},
        {"in a single-quoted scalar", "'a\xFF'", "2:1:2", 2},
        {"in a double-quoted scalar", "\"\xE2\x82\xAC\xE2\x82\"", "2:1:2", 4},
        {"in a comment", "a # \xC3\n", "4:1:4", 4},
        {"in a tag", "!a\xE2", "2:1:2", 2},
        {"before a NUL", std::string("a\xC0\0b", 4), "1:1:1", 1},
        {"after LF, CR LF and lone CR", "a\nb\r\nc\r\x80", "7:4:0", 7},
        {"after multi-byte characters", "\xC3\xA9\xE2\x82\xAC: \x80", "4:1:4", 7},
        {"after the first words of ASCII", "key: value # comment\n- \xC0", "23:2:2", 23},
        {"in a second document", "a\n---\n" + std::string(100, 'b') + "\xFF", "106:3:100", 106},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scanner s(c.input);
        Token t;
        ASSERT_EQ(s.next_token(t), Delivery::Error);
        const ScanError first = s.error();
        EXPECT_EQ(first.info, "found bytes that are not valid UTF-8");
        EXPECT_EQ(mark_str(first.mark), c.mark);
        EXPECT_EQ(first.mark.byte, c.byte);
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(s.next_token(t), Delivery::Error);
            EXPECT_EQ(s.error(), first);
        }
    }
}

// A NUL ends the stream: the bytes after it are never read, so they are
// not checked either, as the loader's view of the text ends there too.
TEST(Utf8, BytesAfterANulAreNotChecked) {
    // A directive name takes the NUL itself; what follows is still not read
    // (`\xC0\r` decodes as a CR that no line break routine consumes).
    for (const std::string_view text :
         {std::string_view("a\0\xC0", 3), std::string_view("%\0\r|\xC0\r", 6)}) {
        Scanner s(text);
        Token t;
        Delivery d;
        int tokens = 0;
        while ((d = s.next_token(t)) == Delivery::Token && ++tokens < 100) {
        }
        EXPECT_EQ(d, Delivery::End);
    }
}

// The text ends where the caller's view ends, whatever bytes follow it in
// memory: a character cut there is bad even when the next bytes would finish it.
TEST(Utf8, ACharacterCutByTheEndOfTheViewIsBad) {
    const std::string_view buffer = "a: \xF0\x9F\x98\x80";
    for (std::size_t cut = 4; cut < buffer.size(); ++cut) {
        SCOPED_TRACE(cut);
        Scanner s(buffer.substr(0, cut));
        Token t;
        ASSERT_EQ(s.next_token(t), Delivery::Error);
        EXPECT_EQ(mark_str(s.error().mark), "3:1:3");
    }
}

// The first and last characters of each UTF-8 length, and those next to the
// surrogates, are text like any other.
TEST(Utf8, CharactersAtTheEdgesOfEachLengthAreText) {
    for (const std::string_view c : {
             "\x7F"sv,
             "\xC2\x80"sv,
             "\xDF\xBF"sv,
             "\xE0\xA0\x80"sv,
             "\xED\x9F\xBF"sv,
             "\xEE\x80\x80"sv,
             "\xEF\xBF\xBF"sv,
             "\xF0\x90\x80\x80"sv,
             "\xF4\x8F\xBF\xBF"sv,
         }) {
        const std::string text = "a" + std::string(c) + ": b";
        SCOPED_TRACE(escape(text));
        EXPECT_EQ(scalars(text), "Scalar(a" + escape(c) + ") Scalar(b)");
    }
}

}  // namespace
}  // namespace brackle_test
