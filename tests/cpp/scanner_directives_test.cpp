// Directives, tags (with percent escapes), anchors, aliases and comments.
#include <string>

#include "tests/cpp/scanner_test_util.hpp"

namespace brackle_test {
namespace {

TEST(Directive, YamlTagAndReservedDirectives) {
    const Case cases[] = {
        {"%YAML 1.2\n---", "StreamStart VersionDirective(1.2) DocumentStart StreamEnd"},
        {"%YAML   1.1 # c\n---",
         "StreamStart VersionDirective(1.1) Comment(# c) DocumentStart StreamEnd"},
        {"%YAML 123456789.0\n", "StreamStart VersionDirective(123456789.0) StreamEnd"},
        {"%YAML 01.002\n", "StreamStart VersionDirective(1.2) StreamEnd"},
        {"%TAG !e! tag-prefix\n---",
         "StreamStart TagDirective(!e!,tag-prefix) DocumentStart StreamEnd"},
        {"%TAG ! !foo\n", "StreamStart TagDirective(!,!foo) StreamEnd"},
        {"%TAG !! tag:yaml.org,2002:\n",
         "StreamStart TagDirective(!!,tag:yaml.org,2002:) StreamEnd"},
        {"%TAG !e! %41b%C3%A9\n", "StreamStart TagDirective(!e!,Ab\xC3\xA9) StreamEnd"},
        {"%TAG !a-_9! !x[]\t# c\n", "StreamStart TagDirective(!a-_9!,!x[]) Comment(# c) StreamEnd"},
        {"%FOO a b # c\n", "StreamStart ReservedDirective(FOO a b # c) StreamEnd"},
        {"%FOO\n", "StreamStart ReservedDirective(FOO) StreamEnd"},
        {"%FOO\t\"x y\"\n", "StreamStart ReservedDirective(FOO \"x y\") StreamEnd"},
        // A directive closes any open block collection.
        {"a: b\n%FOO\n",
         "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(b) BlockEnd "
         "ReservedDirective(FOO) StreamEnd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(tokens(c.input), c.expected);
    }
    ScanResult r = scan("%FOO a b # c\n");
    ASSERT_GE(r.tokens.size(), 2u);
    EXPECT_EQ(r.tokens[1].params, (std::vector<std::string>{"a", "b", "#", "c"}));
}

TEST(Directive, SpanRunsFromThePercentSign) {
    EXPECT_EQ(span_of("%YAML 1.2\n", "VersionDirective(1.2)"), "0:1:0-9:1:9");
    EXPECT_EQ(span_of("%TAG !e! tag-prefix # c\n", "TagDirective(!e!,tag-prefix)"),
              "0:1:0-19:1:19");
    EXPECT_EQ(span_of("%FOO a b\n", "ReservedDirective(FOO a b)"), "0:1:0-8:1:8");
}

TEST(Tag, HandleAndSuffixOfEveryForm) {
    const Case cases[] = {
        {"!!str a", "StreamStart Tag(!!,str) Scalar(a) StreamEnd"},
        {"!local a", "StreamStart Tag(!,local) Scalar(a) StreamEnd"},
        {"! a", "StreamStart Tag(,!) Scalar(a) StreamEnd"},
        {"!e!x a", "StreamStart Tag(!e!,x) Scalar(a) StreamEnd"},
        {"!a-b_c x", "StreamStart Tag(!,a-b_c) Scalar(x) StreamEnd"},
        {"!a.b/c:d x", "StreamStart Tag(!,a.b/c:d) Scalar(x) StreamEnd"},
        {"!<tag:a> b", "StreamStart Tag(,tag:a) Scalar(b) StreamEnd"},
        {"!<!> b", "StreamStart Tag(,!) Scalar(b) StreamEnd"},
        {"!<> b", "StreamStart Tag(,) Scalar(b) StreamEnd"},
        {"!<tag:a,b[c]%20d> e", "StreamStart Tag(,tag:a,b[c] d) Scalar(e) StreamEnd"},
        {"!x%41 a", "StreamStart Tag(!,xA) Scalar(a) StreamEnd"},
        {"!x%C3%A9 a", "StreamStart Tag(!,x\xC3\xA9) Scalar(a) StreamEnd"},
        {"!x%E2%82%AC%F0%9F%98%80", "StreamStart Tag(!,x\xE2\x82\xAC\xF0\x9F\x98\x80) StreamEnd"},
        {"!!int\t1", "StreamStart Tag(!!,int) Scalar(1) StreamEnd"},
        // Inside flow collections a flow indicator ends a tag.
        {"[!t,a]",
         "StreamStart FlowSequenceStart Tag(!,t) FlowEntry Scalar(a) FlowSequenceEnd StreamEnd"},
        {"{!t : a}",
         "StreamStart FlowMappingStart Key Tag(!,t) Value Scalar(a) FlowMappingEnd StreamEnd"},
        {"!t k: v",
         "StreamStart BlockMappingStart Key Tag(!,t) Scalar(k) Value Scalar(v) BlockEnd StreamEnd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(tokens(c.input), c.expected);
    }
    EXPECT_EQ(span_of("!!str a", "Tag(!!,str)"), "0:1:0-5:1:5");
    EXPECT_EQ(span_of("a: !x%41 b", "Tag(!,xA)"), "3:1:3-8:1:8");
    EXPECT_EQ(span_of("!<tag:a> b", "Tag(,tag:a)"), "0:1:0-8:1:8");
}

TEST(AnchorAndAlias, NamesRunToWhitespaceOrFlowIndicator) {
    const Case cases[] = {
        {"&a1 x", "StreamStart Anchor(a1) Scalar(x) StreamEnd"},
        {"*a", "StreamStart Alias(a) StreamEnd"},
        {"[*a]", "StreamStart FlowSequenceStart Alias(a) FlowSequenceEnd StreamEnd"},
        {"{&a b: *c}",
         "StreamStart FlowMappingStart Key Anchor(a) Scalar(b) Value Alias(c) FlowMappingEnd "
         "StreamEnd"},
        {"&\xC3\xA9:x! y", "StreamStart Anchor(\xC3\xA9:x!) Scalar(y) StreamEnd"},
        {"*a : b", "StreamStart BlockMappingStart Key Alias(a) Value Scalar(b) BlockEnd StreamEnd"},
        {"- &a !t x",
         "StreamStart BlockSequenceStart BlockEntry Anchor(a) Tag(!,t) Scalar(x) BlockEnd "
         "StreamEnd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(tokens(c.input), c.expected);
    }
    EXPECT_EQ(span_of("&a1 x", "Anchor(a1)"), "0:1:0-3:1:3");
    EXPECT_EQ(span_of("- *\xC3\xA9t", "Alias(\xC3\xA9t)"), "2:1:2-5:1:5");
}

TEST(Comment, TextRunsFromHashToBeforeTheLineBreak) {
    const Case cases[] = {
        {"# hello  \na", "StreamStart Comment(# hello  ) Scalar(a) StreamEnd"},
        {"#\n", "StreamStart Comment(#) StreamEnd"},
        {"a #c\r\n", "StreamStart Scalar(a) Comment(#c) StreamEnd"},
        {"a # x\0 y"sv, "StreamStart Scalar(a) Comment(# x) StreamEnd"},
        {"#a#b ## c", "StreamStart Comment(#a#b ## c) StreamEnd"},
        {"- a\n# x\n- b",
         "StreamStart BlockSequenceStart BlockEntry Scalar(a) Comment(# x) BlockEntry Scalar(b) "
         "BlockEnd StreamEnd"},
        {"- # c\n  x",
         "StreamStart BlockSequenceStart BlockEntry Comment(# c) Scalar(x) BlockEnd StreamEnd"},
        {"[ # c\n a ] # d",
         "StreamStart FlowSequenceStart Comment(# c) Scalar(a) FlowSequenceEnd Comment(# d) "
         "StreamEnd"},
        {"? # c\n  a",
         "StreamStart BlockMappingStart Key Comment(# c) Scalar(a) BlockEnd StreamEnd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(tokens(c.input), c.expected);
    }
    EXPECT_EQ(span_of("# hello  \na", "Comment(# hello  )"), "0:1:0-9:1:9");
    EXPECT_EQ(span_of("a: b # \xC3\xA9\xF0\x9F\x98\x80", "Comment(# \xC3\xA9\xF0\x9F\x98\x80)"),
              "5:1:5-9:1:9");
}

TEST(ScanErrors, DirectiveTagAnchorMessagesAndMarks) {
    expect_errors({
        {"% x", "while scanning a directive, could not find expected directive name", "1:1:1"},
        {"%\n", "while scanning a directive, could not find expected directive name", "1:1:1"},
        {"%YAML\xEF\xBB\xBF 1.2",
         "while scanning a directive, found unexpected non-alphabetical character", "1:1:1"},
        {"%YAML 1.2 x", "while scanning a directive, did not find expected comment or line break",
         "0:1:0"},
        {"#c\n%YAML 1.1 1",
         "while scanning a directive, did not find expected comment or line break", "3:2:0"},
        {"%TAG ! !a b", "while scanning a directive, did not find expected comment or line break",
         "0:1:0"},
        {"%YAML x", "while scanning a YAML directive, did not find expected version number",
         "0:1:0"},
        {"%YAML 1.", "while scanning a YAML directive, did not find expected version number",
         "0:1:0"},
        {"%YAML 1234567890.1",
         "while scanning a YAML directive, found extremely long version number", "0:1:0"},
        {"%YAML 1.1234567890",
         "while scanning a YAML directive, found extremely long version number", "0:1:0"},
        {"%YAML 1\n",
         "while scanning a YAML directive, did not find expected digit or '.' character", "0:1:0"},
        {"%YAML 1-2",
         "while scanning a YAML directive, did not find expected digit or '.' character", "0:1:0"},
        {"%TAG !e tag:x", "while parsing a tag directive, did not find expected '!'", "0:1:0"},
        {"%TAG !e! {x}", "invalid global tag character", "0:1:0"},
        {"%TAG !e! \xC3\xA9x", "invalid global tag character", "0:1:0"},
        {"%TAG !e! tag:x{", "while scanning TAG, did not find expected whitespace or line break",
         "0:1:0"},
        {"%TAG !e! !a<b", "while scanning TAG, did not find expected whitespace or line break",
         "0:1:0"},
        {"%TAG e! tag:x", "while scanning a tag, did not find expected '!'", "0:1:0"},
        {"!<tag:x", "while scanning a verbatim tag, did not find the expected '>'", "0:1:0"},
        {"a: !<x y>", "while scanning a verbatim tag, did not find the expected '>'", "3:1:3"},
        {"!! a", "while parsing a tag, did not find expected tag URI", "0:1:0"},
        {"a: !e! b", "while parsing a tag, did not find expected tag URI", "3:1:3"},
        {"!a<b", "while scanning a tag, did not find expected whitespace or line break", "0:1:0"},
        {"!t,x", "while scanning a tag, did not find expected whitespace or line break", "0:1:0"},
        {"- !t]", "while scanning a tag, did not find expected whitespace or line break", "2:1:2"},
        {"!x%G1 a", "while parsing a tag, found an invalid escape sequence", "0:1:0"},
        {"a: !x%C3 a", "while parsing a tag, found an invalid escape sequence", "3:1:3"},
        {"!<x%4>", "while parsing a tag, found an invalid escape sequence", "0:1:0"},
        {"%TAG !e! tag:%zz", "while parsing a tag, found an invalid escape sequence", "0:1:0"},
        {"!x%80", "while parsing a tag, found an incorrect leading UTF-8 byte", "0:1:0"},
        {"!x%FF", "while parsing a tag, found an incorrect leading UTF-8 byte", "0:1:0"},
        {"!x%C3%41", "while parsing a tag, found an incorrect trailing UTF-8 byte", "0:1:0"},
        {"%TAG !e! %E2%82x", "while parsing a tag, found an invalid escape sequence", "0:1:0"},
        {"%TAG !e! %E2%82%C3", "while parsing a tag, found an incorrect trailing UTF-8 byte",
         "0:1:0"},
        {"!x%ED%A0%80", "while parsing a tag, found an invalid UTF-8 codepoint", "0:1:0"},
        {"!x%F4%90%80%80", "while parsing a tag, found an invalid UTF-8 codepoint", "0:1:0"},
        {"& a",
         "while scanning an anchor or alias, did not find expected alphabetic or numeric character",
         "1:1:1"},
        {"[*]",
         "while scanning an anchor or alias, did not find expected alphabetic or numeric character",
         "2:1:2"},
        {"%YAML 1.2#c", "comments must be separated from other tokens by whitespace", "9:1:9"},
    });
}

}  // namespace
}  // namespace brackle_test
